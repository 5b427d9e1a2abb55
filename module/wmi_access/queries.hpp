#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "liblog/log.hpp"
#include "libwql/wql_query.hpp"
#include "libwql/wsman_client.hpp"

namespace wmi::access {

inline constexpr std::string_view cimv2 = "root\\cimv2";

// A condition "<field> = <value>"; the value is always written as a literal: a quoted string
// or a decimal integer.
struct equals {
    std::string field;
    std::variant<std::string, std::int64_t> value;
};

// A condition "<field> LIKE '<prefix>%'": the prefix matches literally, its LIKE wildcards and
// quotes escaped, so a name from the host cannot widen the match or change the statement.
struct starts_with {
    std::string field;
    std::string prefix;
};

// One query of a kind, built once when the kind is created. The class also names the errors
// its rows cause (no result, missing field).
struct query {
    std::string wmi_namespace;
    std::string wmi_class;
    libwql::wql_query wql;
};

// SELECT <fields> FROM <wmi_class> [WHERE <where>]; names that are not WQL identifiers throw
// std::invalid_argument, so a bad query fails the creation of its kind, not a scan.
query select(std::string wmi_class, const std::vector<std::string>& fields,
             const std::optional<equals>& where = std::nullopt,
             std::string_view wmi_namespace = cimv2);
query select(std::string wmi_class, const std::vector<std::string>& fields,
             const starts_with& where, std::string_view wmi_namespace = cimv2);

// "\n  " + str() per field, in the row's (ascending name) order; "" for an empty row.
std::string render_row(const libwql::wql_query_row& row);

// The WMI session of one scan, released when this goes out of scope. Every query is logged at
// level 7 before it runs, then the row(s) returned; nothing more when there is none. Client
// exceptions pass through unchanged.
class scan_session {
public:
    scan_session(std::unique_ptr<libwql::wmi_session_interface> session,
                 liblog::log_interface& log);

    std::optional<libwql::wql_query_row> first_row(const query& q);
    std::vector<libwql::wql_query_row> rows(const query& q);
    // As above, but no row throws wmi_class_no_result naming the query's class.
    libwql::wql_query_row required_first_row(const query& q);
    std::vector<libwql::wql_query_row> required_rows(const query& q);

private:
    std::vector<libwql::wql_query_row> run(const query& q);

    std::unique_ptr<libwql::wmi_session_interface> session_;
    liblog::log_interface& log_;
};

}  // namespace wmi::access
