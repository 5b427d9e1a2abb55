#pragma once

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"
#include "sensors/counter_arithmetic.hpp"

namespace wmi {

// Available and used physical memory of the target, in bytes and percent of the total.
class memory_sensor : public wmi_sensor<memory_sensor, settings::memory_sensor> {
public:
    using wmi_sensor::wmi_sensor;
    static const channel_table<counters::memory_figures> channels;
    void work() override;

private:
    const access::query query_ =
        access::select("Win32_OperatingSystem", {"FreePhysicalMemory", "TotalVisibleMemorySize"});
};

}  // namespace wmi
