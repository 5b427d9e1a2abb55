#include "wmi_access/queries.hpp"

#include "wmi_access/query_execution.hpp"

namespace wmi::access {

libwql::wql_query_builder::build_stage select_from(const query_definition& definition) {
    std::vector<std::string> names(definition.fields.begin(), definition.fields.end());
    return libwql::wql_query_builder::select(names).from(std::string(definition.wmi_class));
}

namespace {

optional_row first_row(const query_definition& d, session& s, liblog::log_interface& log) {
    return execute_first_row(select_from(d).build(), std::string(d.wmi_namespace), s, log);
}

}  // namespace

optional_row query_memory(session& s, liblog::log_interface& log) {
    return first_row(queries::memory, s, log);
}

optional_row query_caption(session& s, liblog::log_interface& log) {
    return first_row(queries::caption, s, log);
}

optional_row query_boot_times(session& s, liblog::log_interface& log) {
    return first_row(queries::boot_times, s, log);
}

optional_row query_paging_file(session& s, liblog::log_interface& log) {
    const auto& d = queries::paging_file;
    // The total over all paging files, which the channel "Total Usage" reports; without the
    // condition the first listed file would be measured instead.
    return execute_first_row(select_from(d).where_equals("Name", std::string("_Total")).build(),
                             std::string(d.wmi_namespace), s, log);
}

rows query_processors(session& s, liblog::log_interface& log) {
    const auto& d = queries::processor;
    return execute_all_rows(select_from(d).build(), std::string(d.wmi_namespace), s, log);
}

}  // namespace wmi::access
