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

}  // namespace
