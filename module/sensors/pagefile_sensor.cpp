#include "sensors/pagefile_sensor.hpp"

#include "framework/exceptions.hpp"
#include "libi18n/catalogue.hpp"
#include "sensors/channel_definition.hpp"
#include "wmi_access/accessors.hpp"
#include "wmi_access/connection.hpp"
#include "wmi_access/queries.hpp"

namespace wmi {

namespace {

const channel_definition usage_channel{
    0, &libi18n::catalogue::channel_usage, true, 3, 5, 0, std::nullopt, 60.0, std::nullopt, 90.0};

}  // namespace

pagefile_sensor::pagefile_sensor(std::shared_ptr<libvexahelper::service_container> container,
                                 int id, settings::pagefile_sensor settings,
                                 std::map<int, std::string> channels,
                                 std::map<std::string, std::string> persistent)
    : sensor_base(std::move(container), id, std::move(settings), std::move(channels),
                  std::move(persistent)) {
    register_channel(channel_options(usage_channel));
}

void pagefile_sensor::work() {
    auto session = access::open_session(*container(), client_, settings());
    const auto row = access::query_paging_file(*session, *logger());
    const char* paging_file = access::classes::paging_file;
    if (!row) throw exceptions::wmi_class_no_result(paging_file);
    const auto usage =
        static_cast<double>(access::required_int64(*row, paging_file, "PercentUsage"));
    const auto base =
        static_cast<double>(access::required_int64(*row, paging_file, "PercentUsage_Base"));
    if (base == 0.0) throw exceptions::pagefile_usage_base_is_zero();

    auto r = result(ok_message(), libvexahelper::scan_response_codes::ok);
    r.set_value(usage_channel.id, usage * 100.0 / base);
    send(r);
}

}  // namespace wmi
