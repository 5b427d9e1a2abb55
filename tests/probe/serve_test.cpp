#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "offline_krb5.hpp"
#include "probe_data.hpp"
#include "serve_config.hpp"
#include "serve_host.hpp"
#include "serve_metrics.hpp"
#include "simulator/simulator.hpp"

namespace {

using namespace wmiprobe;
namespace fs = std::filesystem;

struct sample {
    std::string name;
    std::map<std::string, std::string> labels;
    double value = 0;
};

// The sample lines of a text exposition; a line that is neither a comment nor a well-formed
// sample fails the test.
std::vector<sample> parse_exposition(const std::string& text) {
    static const std::regex line_form(R"(([a-zA-Z_:][a-zA-Z0-9_:]*)(\{(.*)\})? (\S+))");
    static const std::regex label_form(R"re(([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\]|\\.)*)",?)re");
    std::vector<sample> out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("# HELP ") || line.starts_with("# TYPE ")) continue;
        std::smatch parts;
        EXPECT_TRUE(std::regex_match(line, parts, line_form)) << line;
        if (parts.empty()) continue;
        sample s{parts[1], {}, std::stod(parts[4])};
        const std::string labels = parts[3];
        for (std::sregex_iterator it(labels.begin(), labels.end(), label_form), end; it != end;
             ++it) {
            s.labels[(*it)[1]] = std::regex_replace((*it)[2].str(), std::regex(R"(\\(.))"), "$1");
        }
        out.push_back(std::move(s));
    }
    return out;
}

// The value of `name` for `target` (any kind and instance when there is one such sample).
std::optional<double> value_of(const std::vector<sample>& samples, const std::string& name,
                               const std::string& target) {
    for (const auto& s : samples) {
        if (s.name == name && s.labels.count("target") && s.labels.at("target") == target) {
            return s.value;
        }
    }
    return std::nullopt;
}

TEST(serve_config, mistakes_name_their_line_and_never_the_secret) {
    setenv("SERVE_TEST_PASSWORD", "hunter2", 1);
    options opts;
    opts.module_path = LIBWMI_PATH;
    std::ostringstream ignored;
    session s(opts, ignored, ignored);
    for (const auto& row : probe_data("serve_configs.json")) {
        const std::string why = row.at("why");
        std::string error;
        try {
            const auto config = parse_serve_config(row.at("toml"), "cfg");
            serve_log log(ignored, log_level::error);
            serve_host host(s, config, ::testing::TempDir(), log);
        } catch (const config_error& e) {
            error = e.what();
        }
        EXPECT_TRUE(error.starts_with(row.at("error").get<std::string>())) << why << ": " << error;
        EXPECT_EQ(error.find("hunter2"), std::string::npos) << why;
    }
    // The example a user copies is valid as it stands.
    const auto example =
        load_serve_config(std::string(PROJECT_SOURCE) + "/docs/serve.example.toml");
    EXPECT_EQ(example.targets.size(), 3u);
}

// Each row of data/serve_names.json: a channel definition -> its family name and base unit.
TEST(serve_metrics, channels_become_families_in_base_units_with_escaped_labels) {
    for (const auto& row : probe_data("serve_names.json")) {
        const auto& channel = row.at("channel");
        const bool rate = row.value("rate", false);
        EXPECT_EQ(channel_family(row.at("kind").get<std::string>(), channel, rate),
                  row.at("family").get<std::string>())
            << row.at("why");
        EXPECT_EQ(channel_base_unit(channel.at("unit").get<unsigned int>(),
                                    channel.value("custom_unit", ""), rate)
                      .scale,
                  row.at("scale").get<double>())
            << row.at("why");
    }
    exposition out;
    out.add("m", "help\\n", "gauge", {{"instance", "C:\\ \"x\"\n"}}, 0.5);
    out.add("a", "first", "counter", {}, 1);
    out.add("m", "ignored", "gauge", {{"instance", ""}}, -1);
    EXPECT_EQ(out.text(),
              "# HELP a first\n# TYPE a counter\na 1\n"
              "# HELP m help\\\\n\n# TYPE m gauge\n"
              "m{instance=\"C:\\\\ \\\"x\\\"\\n\"} 0.5\nm{instance=\"\"} -1\n");
    EXPECT_EQ(metric_name("9 Länge"), "_9_l_nge");
}

