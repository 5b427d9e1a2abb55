#pragma once

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"

namespace wmi {

// Usage of the target's paging files in percent of their size; not clamped at 100.
class pagefile_sensor : public wmi_sensor<pagefile_sensor, settings::pagefile_sensor> {
public:
    struct figures {
        double usage_percent;
    };

    using wmi_sensor::wmi_sensor;
    static const channel_table<figures> channels;
    void work() override;

private:
    // The total over all paging files, which the channel "Total Usage" reports; without the
    // condition the first listed file would be measured instead.
    const access::query query_ =
        access::select("Win32_PerfRawData_PerfOS_PagingFile", {"PercentUsage", "PercentUsage_Base"},
                       access::equals{"Name", "_Total"});
};

}  // namespace wmi
