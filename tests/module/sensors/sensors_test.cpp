#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "document/declared_kinds.hpp"
#include "fake_target.hpp"
#include "sensors/cpu_load_sensor.hpp"
#include "sensors/memory_sensor.hpp"
#include "sensors/pagefile_sensor.hpp"
#include "sensors/system_uptime_sensor.hpp"
#include "sensors/wsman_check.hpp"

namespace {

using fake::row;
using nlohmann::json;
namespace settings = wmi::settings;

// Channel id -> value of a scan result.
std::map<int, double> values_of(const json& result) {
    std::map<int, double> values;
    for (const auto& c : result.at("channels")) values[c.at("id")] = c.at("value");
    return values;
}

class sensors : public fake::fixture {
protected:
    template <typename Sensor>
    std::unique_ptr<Sensor> make(int id, std::map<std::string, std::string> persistent = {},
                                 std::map<int, std::string> known = {}) {
        return std::make_unique<Sensor>(container_, id, settings<typename Sensor::settings_type>(),
                                        known, std::move(persistent));
    }
    std::vector<json> results() const { return recorder_->of_type("sensor_scan_result"); }
    json last_result() const {
        auto all = results();
        EXPECT_FALSE(all.empty());
        return all.empty() ? json::object() : all.back();
    }
    // The host's view of a sensor's persistent data after replaying every message.
    std::map<std::string, std::string> stored() const {
        std::map<std::string, std::string> data;
        for (const auto& m : recorder_->of_type("persistent_data"))
            data[m.at("key")] = m.at("value");
        return data;
    }
    void answer_with(fake::rows rows) {
        target_->answer = [rows](const std::string&) { return rows; };
    }
};

// ---------------------------------------------------------------------------------------------
// Construction

TEST_F(sensors, each_sensor_logs_the_display_name_of_the_document) {
    make<wmi::cpu_load_sensor>(1);
    make<wmi::memory_sensor>(2);
    make<wmi::pagefile_sensor>(3);
    make<wmi::system_uptime_sensor>(4);
    const std::map<std::string_view, int> ids{{"cpu_load_sensor", 1},
                                              {"memory_sensor", 2},
                                              {"pagefile_sensor", 3},
                                              {"system_uptime_sensor", 4}};
    for (std::size_t i = 0; i < wmi::document::declared_sensor_kinds.size(); ++i) {
        const auto found = ids.find(wmi::document::declared_sensor_kinds[i]);
        if (found == ids.end()) continue;
        const auto texts = sensor_log_texts(found->second);
        ASSERT_GE(texts.size(), 2u);
        EXPECT_EQ(texts[1], std::string(wmi::document::declared_sensor_displays[i]) +
                                " version is: 1.21.0.22799");
    }
}

TEST_F(sensors, channels_are_announced_with_their_codes_and_limits) {
    make<wmi::memory_sensor>(1);
    make<wmi::pagefile_sensor>(2);
    make<wmi::system_uptime_sensor>(3);
    make<wmi::cpu_load_sensor>(4);
    std::map<std::pair<int, int>, json> channels;
    for (const auto& m : recorder_->of_type("dynamic_channel")) {
        channels[{m.at("sensor_id"), m.at("channel").at("channel_id")}] = m.at("channel");
    }
    ASSERT_EQ(channels.size(), 7u);
    struct expected {
        int sensor, channel;
        std::string key, display;
        int value_type, unit, size_unit;
        bool limits;
        json lower_warning, upper_warning, lower_error, upper_error;
    };
    const std::vector<expected> table{
        {1, 0, "channel.available_memory_percent", "", 3, 5, 0, true, 20.0, nullptr, 10.0, nullptr},
        {1, 1, "channel.available_memory", "", 1, 2, 9, false, nullptr, nullptr, nullptr, nullptr},
        {1, 2, "channel.used_memory_percent", "", 3, 5, 0, false, nullptr, nullptr, nullptr,
         nullptr},
        {1, 3, "channel.used_memory", "", 1, 2, 9, false, nullptr, nullptr, nullptr, nullptr},
        {2, 0, "channel.usage", "#:channel.usage[]", 3, 5, 0, true, nullptr, 60.0, nullptr, 90.0},
        {3, 0, "channel.system_uptime", "#:channel.system_uptime[]", 1, 7, 0, false, nullptr,
         nullptr, nullptr, nullptr},
        {4, 0, "channel.total", "", 3, 5, 0, false, nullptr, nullptr, nullptr, nullptr},
    };
    for (const auto& e : table) {
        SCOPED_TRACE(e.key);
        const auto& c = channels.at({e.sensor, e.channel});
        EXPECT_EQ(c.at("key"), e.key);
        EXPECT_EQ(c.at("display_name"), e.display);
        EXPECT_EQ(c.at("value_type"), e.value_type);
        EXPECT_EQ(c.at("unit"), e.unit);
        EXPECT_EQ(c.at("size_unit"), e.size_unit);
        EXPECT_EQ(c.at("limits_enabled"), e.limits);
        EXPECT_EQ(c.at("lower_warning_limit"), e.lower_warning);
        EXPECT_EQ(c.at("upper_warning_limit"), e.upper_warning);
        EXPECT_EQ(c.at("lower_error_limit"), e.lower_error);
        EXPECT_EQ(c.at("upper_error_limit"), e.upper_error);
        EXPECT_EQ(c.at("factor"), 1.0);
    }
}

// ---------------------------------------------------------------------------------------------
// Uptime

TEST_F(sensors, uptime_truncates_and_never_goes_negative) {
    struct {
        const char* boot;
        const char* now;
        long long seconds;
    } const cases[] = {
        {"2026-01-01T00:00:00Z", "2026-01-15T00:00:00Z", 1209600},
        {"2026-01-01T00:00:00Z", "2026-01-01T00:00:01.999999Z", 1},
        {"2026-01-01T00:00:00Z", "2026-01-01T00:00:00.999999Z", 0},
        {"2026-01-02T00:00:00Z", "2026-01-01T00:00:00Z", 0},  // clock set back after boot
    };
    auto sensor = make<wmi::system_uptime_sensor>(5);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.now);
        answer_with({row({{"LastBootUpTime", c.boot}, {"LocalDateTime", c.now}})});
        sensor->scan();
        const auto r = last_result();
        EXPECT_EQ(r.at("response_code"), 0);
        EXPECT_EQ(r.at("message").at("text"), "OK");
        ASSERT_EQ(r.at("channels").size(), 1u);
        EXPECT_EQ(r.at("channels")[0].at("kind"), "integer");
        EXPECT_EQ(r.at("channels")[0].at("value"), c.seconds);
    }
    EXPECT_EQ(target_->clients_made, 1);
    EXPECT_EQ(target_->sessions_opened, 4);
    EXPECT_EQ(target_->last_parameters.username, "monitor");
    EXPECT_EQ(target_->last_parameters.password, "Secret-1");
}

