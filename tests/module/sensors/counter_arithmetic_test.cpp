#include <gtest/gtest.h>

#include <limits>

#include "sensors/counter_arithmetic.hpp"

namespace {

using namespace wmi::counters;

TEST(parse_leading_int64, reads_digits_and_ignores_the_rest) {
    struct row {
        const char* text;
        std::optional<std::int64_t> expected;
    };
    const row rows[] = {
        {"0", 0},
        {"12", 12},
        {"12abc", 12},
        {"-5", -5},
        {"-5x", -5},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"abc", std::nullopt},
        {"-", std::nullopt},
        {"", std::nullopt},
        {" 1", std::nullopt},
        {"+1", std::nullopt},
    };
    for (const auto& r : rows) EXPECT_EQ(parse_leading_int64(r.text), r.expected) << r.text;
}

TEST(processor_sample, validity_rule) {
    EXPECT_TRUE(make_processor_sample("0", 0, 1));
    EXPECT_FALSE(make_processor_sample("", 5, 10));
    EXPECT_FALSE(make_processor_sample("0", std::nullopt, 10));
    EXPECT_FALSE(make_processor_sample("0", 5, std::nullopt));
    EXPECT_FALSE(make_processor_sample("0", 5, 0));
    EXPECT_FALSE(make_processor_sample("0", -1, 10));
}

TEST(cpu_load, formula_and_clamping) {
    const auto prev = make_processor_sample("0", 1000, 10'000);
    struct row {
        std::int64_t idle, ts;
        double expected;
    };
    const row rows[] = {
        {1000, 20'000, 100.0},  // no idle ticks: fully busy
        {11'000, 20'000, 0.0},  // idle for the whole interval
        {21'000, 20'000, 0.0},  // idle ran faster than the clock: clamped
        {3500, 20'000, 75.0},
        {1001, 10'001, 0.0},
    };
    for (const auto& r : rows) {
        const auto load = cpu_load(prev, make_processor_sample("0", r.idle, r.ts));
        ASSERT_TRUE(load) << r.idle << "/" << r.ts;
        EXPECT_DOUBLE_EQ(*load, r.expected) << r.idle << "/" << r.ts;
    }
}

TEST(cpu_load, no_value_unless_current_follows_previous) {
    const auto prev = make_processor_sample("0", 1000, 10'000);
    EXPECT_FALSE(cpu_load(std::nullopt, prev));
    EXPECT_FALSE(cpu_load(prev, std::nullopt));
    EXPECT_FALSE(cpu_load(prev, make_processor_sample("0", 2000, 10'000)));  // equal timestamps
    EXPECT_FALSE(cpu_load(prev, make_processor_sample("0", 2000, 9'000)));   // clock set back
    EXPECT_FALSE(cpu_load(prev, make_processor_sample("0", 999, 20'000)));   // counter reset
    EXPECT_FALSE(cpu_load(prev, make_processor_sample("1", 2000, 20'000)));  // other processor
    EXPECT_FALSE(cpu_load(prev, make_processor_sample("_total", 2000, 20'000)));
}

TEST(memory_usage, edge_cases) {
    const auto normal = memory_usage(1000, 250);
    ASSERT_TRUE(normal);
    EXPECT_DOUBLE_EQ(normal->available_percent, 25.0);
    EXPECT_EQ(normal->available_bytes, 250 * 1024);
    EXPECT_DOUBLE_EQ(normal->used_percent, 75.0);
    EXPECT_EQ(normal->used_bytes, 750 * 1024);

    const auto no_free = memory_usage(1000, std::nullopt);
    ASSERT_TRUE(no_free);
    EXPECT_EQ(no_free->available_bytes, 0);
    EXPECT_DOUBLE_EQ(no_free->used_percent, 100.0);
    EXPECT_EQ(no_free->used_bytes, 1000 * 1024);

    const auto too_much_free = memory_usage(1000, 5000);
    ASSERT_TRUE(too_much_free);
    EXPECT_DOUBLE_EQ(too_much_free->available_percent, 100.0);
    EXPECT_EQ(too_much_free->used_bytes, 0);

    EXPECT_FALSE(memory_usage(std::nullopt, 5));
    EXPECT_FALSE(memory_usage(0, 0));

    // 64 GiB in kilobytes: the byte figures need the full 64 bits.
    const auto big = memory_usage(64LL << 20, 1LL << 20);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->used_bytes, 63LL << 30);
}

TEST(uptime_seconds, truncates_and_never_goes_negative) {
    EXPECT_EQ(uptime_seconds(0, 1'999'999), 1);
    EXPECT_EQ(uptime_seconds(0, 999'999), 0);
    EXPECT_EQ(uptime_seconds(5'000'000, 1'000'000), 0);
    EXPECT_EQ(uptime_seconds(1'000'000, 1'000'000), 0);
    EXPECT_EQ(uptime_seconds(-3'000'000, 0), 3);
    EXPECT_EQ(uptime_seconds(1'600'000'000'000'000, 1'600'086'400'500'000), 86'400);
}

}  // namespace
