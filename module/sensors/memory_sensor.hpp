#pragma once

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"
#include "sensors/counter_arithmetic.hpp"

namespace wmi {

// Available and used physical memory of the target, in bytes and percent of the total.
class memory_sensor : public wmi_sensor<memory_sensor, settings::memory_sensor> {
public:
    using wmi_sensor::wmi_sensor;
    void work() override;

    using figures = counters::memory_figures;
    // The host names these channels by translating their keys.
    // clang-format off
    static constexpr channel<figures> channels[] = {
        {.id = 0, .name = &cat::channel_available_memory_percent, .value_type = 3, .unit = 5,
         .limits = {.lower_warning = 20.0, .lower_error = 10.0}, .value = &figures::available_percent},
        {.id = 1, .name = &cat::channel_available_memory, .unit = 2, .size_unit = 9, .value = &figures::available_bytes},
        {.id = 2, .name = &cat::channel_used_memory_percent, .value_type = 3, .unit = 5, .value = &figures::used_percent},
        {.id = 3, .name = &cat::channel_used_memory, .unit = 2, .size_unit = 9, .value = &figures::used_bytes}};
    // clang-format on

private:
    const access::query query_ =
        access::select("Win32_OperatingSystem", {"FreePhysicalMemory", "TotalVisibleMemorySize"});
};

}  // namespace wmi
