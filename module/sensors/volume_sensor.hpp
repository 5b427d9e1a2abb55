#pragma once

#include <cstdint>

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"

namespace wmi {

// Free space of one volume (drive, logical volume or mount point), chosen by its GUID path.
class volume_sensor : public wmi_sensor<volume_sensor, settings::volume_sensor> {
public:
    using wmi_sensor::wmi_sensor;
    void work() override;

    struct figures {
        double free_percent;
        std::int64_t free_bytes;
    };

    // clang-format off
    static constexpr channel<figures> channels[] = {
        {.id = 0, .name = &cat::channel_free_bytes_percent, .value_type = 3, .unit = 5,
         .limits = {.lower_warning = 25.0, .lower_error = 10.0}, .value = &figures::free_percent},
        {.id = 1, .name = &cat::channel_free_bytes, .unit = 3, .size_unit = 9, .value = &figures::free_bytes}};
    // clang-format on

private:
    // Device ids are paths like \\?\Volume{guid}\; the condition writes them as a literal.
    const access::query query_ =
        access::select("Win32_Volume", {"DeviceID", "FreeSpace", "Capacity"},
                       access::equals{"DeviceID", settings().device_id});
};

}  // namespace wmi
