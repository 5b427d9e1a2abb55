#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app.hpp"
#include "frame/vexa_module_wmi.hpp"
#include "state_file.hpp"

namespace {

using namespace wmiprobe;
namespace fs = std::filesystem;

struct outcome {
    int code;
    std::string out;
    std::string err;
};

outcome probe(std::vector<std::string> arguments, const app_context& context = {}) {
    arguments.insert(arguments.begin(), {"--module", LIBWMI_PATH});
    std::ostringstream out;
    std::ostringstream err;
    const int code = run(arguments, out, err, context);
    return {code, out.str(), err.str()};
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The kinds this module build registers, straight from its registration table, so the
// expectations grow with the module.
std::vector<wmi::kind_registration> registered() {
    const auto table = wmi::kind_registrations();
    return {table.begin(), table.end()};
}

bool is_registered(const std::string& name) {
    const auto table = wmi::kind_registrations();
    return std::any_of(table.begin(), table.end(),
                       [&](const auto& kind) { return name == kind.name; });
}

// From `heading` to the next blank line: one part of the demo's output; empty when absent.
std::string block_after(const std::string& text, const std::string& heading) {
    const auto start = text.find(heading);
    if (start == std::string::npos) return {};
    const auto end = text.find("\n\n", start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start + 1);
}

// The embedded simulated target, remembering the account it generated.
class recording_target : public demo_target {
public:
    explicit recording_target(demo_endpoint& seen) : seen_(seen) {}
    demo_endpoint start() override { return seen_ = inner_->start(); }

private:
    std::unique_ptr<demo_target> inner_ = make_simulated_target();
    demo_endpoint& seen_;
};

TEST(probe_demo, every_registered_kind_produces_a_result_and_the_rest_say_so) {
    demo_endpoint account;
    app_context context;
    context.make_target = [&] { return std::make_unique<recording_target>(account); };
    const auto result = probe({"demo"}, context);
    const std::string shown = result.out + result.err;

    ASSERT_EQ(result.code, exit_ok) << shown;
    ASSERT_FALSE(account.password.empty());
    EXPECT_FALSE(contains(shown, account.password)) << "the demo password leaked";
    EXPECT_TRUE(contains(result.out,
                         "Simulated Windows target on 127.0.0.1:" + std::to_string(account.port)));

    for (const auto& kind : registered()) {
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
                    const auto status = block.find("\n  Status: ");
                    ASSERT_NE(status, std::string::npos) << round << "\n" << block;
                    const auto said = block.substr(status + 11, 7);
                    EXPECT_TRUE(said.starts_with("ok") || said.starts_with("warning")) << block;
                }
                break;
        }
    }

    // Every kind the document lists but the build lacks is named as such, once.
    const std::regex summary("Demo finished: ([0-9]+) kinds ran, ([0-9]+) not implemented");
    std::smatch counts;
    ASSERT_TRUE(std::regex_search(result.out, counts, summary)) << result.out;
    EXPECT_EQ(std::stoul(counts[1].str()), registered().size());
    const std::regex missing("\n(Check |  )?([a-z0-9_]+): not implemented by this module build");
    std::size_t missing_seen = 0;
    for (auto it = std::sregex_iterator(result.out.begin(), result.out.end(), missing);
         it != std::sregex_iterator(); ++it) {
        EXPECT_FALSE(is_registered((*it)[2].str())) << (*it)[2].str();
        ++missing_seen;
    }
    EXPECT_EQ(std::stoul(counts[2].str()), missing_seen);
}

TEST(probe_demo, a_target_that_cannot_start_is_a_clear_failure) {
    struct broken_target : demo_target {
        demo_endpoint start() override { throw std::runtime_error("no model here"); }
    };
    app_context context;
    context.make_target = [] { return std::make_unique<broken_target>(); };
    const auto result = probe({"demo"}, context);
    EXPECT_EQ(result.code, exit_failure);
    EXPECT_TRUE(contains(result.err, "the simulated Windows target could not start: no model"))
        << result.err;
}

// A host keeps a CPU sensor's samples between runs: the second run of the program continues
// from the first run's sample instead of starting over.
TEST(probe_demo, cpu_load_scan_twice_with_a_state_file_shows_values_the_second_time) {
    if (!is_registered("cpu_load_sensor")) {
        GTEST_SKIP() << "cpu_load_sensor is not registered in this module build yet";
    }
    auto target = make_simulated_target();
    const auto endpoint = target->start();
    const fs::path dir = fs::path(::testing::TempDir()) / "probe-demo-cpu";
    fs::create_directories(dir);
    const auto password_file = dir / "password";
    const auto state_file = dir / "s.json";
    fs::remove(state_file);
    {
        std::ofstream out(password_file, std::ios::trunc);
        out << endpoint.password << "\n";
    }
    fs::permissions(password_file, fs::perms::owner_read | fs::perms::owner_write);
    const std::vector<std::string> arguments{
        "scan",        "cpu_load_sensor",  "--host",
        endpoint.host, "--port",           std::to_string(endpoint.port),
        "--domain",    endpoint.domain,    "--user",
        endpoint.user, "--password-file",  password_file.string(),
        "--state",     state_file.string()};

    const auto first = probe(arguments);
    ASSERT_EQ(first.code, exit_ok) << first.out << first.err;
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
    const double load = std::stod(value[1].str());
    EXPECT_GE(load, 0.0);
    EXPECT_LE(load, 100.0);
    EXPECT_TRUE(contains(second.out, "Status: ok")) << second.out;
    EXPECT_FALSE(contains(first.out + second.out + first.err + second.err, endpoint.password));
}

}  // namespace
