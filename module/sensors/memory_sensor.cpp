#include "sensors/memory_sensor.hpp"

#include "framework/exceptions.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

void memory_sensor::work() {
    const auto row = open_session().required_first_row(query_);
    // Kilobytes; an absent field counts as 0.
    const auto usage = counters::memory_usage(access::optional_int64(row, "TotalVisibleMemorySize"),
                                              access::optional_int64(row, "FreePhysicalMemory"));
    if (!usage) throw exceptions::total_memory_is_zero();
    send_values(*usage);
}

}  // namespace wmi
