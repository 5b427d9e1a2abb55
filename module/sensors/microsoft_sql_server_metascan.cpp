#include "sensors/microsoft_sql_server_metascan.hpp"

#include <algorithm>
#include <cctype>
#include <set>

#include "framework/exceptions.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

namespace {

const std::string provider_root = "root\\Microsoft\\SqlServer";
const std::string provider_prefix = "ComputerManagement";
const std::string named_instance_prefix = "MSSQL$";

// Database engines only (SQLServiceType 1), not their agents, browsers or reporting services.
access::query engines_in(const std::string& wmi_namespace) {
    return {wmi_namespace, "SQLService",
            libwql::wql_query_builder::select({"ServiceName", "DisplayName"})
                .from("SQLService")
                .where_equals("SQLServiceType", std::int64_t{1})
                .build()};
}

// Windows compares service names without regard to case.
std::string folded(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return name;
}

}  // namespace

std::string sql_server_instance_name(const std::string& service_name) {
    if (service_name.starts_with(named_instance_prefix)) {
        return service_name.substr(named_instance_prefix.size());
    }
    return service_name;
}

void microsoft_sql_server_metascan::work() {
    auto result = this->result();
    logged_progress(50, cat::metascan_discovering_instances);
    auto session = open_session();
    // Each installed SQL Server version has its own provider namespace, and each lists every
    // instance on the machine: an instance is listed once, from the first namespace that has it.
    std::set<std::string> listed;
    for (const auto& child : session.rows(namespaces_)) {
        const auto name = access::selected_text(child, "Name");
        if (!name.starts_with(provider_prefix)) continue;
        const std::string wmi_namespace = provider_root + "\\" + name;
        log_debug("Querying SQL Server instances in: " + wmi_namespace);
        std::vector<libwql::wql_query_row> rows;
        try {
            rows = session.rows(engines_in(wmi_namespace));
        } catch (const std::exception& e) {
            log_debug("Namespace " + wmi_namespace + " not accessible, skipping: " + e.what());
            continue;
        }
        for (const auto& row : rows) {
            const auto service_name = access::optional_text(row, "ServiceName");
            if (!service_name) {
                log_debug(wmi_namespace + ": No ServiceName set, skipping.");
                continue;
            }
            if (!listed.insert(folded(*service_name)).second) continue;
            result.add_entry(cat::metascan_microsoft_sql_server_instance_name(
                                 sql_server_instance_name(*service_name)),
                             {{"microsoft_sql_server_metascan_group.service_name", *service_name},
                              {"microsoft_sql_server_metascan_group.display_name",
                               access::optional_text(row, "DisplayName").value_or("")}});
        }
    }
    if (listed.empty()) throw exceptions::no_instances_found();
    send(result);
}

}  // namespace wmi
