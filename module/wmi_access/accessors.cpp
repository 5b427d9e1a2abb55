#include "wmi_access/accessors.hpp"

#include "framework/exceptions.hpp"

namespace wmi::access {

std::chrono::system_clock::time_point required_timestamp(const libwql::wql_query_row& row,
                                                         const std::string& wmi_class,
                                                         const std::string& field) {
    const auto value = row.get(field);
    if (!value) throw exceptions::required_field_unavailable(wmi_class, field);
    return value->as_timestamp_t();
}

std::optional<std::string> optional_text(const libwql::wql_query_row& row,
                                         const std::string& field) {
    const auto value = row.get(field);
    if (!value) return std::nullopt;
    std::string text = value->as_string();
    if (text.empty()) return std::nullopt;
    return text;
}

std::string selected_text(const libwql::wql_query_row& row, const std::string& field) {
    return row.at(field).as_string();
}

std::uint64_t selected_uint64(const libwql::wql_query_row& row, const std::string& field) {
    return row.at(field).as_uint64_t();
}

std::optional<std::int64_t> optional_int64(const libwql::wql_query_row& row,
                                           const std::string& field) {
    return row.get_as_converted_to_int64_t(field);
}

std::int64_t required_int64(const libwql::wql_query_row& row, const std::string& wmi_class,
                            const std::string& field) {
    const auto value = row.get_as_converted_to_int64_t(field);
    if (!value) throw exceptions::required_field_unavailable(wmi_class, field);
    return *value;
}

}  // namespace wmi::access
