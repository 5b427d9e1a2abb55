#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "app.hpp"
#include "state_file.hpp"

namespace {

using nlohmann::json;
using namespace wmiprobe;
namespace fs = std::filesystem;

struct outcome {
    int code;
    std::string out;
    std::string err;
};

outcome probe(std::vector<std::string> arguments, const app_context& context = {}) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = run(arguments, out, err, context);
    return {code, out.str(), err.str()};
}

// The scripted module with the given arguments after the global options.
outcome fake(std::vector<std::string> arguments, const app_context& context = {}) {
    arguments.insert(arguments.begin(), {"--module", FAKE_MODULE_PATH});
    return probe(arguments, context);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

const std::string outcome_key = "fake_section.fake_group.outcome";
const std::string found_name = "found_section.found_group.name=C:";

TEST(probe_cli, usage_mistakes_exit_2_with_a_reason) {
    struct row {
        std::vector<std::string> arguments;
        std::string reason;
    };
    const row rows[] = {
        {{}, "subcommand is required"},
        {{"bogus"}, "subcommand is required"},
        {{"scan"}, "kind is required"},
        {{"scan", "fake_sensor"}, "--host is required"},
        {{"scan", "fake_sensor", "--host", "h", "--count", "0"}, "--count"},
        {{"scan", "fake_sensor", "--host", "h", "--port", "70000"}, "--port"},
        {{"--module", "/nonexistent/libwmi.so", "info"}, "cannot load the module"},
        {{"--module", FAKE_MODULE_PATH, "--lang", "Klingon", "info"}, "it has: English, German"},
        {{"--module", FAKE_MODULE_PATH, "scan", "no_sensor", "--host", "h"},
         "'no_sensor' is not a sensor"},
        {{"--module", FAKE_MODULE_PATH, "discover", "fake_sensor", "--host", "h"},
         "not a meta-scan"},
        {{"--module", FAKE_MODULE_PATH, "scan", "fake_sensor", "--host", "h", "--set", "x=1"},
         "'x' is not a setting of fake_sensor"},
        {{"--module", FAKE_MODULE_PATH, "scan", "fake_sensor", "--host", "h", "--set", "timeout"},
         "--set expects key=value"},
        {{"--module", FAKE_MODULE_PATH, "scan", "fake_sensor", "--host", "h", "--set",
          "fake_section.fake_group.password=hunter2"},
         "is a secret"},
        {{"--module", FAKE_MODULE_PATH, "check", "--host", "h", "--password-file", "/nonexistent"},
         "cannot read the password file"},
    };
    for (const auto& r : rows) {
        const auto result = probe(r.arguments);
        EXPECT_EQ(result.code, exit_failure) << r.reason;
        EXPECT_TRUE(contains(result.err, r.reason)) << r.reason << "\n" << result.err;
        EXPECT_FALSE(contains(result.out + result.err, "hunter2"));
    }
    EXPECT_EQ(probe({"--help"}).code, exit_ok);
    EXPECT_EQ(probe({"scan", "--help"}).code, exit_ok);
}

TEST(probe_exit_codes, follow_what_the_module_reported) {
    struct row {
        std::vector<std::string> arguments;
        int code;
        std::vector<std::string> shown;
    };
    const row rows[] = {
        {{"check", "--host", "good.example"},
         exit_ok,
         {"Check fake_check on good.example: passed"}},
        {{"check", "--host", "bad.example"},
         exit_sensor_error,
         {"Check fake_check on bad.example: FAILED: The target did not answer"}},
        {{"check", "--host", "silent.example"}, exit_failure, {"sent no check_result"}},
        {{"discover", "fake_metascan", "--host", "h"},
         exit_ok,
         {"... 50 halfway", "1. Disk C:", "name = C:"}},
        {{"discover", "fake_metascan", "--host", "h", "--set", outcome_key + "=3"},
         exit_sensor_error,
         {"FAILED: Discovery refused"}},
        {{"scan", "fake_sensor", "--host", "h", "--set", found_name},
         exit_ok,
         {"Scan 1/1 of fake_sensor on h", "Status: ok"}},
        {{"scan", "fake_sensor", "--host", "h", "--set", found_name, "--set", outcome_key + "=2"},
         exit_sensor_error,
         {"Status: down"}},
        {{"scan", "fake_sensor", "--host", "h", "--set", found_name, "--set", outcome_key + "=3"},
         exit_sensor_error,
         {"Status: error: Target 10.0.0.1 refused"}},
        {{"scan", "fake_sensor", "--host", "h", "--set", found_name, "--set", outcome_key + "=1"},
         exit_ok,
         {"Status: warning"}},
        {{"scan", "fake_sensor", "--host", "h"},
         exit_failure,
         {"could not be created: Setting name is required."}},
        {{"scan", "absent_sensor", "--host", "h"},
         exit_failure,
         {"absent_sensor: not implemented by this module build"}},
    };
    for (const auto& r : rows) {
        const auto result = fake(r.arguments);
        const std::string shown = result.out + result.err;
        EXPECT_EQ(result.code, r.code) << r.arguments[0] << " " << r.arguments.back() << "\n"
                                       << shown;
        for (const auto& part : r.shown) {
            EXPECT_TRUE(contains(shown, part)) << part << "\n" << shown;
        }
    }
}

TEST(probe_scan, shows_translated_names_states_and_limits) {
    const auto result = fake({"--lang", "German", "scan", "fake_sensor", "--host", "h", "--set",
                              found_name, "--count", "2", "--interval", "0.05"});
    ASSERT_EQ(result.code, exit_ok) << result.err;
    EXPECT_TRUE(contains(result.out, "Datenverkehr")) << result.out;
    EXPECT_TRUE(contains(result.out, "first reading, rate on the next scan"));
    EXPECT_TRUE(contains(result.out, "B/s"));  // the second scan has a rate
    EXPECT_TRUE(contains(result.out, "Wird ausgeführt"));
    EXPECT_TRUE(contains(result.out, "State "));  // no German text: English
    EXPECT_TRUE(contains(result.out, "Load %  ")) << result.out;
    EXPECT_TRUE(contains(result.out, "95.50 %          ERROR: error limit crossed"));

    const auto error = fake({"--lang", "German", "scan", "fake_sensor", "--host", "h", "--set",
                             found_name, "--set", outcome_key + "=3"});
    EXPECT_TRUE(contains(error.out, "Status: error: Ziel 10.0.0.1 hat abgelehnt")) << error.out;
}

TEST(probe_scan, state_file_carries_channels_and_persistent_data_to_the_next_run) {
    const auto path = fs::temp_directory_path() /
                      ("wmiprobe_app_state_" +
                       std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".json");
    fs::remove(path);
    const std::vector<std::string> scan = {"--json", "scan",     "fake_sensor", "--host",     "h",
                                           "--set",  found_name, "--state",     path.string()};
    const auto lines_of = [](const std::string& text) {
        std::vector<json> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(json::parse(line));  // one object a line, nothing else
            // As the module sent it: the type first.
            EXPECT_EQ(line.rfind(R"({"type":)", 0), 0u) << line;
        }
        return lines;
    };

    auto first = fake(scan);
    ASSERT_EQ(first.code, exit_ok) << first.err;
    auto messages = lines_of(first.out);
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [](const json& m) { return m.at("type") == "dynamic_channel"; }),
              3);
    auto state = load_state(path);
    EXPECT_EQ(state.kind, "fake_sensor");
    EXPECT_EQ(state.persistent_data.at("scans"), "1");
    EXPECT_EQ(state.channels.size(), 3u);
    EXPECT_EQ(state.counters.at(0).value, 1000);

    // The second run hands the stored data back: the module continues counting and announces
    // no channel again, and the counter has a baseline, so the first scan shows a rate.
    const auto second = fake(scan);
    ASSERT_EQ(second.code, exit_ok) << second.err;
    messages = lines_of(second.out);
    for (const auto& m : messages) {
        EXPECT_NE(m.at("type"), "dynamic_channel");
    }
    state = load_state(path);
    EXPECT_EQ(state.persistent_data.at("scans"), "2");
    EXPECT_EQ(state.counters.at(0).value, 2000);
    auto readable = scan;
    readable.erase(readable.begin());
    const auto third = fake(readable);
    EXPECT_TRUE(contains(third.out, "Traffic")) << third.out;
    EXPECT_FALSE(contains(third.out, "first reading")) << third.out;

    // A state file belongs to one sensor on one host.
    auto other_host = readable;
    other_host[3] = "elsewhere";
    const auto refused = fake(other_host);
    EXPECT_EQ(refused.code, exit_failure);
    EXPECT_TRUE(contains(refused.err, "belongs to fake_sensor on h")) << refused.err;
    fs::remove(path);
}

