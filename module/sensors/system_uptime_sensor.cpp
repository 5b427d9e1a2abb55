#include "sensors/system_uptime_sensor.hpp"

#include <chrono>

#include "framework/exceptions.hpp"
#include "libi18n/catalogue.hpp"
#include "sensors/channel_definition.hpp"
#include "sensors/counter_arithmetic.hpp"
#include "wmi_access/accessors.hpp"
#include "wmi_access/connection.hpp"
#include "wmi_access/queries.hpp"

namespace wmi {

namespace {

const channel_definition uptime_channel{0, &libi18n::catalogue::channel_system_uptime, true, 1, 7,
                                        0};

std::int64_t microseconds(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

}  // namespace

system_uptime_sensor::system_uptime_sensor(
    std::shared_ptr<libvexahelper::service_container> container, int id,
    settings::system_uptime_sensor settings, std::map<int, std::string> channels,
    std::map<std::string, std::string> persistent)
    : sensor_base(std::move(container), id, std::move(settings), std::move(channels),
                  std::move(persistent)) {
    register_channel(channel_options(uptime_channel));
}

void system_uptime_sensor::work() {
    auto session = access::open_session(*container(), client_, settings());
    const auto row = access::query_boot_times(*session, *logger());
    const char* os = access::classes::operating_system;
    if (!row) throw exceptions::wmi_class_no_result(os);
    // Both times come from the target, so the probe's clock plays no part.
    const auto boot = microseconds(access::required_timestamp(*row, os, "LastBootUpTime"));
    const auto now = microseconds(access::required_timestamp(*row, os, "LocalDateTime"));
    const long long uptime = counters::uptime_seconds(boot, now);

    auto r = result(ok_message(), libvexahelper::scan_response_codes::ok);
    r.set_value(uptime_channel.id, uptime);
    send(r);
}

}  // namespace wmi
