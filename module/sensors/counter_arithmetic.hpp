#pragma once

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
