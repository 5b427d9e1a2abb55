#include "sensors/counter_arithmetic.hpp"

#include <limits>

namespace wmi::counters {

std::optional<std::int64_t> parse_leading_int64(const std::string& text) {
    std::size_t pos = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) pos = 1;
    if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') return std::nullopt;
    // Accumulate toward the negative side: its range is one larger than the positive one.
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        const int digit = text[pos] - '0';
        if (value < (min + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative) return value;
    if (value == min) return std::nullopt;
    return -value;
}

std::optional<processor_sample> make_processor_sample(std::string name,
                                                      std::optional<std::int64_t> percent_time,
                                                      std::optional<std::int64_t> timestamp) {
    if (name.empty() || !percent_time || !timestamp) return std::nullopt;
    if (*timestamp <= 0 || *percent_time < 0) return std::nullopt;
    return processor_sample{std::move(name), *percent_time, *timestamp};
}

std::optional<double> cpu_load(const std::optional<processor_sample>& previous,
                               const std::optional<processor_sample>& current) {
    if (!previous || !current) return std::nullopt;
    if (current->name != previous->name) return std::nullopt;
    if (current->timestamp_sys100ns <= previous->timestamp_sys100ns) return std::nullopt;
    if (current->percent_processor_time < previous->percent_processor_time) return std::nullopt;
    // Both operands were validated non-negative and ordered, so neither difference overflows.
    const std::int64_t idle = current->percent_processor_time - previous->percent_processor_time;
    const std::int64_t elapsed = current->timestamp_sys100ns - previous->timestamp_sys100ns;
    const double load = (1.0 - static_cast<double>(idle) / static_cast<double>(elapsed)) * 100.0;
    if (load < 0.0) return 0.0;
    if (load > 100.0) return 100.0;
    return load;
}

std::optional<memory_figures> memory_usage(std::optional<std::int64_t> total_kb,
                                           std::optional<std::int64_t> free_kb) {
    const std::int64_t total = total_kb.value_or(0);
    std::int64_t free = free_kb.value_or(0);
    if (free > total) free = total;
    if (total == 0) return std::nullopt;
    const std::int64_t used = total - free;
    const double total_d = static_cast<double>(total);
    return memory_figures{
        static_cast<double>(free) * 100.0 / total_d,
        free << 10,
        static_cast<double>(used) * 100.0 / total_d,
        used << 10,
    };
}

// The SQL Server counter classes follow the same raw counter types as the disk classes.
std::optional<double> counter_rate(std::optional<std::int64_t> x1, std::optional<std::int64_t> t1,
                                   std::optional<std::int64_t> f, std::optional<std::int64_t> x0,
                                   std::optional<std::int64_t> t0) {
    return per_second(counter_delta(x0, x1), counter_delta(t0, t1), f);
}

std::optional<double> counter_ratio_percent(std::optional<std::int64_t> a1,
                                            std::optional<std::int64_t> b1,
                                            std::optional<std::int64_t> a0,
                                            std::optional<std::int64_t> b0) {
    return time_percent(counter_delta(a0, a1), counter_delta(b0, b1));
}

std::optional<double> counter_average(std::optional<std::int64_t> a1,
                                      std::optional<std::int64_t> b1,
                                      std::optional<std::int64_t> a0,
                                      std::optional<std::int64_t> b0) {
    return per_operation(counter_delta(a0, a1), counter_delta(b0, b1));
}

std::int64_t uptime_seconds(std::int64_t last_boot_us, std::int64_t local_time_us) {
    const std::int64_t seconds = (local_time_us - last_boot_us) / 1'000'000;
    return seconds > 0 ? seconds : 0;
}

std::optional<std::int64_t> counter_delta(std::optional<std::int64_t> previous,
                                          std::optional<std::int64_t> current) {
    if (!previous || !current) return std::nullopt;
    std::int64_t delta = 0;
    if (__builtin_sub_overflow(*current, *previous, &delta)) return std::nullopt;
    return delta;
}

std::optional<double> fraction_percent(std::optional<std::int64_t> x,
                                       std::optional<std::int64_t> base) {
    if (!x || !base || *base <= 0) return std::nullopt;
    return static_cast<double>(*x) / static_cast<double>(*base) * 100.0;
}

std::optional<double> time_percent(std::optional<std::int64_t> d_x,
                                   std::optional<std::int64_t> d_base) {
    if (!d_x || !d_base || *d_base <= 0 || *d_x < 0) return std::nullopt;
    return static_cast<double>(*d_x) / static_cast<double>(*d_base) * 100.0;
}

std::optional<double> per_operation(std::optional<std::int64_t> d_x,
                                    std::optional<std::int64_t> d_base) {
    if (!d_x || !d_base || *d_x < 0 || *d_base < 0) return std::nullopt;
    if (*d_base == 0) return *d_x == 0 ? std::optional<double>(0.0) : std::nullopt;
    return static_cast<double>(*d_x) / static_cast<double>(*d_base);
}

std::optional<double> milliseconds_per_operation(std::optional<std::int64_t> d_x,
                                                 std::optional<std::int64_t> d_base,
                                                 std::optional<std::int64_t> frequency) {
    const auto ticks = per_operation(d_x, d_base);
    if (!ticks || !frequency || *frequency <= 0) return std::nullopt;
    return *ticks / static_cast<double>(*frequency) * 1000.0;
}

std::optional<double> average_queue(std::optional<std::int64_t> d_x,
                                    std::optional<std::int64_t> d_timestamp) {
    if (!d_x || !d_timestamp || *d_timestamp <= 0 || *d_x < 0) return std::nullopt;
    return static_cast<double>(*d_x) / static_cast<double>(*d_timestamp);
}

std::optional<double> per_second(std::optional<std::int64_t> d_x,
                                 std::optional<std::int64_t> d_timestamp,
                                 std::optional<std::int64_t> frequency) {
    if (!d_x || !d_timestamp || !frequency) return std::nullopt;
    if (*d_x < 0 || *d_timestamp <= 0 || *frequency <= 0) return std::nullopt;
    // In double: d_x times a frequency of 10^7 leaves 64 bits after a few terabytes.
    return static_cast<double>(*d_x) * static_cast<double>(*frequency) /
           static_cast<double>(*d_timestamp);
}

disk_io_figures disk_io(const disk_sample& previous, const disk_sample& current,
                        const disk_free_space& free) {
    using namespace disk;
    const auto delta = [&](counter c) { return counter_delta(previous[c], current[c]); };
    const auto frequency = current[frequency_perftime];
    const auto d_time = delta(timestamp_perftime);
    const auto as_double = [](std::optional<std::int64_t> v) -> std::optional<double> {
        if (!v) return std::nullopt;
        return static_cast<double>(*v);
    };
    disk_io_figures f;
    f.free_space_percent = fraction_percent(free.percent_free_space, free.percent_free_space_base);
    if (free.free_megabytes) f.free_space = static_cast<double>(*free.free_megabytes) * 1048576.0;
    f.current_queue = as_double(current[current_disk_queue_length]);
    // clang-format off
    f.disk_read_time_percent = time_percent(delta(percent_disk_read_time), delta(percent_disk_read_time_base));
    f.disk_write_time_percent = time_percent(delta(percent_disk_write_time), delta(percent_disk_write_time_base));
    f.disk_time_percent = time_percent(delta(percent_disk_time), delta(percent_disk_time_base));
    f.idle_time_percent = time_percent(delta(percent_idle_time), delta(percent_idle_time_base));
    f.avg_bytes_per_read = per_operation(delta(avg_disk_bytes_per_read), delta(avg_disk_bytes_per_read_base));
    f.avg_bytes_per_transfer = per_operation(delta(avg_disk_bytes_per_transfer), delta(avg_disk_bytes_per_transfer_base));
    f.avg_bytes_per_write = per_operation(delta(avg_disk_bytes_per_write), delta(avg_disk_bytes_per_write_base));
    f.avg_read_time = milliseconds_per_operation(delta(avg_disksec_per_read), delta(avg_disksec_per_read_base), frequency);
    f.avg_transfer_time = milliseconds_per_operation(delta(avg_disksec_per_transfer), delta(avg_disksec_per_transfer_base), frequency);
    f.avg_write_time = milliseconds_per_operation(delta(avg_disksec_per_write), delta(avg_disksec_per_write_base), frequency);
    f.avg_queue_length = average_queue(delta(avg_disk_queue_length), d_time);
    f.avg_read_queue = average_queue(delta(avg_disk_read_queue_length), d_time);
    f.avg_write_queue = average_queue(delta(avg_disk_write_queue_length), d_time);
    f.disk_transfer = per_second(delta(disk_bytes_persec), d_time, frequency);
    f.disk_ios = per_second(delta(disk_transfers_persec), d_time, frequency);
    f.disk_read = per_second(delta(disk_read_bytes_persec), d_time, frequency);
    f.disk_read_ios = per_second(delta(disk_reads_persec), d_time, frequency);
    f.disk_write = per_second(delta(disk_write_bytes_persec), d_time, frequency);
    f.disk_write_ios = per_second(delta(disk_writes_persec), d_time, frequency);
    f.split_ios = per_second(delta(split_io_persec), d_time, frequency);
    // clang-format on
    return f;
}

std::optional<process_sample> make_process_sample(std::optional<std::int64_t> process_id,
                                                  std::optional<std::int64_t> percent_time,
                                                  std::optional<std::int64_t> timestamp,
                                                  std::optional<std::int64_t> elapsed_time) {
    if (!process_id || !percent_time || !timestamp || !elapsed_time) return std::nullopt;
    if (*process_id <= 0 || *timestamp <= 0 || *percent_time < 0 || *elapsed_time < 0) {
        return std::nullopt;
    }
    return process_sample{*process_id, *percent_time, *timestamp, *elapsed_time};
}

std::optional<double> process_cpu_percent(const std::optional<process_sample>& previous,
                                          const std::optional<process_sample>& current) {
    if (!previous || !current) return std::nullopt;
    if (current->process_id != previous->process_id) return std::nullopt;
    if (current->timestamp_sys100ns <= previous->timestamp_sys100ns) return std::nullopt;
    if (current->percent_processor_time < previous->percent_processor_time) return std::nullopt;
    if (current->elapsed_time < previous->elapsed_time) return std::nullopt;
    // Validated non-negative and ordered: neither difference overflows.
    const std::int64_t busy = current->percent_processor_time - previous->percent_processor_time;
    const std::int64_t elapsed = current->timestamp_sys100ns - previous->timestamp_sys100ns;
    return static_cast<double>(busy) * 100.0 / static_cast<double>(elapsed);
}

}  // namespace wmi::counters
