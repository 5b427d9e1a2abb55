#include <gtest/gtest.h>

#include "scan_view.hpp"

namespace {

using nlohmann::json;
using namespace wmiprobe;

json texts() {
    return {{"Text",
             {{"English",
               {{"Translation",
                 {{"channel.total", {{"Display", "Total"}}},
                  {"channel.processor", {{"Display", "Processor %0:s"}}},
                  {"channel.free", {{"Display", "Free Bytes %%"}}},
                  {"lookup.operating_state.1", {{"Display", "Stopped"}}},
                  {"lookup.operating_state.4", {{"Display", "Running"}}},
                  {"error.access", {{"Display", "Access to %0:s denied"}}}}}}},
              {"German",
               {{"Translation",
                 {{"channel.processor", {{"Display", "Prozessor %0:s"}}},
                  {"lookup.operating_state.4", {{"Display", "Wird ausgeführt"}}}}}}}}}};
}

json lookups() {
    return {{"operating_state",
             {{"LookupValues",
               {{{"Value", 1}, {"Display", "Stopped"}, {"State", "LookupValueStateError"}},
                {{"Value", 4}, {"Display", "Running"}, {"State", "LookupValueStateOk"}},
                {{"Value", 5}, {"Display", "Pending"}, {"State", "LookupValueStateWarning"}}}}}}};
}

json announce(json channel) { return {{"type", "dynamic_channel"}, {"channel", channel}}; }

json result(json channels, int code = 0) {
    return {{"type", "sensor_scan_result"},
            {"response_code", code},
            {"message", nullptr},
            {"system_reset", false},
            {"channels", channels}};
}

TEST(format_value, shows_each_unit_readably) {
    struct row {
        double value;
        unsigned unit;
        std::string custom;
        bool per_second;
        bool integer;
        std::string expected;
    };
    const row rows[] = {
        {512, 2, "", false, true, "512 B"},
        {8589934592.0, 2, "", false, true, "8.00 GiB"},
        {1536, 3, "", false, true, "1.50 KiB"},
        {2048, 1, "", true, false, "2.00 KiB/s"},
        {3 * 1048576.0, 13, "", false, false, "3.00 MiB/s"},
        {42.126, 5, "", false, false, "42.13 %"},
        {7.5, 11, "", false, false, "7.50 %"},
        {0.25, 6, "", false, false, "0.25 ms"},
        {90061, 7, "", false, true, "1d 1h 1m 1s"},
        {59, 7, "", false, true, "0h 0m 59s"},
        {12, 8, "#/s", false, false, "12.00 #/s"},
        {12, 8, "#/s", false, true, "12 #/s"},
        {17, 10, "", false, true, "17 #"},
        {2.5, 10, "", true, false, "2.50 #/s"},
        {3, 99, "widgets", false, true, "3 widgets"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(format_value(r.value, r.unit, r.custom, r.per_second, r.integer), r.expected)
            << r.value << " unit " << r.unit;
    }
}

TEST(sensor_view, names_values_lookups_and_limits) {
    const json doc = texts();
    const text_table german(doc, "German");
    sensor_state state;
    sensor_view view(lookups(), german, state);
    view.take(announce({{"channel_id", 0},
                        {"key", "channel.total"},
                        {"unit", 5},
                        {"value_type", 3},
                        {"limits_enabled", true},
                        {"upper_warning_limit", 60.0},
                        {"upper_error_limit", 90.0},
                        {"lower_warning_limit", nullptr},
                        {"lower_error_limit", nullptr}}));
    view.take(announce({{"channel_id", 1},
                        {"key", "channel.1"},
                        {"display_name", "#:channel.processor[1]"},
                        {"unit", 5}}));
    view.take(announce({{"channel_id", 2},
                        {"key", "channel.state"},
                        {"unit", 0},
                        {"lookup_name", "operating_state"}}));
    view.take(announce({{"channel_id", 3},
                        {"key", "channel.free"},
                        {"unit", 5},
                        {"limits_enabled", true},
                        {"lower_warning_limit", 25.0},
                        {"lower_error_limit", 10.0},
                        {"warning_limit_message", "Low space"}}));
    view.take({{"type", "persistent_data"}, {"key", "k"}, {"value", "v1"}});
    view.take({{"type", "persistent_data"}, {"key", "k"}, {"value", "v2"}});
    EXPECT_EQ(state.persistent_data, (std::map<std::string, std::string>{{"k", "v2"}}));
    EXPECT_EQ(state.channels.size(), 4u);

    auto report = view.report(result({{{"id", 0}, {"kind", "float"}, {"value", 95.0}},
                                      {{"id", 1}, {"kind", "float"}, {"value", 70.0}},
                                      {{"id", 2}, {"kind", "integer"}, {"value", 4}},
                                      {{"id", 3}, {"kind", "float"}, {"value", 20.0}},
                                      {{"id", 9}, {"kind", "integer"}, {"value", 1}},
                                      {{"id", 2}, {"kind", "integer"}, {"value", nullptr}}}),
                              1);
    ASSERT_EQ(report.rows.size(), 6u);
    EXPECT_EQ(report.rows[0].name, "Total");  // English fallback
    EXPECT_EQ(report.rows[0].mark, level::error);
    EXPECT_EQ(report.rows[1].name, "Prozessor 1");
    EXPECT_EQ(report.rows[1].mark, level::none);  // limits off: 70 is no warning
    EXPECT_EQ(report.rows[2].value, "Wird ausgeführt");
    EXPECT_EQ(report.rows[2].mark, level::ok);
    EXPECT_EQ(report.rows[3].name, "Free Bytes %");
    EXPECT_EQ(report.rows[3].mark, level::warning);
    EXPECT_EQ(report.rows[3].note, "Low space");
    EXPECT_EQ(report.rows[4].name, "channel 9");  // never announced
    EXPECT_EQ(report.rows[5].value, "no value");

    // Lookup states that are errors, and values the lookup does not know.
    report = view.report(result({{{"id", 2}, {"kind", "integer"}, {"value", 1}},
                                 {{"id", 2}, {"kind", "integer"}, {"value", 77}},
                                 {{"id", 3}, {"kind", "float"}, {"value", 5.0}},
                                 {{"id", 0}, {"kind", "float"}, {"value", 61.0}}}),
                         2);
    EXPECT_EQ(report.rows[0].value, "Stopped");
    EXPECT_EQ(report.rows[0].mark, level::error);
    EXPECT_EQ(report.rows[1].value, "77");
    EXPECT_EQ(report.rows[1].note, "not in lookup operating_state");
    EXPECT_EQ(report.rows[2].mark, level::error);
    EXPECT_EQ(report.rows[2].note, "error limit crossed");
    EXPECT_EQ(report.rows[3].mark, level::warning);
}

TEST(sensor_view, counters_become_rates_between_readings) {
    const text_table english(texts(), "English");
    sensor_state state;
    sensor_view view(json::object(), english, state);
    view.take(
        announce({{"channel_id", 0}, {"key", "channel.traffic"}, {"value_type", 2}, {"unit", 1}}));
    const auto traffic = [](double value) {
        return result({{{"id", 0}, {"kind", "integer"}, {"value", value}}});
    };
    auto report = view.report(traffic(1000), 10'000'000);
    EXPECT_EQ(report.rows[0].value, "");
    EXPECT_EQ(report.rows[0].note, "first reading, rate on the next scan");
    report = view.report(traffic(1000 + 4 * 2048), 14'000'000);  // 4 s later
    EXPECT_EQ(report.rows[0].value, "2.00 KiB/s");
    EXPECT_EQ(state.counters.at(0), (counter_sample{1000 + 4 * 2048, 14'000'000}));

    // Equal timestamps and falling counters give no rate, only a new baseline.
    report = view.report(traffic(20000), 14'000'000);
    EXPECT_EQ(report.rows[0].value, "");
    report = view.report(traffic(5), 15'000'000);
    EXPECT_EQ(report.rows[0].value, "");
    report = view.report(traffic(1029), 16'000'000);
    EXPECT_EQ(report.rows[0].value, "1.00 KiB/s");

    // The module says its counters restarted: the old baseline must not be used.
    auto reset = traffic(999999);
    reset["system_reset"] = true;
    report = view.report(reset, 17'000'000);
    EXPECT_TRUE(report.system_reset);
    EXPECT_EQ(report.rows[0].value, "");
    EXPECT_NE(format_report(report).find("counters restarted"), std::string::npos);
}

TEST(format_report, aligns_columns_and_states_the_outcome) {
    scan_report report;
    report.response_code = 3;
    report.message = "Zugriff verweigert";
    report.rows = {{0, "Größe", "5 B", "", level::none},
                   {1, "Total", "95.00 %", "error limit crossed", level::error}};
    EXPECT_EQ(format_report(report),
              "  Channel  Value    State\n"
              "  Größe    5 B\n"
              "  Total    95.00 %  ERROR: error limit crossed\n"
              "  Status: error: Zugriff verweigert\n");
}

}  // namespace
