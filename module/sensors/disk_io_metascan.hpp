#pragma once

#include "framework/wmi_kind.hpp"
#include "sensors/disk_io_sensor.hpp"

namespace wmi {

// Lists every disk of the twin's class, "_Total" included, so that a sensor can be created
// for one by name.
template <typename Twin>
class disk_io_metascan : public wmi_metascan<typename Twin::metascan_settings> {
    using base = wmi_metascan<typename Twin::metascan_settings>;

public:
    using base::base;
    void work() override;

private:
    const access::query query_ =
        access::select(Twin::wmi_class, disk_io_fields(Twin::has_free_space));
};

extern template class disk_io_metascan<logical_disk>;
extern template class disk_io_metascan<physical_disk>;
using logical_disk_io_metascan = disk_io_metascan<logical_disk>;
using physical_disk_io_metascan = disk_io_metascan<physical_disk>;

}  // namespace wmi
