#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "app.hpp"
#include "frame/vexa_module_wmi.hpp"
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

bool is_registered(const std::string& name) {
    const auto table = wmi::kind_registrations();
    return std::any_of(table.begin(), table.end(),
                       [&](const auto& kind) { return name == kind.name; });
}

app_context target_of(std::function<std::unique_ptr<demo_target>()> make) {
    app_context context;
    context.make_target = std::move(make);
    return context;
}

TEST(probe_cli, mistakes_exit_2_with_a_reason_and_nothing_secret) {
    const fs::path dir = fs::path(::testing::TempDir()) / "probe-cli-mistakes";
    fs::create_directories(dir);
    sensor_state elsewhere;
    elsewhere.kind = "cpu_load_sensor";
    elsewhere.host = "elsewhere";
    save_state(dir / "elsewhere.json", elsewhere);
    std::ofstream(dir / "corrupt.json", std::ios::trunc) << "{\"format\":";
    struct broken_target : demo_target {
        demo_endpoint start() override { throw std::runtime_error("no model here"); }
    };
    const std::vector<std::string> scan = {"scan", "cpu_load_sensor", "--host", "h"};
    const auto with = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), scan.begin(), scan.end());
        return extra;
    };
    struct row {
        std::vector<std::string> arguments;
        std::string reason;
        app_context context = {};
    };
    const row rows[] = {
        {{}, "subcommand is required"},
        {{"scan"}, "kind is required"},
        {{"scan", "cpu_load_sensor"}, "--host is required"},
        {with({"--count", "0"}), "--count"},
        {with({"--port", "70000"}), "--port"},
        {{"--module", "/nonexistent/libwmi.so", "info"}, "cannot load the module"},
        {{"--lang", "Klingon", "info"}, "no texts in language 'Klingon'"},
        {{"scan", "no_sensor", "--host", "h"},
         "'no_sensor' is not a sensor of this module (sensors: "},
        {{"discover", "cpu_load_sensor", "--host", "h"}, "not a meta-scan"},
        {with({"--set", "x=1"}), "'x' is not a setting of cpu_load_sensor"},
        {with({"--set", "timeout"}), "--set expects key=value"},
        {with({"--set",
               "shared_windows_credentials_section.shared_windows_credentials_group.password="
               "hunter2"}),
         "is a secret"},
        {{"check", "--host", "h", "--password-file", "/nonexistent"},
         "cannot read the password file"},
        {with({"--state", (dir / "elsewhere.json").string()}),
         "belongs to cpu_load_sensor on elsewhere, not cpu_load_sensor on h"},
        {with({"--state", (dir / "corrupt.json").string()}), "is not a wmiprobe state file"},
        {{"demo"}, "no simulated Windows target", target_of([] { return nullptr; })},
        {{"demo"}, "the simulated Windows target could not start: no model here", target_of([] {
             return std::make_unique<broken_target>();
         })},
    };
    for (const auto& r : rows) {
        const auto result = probe(r.arguments, r.context);
        EXPECT_EQ(result.code, exit_failure) << r.reason;
        EXPECT_TRUE(contains(result.err, r.reason)) << r.reason << "\n" << result.err;
        EXPECT_FALSE(contains(result.out + result.err, "hunter2"));
    }
    EXPECT_EQ(probe({"--help"}).code, exit_ok);
    EXPECT_EQ(probe({"scan", "--help"}).code, exit_ok);
    EXPECT_EQ(json::parse(probe({"--json", "info"}).out).at("type"), "module_information");
    fs::remove_all(dir);
}

// From `heading` to the next blank line: one part of the demo's output; empty when absent.
std::string block_after(const std::string& text, const std::string& heading) {
    const auto start = text.find(heading);
    if (start == std::string::npos) return {};
    const auto end = text.find("\n\n", start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start + 1);
}

