#include "sensors/disk_io_sensor.hpp"

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "wmi_access/accessors.hpp"

namespace wmi {

namespace {

namespace disk = counters::disk;

struct stored_counter {
    disk::counter counter;
    const char* field;  // of the row
    const char* key;    // of persistent data, without prefix
};

// Indexed by disk::counter: the persistent keys in the order they are written.
// clang-format off
constexpr std::array<stored_counter, disk::counter_count> stored_counters{{
    {disk::current_disk_queue_length, "CurrentDiskQueueLength", "current_disk_queue_length"},
    {disk::percent_disk_time, "PercentDiskTime", "percent_disk_time"},
    {disk::percent_disk_time_base, "PercentDiskTime_Base", "percent_disk_time_base"},
    {disk::percent_disk_read_time, "PercentDiskReadTime", "percent_disk_read_time"},
    {disk::percent_disk_read_time_base, "PercentDiskReadTime_Base", "percent_disk_read_time_base"},
    {disk::percent_disk_write_time, "PercentDiskWriteTime", "percent_disk_write_time"},
    {disk::percent_disk_write_time_base, "PercentDiskWriteTime_Base", "percent_disk_write_time_base"},
    {disk::percent_idle_time, "PercentIdleTime", "percent_idle_time"},
    {disk::percent_idle_time_base, "PercentIdleTime_Base", "percent_idle_time_base"},
    {disk::avg_disk_bytes_per_read, "AvgDiskBytesPerRead", "avg_disk_bytes_per_read"},
    {disk::avg_disk_bytes_per_read_base, "AvgDiskBytesPerRead_Base", "avg_disk_bytes_per_read_base"},
    {disk::avg_disk_bytes_per_write, "AvgDiskBytesPerWrite", "avg_disk_bytes_per_write"},
    {disk::avg_disk_bytes_per_write_base, "AvgDiskBytesPerWrite_Base", "avg_disk_bytes_per_write_base"},
    {disk::avg_disk_bytes_per_transfer, "AvgDiskBytesPerTransfer", "avg_disk_bytes_per_transfer"},
    {disk::avg_disk_bytes_per_transfer_base, "AvgDiskBytesPerTransfer_Base", "avg_disk_bytes_per_transfer_base"},
    {disk::avg_disksec_per_read, "AvgDisksecPerRead", "avg_disksec_per_read"},
    {disk::avg_disksec_per_read_base, "AvgDisksecPerRead_Base", "avg_disksec_per_read_base"},
    {disk::avg_disksec_per_write, "AvgDisksecPerWrite", "avg_disksec_per_write"},
    {disk::avg_disksec_per_write_base, "AvgDisksecPerWrite_Base", "avg_disksec_per_write_base"},
    {disk::avg_disksec_per_transfer, "AvgDisksecPerTransfer", "avg_disksec_per_transfer"},
    {disk::avg_disksec_per_transfer_base, "AvgDisksecPerTransfer_Base", "avg_disksec_per_transfer_base"},
    {disk::avg_disk_queue_length, "AvgDiskQueueLength", "avg_disk_queue_length"},
    {disk::avg_disk_read_queue_length, "AvgDiskReadQueueLength", "avg_disk_read_queue_length"},
    {disk::avg_disk_write_queue_length, "AvgDiskWriteQueueLength", "avg_disk_write_queue_length"},
    {disk::disk_bytes_persec, "DiskBytesPersec", "disk_bytes_persec"},
    {disk::disk_read_bytes_persec, "DiskReadBytesPersec", "disk_read_bytes_persec"},
    {disk::disk_write_bytes_persec, "DiskWriteBytesPersec", "disk_write_bytes_persec"},
    {disk::disk_transfers_persec, "DiskTransfersPersec", "disk_transfers_persec"},
    {disk::disk_reads_persec, "DiskReadsPersec", "disk_reads_persec"},
    {disk::disk_writes_persec, "DiskWritesPersec", "disk_writes_persec"},
    {disk::split_io_persec, "SplitIOPerSec", "split_io_persec"},
    {disk::timestamp_perftime, "Timestamp_PerfTime", "timestamp_perftime"},
    {disk::frequency_perftime, "Frequency_PerfTime", "frequency_perftime"},
}};
// clang-format on

constexpr bool indexed_by_counter() {
    for (std::size_t i = 0; i < stored_counters.size(); ++i) {
        if (stored_counters[i].counter != i) return false;
    }
    return true;
}
static_assert(indexed_by_counter(), "stored_counters must follow disk::counter");

}  // namespace

std::vector<std::string> disk_io_fields(bool with_free_space) {
    std::vector<std::string> fields{"Name"};
    if (with_free_space) {
        fields.insert(fields.end(), {"PercentFreeSpace", "PercentFreeSpace_Base", "FreeMegabytes"});
    }
    for (const auto& c : stored_counters) fields.emplace_back(c.field);
    return fields;
}

template <typename Twin>
counters::disk_sample disk_io_sensor<Twin>::load_previous() {
    counters::disk_sample previous;
    auto& data = this->persistent();
    for (std::size_t i = 0; i < stored_counters.size(); ++i) {
        // An absent key is no previous reading; unreadable text reads as 0.
        if (const auto text = data.at_opt(stored_counters[i].key))
            previous[i] = counters::parse_leading_int64(*text).value_or(0);
    }
    return previous;
}

template <typename Twin>
void disk_io_sensor<Twin>::store(const counters::disk_sample& current) {
    // A counter the row lacked is stored as 0, so the next scan sees 0 as its previous value.
    for (std::size_t i = 0; i < stored_counters.size(); ++i)
        this->set_persistent_data(stored_counters[i].key, std::to_string(current[i].value_or(0)));
}

template <typename Twin>
void disk_io_sensor<Twin>::work() {
    const auto row = this->open_session().first_row(query_);
    if (!row) throw typename Twin::not_found(this->settings().name);
    const auto previous = load_previous();
    counters::disk_sample current;
    for (std::size_t i = 0; i < stored_counters.size(); ++i)
        current[i] = access::optional_int64(*row, stored_counters[i].field);
    counters::disk_free_space free;
    if constexpr (Twin::has_free_space) {
        free = {access::optional_int64(*row, "PercentFreeSpace"),
                access::optional_int64(*row, "PercentFreeSpace_Base"),
                access::optional_int64(*row, "FreeMegabytes")};
    }
    // On a first scan only free space and the current queue have values, and the message
    // stays "OK": there is no "collecting initial sample" state for disks.
    this->send_values(counters::disk_io(previous, current, free));
    store(current);
}

template class disk_io_sensor<logical_disk>;
template class disk_io_sensor<physical_disk>;

}  // namespace wmi
