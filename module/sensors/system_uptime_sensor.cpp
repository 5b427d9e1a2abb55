#include "sensors/system_uptime_sensor.hpp"

#include <chrono>

#include "sensors/counter_arithmetic.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

namespace {

std::int64_t microseconds(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

}  // namespace

void system_uptime_sensor::work() {
    const auto row = open_session().required_first_row(query_);
    // Both times come from the target, so the probe's clock plays no part.
    const auto boot = access::required_timestamp(row, query_.wmi_class, "LastBootUpTime");
    const auto now = access::required_timestamp(row, query_.wmi_class, "LocalDateTime");
    send_values(figures{counters::uptime_seconds(microseconds(boot), microseconds(now))});
}

}  // namespace wmi
