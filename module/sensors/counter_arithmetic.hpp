#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Pure arithmetic of the counter sensors: no I/O, no logging, no state. The sensors fetch
// rows and persistent data, call these, and emit the results.
namespace wmi::counters {

// Reads a stored counter text: an optional "-" and decimal digits, ignoring anything after
// the digits ("12abc" is 12). Empty when no digit follows or the number does not fit 64 bits;
// each caller decides what such a text stands for.
std::optional<std::int64_t> parse_leading_int64(const std::string& text);

// One reading of a raw processor counter pair.
struct processor_sample {
    std::string name;
    // Grows with the time the processor is NOT busy, in 100 ns units.
    std::int64_t percent_processor_time = 0;
    // Target clock of the reading, in 100 ns units.
    std::int64_t timestamp_sys100ns = 0;

    bool operator==(const processor_sample&) const = default;
};

// A sample exists only with a name, a positive timestamp and a non-negative counter.
std::optional<processor_sample> make_processor_sample(std::string name,
                                                      std::optional<std::int64_t> percent_time,
                                                      std::optional<std::int64_t> timestamp);

// Load in percent between two readings of the same processor, clamped to [0, 100]; empty
// unless `current` strictly follows `previous` (same name, later timestamp, idle counter not
// decreased). Idle ticks and timestamps share 100 ns units, so load = 1 - dIdle/dT.
std::optional<double> cpu_load(const std::optional<processor_sample>& previous,
                               const std::optional<processor_sample>& current);

// Memory figures from Win32_OperatingSystem, which reports kilobytes.
struct memory_figures {
    double available_percent;
    std::int64_t available_bytes;
    double used_percent;
    std::int64_t used_bytes;
};

// An absent field counts as 0 and free is capped at total. Empty when total is 0, which the
// sensor reports as an error rather than dividing by zero.
std::optional<memory_figures> memory_usage(std::optional<std::int64_t> total_kb,
                                           std::optional<std::int64_t> free_kb);

// Whole seconds from boot to the target's local time, truncated toward zero; 0 when the boot
// time is not before the local time (clock set back after boot). Inputs in microseconds.
std::int64_t uptime_seconds(std::int64_t last_boot_us, std::int64_t local_time_us);

// Raw counters of one disk row that the next scan needs, in the order the disk I/O sensors
// store them.
namespace disk {
enum counter : std::size_t {
    current_disk_queue_length,
    percent_disk_time,
    percent_disk_time_base,
    percent_disk_read_time,
    percent_disk_read_time_base,
    percent_disk_write_time,
    percent_disk_write_time_base,
    percent_idle_time,
    percent_idle_time_base,
    avg_disk_bytes_per_read,
    avg_disk_bytes_per_read_base,
    avg_disk_bytes_per_write,
    avg_disk_bytes_per_write_base,
    avg_disk_bytes_per_transfer,
    avg_disk_bytes_per_transfer_base,
    avg_disksec_per_read,
    avg_disksec_per_read_base,
    avg_disksec_per_write,
    avg_disksec_per_write_base,
    avg_disksec_per_transfer,
    avg_disksec_per_transfer_base,
    avg_disk_queue_length,
    avg_disk_read_queue_length,
    avg_disk_write_queue_length,
    disk_bytes_persec,
    disk_read_bytes_persec,
    disk_write_bytes_persec,
    disk_transfers_persec,
    disk_reads_persec,
    disk_writes_persec,
    split_io_persec,
    timestamp_perftime,
    frequency_perftime,
    counter_count
};
}  // namespace disk

// One reading of a disk's raw counters; a counter is empty when the row (or the stored
// previous reading) lacks it.
using disk_sample = std::array<std::optional<std::int64_t>, disk::counter_count>;

// current - previous; empty when either is absent or the true difference does not fit 64 bits
// (a stored text far out of line with the row), which no formula could use.
std::optional<std::int64_t> counter_delta(std::optional<std::int64_t> previous,
                                          std::optional<std::int64_t> current);

// The formulas of the disk channels. Each is empty when an operand is absent or its condition
// fails; the sensor then leaves the channel unset for that scan.
// x / base x 100 of one reading (free space); needs base > 0.
std::optional<double> fraction_percent(std::optional<std::int64_t> x,
                                       std::optional<std::int64_t> base);
// Share of the interval in percent (disk time counters tick against their _Base); needs
// d_base > 0 and d_x >= 0.
std::optional<double> time_percent(std::optional<std::int64_t> d_x,
                                   std::optional<std::int64_t> d_base);
// d_x per operation counted by d_base: 0.0 when neither moved (no operation in the interval),
// empty when only the counter moved.
std::optional<double> per_operation(std::optional<std::int64_t> d_x,
                                    std::optional<std::int64_t> d_base);
// per_operation of a counter in ticks of `frequency` per second, in milliseconds.
std::optional<double> milliseconds_per_operation(std::optional<std::int64_t> d_x,
                                                 std::optional<std::int64_t> d_base,
                                                 std::optional<std::int64_t> frequency);
// Queue-length counters sum the queue once per tick of Timestamp_PerfTime.
std::optional<double> average_queue(std::optional<std::int64_t> d_x,
                                    std::optional<std::int64_t> d_timestamp);
// Events or bytes per second; the timestamp ticks `frequency` times a second.
std::optional<double> per_second(std::optional<std::int64_t> d_x,
                                 std::optional<std::int64_t> d_timestamp,
                                 std::optional<std::int64_t> frequency);

// What the disk I/O channels show; an empty figure leaves its channel unset.
struct disk_io_figures {
    std::optional<double> free_space_percent;
    std::optional<double> free_space;  // bytes
    std::optional<double> current_queue;
    std::optional<double> disk_read_time_percent;
    std::optional<double> disk_write_time_percent;
    std::optional<double> disk_time_percent;
    std::optional<double> idle_time_percent;
    std::optional<double> avg_bytes_per_read;
    std::optional<double> avg_bytes_per_transfer;
    std::optional<double> avg_bytes_per_write;
    std::optional<double> avg_read_time;  // milliseconds
    std::optional<double> avg_transfer_time;
    std::optional<double> avg_write_time;
    std::optional<double> avg_queue_length;
    std::optional<double> avg_read_queue;
    std::optional<double> avg_write_queue;
    std::optional<double> disk_transfer;  // bytes per second
    std::optional<double> disk_ios;       // operations per second
    std::optional<double> disk_read;
    std::optional<double> disk_read_ios;
    std::optional<double> disk_write;
    std::optional<double> disk_write_ios;
    std::optional<double> split_ios;
};

// Free space as the current row reports it; never stored between scans.
struct disk_free_space {
    std::optional<std::int64_t> percent_free_space;
    std::optional<std::int64_t> percent_free_space_base;
    std::optional<std::int64_t> free_megabytes;
};

// Every figure from the previous and the current reading of one disk. A first scan (nothing
// stored) yields only the free space figures and the current queue.
disk_io_figures disk_io(const disk_sample& previous, const disk_sample& current,
                        const disk_free_space& free);

// One reading of a process's raw counters (Win32_PerfRawData_PerfProc_Process).
struct process_sample {
    std::int64_t process_id = 0;
    // Processor time of the process summed over all processors, in 100 ns units.
    std::int64_t percent_processor_time = 0;
    // Target clock of the reading, in 100 ns units.
    std::int64_t timestamp_sys100ns = 0;
    // The raw ElapsedTime value: the start of the process on the target clock, 100 ns units.
    std::int64_t elapsed_time = 0;