TEST(probe_info, lists_kinds_in_the_chosen_language) {
    const auto german = probe({"--module", LIBWMI_PATH, "info", "--lang", "German"});
    ASSERT_EQ(german.code, exit_ok) << german.err;
    EXPECT_TRUE(contains(german.out, "cpu_load_sensor: WMI CPU-Last v2")) << german.out;
    EXPECT_TRUE(contains(german.out, "service_sensor: WMI Dienst v2"));
    EXPECT_TRUE(contains(german.out, "wsman_check"));
    EXPECT_FALSE(contains(german.out, "WMI CPU Load v2"));

    const auto english = probe({"--module", LIBWMI_PATH, "info"});
    EXPECT_TRUE(contains(english.out, "cpu_load_sensor: WMI CPU Load v2")) << english.out;

    const auto raw = probe({"--module", LIBWMI_PATH, "--json", "info"});
    EXPECT_EQ(json::parse(raw.out).at("type"), "module_information");
}

class scripted_target : public demo_target {
public:
    demo_endpoint start() override { return {"good.example", 5985, "", "demo", "pw"}; }
};

TEST(probe_demo, runs_the_check_every_metascan_and_every_sensor_twice) {
    app_context context;
    context.make_target = [] { return std::make_unique<scripted_target>(); };
    context.demo_pause_seconds = 0.01;
    const auto result = fake({"demo"}, context);
    EXPECT_EQ(result.code, exit_ok) << result.out << result.err;
    for (const std::string part :
         {"Check fake_check on good.example: passed", "1. Disk C:", "Scan 1/2 of fake_sensor",
          "Scan 2/2 of fake_sensor", "absent_sensor: not implemented by this module build"}) {
        EXPECT_TRUE(contains(result.out, part)) << part << "\n" << result.out;
    }
    EXPECT_FALSE(contains(result.out + result.err, "pw\n"));
}

TEST(probe_demo, says_plainly_when_the_build_has_no_target) {
    app_context context;
    context.make_target = [] { return std::unique_ptr<demo_target>(); };
    const auto result = probe({"--module", LIBWMI_PATH, "demo"}, context);
    EXPECT_EQ(result.code, exit_failure);
    EXPECT_TRUE(contains(result.err, "no simulated Windows target")) << result.err;
}

}  // namespace
