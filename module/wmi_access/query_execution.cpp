#include "wmi_access/query_execution.hpp"

namespace wmi::access {

namespace {

std::vector<libwql::wql_query_row> run(const libwql::wql_query& query,
                                       const std::string& wmi_namespace,
                                       libwql::wmi_session_interface& session,
                                       liblog::log_interface& log) {
    log.log(7, "Executing WQL query on " + wmi_namespace + ": " + query.get());
    // Copy the rows out so the result object is gone before any caller sees them.
    auto result = session.query(query.get(), wmi_namespace);
    std::vector<libwql::wql_query_row> rows = result->get_rows();
    result.reset();
    return rows;
}

}  // namespace

std::string render_row(const libwql::wql_query_row& row) {
    std::string text;
    for (const auto& [name, field] : row) text += "\n  " + field.str();
    return text;
}

std::optional<libwql::wql_query_row> execute_first_row(const libwql::wql_query& query,
                                                       const std::string& wmi_namespace,
                                                       libwql::wmi_session_interface& session,
                                                       liblog::log_interface& log) {
    auto rows = run(query, wmi_namespace, session, log);
    if (rows.empty()) return std::nullopt;
    log.log(7, "Result:" + render_row(rows.front()));
    return std::move(rows.front());
}

std::vector<libwql::wql_query_row> execute_all_rows(const libwql::wql_query& query,
                                                    const std::string& wmi_namespace,
                                                    libwql::wmi_session_interface& session,
                                                    liblog::log_interface& log) {
    auto rows = run(query, wmi_namespace, session, log);
    if (rows.empty()) return rows;
    log.log(7, "Results:");
    for (const auto& row : rows) log.log(7, render_row(row));
    return rows;
}

}  // namespace wmi::access
