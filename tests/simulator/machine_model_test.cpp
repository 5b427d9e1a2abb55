#include "simulator/machine_model.hpp"

#include <gtest/gtest.h>

namespace winrm_simulator {
namespace {

using namespace std::chrono_literals;

std::string with_class(const std::string& class_body) {
    return R"({"namespaces": {"root\\cimv2": {"C": )" + class_body + "}}}";
}

std::string with_value(const std::string& value) {
    return with_class(R"({"instances": [{"P": )" + value + "}]}");
}

TEST(machine_model, rejects_malformed_models_naming_the_place) {
    struct bad_model {
        std::string json;
        std::string expected_in_message;
    };
    const std::vector<bad_model> cases = {
        {"{", "not valid JSON"},
        {"[]", "expected an object"},
        {"{}", "missing \"namespaces\""},
        {R"({"namespaces": {}, "colour": 1})", "unknown key \"colour\""},
        {R"({"namespaces": {"cimv2": {}}})", "backslash path below root"},
        {R"({"namespaces": {"root\\\\cimv2": {}}})", "backslash path below root"},
        {R"({"namespaces": {"root\\cimv2": {}, "ROOT\\CIMV2": {}}})", "declared twice"},
        {R"({"namespaces": {"root\\cim v2": {}}})", "backslash path below root"},
        {R"({"namespaces": {"root\\": {}}})", "backslash path below root"},
        {R"({"namespaces": {"rootx\\cimv2": {}}})", "backslash path below root"},
        {R"({"namespaces": {"root\\cimv2": {"Win32 Service": {"instances": []}}}})",
         "a class name is"},
        {with_class(R"({"instances": [{"Bad-Name": 1}]})"), "a property name is"},
        {with_class(R"({"instances": [{"1st": 1}]})"), "a property name is"},
        {with_value(R"("bell\u0007")"), "control characters"},
        {R"({"namespaces": {"root\\cimv2": []}})", "expected an object of classes"},
        {R"({"utc_offset_minutes": 900, "namespaces": {}})", "between -840 and 840"},
        {R"({"perf_frequency": 0, "namespaces": {}})", "must be positive"},
        {R"({"uptime_seconds": -1, "namespaces": {}})", "must not be negative"},
        {with_class(R"({"instances": {}})"), "missing \"instances\" array"},
        {with_class(R"({"instances": []})"), "at least one property"},
        {with_class(R"({"instances": [{"P": 1}], "extra": 2})"), "unknown key \"extra\""},
        {with_class(R"({"instances": [{"Name": 1}, {"NAME": 2}]})"), "also spelled"},
        {with_class(R"({"properties": ["A", 3], "instances": []})"), "expected a property name"},
        {R"({"namespaces": {"root\\cimv2": {"__NAMESPACE": {"instances": []}}}})",
         "derived from the declared namespaces"},
        {with_value("1.5"), "fractional numbers"},
        {with_value("[]"), "at least one element"},
        {with_value("[1, \"a\"]"), "same type"},
        {with_value("[null]"), "cannot be null"},
        {with_value("[[1]]"), "expected a string, integer, boolean or null"},
        {with_value(R"({"counter": {"start": 1}})"), "missing \"per_second\""},
        {with_value(R"({"counter": {"per_second": 1.5}})"), "signed 64-bit integer"},
        {with_value(R"({"counter": {"per_second": 1, "wrap": 2}})"), "unknown key \"wrap\""},
        {with_value(R"({"clock": "uptime"})"), "\"sys100ns\""},
        {with_value(R"({"datetime": "yesterday"})"), "ISO 8601"},
        {with_value(R"({"datetime": "2026-01-02T03:04:05Z", "offset_seconds": 5})"),
         "takes no offset"},
        {with_value(R"({"something": 1})"), "must be a \"counter\""},
    };
    for (const bad_model& c : cases) {
        SCOPED_TRACE(c.json);
        try {
            machine_model::parse(c.json, "test.json");
            ADD_FAILURE() << "accepted";
        } catch (const model_error& e) {
            EXPECT_NE(std::string(e.what()).find(c.expected_in_message), std::string::npos)
                << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("test.json: ", 0), 0u) << e.what();
        }
    }
}

TEST(machine_model, reports_the_json_path_of_a_bad_value) {
    try {
        machine_model::parse(with_class(R"({"instances": [{"A": 1}, {"B": 2.5}]})"), "m.json");
        FAIL() << "accepted";
    } catch (const model_error& e) {
        EXPECT_NE(std::string(e.what()).find("C.instances[1].B"), std::string::npos) << e.what();
    }
}

TEST(machine_model, missing_file_is_a_model_error) {
    EXPECT_THROW(machine_model::load_file("/nonexistent/model.json"), model_error);
}

TEST(machine_model, namespaces_exist_with_their_parents_case_insensitively) {
    const machine_model model = machine_model::parse(
        R"({"namespaces": {"root\\Microsoft\\SqlServer\\ComputerManagement16": {},
                           "root\\Microsoft\\SqlServer\\ServerEvents\\MSSQLSERVER": {},
                           "root\\cimv2": {}}})",
        "m");
    EXPECT_TRUE(model.has_namespace("root"));
    EXPECT_TRUE(model.has_namespace("ROOT\\microsoft\\sqlserver"));
    EXPECT_TRUE(model.has_namespace("root\\CIMV2"));
    EXPECT_FALSE(model.has_namespace("root\\SecurityCenter2"));
    EXPECT_FALSE(model.has_namespace("root\\Microsoft\\Sql"));
    EXPECT_FALSE(model.has_namespace("root\\cimv"));
    EXPECT_EQ(model.child_namespaces("root\\Microsoft\\SqlServer"),
              (std::vector<std::string>{"ComputerManagement16", "ServerEvents"}));
    EXPECT_EQ(model.child_namespaces("root"), (std::vector<std::string>{"cimv2", "Microsoft"}));
}

