#include "sensors/memory_sensor.hpp"

#include <array>

#include "framework/exceptions.hpp"
#include "libi18n/catalogue.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

namespace {

namespace cat = libi18n::catalogue;
using figures = counters::memory_figures;

// The host names these channels by translating their keys.
constexpr std::array<channel<figures>, 4> memory_channels{{
    {.id = 0,
     .name = &cat::channel_available_memory_percent,
     .value_type = 3,
     .unit = 5,
     .limits = {.lower_warning = 20.0, .lower_error = 10.0},
     .value = &figures::available_percent},
    {.id = 1,
     .name = &cat::channel_available_memory,
     .unit = 2,
     .size_unit = 9,
     .value = &figures::available_bytes},
    {.id = 2,
     .name = &cat::channel_used_memory_percent,
     .value_type = 3,
     .unit = 5,
     .value = &figures::used_percent},
    {.id = 3,
     .name = &cat::channel_used_memory,
     .unit = 2,
     .size_unit = 9,
     .value = &figures::used_bytes},
}};

}  // namespace

const channel_table<figures> memory_sensor::channels = memory_channels;

void memory_sensor::work() {
    const auto row = open_session().required_first_row(query_);
    // Kilobytes; an absent field counts as 0.
    const auto figures =
        counters::memory_usage(access::optional_int64(row, "TotalVisibleMemorySize"),
                               access::optional_int64(row, "FreePhysicalMemory"));
    if (!figures) throw exceptions::total_memory_is_zero();
    send_values(*figures);
}

}  // namespace wmi
