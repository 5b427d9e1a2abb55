#pragma once

#include <cstdint>

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"

namespace wmi {

// Seconds since the target's last boot, from the target's own clock.
class system_uptime_sensor
    : public wmi_sensor<system_uptime_sensor, settings::system_uptime_sensor> {
public:
    struct figures {
        std::int64_t uptime_seconds;
    };

    using wmi_sensor::wmi_sensor;
    static const channel_table<figures> channels;
    void work() override;

private:
    const access::query query_ =
        access::select("Win32_OperatingSystem", {"LastBootUpTime", "LocalDateTime"});
};

}  // namespace wmi