TEST_F(sensors, uptime_errors_name_the_class_and_the_missing_field) {
    struct {
        fake::rows rows;
        std::string key;
    } const cases[] = {
        {{}, "#:error.wmi_class_no_result[Win32_OperatingSystem]"},
        {{row({{"LastBootUpTime", "2026-01-01T00:00:00Z"}})},
         "#:error.required_field_unavailable[Win32_OperatingSystem,LocalDateTime]"},
        {{row({{"Caption", "x"}})},
         "#:error.required_field_unavailable[Win32_OperatingSystem,LastBootUpTime]"},
    };
    auto sensor = make<wmi::system_uptime_sensor>(6);
    for (const auto& c : cases) {
        answer_with(c.rows);
        sensor->scan();
        const auto r = last_result();
        EXPECT_EQ(r.at("response_code"), 3);
        EXPECT_EQ(r.at("error_code"), 0);
        EXPECT_EQ(r.at("message").at("key"), c.key);
        EXPECT_TRUE(r.at("channels").empty());
    }
    EXPECT_EQ(results().size(), 3u);
    // Failed scans keep the client.
    EXPECT_EQ(target_->clients_made, 1);
}

TEST_F(sensors, a_refused_session_ends_the_scan_with_the_clients_message) {
    target_->refuse = "Access is denied.";
    auto sensor = make<wmi::system_uptime_sensor>(7);
    sensor->scan();
    EXPECT_EQ(last_result().at("response_code"), 3);
    EXPECT_EQ(last_result().at("message").at("text"), "Access is denied.");
}

