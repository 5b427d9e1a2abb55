#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "module_host.hpp"
#include "offline_krb5.hpp"
#include "simulator/simulator.hpp"
#include "test_support.hpp"
#include "valid_settings.hpp"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

std::atomic<long long> clock_offset_s{0};

// The probe's host drives libwmi.so through its exports against the simulated server on
// loopback, with the real WQL client underneath.
class sensors_e2e : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        offline_krb5::configure();
        winrm_simulator::simulator_options options;
        options.users = {winrm_simulator::parse_user_account("LAB\\monitor:Secret-1")};
        options.clock = [] {
            return winrm_simulator::sim_clock::time_point(1796486400s) +
                   std::chrono::seconds(clock_offset_s.load());
        };
        target_ = std::make_unique<winrm_simulator::simulator>(
            winrm_simulator::machine_model::load_file(WMI_SIMULATOR_MODELS_DIR
                                                      "/windows_server.json"),
            options);
        target_->start();
        host_ = std::make_unique<wmiprobe::module_host>(LIBWMI_PATH);
    }
    static void TearDownTestSuite() {
        host_.reset();
        target_.reset();
    }

    static std::string document(const std::string& kind, const std::string& password = "Secret-1",
                                const json& persistent = json::object()) {
        const std::string group =
            "shared_windows_compatibility_section."
            "shared_windows_compatibility_group.port";
        const std::string secret =
            "shared_windows_credentials_section."
            "shared_windows_credentials_group.password";
        return test_support::settings_document(
            kind,
            test_kinds::settings({{"host", "127.0.0.1"},
                                  {"logging", "disabled"},
                                  {group, std::to_string(target_->port())},
                                  {secret, password}}),
            json::object(), persistent);
    }
    static std::vector<json> of(const wmiprobe::call_outcome& outcome, const std::string& type) {
        std::vector<json> found;
        for (const auto& m : outcome.messages) {
            if (m.at("type") == type) found.push_back(m);
        }
        return found;
    }
    static json scan(int id) {
        const auto outcome = host_->scan_sensor(id);
        EXPECT_EQ(outcome.code, 0);
        const auto results = of(outcome, "sensor_scan_result");
        EXPECT_EQ(results.size(), 1u);
        return results.empty() ? json::object() : results.front();
    }
    static void create(int id, const std::string& kind, const json& persistent = json::object()) {
        ASSERT_EQ(host_->create_sensor(id, document(kind, "Secret-1", persistent)).code, 0);
    }
    static std::map<int, double> values(const json& result) {
        std::map<int, double> v;
        for (const auto& c : result.at("channels")) v[c.at("id")] = c.at("value");
        return v;
    }

    static inline std::unique_ptr<winrm_simulator::simulator> target_;
    static inline std::unique_ptr<wmiprobe::module_host> host_;
};

TEST_F(sensors_e2e, the_check_succeeds_with_the_right_password_and_fails_with_a_wrong_one) {
    for (const auto& [password, success] : {std::pair{"Secret-1", true}, {"wrong", false}}) {
        const auto outcome = host_->check(1, document("wsman_check", password));
        EXPECT_EQ(outcome.code, 0);
        ASSERT_EQ(of(outcome, "check_result").size(), 1u);
        EXPECT_EQ(of(outcome, "check_result")[0].at("success"), success) << password;
    }
}

// Several sensors on several host threads at once: each scan answers with its own result.
TEST_F(sensors_e2e, each_sensor_scanned_twice_in_parallel_reports_plausible_values) {
    const std::vector<std::string> kinds{"cpu_load_sensor", "memory_sensor", "pagefile_sensor",
                                         "system_uptime_sensor"};
    for (std::size_t i = 0; i < kinds.size(); ++i) create(10 + static_cast<int>(i), kinds[i]);
    std::vector<std::vector<json>> results(kinds.size());
    for (int round = 0; round < 2; ++round) {
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            threads.emplace_back([&, i] { results[i].push_back(scan(10 + static_cast<int>(i))); });
        }
        for (auto& t : threads) t.join();
        clock_offset_s += 60;
    }
    EXPECT_TRUE(host_->stray_messages().empty());
    for (const auto& r : results) {
        ASSERT_EQ(r.size(), 2u);
        EXPECT_EQ(r[1].at("response_code"), 0) << r[1].dump();
    }
    EXPECT_EQ(results[0][0].at("message").at("key"), "message.collecting_initial_sample");
    const auto loads = values(results[0][1]);
    EXPECT_GE(loads.size(), 2u);  // the total and at least one processor
    for (const auto& [id, load] : loads) {
        EXPECT_GE(load, 0.0) << id;
        EXPECT_LE(load, 100.0) << id;
    }
    const auto memory = values(results[1][1]);
    EXPECT_NEAR(memory.at(0) + memory.at(2), 100.0, 1e-9);
    EXPECT_GT(memory.at(3), 0.0);
    EXPECT_GT(values(results[2][1]).at(0), 0.0);
    EXPECT_LT(values(results[2][1]).at(0), 100.0);
    EXPECT_EQ(values(results[3][1]).at(0), values(results[3][0]).at(0) + 60);
    for (int id = 10; id < 14; ++id) EXPECT_EQ(host_->destroy_sensor(id).code, 0);
}

TEST_F(sensors_e2e, a_re_created_cpu_sensor_continues_from_its_persistent_data) {
    json persistent = json::object();
    const auto keep = [&](const wmiprobe::call_outcome& outcome) {
        for (const auto& m : of(outcome, "persistent_data"))
            persistent[m.at("key")] = m.at("value");
        return outcome;
    };
    create(20, "cpu_load_sensor");
    keep(host_->scan_sensor(20));
    clock_offset_s += 30;
    const auto second = of(keep(host_->scan_sensor(20)), "sensor_scan_result").at(0);
    ASSERT_EQ(host_->destroy_sensor(20).code, 0);
    EXPECT_TRUE(persistent.contains("next_channel_id"));

    // The host hands back what the module sent it.
    create(20, "cpu_load_sensor", persistent);
    clock_offset_s += 30;
    const auto third = scan(20);
    EXPECT_EQ(third.at("message").at("text"), "OK");
    std::vector<int> ids_second, ids_third;
    for (const auto& [id, v] : values(second)) ids_second.push_back(id);
    for (const auto& [id, v] : values(third)) ids_third.push_back(id);
    EXPECT_EQ(ids_third, ids_second);
    EXPECT_EQ(host_->destroy_sensor(20).code, 0);
}

}  // namespace
