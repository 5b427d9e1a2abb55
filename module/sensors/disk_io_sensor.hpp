#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "framework/exceptions.hpp"
#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"
#include "sensors/counter_arithmetic.hpp"

// The disk I/O twins: one sensor and one meta-scan implementation, parameterised by the class
// they read (logical or physical disks). A twin differs from the other only in what its traits
// below say.
namespace wmi {

// Every disk channel is a double; `figure` is the member of the computed record it shows.
constexpr channel<counters::disk_io_figures> disk_channel(
    int id, const libi18n::i18n_msg& name, std::uint32_t unit, std::uint32_t size_unit,
    std::optional<double> counters::disk_io_figures::*figure) {
    return {.id = id,
            .name = &name,
            .value_type = 3,
            .unit = unit,
            .size_unit = size_unit,
            .value = figure};
}
// Operations per second: the host's custom unit (8) with the text "#/s".
constexpr channel<counters::disk_io_figures> disk_rate_channel(
    int id, const libi18n::i18n_msg& name,
    std::optional<double> counters::disk_io_figures::*figure) {
    return {
        .id = id, .name = &name, .value_type = 3, .unit = 8, .custom_unit = "#/s", .value = figure};
}

// Logical disks ("C:", mount points, "_Total"), with their free space.
struct logical_disk {
    using sensor_settings = settings::logical_disk_io_sensor;
    using metascan_settings = settings::logical_disk_io_metascan;
    using group = settings::logical_disk_io_metascan_group;
    using not_found = exceptions::logical_disk_not_found;
    using none_found = exceptions::no_logical_disks_found;
    static constexpr const char* wmi_class = "Win32_PerfRawData_PerfDisk_LogicalDisk";
    static constexpr bool has_free_space = true;
    static constexpr const libi18n::i18n_msg* querying =
        &cat::metascan_logical_disk_io_querying_disks;
    static constexpr const libi18n::i18n_msg* instance_name =
        &cat::metascan_logical_disk_io_instance_name;

    // Rows in the order a scan sets them; the sensor announces them in id order. Units: 3 disk
    // space, 5 percent, 6 milliseconds, 10 count, 12 bytes per operation, 13 bytes per second.
    using F = counters::disk_io_figures;
    // clang-format off
    static constexpr channel<F> channels[] = {
        disk_channel(0, cat::channel_free_space_percent, 5, 0, &F::free_space_percent),
        disk_channel(1, cat::channel_free_space, 3, 8, &F::free_space),
        disk_channel(15, cat::channel_current_queue, 10, 0, &F::current_queue),
        disk_channel(2, cat::channel_disk_read_time_percent, 5, 0, &F::disk_read_time_percent),
        disk_channel(3, cat::channel_disk_write_time_percent, 5, 0, &F::disk_write_time_percent),
        disk_channel(4, cat::channel_disk_time_percent, 5, 0, &F::disk_time_percent),
        disk_channel(5, cat::channel_idle_time_percent, 5, 0, &F::idle_time_percent),
        disk_channel(6, cat::channel_avg_bytes_per_read, 12, 8, &F::avg_bytes_per_read),
        disk_channel(7, cat::channel_avg_bytes_per_transfer, 12, 8, &F::avg_bytes_per_transfer),
        disk_channel(8, cat::channel_avg_bytes_per_write, 12, 8, &F::avg_bytes_per_write),
        disk_channel(9, cat::channel_avg_read_time, 6, 0, &F::avg_read_time),
        disk_channel(10, cat::channel_avg_transfer_time, 6, 0, &F::avg_transfer_time),
        disk_channel(11, cat::channel_avg_write_time, 6, 0, &F::avg_write_time),
        disk_channel(12, cat::channel_avg_queue_length, 10, 0, &F::avg_queue_length),
        disk_channel(13, cat::channel_avg_read_queue, 10, 0, &F::avg_read_queue),
        disk_channel(14, cat::channel_avg_write_queue, 10, 0, &F::avg_write_queue),
        disk_channel(16, cat::channel_disk_transfer, 13, 0, &F::disk_transfer),
        disk_rate_channel(17, cat::channel_disk_ios, &F::disk_ios),
        disk_channel(18, cat::channel_disk_read, 13, 0, &F::disk_read),
        disk_rate_channel(19, cat::channel_disk_read_ios, &F::disk_read_ios),
        disk_channel(20, cat::channel_disk_write, 13, 0, &F::disk_write),
        disk_rate_channel(21, cat::channel_disk_write_ios, &F::disk_write_ios),
        disk_rate_channel(22, cat::channel_split_ios, &F::split_ios)};
    // clang-format on
};

// Physical disks ("0 C:", "_Total"): the same counters without free space, other channel ids.
struct physical_disk {
    using sensor_settings = settings::physical_disk_io_sensor;
    using metascan_settings = settings::physical_disk_io_metascan;
    using group = settings::physical_disk_io_metascan_group;
    using not_found = exceptions::physical_disk_not_found;
    using none_found = exceptions::no_physical_disks_found;
    static constexpr const char* wmi_class = "Win32_PerfRawData_PerfDisk_PhysicalDisk";
    static constexpr bool has_free_space = false;
    static constexpr const libi18n::i18n_msg* querying =
        &cat::metascan_physical_disk_io_querying_disks;
    static constexpr const libi18n::i18n_msg* instance_name =
        &cat::metascan_physical_disk_io_instance_name;

