#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "app.hpp"
#include "frame/vexa_module_wmi.hpp"
#include "probe_data.hpp"
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

// The whole program, with the real module unless the arguments name one.
outcome probe(std::vector<std::string> arguments, const app_context& context = {}) {
    if (arguments.empty() || arguments[0] != "--module") {
        arguments.insert(arguments.begin(), {"--module", LIBWMI_PATH});
    }
    std::ostringstream out;
    std::ostringstream err;
    const int code = run(arguments, out, err, context);
    return {code, out.str(), err.str()};
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

app_context target_of(std::function<std::unique_ptr<demo_target>()> make) {
    app_context context;
    context.make_target = std::move(make);
    return context;
}

// Each row of data/mistakes.json: a command line that must exit 2 saying why; "@dir@" is a
// directory holding a state file of another host and a corrupt one.
TEST(probe_cli, mistakes_exit_2_with_a_reason_and_nothing_secret) {
    const fs::path dir = fs::path(::testing::TempDir()) / "probe-cli-mistakes";
    fs::create_directories(dir);
    save_state(dir / "elsewhere.json", {"cpu_load_sensor", "elsewhere", {}, {}, {}});
    std::ofstream(dir / "corrupt.json", std::ios::trunc) << "{\"format\":";
    for (const auto& row : probe_data("mistakes.json")) {
        auto arguments = row.at("args").get<std::vector<std::string>>();
        for (auto& argument : arguments) {
            argument = std::regex_replace(argument, std::regex("@dir@"), dir.string());
        }
        const std::string reason = row.at("reason");
        const auto result = probe(arguments);
        EXPECT_EQ(result.code, exit_failure) << reason;
        EXPECT_TRUE(contains(result.err, reason)) << reason << "\n" << result.err;
        EXPECT_FALSE(contains(result.out + result.err, "hunter2"));
    }
    fs::remove_all(dir);

    struct broken_target : demo_target {
        demo_endpoint start() override { throw std::runtime_error("no model here"); }
    };
    EXPECT_TRUE(contains(probe({"demo"}, target_of([] { return nullptr; })).err,
                         "this build has no simulated Windows target"));
    const auto broken =
        probe({"demo"}, target_of([] { return std::make_unique<broken_target>(); }));
    EXPECT_EQ(broken.code, exit_failure);
    EXPECT_TRUE(contains(broken.err, "the simulated Windows target could not start: no model"));
    EXPECT_EQ(probe({"scan", "--help"}).code, exit_ok);
    const auto plugin = probe({"scan", "cpu_load_sensor", "--nagios", "--count", "0"});
    EXPECT_EQ(plugin.code, 3);
    EXPECT_TRUE(
        std::regex_match(plugin.out, std::regex("UNKNOWN - wmiprobe: [^\n]*--count[^\n]*\n")))
        << plugin.out;
    EXPECT_EQ(json::parse(probe({"--json", "info"}).out).at("type"), "module_information");
}

TEST(probe_demo, every_registered_kind_produces_a_result) {
    demo_endpoint account;
    // The embedded simulated target, remembering the account it generated.
    struct recording_target : demo_target {
        explicit recording_target(demo_endpoint& seen) : seen_(seen) {}
        demo_endpoint start() override { return seen_ = inner_->start(); }
        std::unique_ptr<demo_target> inner_ = make_simulated_target();
        demo_endpoint& seen_;
    };
    auto context = target_of([&] { return std::make_unique<recording_target>(account); });
    context.err_is_terminal = true;
    const auto result = probe({"demo"}, context);
    const std::string shown = result.out + result.err;
    ASSERT_EQ(result.code, exit_ok) << shown;
    ASSERT_FALSE(account.password.empty());
    EXPECT_FALSE(contains(shown, account.password)) << "the demo password leaked";
    // On a terminal, meta-scan progress rewrites one line of standard error.
    EXPECT_TRUE(contains(result.err, "\r\033[K  ... ")) << result.err;
    EXPECT_FALSE(contains(result.out, "  ... "));
    EXPECT_TRUE(contains(result.out,
                         "Simulated Windows target on 127.0.0.1:" + std::to_string(account.port)));

    const auto registered = wmi::kind_registrations();
    std::size_t unavailable = 0;
    for (const auto& kind : registered) {
        const std::string name = kind.name;
        SCOPED_TRACE(name);
        EXPECT_FALSE(contains(shown, name + ": not implemented by this module build"));
        // A part's lines: its heading, indented lines, and the result.
        std::vector<std::string> parts;
        // Where the target lacks a kind's namespace (Windows Security on a server), the
        // meta-scan shows the client's error and its sensor says why it did not run.
        const std::regex lacking("Discovering with " + name +
                                 " on .*\n(  .*\n)*  FAILED: The WMI namespace does not exist");
        if (std::regex_search(result.out, lacking) ||
            contains(result.out, name + ": not available on this target")) {
            ++unavailable;
        } else if (kind.family == wmi::kind_family::check) {
            parts = {"Check " + name + " on 127\\.0\\.0\\.1: passed"};
        } else if (kind.family == wmi::kind_family::metascan) {
            parts = {"Discovering with " + name + " on .*\n(  .*\n)*  [0-9]+ found\n"};
        } else {
            for (const char* round : {"1/2", "2/2"}) {
                parts.push_back("Scan " + std::string(round) + " of " + name +
                                "\n(  .*\n)*  Status: (ok|warning)");
            }
        }
        for (const auto& part : parts) {
            EXPECT_TRUE(std::regex_search(result.out, std::regex(part))) << part;
        }
    }
    EXPECT_TRUE(contains(
        result.out,
        "Demo finished: " + std::to_string(registered.size() - unavailable) + " kinds ran, "))
        << result.out;
}

// A host keeps a CPU sensor's samples between runs: the second run of the program continues
// from the first run's sample instead of starting over.
TEST(probe_scan, state_file_carries_the_cpu_sample_to_the_next_run) {
    auto target = make_simulated_target();
    const auto endpoint = target->start();
    const auto state_file = fs::path(::testing::TempDir()) / "probe-scan-cpu.json";
    fs::remove(state_file);
    setenv("WMIPROBE_PASSWORD", endpoint.password.c_str(), 1);
    const std::vector<std::string> arguments{
        "scan",        "cpu_load_sensor", "--host",
        endpoint.host, "--port",          std::to_string(endpoint.port),
        "--domain",    endpoint.domain,   "--user",
        endpoint.user, "--state",         state_file.string()};

    auto raw = arguments;
    raw.insert(raw.begin(), "--json");
    const auto first = probe(raw);
    ASSERT_EQ(first.code, exit_ok) << first.out << first.err;
    // Nothing but the module's messages, one object a line, as it sent them: the type first.
    std::istringstream lines(first.out);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.starts_with(R"({"type":)") && json::accept(line)) << line;
    }
    const auto kept = load_state(state_file);
    EXPECT_EQ(kept.kind, "cpu_load_sensor");
    EXPECT_FALSE(kept.persistent_data.empty()) << "the first run kept no sample";
    EXPECT_FALSE(kept.channels.empty());

    const auto second = probe(arguments);
    // As a plugin: exactly one line, the state, and every channel's perfdata.
    auto plugin = arguments;
    plugin.push_back("--nagios");
    const auto checked = probe(plugin);
    EXPECT_EQ(checked.code, 0) << checked.out << checked.err;
    EXPECT_TRUE(std::regex_match(
        checked.out, std::regex("OK - cpu_load_sensor on 127\\.0\\.0\\.1: [0-9]+ channels ok \\| "
                                "('[^']+'=[0-9.]+%;;;0;100 ?)*'Total'=[0-9.]+%.*\n")))
        << checked.out;
    plugin.push_back("--json");
    EXPECT_TRUE(
        std::regex_match(probe(plugin).out, std::regex("UNKNOWN - wmiprobe: [^\n]*--json\n")));
    unsetenv("WMIPROBE_PASSWORD");
    ASSERT_EQ(second.code, exit_ok) << second.out << second.err;
    // The first run's sample gives the second run's first scan its values.
    EXPECT_TRUE(std::regex_search(second.out, std::regex("\n  Total +[0-9]+\\.[0-9]{2} %\n")))
        << second.out;
    EXPECT_TRUE(contains(second.out, "Status: ok")) << second.out;
    EXPECT_FALSE(contains(first.out + second.out + first.err + second.err, endpoint.password));
    fs::remove(state_file);
}

}  // namespace
