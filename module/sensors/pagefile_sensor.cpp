#include "sensors/pagefile_sensor.hpp"

#include "framework/exceptions.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

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
