#include "sensors/service_metascan.hpp"

#include "framework/exceptions.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

namespace {

std::string entry_key(const char* setting) {
    return group_key<settings::service_metascan_group>(setting);
}

std::string text_or(const libwql::wql_query_row& row, const char* field, const char* absent) {
    const auto value = row.get(field);
    return value ? value->as_string() : absent;
}

}  // namespace

void service_metascan::work() {
    auto result = this->result();
    auto session = open_session();
    logged_progress(50, cat::metascan_query_services);
    const auto rows = session.rows(query_);
    if (rows.empty()) throw exceptions::no_services_found();
    for (const auto& row : rows) {
        const auto display_name = text_or(row, "DisplayName", "");
        result.add_entry(cat::metascan_service_sensor_instance_name(display_name),
                         {{entry_key("name"), text_or(row, "Name", "")},
                          {entry_key("displayname"), display_name},
                          {entry_key("description"), text_or(row, "Description", "")},
                          {entry_key("status"), text_or(row, "State", "Unknown")}});
    }
    send(result);
}

}  // namespace wmi
