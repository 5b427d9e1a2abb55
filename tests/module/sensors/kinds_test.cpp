#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

#include "kind_scenarios.hpp"
#include "sensors/counter_arithmetic.hpp"
#include "sensors/network_card_metascan.hpp"

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

// Truncation happens twice, when a stage reports and when it is folded into the base; the
// scenario tables only ever see the 2-then-n shape.
TEST(step_progress, each_stage_shares_what_the_stages_before_left) {
    // Per row: the stages as {maximum, steps taken}, then every value reported.
    const std::pair<std::vector<std::pair<int, int>>, std::vector<int>> rows[] = {
        {{{2, 1}, {3, 3}}, {50, 66, 83, 100}},
        {{{3, 2}, {2, 2}}, {33, 66, 83, 100}},
        {{{7, 2}, {2, 2}}, {14, 28, 64, 100}},
        {{{4, 1}, {1, 1}, {2, 2}}, {25, 100, 100, 100}},
    };
    for (const auto& [stages, expected] : rows) {
        wmi::step_progress p;
        std::vector<int> reported;
        for (const auto& [maximum, steps] : stages) {
            p.set_maximum(maximum);
            for (int i = 0; i < steps; ++i) reported.push_back(p.step());
        }
        EXPECT_EQ(reported, expected) << expected.front();
    }
    wmi::step_progress p;
    EXPECT_EQ(p.step(), 1);  // a hundred steps until a maximum is set
    try {
        p.set_maximum(0);
        ADD_FAILURE() << "a maximum of 0 was accepted";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Maximum must be greater than 0.");
    }
    EXPECT_EQ(p.step(), 2);  // the refused maximum changed nothing
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
