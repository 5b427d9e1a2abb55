#include "sensors/memory_sensor.hpp"

#include <array>

#include "framework/exceptions.hpp"
#include "libi18n/catalogue.hpp"
#include "sensors/channel_definition.hpp"
#include "sensors/counter_arithmetic.hpp"
#include "wmi_access/accessors.hpp"
#include "wmi_access/connection.hpp"
#include "wmi_access/queries.hpp"

namespace wmi {

namespace {

namespace cat = libi18n::catalogue;

// Channel names come from the host's translation of the key, so none is `named`.
const std::array<channel_definition, 4> memory_channels{{
    {0, &cat::channel_available_memory_percent, false, 3, 5, 0, 20.0, std::nullopt, 10.0,
     std::nullopt},
    {1, &cat::channel_available_memory, false, 1, 2, 9},
    {2, &cat::channel_used_memory_percent, false, 3, 5, 0},
    {3, &cat::channel_used_memory, false, 1, 2, 9},
}};

}  // namespace

memory_sensor::memory_sensor(std::shared_ptr<libvexahelper::service_container> container, int id,
                             settings::memory_sensor settings, std::map<int, std::string> channels,
                             std::map<std::string, std::string> persistent)
    : sensor_base(std::move(container), id, std::move(settings), std::move(channels),
                  std::move(persistent)) {
    for (const auto& c : memory_channels) register_channel(channel_options(c));
}

void memory_sensor::work() {
    auto r = result(ok_message(), libvexahelper::scan_response_codes::ok);
    auto session = access::open_session(*container(), client_, settings());
    const auto row = access::query_memory(*session, *logger());
    if (!row) throw exceptions::wmi_class_no_result(access::classes::operating_system);
    // Kilobytes; an absent field counts as 0.
    const auto total = access::optional_int64(*row, "TotalVisibleMemorySize");
    const auto free = access::optional_int64(*row, "FreePhysicalMemory");
    const auto figures = counters::memory_usage(total, free);
    if (!figures) throw exceptions::total_memory_is_zero();

    r.set_value(0, figures->available_percent);
    r.set_value(1, static_cast<long long>(figures->available_bytes));
    r.set_value(2, figures->used_percent);
    r.set_value(3, static_cast<long long>(figures->used_bytes));
    send(r);
}

}  // namespace wmi