    bool operator==(const process_sample&) const = default;
};

// A sample exists only with all four values, a positive process id (0 is the idle process) and
// timestamp, and non-negative counters.
std::optional<process_sample> make_process_sample(std::optional<std::int64_t> process_id,
                                                  std::optional<std::int64_t> percent_time,
                                                  std::optional<std::int64_t> timestamp,
                                                  std::optional<std::int64_t> elapsed_time);

// Processor time of the process over the interval in percent of one processor: neither divided
// by the processor count nor clamped, so two busy cores give 200. Empty unless `current`
// follows `previous`: same process, later timestamp, neither counter decreased.
std::optional<double> process_cpu_percent(const std::optional<process_sample>& previous,
                                          const std::optional<process_sample>& current);

// The SQL Server counters: each compares a current reading (x1, a1/b1) with the previous one
// (x0, a0/b0). Every input is optional; any absent input, and a difference that does not fit 64
// bits, gives no value.

// Events per second: (x1 - x0) * f / (t1 - t0) with timestamps in ticks of frequency f. No value
// unless time moved forward, f > 0 and the counter did not fall (a restart).
std::optional<double> counter_rate(std::optional<std::int64_t> x1, std::optional<std::int64_t> t1,
                                   std::optional<std::int64_t> f, std::optional<std::int64_t> x0,
                                   std::optional<std::int64_t> t0);

// Hits per lookup in percent: (a1 - a0) / (b1 - b0) * 100. No value unless the base grew and the
// hits did not fall.
std::optional<double> counter_ratio_percent(std::optional<std::int64_t> a1,
                                            std::optional<std::int64_t> b1,
                                            std::optional<std::int64_t> a0,
                                            std::optional<std::int64_t> b0);

// Amount per event, e.g. milliseconds waited per lock wait: (a1 - a0) / (b1 - b0). Nothing
// happened (both unchanged) is 0.0; an amount without events, or a fall, is no value.
std::optional<double> counter_average(std::optional<std::int64_t> a1,
                                      std::optional<std::int64_t> b1,
                                      std::optional<std::int64_t> a0,
                                      std::optional<std::int64_t> b0);

}  // namespace wmi::counters