// ---------------------------------------------------------------------------------------------
// Memory and pagefile

TEST_F(sensors, memory_reports_bytes_and_percentages_for_the_edge_cases) {
    struct {
        std::map<std::string, std::string> fields;
        double available_percent;
        long long available_bytes;
        double used_percent;
        long long used_bytes;
    } const cases[] = {
        {{{"TotalVisibleMemorySize", "1000"}, {"FreePhysicalMemory", "250"}},
         25.0,
         256000,
         75.0,
         768000},
        {{{"TotalVisibleMemorySize", "1000"}}, 0.0, 0, 100.0, 1024000},  // free absent
        {{{"TotalVisibleMemorySize", "1000"}, {"FreePhysicalMemory", "4000"}},
         100.0,
         1024000,
         0.0,
         0},  // free above total
    };
    auto sensor = make<wmi::memory_sensor>(8);
    for (const auto& c : cases) {
        answer_with({row(c.fields)});
        sensor->scan();
        const auto r = last_result();
        ASSERT_EQ(r.at("response_code"), 0);
        const auto& ch = r.at("channels");
        ASSERT_EQ(ch.size(), 4u);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(ch[i].at("id"), i);
        EXPECT_EQ(ch[0].at("kind"), "float");
        EXPECT_EQ(ch[1].at("kind"), "integer");
        EXPECT_DOUBLE_EQ(ch[0].at("value").get<double>(), c.available_percent);
        EXPECT_EQ(ch[1].at("value"), c.available_bytes);
        EXPECT_DOUBLE_EQ(ch[2].at("value").get<double>(), c.used_percent);
        EXPECT_EQ(ch[3].at("value"), c.used_bytes);
    }
}

TEST_F(sensors, memory_without_a_total_is_an_error_not_a_missing_field) {
    auto sensor = make<wmi::memory_sensor>(9);
    for (const auto& fields : {std::map<std::string, std::string>{{"FreePhysicalMemory", "5"}},
                               std::map<std::string, std::string>{{"TotalVisibleMemorySize", "0"},
                                                                  {"FreePhysicalMemory", "0"}}}) {
        answer_with({row(fields)});
        sensor->scan();
        EXPECT_EQ(last_result().at("message").at("key"), "#:error.total_memory_is_zero[]");
        EXPECT_EQ(last_result().at("response_code"), 3);
    }
    answer_with({});
    sensor->scan();
    EXPECT_EQ(last_result().at("message").at("key"),
              "#:error.wmi_class_no_result[Win32_OperatingSystem]");
    EXPECT_EQ(results().size(), 3u);
}

