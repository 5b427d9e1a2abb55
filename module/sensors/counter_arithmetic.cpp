#include "sensors/counter_arithmetic.hpp"

#include <limits>

namespace wmi::counters {

namespace {

// current - previous, when both exist and the difference fits.
std::optional<std::int64_t> difference(std::optional<std::int64_t> current,
                                       std::optional<std::int64_t> previous) {
    std::int64_t d = 0;
    if (!current || !previous || __builtin_sub_overflow(*current, *previous, &d)) {
        return std::nullopt;
    }
    return d;
}

}  // namespace

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

std::optional<double> counter_rate(std::optional<std::int64_t> x1, std::optional<std::int64_t> t1,
                                   std::optional<std::int64_t> f, std::optional<std::int64_t> x0,
                                   std::optional<std::int64_t> t0) {
    const auto dx = difference(x1, x0);
    const auto dt = difference(t1, t0);
    if (!dx || !dt || !f || *dt <= 0 || *f <= 0 || *dx < 0) return std::nullopt;
    return static_cast<double>(*dx) * static_cast<double>(*f) / static_cast<double>(*dt);
}

std::optional<double> counter_ratio_percent(std::optional<std::int64_t> a1,
                                            std::optional<std::int64_t> b1,
                                            std::optional<std::int64_t> a0,
                                            std::optional<std::int64_t> b0) {
    const auto da = difference(a1, a0);
    const auto db = difference(b1, b0);
    if (!da || !db || *db <= 0 || *da < 0) return std::nullopt;
    return static_cast<double>(*da) / static_cast<double>(*db) * 100.0;
}

std::optional<double> counter_average(std::optional<std::int64_t> a1,
                                      std::optional<std::int64_t> b1,
                                      std::optional<std::int64_t> a0,
                                      std::optional<std::int64_t> b0) {
    const auto da = difference(a1, a0);
    const auto db = difference(b1, b0);
    if (!da || !db || *db < 0 || *da < 0) return std::nullopt;
    if (*db == 0) return *da == 0 ? std::optional<double>(0.0) : std::nullopt;
    return static_cast<double>(*da) / static_cast<double>(*db);
}

std::int64_t uptime_seconds(std::int64_t last_boot_us, std::int64_t local_time_us) {
    const std::int64_t seconds = (local_time_us - last_boot_us) / 1'000'000;
    return seconds > 0 ? seconds : 0;
}

}  // namespace wmi::counters
