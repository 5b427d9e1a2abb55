#include "wmi_access/queries.hpp"

#include "framework/exceptions.hpp"

namespace wmi::access {

query select(std::string wmi_class, const std::vector<std::string>& fields,
             const std::optional<equals>& where, std::string_view wmi_namespace) {
    const auto from = libwql::wql_query_builder::select(fields).from(wmi_class);
    const auto condition = [&](const auto& value) {
        return from.where_equals(where->field, value);
    };
    auto wql = where ? std::visit(condition, where->value).build() : from.build();
    return {std::string(wmi_namespace), std::move(wmi_class), std::move(wql)};
}

query select(std::string wmi_class, const std::vector<std::string>& fields,
             const starts_with& where, std::string_view wmi_namespace) {
    // WQL LIKE knows %, _ and [set]; a one-character set matches that character literally.
    std::string pattern;
    for (const char c : where.prefix) {
        if (c == '%' || c == '_' || c == '[') {
            pattern += std::string{'[', c, ']'};
        } else {
            pattern += c;
        }
    }
    auto wql = libwql::wql_query_builder::select(fields)
                   .from(wmi_class)
                   .where(where.field + " LIKE " + libwql::wql_string_literal(pattern + "%"))
                   .build();
    return {std::string(wmi_namespace), std::move(wmi_class), std::move(wql)};
}

std::string render_row(const libwql::wql_query_row& row) {
    std::string text;
    for (const auto& [name, field] : row) text += "\n  " + field.str();
    return text;
}

scan_session::scan_session(std::unique_ptr<libwql::wmi_session_interface> session,
                           liblog::log_interface& log)
    : session_(std::move(session)), log_(log) {}

std::vector<libwql::wql_query_row> scan_session::run(const query& q) {
    log_.log(7, "Executing WQL query on " + q.wmi_namespace + ": " + q.wql.get());
    // Copy the rows out so the result object is gone before any caller sees them.
    auto result = session_->query(q.wql.get(), q.wmi_namespace);
    std::vector<libwql::wql_query_row> rows = result->get_rows();
    result.reset();
    return rows;
}

std::optional<libwql::wql_query_row> scan_session::first_row(const query& q) {
    auto rows = run(q);
    if (rows.empty()) return std::nullopt;
    log_.log(7, "Result:" + render_row(rows.front()));
    return std::move(rows.front());
}

std::vector<libwql::wql_query_row> scan_session::rows(const query& q) {
    auto rows = run(q);
    if (rows.empty()) return rows;
    log_.log(7, "Results:");
    for (const auto& row : rows) log_.log(7, render_row(row));
    return rows;
}

libwql::wql_query_row scan_session::required_first_row(const query& q) {
    auto row = first_row(q);
    if (!row) throw exceptions::wmi_class_no_result(q.wmi_class);
    return std::move(*row);
}

std::vector<libwql::wql_query_row> scan_session::required_rows(const query& q) {
    auto all = rows(q);
    if (all.empty()) throw exceptions::wmi_class_no_result(q.wmi_class);
    return all;
}

}  // namespace wmi::access
