#include "sensors/pagefile_sensor.hpp"

#include <array>

#include "framework/exceptions.hpp"
#include "libi18n/catalogue.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

namespace {

constexpr std::array<channel<pagefile_sensor::figures>, 1> pagefile_channels{{
    {.id = 0,
     .name = &libi18n::catalogue::channel_usage,
     .named = true,
     .value_type = 3,
     .unit = 5,
     .limits = {.upper_warning = 60.0, .upper_error = 90.0},
     .value = &pagefile_sensor::figures::usage_percent},
}};

}  // namespace

const channel_table<pagefile_sensor::figures> pagefile_sensor::channels = pagefile_channels;

void pagefile_sensor::work() {
    const auto row = open_session().required_first_row(query_);
    const auto usage =
        static_cast<double>(access::required_int64(row, query_.wmi_class, "PercentUsage"));
    const auto base =
        static_cast<double>(access::required_int64(row, query_.wmi_class, "PercentUsage_Base"));
    if (base == 0.0) throw exceptions::pagefile_usage_base_is_zero();
    send_values(figures{usage * 100.0 / base});
}

}  // namespace wmi
