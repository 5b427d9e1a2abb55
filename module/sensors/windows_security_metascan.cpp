#include "sensors/windows_security_metascan.hpp"

#include <set>
#include <string>
#include <utility>

#include "framework/exceptions.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

void windows_security_metascan::work() {
    auto result = this->result();
    auto session = open_session();
    logged_progress(50, cat::metascan_querying_security_products);
    // A product is one (display name, executable) pair across all types.
    std::set<std::pair<std::string, std::string>> seen;
    using group = settings::windows_security_metascan_group;
    for (std::size_t i = 0; i < types.size(); ++i) {
        for (const auto& row : session.rows(queries_[i])) {
            auto name = access::selected_text(row, "displayName");
            auto path = access::optional_text(row, "pathToSignedProductExe").value_or("");
            if (!seen.emplace(name, std::move(path)).second) continue;
            result.add_entry(
                cat::metascan_windows_security_instance_name(name, types[i]),
                {{group_key<group>("name"), name}, {group_key<group>("type"), types[i]}});
        }
    }
    if (seen.empty()) throw exceptions::no_windows_security_products_found();
    send(result);
}

}  // namespace wmi
