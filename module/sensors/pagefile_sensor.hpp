#pragma once

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"

namespace wmi {

// Usage of the target's paging files in percent of their size; not clamped at 100.
class pagefile_sensor : public wmi_sensor<pagefile_sensor, settings::pagefile_sensor> {
public:
    using wmi_sensor::wmi_sensor;
    void work() override;

    struct figures {
        double usage_percent;
    };

    // clang-format off
    static constexpr channel<figures> channels[] = {
        {.id = 0, .name = &cat::channel_usage, .named = true, .value_type = 3, .unit = 5,
         .limits = {.upper_warning = 60.0, .upper_error = 90.0}, .value = &figures::usage_percent}};
    // clang-format on

private:
    // The total over all paging files, which the channel "Total Usage" reports; without the
    // condition the first listed file would be measured instead.
    const access::query query_ =
        access::select("Win32_PerfRawData_PerfOS_PagingFile", {"PercentUsage", "PercentUsage_Base"},
                       access::equals{"Name", "_Total"});
};

}  // namespace wmi
