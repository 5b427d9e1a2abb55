#include <gtest/gtest.h>

#include <chrono>
#include <limits>

#include "error_key.hpp"
#include "libi18n/i18n.hpp"
#include "libwql/wql_query.hpp"

namespace {

using libwql::wql_query_field;
using libwql::wql_query_row;
using namespace std::chrono;

wql_query_field scalar(const std::string& value, const std::string& name = "F") {
    return wql_query_field(name, {value});
}

TEST(wql_query_field, parses_datetimes_with_any_fraction_and_offset) {
    const auto base = sys_days{year{2013} / 4 / 15} + hours(16) + minutes(28) + seconds(43);
    struct {
        const char* text;
        system_clock::time_point expected;
    } cases[] = {
        {"2013-04-15T16:28:43Z", base},
        {"2013-04-15T16:28:43.488171Z", base + microseconds(488171)},
        {"2013-04-15T16:28:43.8125Z", base + microseconds(812500)},
        {"2013-04-15T16:28:43.1234567Z", base + nanoseconds(123456700)},
        {"2013-04-15T16:28:43.123456789123Z", base + nanoseconds(123456789)},
        {"2013-04-15T16:28:43", base},
        {"2013-04-16T00:28:43.46875+08:00", base + microseconds(468750)},
        {"2013-04-15T11:28:43-05:00", base},
        {"2013-04-15T16:58:43+00:30", base},
        {"2013-04-15", sys_days{year{2013} / 4 / 15}},
        {"2013-04-15Z", sys_days{year{2013} / 4 / 15}},
        {"20130415172843.488171+060", base + microseconds(488171)},
        {"20130415162843.000000+000", base},
        {"20130415152843.000000-060", base},
        // Leap day and year boundaries go through the calendar, not naive arithmetic.
        {"2024-02-29T00:00:00Z", sys_days{year{2024} / 2 / 29}},
        {"2000-01-01T00:30:00+01:00", sys_days{year{1999} / 12 / 31} + minutes(23 * 60 + 30)},
    };
    for (const auto& c : cases) {
        const auto field = wql_query_field("T", {c.text}, wql_query_field::kind::datetime);
        EXPECT_EQ(c.expected, field.as_timestamp_t()) << c.text;
    }
}

TEST(wql_query_field, rejects_what_is_not_a_datetime) {
    for (const char* text :
         {"", "2013", "2013-02-30T00:00:00Z", "2013-04-15T25:00:00Z", "2013-04-15T16:28Z",
          "2013-04-15T16:28:43.Z", "2013-04-15T16:28:43+8", "2013-04-15T16:28:43Zjunk",
          "20130415162843.488171+06", "2013041516284x.488171+060", "yesterday", "P0DT0H1M40S"}) {
        EXPECT_EQ("libwql.error.field_has_wrong_type",
                  test_support::error_key([&] { (void)scalar(text).as_timestamp_t(); }))
            << text;
    }
    EXPECT_THROW((void)wql_query_field("T", {"P0DT0H1M40S"}, wql_query_field::kind::interval)
                     .as_timestamp_t(),
                 libi18n::i18n_exception);
    EXPECT_THROW((void)wql_query_field::null("T").as_timestamp_t(), libi18n::i18n_exception);
}

TEST(wql_query_field, parses_intervals) {
    struct {
        const char* text;
        nanoseconds expected;
    } cases[] = {
        {"P0DT0H1M40S", seconds(100)},
        {"PT1.5S", milliseconds(1500)},
        {"P2D", hours(48)},
        {"P1DT2H3M4.000005S", hours(26) + minutes(3) + seconds(4) + microseconds(5)},
        {"00000001020304.000005:000", hours(26) + minutes(3) + seconds(4) + microseconds(5)},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, scalar(c.text).as_interval()) << c.text;
    for (const char* bad : {"P", "PT", "P1H", "PT1D", "P1Y", "1S", "PT1.S", "P1.5D"}) {
        EXPECT_THROW((void)scalar(bad).as_interval(), libi18n::i18n_exception) << bad;
    }
}

TEST(wql_query_field, reads_64_bit_numbers_exactly) {
    EXPECT_EQ(std::numeric_limits<std::uint64_t>::max(),
              scalar("18446744073709551615").as_uint64_t());
    EXPECT_EQ(130105313120680421u, scalar("130105313120680421").as_uint64_t());
    EXPECT_EQ(7u, scalar("+7").as_uint64_t());
    for (const char* bad : {"18446744073709551616", "-1", "", "1.5", "1e3", " 1", "0x10", "true"}) {
        EXPECT_THROW((void)scalar(bad).as_uint64_t(), libi18n::i18n_exception) << bad;
    }
    EXPECT_THROW((void)wql_query_field::null("F").as_uint64_t(), libi18n::i18n_exception);
    EXPECT_THROW((void)wql_query_field("F", {"1", "2"}, wql_query_field::kind::array).as_uint64_t(),
                 libi18n::i18n_exception);

    EXPECT_EQ(std::numeric_limits<std::int64_t>::max(), scalar("9223372036854775807").as_int64_t());
    EXPECT_EQ(std::numeric_limits<std::int64_t>::min(),
              scalar("-9223372036854775808").as_int64_t());
    EXPECT_EQ(std::nullopt, scalar("9223372036854775808").as_int64_t());
    EXPECT_EQ(std::nullopt, scalar("12abc").as_int64_t());
}

TEST(wql_query_row, tells_null_from_empty_and_absent) {
    wql_query_row row;
    row.set(wql_query_field::null("DriveLetter"));
    row.set(scalar("", "Label"));
    row.set(scalar("42", "Index"));
    row.set(wql_query_field("IPAddress", {"10.0.0.1", "fe80::1"}, wql_query_field::kind::array));

    EXPECT_FALSE(row.get("DriveLetter").has_value()) << "NULL is not available";
    ASSERT_TRUE(row.get("Label").has_value()) << "empty text is a value";
    EXPECT_EQ("", row.get("Label")->as_string());
    EXPECT_FALSE(row.get("Missing").has_value());

    EXPECT_TRUE(row.at("DriveLetter").is_null());
    EXPECT_THROW((void)row.at("Missing"), libi18n::i18n_exception);

    EXPECT_EQ(42, row.get_as_converted_to_int64_t("Index"));
    EXPECT_EQ(std::nullopt, row.get_as_converted_to_int64_t("DriveLetter"));
    EXPECT_EQ(std::nullopt, row.get_as_converted_to_int64_t("Label"));
    EXPECT_EQ(std::nullopt, row.get_as_converted_to_int64_t("Missing"));

    EXPECT_EQ("10.0.0.1, fe80::1", row.at("IPAddress").as_string());
    EXPECT_EQ(2u, row.at("IPAddress").values().size());

    // Iteration is in ascending name order; str() renders each kind distinctly.
    std::string rendered;
    for (const auto& [name, field] : row) rendered += "|" + field.str();
    EXPECT_EQ("|DriveLetter=NULL|IPAddress={10.0.0.1, fe80::1}|Index=42|Label=", rendered);
}

}  // namespace
