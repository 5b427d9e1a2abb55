#include <gtest/gtest.h>

#include <limits>

#include "kind_scenarios.hpp"
#include "sensors/counter_arithmetic.hpp"

namespace {

// Every registered kind brings a scenario table; each runs against the real kind.
TEST(kinds, every_registered_kind_passes_its_scenario_table) {
    for (const auto& kind : wmi::kind_registrations()) {
        SCOPED_TRACE(kind.name);
        kind_scenarios::runner().run(kind, WMI_TEST_DATA_DIR);
    }
}

// Stored counters come back from the host as text; the edges of 64 bits are where a hand-made
// parser breaks.
TEST(counters, parse_leading_int64_reads_digits_and_ignores_the_rest) {
    using wmi::counters::parse_leading_int64;
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    const std::pair<const char*, std::optional<std::int64_t>> rows[] = {
        {"12abc", 12},
        {"9223372036854775807", max},
        {"-9223372036854775808", min},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"-", std::nullopt},
        {"", std::nullopt},
        {"+1", std::nullopt},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(parse_leading_int64(text), expected) << text;
}

// Stored samples come from the host's text: a difference beyond 64 bits must give no value,
// never a wrapped, negative or huge one.
TEST(counters, sql_formulas_refuse_differences_beyond_64_bits) {
    using namespace wmi::counters;
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(counter_rate(max, 2, 10, -1, 1), std::nullopt);
    EXPECT_EQ(counter_rate(5, max, 10, 1, min), std::nullopt);
    EXPECT_EQ(counter_rate(max, 2, max, max - 1, 1), static_cast<double>(max));
    EXPECT_EQ(counter_ratio_percent(1, max, 0, min), std::nullopt);
    EXPECT_EQ(counter_average(min, 1, max, 0), std::nullopt);
    EXPECT_EQ(counter_average(max, max, 0, 0), 1.0);
}

}  // namespace
