#include "sensors/volume_sensor.hpp"

#include "framework/exceptions.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

void volume_sensor::work() {
    const auto& device_id = settings().device_id;
    const auto rows = open_session().rows(query_);
    if (rows.empty()) throw exceptions::volume_not_found(device_id);
    if (rows.size() > 1) throw exceptions::ambiguous_volume(device_id);
    // An unmounted or not-ready volume reports no capacity; never divide by it.
    const auto free = access::optional_int64(rows.front(), "FreeSpace");
    const auto capacity = access::optional_int64(rows.front(), "Capacity");
    if (!free || !capacity || *capacity == 0) throw exceptions::invalid_capacity(device_id);
    send_values(
        figures{.free_percent = static_cast<double>(*free) * 100.0 / static_cast<double>(*capacity),
                .free_bytes = *free});
}

}  // namespace wmi