TEST_F(sensors, pagefile_usage_is_not_clamped_and_a_zero_base_fails) {
    auto sensor = make<wmi::pagefile_sensor>(10);
    struct {
        std::map<std::string, std::string> fields;
        int code;
        std::string key;
        double value;
    } const cases[] = {
        {{{"PercentUsage", "1740"}, {"PercentUsage_Base", "16384"}}, 0, "", 1740 * 100.0 / 16384},
        {{{"PercentUsage", "300"}, {"PercentUsage_Base", "200"}}, 0, "", 150.0},
        {{{"PercentUsage", "300"}, {"PercentUsage_Base", "0"}},
         3,
         "#:error.pagefile_usage_base_is_zero[]",
         0},
        {{{"PercentUsage_Base", "10"}},
         3,
         "#:error.required_field_unavailable[Win32_PerfRawData_PerfOS_PagingFile,PercentUsage]",
         0},
        {{{"PercentUsage", "10"}},
         3,
         "#:error.required_field_unavailable[Win32_PerfRawData_PerfOS_PagingFile,"
         "PercentUsage_Base]",
         0},
    };
    for (const auto& c : cases) {
        answer_with({row(c.fields)});
        sensor->scan();
        const auto r = last_result();
        EXPECT_EQ(r.at("response_code"), c.code);
        if (c.code == 0) {
            EXPECT_EQ(r.at("message").at("text"), "OK");
            EXPECT_DOUBLE_EQ(values_of(r).at(0), c.value);
        } else {
            EXPECT_EQ(r.at("message").at("key"), c.key);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// CPU load

fake::rows processors(long long t, long long idle0, long long idle1, long long idle_total) {
    auto r = [&](const char* name, long long idle) {
        return row({{"Name", name},
                    {"PercentProcessorTime", std::to_string(idle)},
                    {"Timestamp_Sys100NS", std::to_string(t)}});
    };
    return {r("0", idle0), r("1", idle1), r("_Total", idle_total)};
}

TEST_F(sensors, cpu_first_scan_collects_and_second_scan_reports_per_processor) {
    auto sensor = make<wmi::cpu_load_sensor>(11);
    answer_with(processors(1000, 100, 200, 150));
    sensor->scan();
    auto r = last_result();
    EXPECT_EQ(r.at("response_code"), 0);
    EXPECT_EQ(r.at("message").at("key"), "message.collecting_initial_sample");
    EXPECT_EQ(r.at("message").at("text"),
              "Collecting initial sample. Data will be available on the next scan.");
    EXPECT_TRUE(r.at("channels").empty());
    EXPECT_EQ(stored(),
              (std::map<std::string, std::string>{{"sample.0.percent_processor_time", "100"},
                                                  {"sample.0.timestamp_sys100ns", "1000"},
                                                  {"sample.1.percent_processor_time", "200"},
                                                  {"sample.1.timestamp_sys100ns", "1000"},
                                                  {"sample._Total.percent_processor_time", "150"},
                                                  {"sample._Total.timestamp_sys100ns", "1000"}}));

    // 1000 ticks later: processor 0 idle 875 of them (12.5 %), processor 1 never idle.
    answer_with(processors(2000, 975, 200, 587));
    sensor->scan();
    r = last_result();
    EXPECT_EQ(r.at("message").at("text"), "OK");
    EXPECT_EQ(values_of(r), (std::map<int, double>{{1, 12.5}, {2, 100.0}, {0, 56.3}}));
    std::vector<int> order;
    for (const auto& c : r.at("channels")) order.push_back(c.at("id"));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 0}));

    const auto data = stored();
    EXPECT_EQ(data.at("0"), "1");
    EXPECT_EQ(data.at("1"), "2");
    EXPECT_EQ(data.at("next_channel_id"), "3");
    EXPECT_EQ(data.count("_Total"), 0u);

    const auto announced = recorder_->of_type("dynamic_channel");
    ASSERT_EQ(announced.size(), 3u);
    EXPECT_EQ(announced[1].at("channel").at("key"), "channel.1");
    EXPECT_EQ(announced[1].at("channel").at("display_name"), "#:channel.processor[0]");
    EXPECT_EQ(announced[2].at("channel").at("display_name"), "#:channel.processor[1]");
    EXPECT_EQ(announced[2].at("channel").at("value_type"), 3);
    EXPECT_EQ(announced[2].at("channel").at("unit"), 5);

    const auto texts = sensor_log_texts(11);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "0: 12.500000%"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "1: 100.000000%"), texts.end());
}