// Two simulated targets, a configured sensor and a discovery: metrics after two scans, a target
// that dies and comes back, and a second run that continues from the first run's state.
TEST(serve_host, scans_recovers_and_continues_from_its_state) {
    offline_krb5::configure();
    const std::string password = "Serve-Test-Secret-42";
    setenv("SERVE_TEST_PASSWORD", password.c_str(), 1);
    winrm_simulator::simulator_options accounts;
    accounts.users = {{"LAB", "monitor", password}};
    const auto model = winrm_simulator::machine_model::load_file(
        std::string(PROJECT_SOURCE) + "/simulator/models/windows_server.json");
    winrm_simulator::simulator first(model, accounts);
    winrm_simulator::simulator second(model, accounts);
    first.start();
    second.start();
    const auto config_text = [&](int interval) {
        std::ostringstream out;
        out << "workers = 2\njitter = 0\n";
        for (const auto* target : {&first, &second}) {
            const bool one = target == &first;
            out << "[[target]]\nname = \"" << (one ? "one" : "two")
                << "\"\nhost = \"127.0.0.1\"\nport = " << target->port()
                << "\ndomain = \"LAB\"\nuser = \"monitor\"\npassword_env = "
                   "\"SERVE_TEST_PASSWORD\"\n"
                << (one ? "[[target.sensor]]\nkind = \"cpu_load_sensor\"\n"
                        : "[[target.discover]]\nsensor = \"service_sensor\"\nmatch = \"^Print\"\n")
                << "interval = " << interval << "\n";
        }
        return parse_serve_config(out.str(), "test");
    };
    const fs::path state_dir = fs::path(::testing::TempDir()) / "serve-host-state";
    fs::remove_all(state_dir);
    options opts;
    opts.module_path = LIBWMI_PATH;
    std::ostringstream logged;
    std::ostringstream ignored;
    std::string shown;

    // Waits until `done` holds for the parsed metrics; never asserts a duration.
    const auto await = [&](serve_host& host,
                           const std::function<bool(const std::vector<sample>&)>& done) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::vector<sample> samples;
        do {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const auto text = host.metrics();
            shown += text + host.status_page();
            samples = parse_exposition(text);
        } while (!done(samples) && std::chrono::steady_clock::now() < give_up);
        EXPECT_TRUE(done(samples)) << host.metrics();
        return samples;
    };
    const auto scans_at_least = [](double n, double up) {
        return [n, up](const std::vector<sample>& samples) {
            return value_of(samples, "wmi_sensor_scans_total", "one") >= n &&
                   value_of(samples, "wmi_sensor_scans_total", "two") >= n &&
                   value_of(samples, "wmi_sensor_up", "one") == up &&
                   value_of(samples, "wmi_sensor_up", "two") == up;
        };
    };
    {
        session s(opts, ignored, ignored);
        serve_log log(logged, log_level::debug);
        serve_host host(s, config_text(1), state_dir, log);
        host.start();
        const auto samples = await(host, scans_at_least(2, 1));
        EXPECT_EQ(host.answer("GET", "/other").status, 404u);
        std::set<std::string> labels_of_total;
        for (const auto& found : samples) {
            if (found.name == "wmi_cpu_load_total_percent") {
                for (const auto& [label, value] : found.labels) labels_of_total.insert(label);
            }
            if (found.name == "wmi_service_operating_state") {
                EXPECT_EQ(found.labels.at("instance"), "Print Spooler");
                EXPECT_EQ(found.labels.at("state"), "Running");
            }
        }
        EXPECT_EQ(labels_of_total, (std::set<std::string>{"target", "kind", "instance"}));
        EXPECT_EQ(value_of(samples, "wmi_discovery_sensors", "two"), 1);

        // The first target goes away: its sensor is down, the other one is not; it comes back
        // on the same port and recovers.
        first.stop();
        await(host, [](const auto& now) {
            return value_of(now, "wmi_sensor_up", "one") == 0 &&
                   value_of(now, "wmi_sensor_up", "two") == 1 &&
                   !value_of(now, "wmi_cpu_load_total_percent", "one");
        });
        EXPECT_NE(host.status_page().find("DOWN"), std::string::npos);
        first.start();
        await(host, [](const auto& now) { return value_of(now, "wmi_sensor_up", "one") == 1; });
        host.stop();
    }
    // A second run scans once (long interval): the CPU load needs two samples, and the first
    // comes from the state the first run saved.
    {
        session s(opts, ignored, ignored);
        serve_log log(logged, log_level::debug);
        serve_host host(s, config_text(3600), state_dir, log);
        host.start();
        const auto samples = await(host, scans_at_least(1, 1));
        EXPECT_EQ(value_of(samples, "wmi_sensor_scans_total", "one"), 1);
        EXPECT_TRUE(value_of(samples, "wmi_cpu_load_total_percent", "one")) << host.metrics();
    }
    EXPECT_EQ((shown + logged.str()).find(password), std::string::npos) << "a secret leaked";
    EXPECT_NE(logged.str().find("[warn] cpu_load_sensor on one: "), std::string::npos);
    fs::remove_all(state_dir);
}

}  // namespace