class counters : public ::testing::Test {
protected:
    const machine_model model_ = machine_model::parse(
        R"({"uptime_seconds": 100, "perf_frequency": 3000000, "utc_offset_minutes": 90,
            "namespaces": {"root\\cimv2": {"C": {"instances": [{
              "Idle": {"counter": {"start": 1000, "per_second": 6000000}},
              "Free": {"counter": {"start": 10, "per_second": -4}},
              "Huge": {"counter": {"start": 9223372036854775807, "per_second": 9223372036854775807}},
              "Ts": {"clock": "sys100ns"},
              "Started": {"clock": "boot_sys100ns", "offset_seconds": 30},
              "Perf": {"clock": "perf_time"},
              "Now": {"datetime": "now"},
              "Boot": {"datetime": "boot"},
              "Submitted": {"datetime": "now", "offset_seconds": -60},
              "Fixed": {"datetime": "2024-03-11T09:12:44+01:00"}
            }]}}}})",
        "m");
    // 2026-12-05T16:00:00Z
    const sim_clock::time_point start_ = sim_clock::time_point(1796486400s);

    std::string value(const std::string& name, sim_clock::duration elapsed) const {
        const model_class& cls = model_.find_namespace("root\\cimv2")->classes.at("C");
        for (const auto& [property, v] : model_.evaluate(cls, 0, {start_, start_ + elapsed})) {
            if (property == name) return v.items.at(0);
        }
        ADD_FAILURE() << "no property " << name;
        return {};
    }
};

TEST_F(counters, advance_with_injected_time) {
    EXPECT_EQ(value("Idle", 0s), "1000");
    EXPECT_EQ(value("Idle", 10s), "60001000");
    EXPECT_EQ(value("Idle", 2500ms), "15001000");
    // A falling gauge stops at zero.
    EXPECT_EQ(value("Free", 2s), "2");
    EXPECT_EQ(value("Free", 10s), "0");
    // Large rates are computed without overflow and saturate at the 64-bit maximum.
    EXPECT_EQ(value("Huge", 3s), "18446744073709551615");
    // Time before the start never runs counters backwards.
    EXPECT_EQ(value("Idle", -5s), "1000");
}

TEST_F(counters, clocks_follow_the_windows_time_bases) {
    // Windows file time of 2026-12-05T16:00:00Z in 100 ns ticks since 1601.
    const std::int64_t file_time = (1796486400LL + 11644473600LL) * 10'000'000LL;
    EXPECT_EQ(value("Ts", 0s), std::to_string(file_time));
    EXPECT_EQ(value("Ts", 7s), std::to_string(file_time + 70'000'000));
    // Boot was uptime_seconds before the start; the process started 30 s after boot.
    EXPECT_EQ(value("Started", 500s), std::to_string(file_time - 70 * 10'000'000LL));
    // The performance counter runs at perf_frequency from boot: (100 s + 2 s) × 3 MHz.
    EXPECT_EQ(value("Perf", 2s), "306000000");
}

TEST_F(counters, datetimes_render_in_local_time_with_the_offset) {
    EXPECT_EQ(value("Now", 0s), "2026-12-05T17:30:00+01:30");
    EXPECT_EQ(value("Now", 1500ms), "2026-12-05T17:30:01.5+01:30");
    EXPECT_EQ(value("Now", 123456us), "2026-12-05T17:30:00.123456+01:30");
    EXPECT_EQ(value("Boot", 3600s), "2026-12-05T17:28:20+01:30");
    EXPECT_EQ(value("Submitted", 0s), "2026-12-05T17:29:00+01:30");
    EXPECT_EQ(value("Fixed", 99s), "2024-03-11T09:12:44+01:00");
}

TEST(cim_datetime, formats_offsets_and_fractions) {
    const sim_clock::time_point t = sim_clock::time_point(1796486400s) + 250ms;
    EXPECT_EQ(format_cim_datetime(t, 0), "2026-12-05T16:00:00.25Z");
    EXPECT_EQ(format_cim_datetime(t, -300), "2026-12-05T11:00:00.25-05:00");
    EXPECT_EQ(format_cim_datetime(sim_clock::time_point(1796515199s), 60),
              "2026-12-06T00:59:59+01:00");
}

}  // namespace
}  // namespace winrm_simulator
