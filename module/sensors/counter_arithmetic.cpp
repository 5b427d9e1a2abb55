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

std::int64_t uptime_seconds(std::int64_t last_boot_us, std::int64_t local_time_us) {
    const std::int64_t seconds = (local_time_us - last_boot_us) / 1'000'000;
    return seconds > 0 ? seconds : 0;
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
