#include "sensors/volume_metascan.hpp"

#include <map>

#include "framework/exceptions.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

std::string drive_type_text(std::optional<std::int64_t> drive_type) {
    static const std::map<std::int64_t, std::string> texts{
        {0, "Unknown"},       {1, "No Root Directory"}, {2, "Removable Disk"}, {3, "Local Disk"},
        {4, "Network Drive"}, {5, "Compact Disk"},      {6, "RAM Disk"},
    };
    const auto value = drive_type.value_or(0);
    const auto it = texts.find(value);
    return it != texts.end() ? it->second : "Unknown (" + std::to_string(value) + ")";
}

void volume_metascan::work() {
    auto result = this->result();
    progress(50, cat::metascan_querying_volumes);
    const auto rows = open_session().rows(query_);
    if (rows.empty()) throw exceptions::no_volumes_found();
    for (const auto& row : rows) {
        const auto name = access::selected_text(row, "Name");
        result.add_entry(
            cat::metascan_volume_instance_name(name),
            entry_values<settings::volume_metascan_group>({
                {"device_id", access::selected_text(row, "DeviceID")},
                {"name", name},
                {"label", access::optional_text(row, "Label").value_or("")},
                {"drive_type", drive_type_text(access::optional_int64(row, "DriveType"))},
                {"file_system", access::optional_text(row, "FileSystem").value_or("")},
                {"drive_letter", access::optional_text(row, "DriveLetter").value_or("")},
            }));
    }
    send(result);
}

}  // namespace wmi
