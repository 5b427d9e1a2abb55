#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"

namespace wmi {

// Lists the target's volumes with the properties a user picks one by.
class volume_metascan : public wmi_metascan<settings::volume_metascan> {
public:
    using wmi_kind::wmi_kind;
    void work() override;

private:
    const access::query query_ = access::select(
        "Win32_Volume", {"DeviceID", "DriveLetter", "Name", "Label", "DriveType", "FileSystem"});
};

// "Local Disk" and the like; absent counts as 0 ("Unknown"), an unlisted value keeps its number.
std::string drive_type_text(std::optional<std::int64_t> drive_type);

}  // namespace wmi