TEST_F(sensors, cpu_channel_ids_survive_re_creation_and_new_processors_get_the_next_id) {
    auto first = make<wmi::cpu_load_sensor>(12);
    answer_with(processors(1000, 100, 200, 150));
    first->scan();
    answer_with(processors(2000, 600, 700, 650));
    first->scan();
    first.reset();

    // The host hands back what it stored; processor "1" now comes first and "2" is new.
    auto second = make<wmi::cpu_load_sensor>(12, stored(), {{0, "Total"}, {1, "P0"}, {2, "P1"}});
    const auto announced_before = recorder_->of_type("dynamic_channel").size();
    answer_with(
        {row({{"Name", "1"}, {"PercentProcessorTime", "800"}, {"Timestamp_Sys100NS", "3000"}}),
         row({{"Name", "2"}, {"PercentProcessorTime", "5"}, {"Timestamp_Sys100NS", "3000"}}),
         row({{"Name", "0"}, {"PercentProcessorTime", "1100"}, {"Timestamp_Sys100NS", "3000"}})});
    second->scan();
    EXPECT_EQ(values_of(last_result()), (std::map<int, double>{{2, 90.0}, {1, 50.0}}));
    answer_with(
        {row({{"Name", "2"}, {"PercentProcessorTime", "505"}, {"Timestamp_Sys100NS", "4000"}})});
    second->scan();
    EXPECT_EQ(values_of(last_result()), (std::map<int, double>{{3, 50.0}}));
    EXPECT_EQ(stored().at("2"), "3");
    EXPECT_EQ(stored().at("next_channel_id"), "4");
    // Known channels 1 and 2 are not announced again; only the new one is.
    const auto announced = recorder_->of_type("dynamic_channel");
    ASSERT_EQ(announced.size(), announced_before + 1);
    EXPECT_EQ(announced.back().at("channel").at("channel_id"), 3);
}

TEST_F(sensors, cpu_counters_that_cannot_be_compared_yield_no_value_but_replace_the_sample) {
    struct {
        const char* what;
        std::map<std::string, std::string> stored;
        long long idle, t;
        std::optional<double> value;
    } const cases[] = {
        {"idle counter went backwards",
         {{"percent_processor_time", "500"}, {"timestamp_sys100ns", "1000"}},
         400,
         2000,
         std::nullopt},
        {"equal timestamps",
         {{"percent_processor_time", "100"}, {"timestamp_sys100ns", "2000"}},
         200,
         2000,
         std::nullopt},
        {"idle ran faster than time",
         {{"percent_processor_time", "0"}, {"timestamp_sys100ns", "1000"}},
         5000,
         2000,
         0.0},
        {"fully busy",
         {{"percent_processor_time", "700"}, {"timestamp_sys100ns", "1000"}},
         700,
         2000,
         100.0},
        {"stored text with a tail",
         {{"percent_processor_time", "12abc"}, {"timestamp_sys100ns", "1000"}},
         512,
         2000,
         50.0},
        {"stored text without digits",
         {{"percent_processor_time", "abc"}, {"timestamp_sys100ns", "1000"}},
         512,
         2000,
         std::nullopt},
        {"stored minus only",
         {{"percent_processor_time", "0"}, {"timestamp_sys100ns", "-"}},
         512,
         2000,
         std::nullopt},
        {"zeros after an unusable row",
         {{"percent_processor_time", "0"}, {"timestamp_sys100ns", "0"}},
         512,
         2000,
         std::nullopt},
    };
    int id = 100;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::map<std::string, std::string> data;
        for (const auto& [k, v] : c.stored) data["sample.0." + k] = v;
        auto sensor = make<wmi::cpu_load_sensor>(++id, data);
        answer_with({row({{"Name", "0"},
                          {"PercentProcessorTime", std::to_string(c.idle)},
                          {"Timestamp_Sys100NS", std::to_string(c.t)}})});
        sensor->scan();
        const auto r = last_result();
        EXPECT_EQ(r.at("response_code"), 0);
        if (c.value) {
            EXPECT_EQ(values_of(r), (std::map<int, double>{{1, *c.value}}));
            EXPECT_EQ(r.at("message").at("text"), "OK");
        } else {
            EXPECT_TRUE(r.at("channels").empty());
            EXPECT_EQ(r.at("message").at("key"), "message.collecting_initial_sample");
        }
        // Whatever the outcome, the new reading is what the next scan compares with.
        // Whatever the host holds afterwards: what it gave plus what was sent.
        auto sent = data;
        for (const auto& m : recorder_->of_type("persistent_data")) {
            if (m.at("sensor_id") == id) sent[m.at("key")] = m.at("value");
        }
        EXPECT_EQ(sent.at("sample.0.percent_processor_time"), std::to_string(c.idle));
        EXPECT_EQ(sent.at("sample.0.timestamp_sys100ns"), std::to_string(c.t));
    }
}