    using F = counters::disk_io_figures;
    // clang-format off
    static constexpr channel<F> channels[] = {
        disk_channel(13, cat::channel_current_queue, 10, 0, &F::current_queue),
        disk_channel(0, cat::channel_disk_read_time_percent, 5, 0, &F::disk_read_time_percent),
        disk_channel(1, cat::channel_disk_time_percent, 5, 0, &F::disk_time_percent),
        disk_channel(2, cat::channel_disk_write_time_percent, 5, 0, &F::disk_write_time_percent),
        disk_channel(3, cat::channel_idle_time_percent, 5, 0, &F::idle_time_percent),
        disk_channel(4, cat::channel_avg_bytes_per_read, 12, 8, &F::avg_bytes_per_read),
        disk_channel(5, cat::channel_avg_bytes_per_transfer, 12, 8, &F::avg_bytes_per_transfer),
        disk_channel(6, cat::channel_avg_bytes_per_write, 12, 8, &F::avg_bytes_per_write),
        disk_channel(7, cat::channel_avg_read_queue, 10, 0, &F::avg_read_queue),
        disk_channel(8, cat::channel_avg_queue_length, 10, 0, &F::avg_queue_length),
        disk_channel(9, cat::channel_avg_write_queue, 10, 0, &F::avg_write_queue),
        disk_channel(10, cat::channel_avg_read_time, 6, 0, &F::avg_read_time),
        disk_channel(11, cat::channel_avg_transfer_time, 6, 0, &F::avg_transfer_time),
        disk_channel(12, cat::channel_avg_write_time, 6, 0, &F::avg_write_time),
        disk_channel(14, cat::channel_disk_transfer, 13, 0, &F::disk_transfer),
        disk_rate_channel(15, cat::channel_disk_ios, &F::disk_ios),
        disk_channel(16, cat::channel_disk_read, 13, 0, &F::disk_read),
        disk_rate_channel(17, cat::channel_disk_read_ios, &F::disk_read_ios),
        disk_channel(18, cat::channel_disk_write, 13, 0, &F::disk_write),
        disk_rate_channel(19, cat::channel_disk_write_ios, &F::disk_write_ios),
        disk_rate_channel(20, cat::channel_split_ios, &F::split_ios)};
    // clang-format on
};

// "Name", the free-space fields when the twin has them, then every stored counter: one list
// for the sensor and its meta-scan.
std::vector<std::string> disk_io_fields(bool with_free_space);

// The I/O of one disk from two readings a scan apart. The previous reading lives in persistent
// data, one key per counter, so the host keeps it across restarts.
template <typename Twin>
class disk_io_sensor : public wmi_sensor<disk_io_sensor<Twin>, typename Twin::sensor_settings> {
    using base = wmi_sensor<disk_io_sensor<Twin>, typename Twin::sensor_settings>;

public:
    using base::base;
    void work() override;

    static constexpr const auto& channels = Twin::channels;

private:
    counters::disk_sample load_previous();
    void store(const counters::disk_sample& current);

    // The name comes from the host; the condition writes it as a literal.
    const access::query query_ =
        access::select(Twin::wmi_class, disk_io_fields(Twin::has_free_space),
                       access::equals{"Name", this->settings().name});
};

extern template class disk_io_sensor<logical_disk>;
extern template class disk_io_sensor<physical_disk>;
using logical_disk_io_sensor = disk_io_sensor<logical_disk>;
using physical_disk_io_sensor = disk_io_sensor<physical_disk>;

}  // namespace wmi