TEST(probe_demo, every_registered_kind_produces_a_result_and_the_rest_say_so) {
    demo_endpoint account;
    // The embedded simulated target, remembering the account it generated.
    struct recording_target : demo_target {
        explicit recording_target(demo_endpoint& seen) : seen_(seen) {}
        demo_endpoint start() override { return seen_ = inner_->start(); }
        std::unique_ptr<demo_target> inner_ = make_simulated_target();
        demo_endpoint& seen_;
    };
    const auto result =
        probe({"demo"}, target_of([&] { return std::make_unique<recording_target>(account); }));
    const std::string shown = result.out + result.err;

    ASSERT_EQ(result.code, exit_ok) << shown;
    ASSERT_FALSE(account.password.empty());
    EXPECT_FALSE(contains(shown, account.password)) << "the demo password leaked";
    EXPECT_TRUE(contains(result.out,
                         "Simulated Windows target on 127.0.0.1:" + std::to_string(account.port)));

    const auto registered = wmi::kind_registrations();
    for (const auto& kind : registered) {
        const std::string name = kind.name;
        SCOPED_TRACE(name);
        EXPECT_FALSE(contains(shown, name + ": not implemented by this module build"));
        switch (kind.family) {
            case wmi::kind_family::check:
                EXPECT_TRUE(contains(result.out, "Check " + name + " on 127.0.0.1: passed"));
                break;
            case wmi::kind_family::metascan: {
                const auto block = block_after(result.out, "Discovering with " + name + " on ");
                EXPECT_TRUE(std::regex_search(block, std::regex("\n  [0-9]+ found\n"))) << block;
                break;
            }
            case wmi::kind_family::sensor:
                for (const char* round : {"Scan 1/2 of ", "Scan 2/2 of "}) {
                    const auto block = block_after(result.out, round + name + "\n");
                    EXPECT_TRUE(std::regex_search(block, std::regex("\n  Status: (ok|warning)")))
                        << round << "\n"
                        << block;
                }
                break;
        }
    }

    // Every kind the document lists but the build lacks is named as such, once.
    const std::regex summary("Demo finished: ([0-9]+) kinds ran, ([0-9]+) not implemented");
    std::smatch counts;
    ASSERT_TRUE(std::regex_search(result.out, counts, summary)) << result.out;
    EXPECT_EQ(std::stoul(counts[1].str()), registered.size());
    const std::regex missing("\n(Check |  )?([a-z0-9_]+): not implemented by this module build");
    std::size_t missing_seen = 0;
    for (auto it = std::sregex_iterator(result.out.begin(), result.out.end(), missing);
         it != std::sregex_iterator(); ++it) {
        EXPECT_FALSE(is_registered((*it)[2].str())) << (*it)[2].str();
        ++missing_seen;
    }
    EXPECT_EQ(std::stoul(counts[2].str()), missing_seen);
}

// A host keeps a CPU sensor's samples between runs: the second run of the program continues
// from the first run's sample instead of starting over.
TEST(probe_scan, state_file_carries_the_cpu_sample_to_the_next_run) {
    if (!is_registered("cpu_load_sensor")) {
        GTEST_SKIP() << "cpu_load_sensor is not registered in this module build yet";
    }
    auto target = make_simulated_target();
    const auto endpoint = target->start();
    const fs::path dir = fs::path(::testing::TempDir()) / "probe-scan-cpu";
    fs::create_directories(dir);
    const auto password_file = dir / "password";
    const auto state_file = dir / "s.json";
    fs::remove(state_file);
    std::ofstream(password_file, std::ios::trunc) << endpoint.password << "\n";
    const std::vector<std::string> arguments{
        "scan",        "cpu_load_sensor",  "--host",
        endpoint.host, "--port",           std::to_string(endpoint.port),
        "--domain",    endpoint.domain,    "--user",
        endpoint.user, "--password-file",  password_file.string(),
        "--state",     state_file.string()};

    auto raw = arguments;
    raw.insert(raw.begin(), "--json");
    const auto first = probe(raw);
    ASSERT_EQ(first.code, exit_ok) << first.out << first.err;
    // Nothing but the module's messages, one object a line, as it sent them: the type first.
    std::istringstream lines(first.out);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.starts_with(R"({"type":)")) << line;
        EXPECT_TRUE(json::accept(line)) << line;
    }
    const auto kept = load_state(state_file);
    EXPECT_EQ(kept.kind, "cpu_load_sensor");
    EXPECT_FALSE(kept.persistent_data.empty()) << "the first run kept no sample";
    EXPECT_FALSE(kept.channels.empty());

    const auto second = probe(arguments);
    ASSERT_EQ(second.code, exit_ok) << second.out << second.err;
    // A load between 0 and 100 % on some channel of the second run's table.
    std::smatch value;
    ASSERT_TRUE(std::regex_search(second.out, value, std::regex(" ([0-9]+\\.[0-9]{2}) %")))
        << second.out;
    EXPECT_GE(std::stod(value[1].str()), 0.0);
    EXPECT_LE(std::stod(value[1].str()), 100.0);
    EXPECT_TRUE(contains(second.out, "Status: ok")) << second.out;
    EXPECT_FALSE(contains(first.out + second.out + first.err + second.err, endpoint.password));
    fs::remove_all(dir);
}

}  // namespace
