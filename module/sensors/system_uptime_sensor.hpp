#pragma once

#include <cstdint>

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"

namespace wmi {

// Seconds since the target's last boot, from the target's own clock.
class system_uptime_sensor
    : public wmi_sensor<system_uptime_sensor, settings::system_uptime_sensor> {
public:
    using wmi_sensor::wmi_sensor;
    void work() override;

    struct figures {
        std::int64_t uptime_seconds;
    };

    // clang-format off
    static constexpr channel<figures> channels[] = {
        {.id = 0, .name = &cat::channel_system_uptime, .named = true, .value = &figures::uptime_seconds}};
    // clang-format on

private:
    const access::query query_ =
        access::select("Win32_OperatingSystem", {"LastBootUpTime", "LocalDateTime"});
};

}  // namespace wmi