TEST_F(sensors, cpu_unusable_rows_store_zeros_and_others_still_report) {
    auto sensor = make<wmi::cpu_load_sensor>(13, {{"sample.0.percent_processor_time", "100"},
                                                  {"sample.0.timestamp_sys100ns", "1000"},
                                                  {"sample.1.percent_processor_time", "100"},
                                                  {"sample.1.timestamp_sys100ns", "1000"}});
    answer_with(
        {row({{"Name", "0"}, {"PercentProcessorTime", "600"}, {"Timestamp_Sys100NS", "2000"}}),
         row({{"Name", "1"}, {"Timestamp_Sys100NS", "2000"}})});
    sensor->scan();
    const auto r = last_result();
    EXPECT_EQ(r.at("message").at("text"), "OK");
    EXPECT_EQ(values_of(r), (std::map<int, double>{{1, 50.0}}));
    EXPECT_EQ(stored().at("sample.1.percent_processor_time"), "0");
    EXPECT_EQ(stored().at("sample.1.timestamp_sys100ns"), "0");
    EXPECT_EQ(stored().count("1"), 0u);  // no value, no channel

    // An unchanged sample is not sent again.
    const auto sent_before = recorder_->of_type("persistent_data").size();
    sensor->scan();
    EXPECT_EQ(recorder_->of_type("persistent_data").size(), sent_before);
}

TEST_F(sensors, cpu_errors_end_the_scan) {
    auto sensor = make<wmi::cpu_load_sensor>(14, {{"0", "zero"},
                                                  {"sample.0.percent_processor_time", "100"},
                                                  {"sample.0.timestamp_sys100ns", "1000"}});
    answer_with({});
    sensor->scan();
    EXPECT_EQ(last_result().at("message").at("key"),
              "#:error.wmi_class_no_result[Win32_PerfRawData_PerfOS_Processor]");
    answer_with({row({{"PercentProcessorTime", "1"}, {"Timestamp_Sys100NS", "2000"}})});
    sensor->scan();
    EXPECT_EQ(last_result().at("response_code"), 3);  // no Name
    answer_with(
        {row({{"Name", "0"}, {"PercentProcessorTime", "600"}, {"Timestamp_Sys100NS", "2000"}})});
    sensor->scan();
    EXPECT_EQ(last_result().at("response_code"), 3);  // stored channel id is not a number
    EXPECT_EQ(last_result().at("message").at("text"), "stoi");
    EXPECT_EQ(results().size(), 3u);
}

// ---------------------------------------------------------------------------------------------
// The check

class check : public fake::fixture {};

TEST_F(check, success_logs_at_level_7_and_failures_at_level_0) {
    struct {
        const char* what;
        std::string refuse;
        fake::rows rows;
        bool success;
        fake::log_line line;
    } const cases[] = {
        {"answers",
         "",
         {row({{"Caption", "Windows"}})},
         true,
         {7, "WSMan connection to target.example established successfully."}},
        {"no instance", "", {}, false, {0, "Win32_OperatingSystem query returned no results."}},
        {"wrong password", "Access is denied.", {}, false, {0, "Access is denied."}},
    };
    int id = 20;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        target_->refuse = c.refuse;
        target_->answer = [rows = c.rows](const std::string&) { return rows; };
        wmi::wsman_check subject(container_, ++id, settings<settings::wsman_check>());
        subject.work();
        const auto results = recorder_->of_type("check_result");
        ASSERT_FALSE(results.empty());
        EXPECT_EQ(results.back().at("sensor_id"), id);
        EXPECT_EQ(results.back().at("success"), c.success);
        const auto log = sensor_log(id);
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log.front(),
                  (fake::log_line{7, "Initialize: wsman_check version is: 1.21.0.22799"}));
        EXPECT_EQ(log.back(), c.line);
        for (const auto& l : log) EXPECT_EQ(l.text.find("Secret-1"), std::string::npos);
    }
    EXPECT_EQ(recorder_->of_type("check_result").size(), 3u);
}

}  // namespace
