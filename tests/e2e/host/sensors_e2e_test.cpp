#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
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

// The one message of `type` a successful call produced.
json only(const wmiprobe::call_outcome& outcome, const std::string& type) {
    EXPECT_EQ(outcome.code, 0);
    std::vector<json> found;
    for (const auto& m : outcome.messages) {
        if (m.at("type") == type) found.push_back(m);
    }
    EXPECT_EQ(found.size(), 1u) << type;
    return found.empty() ? json::object() : found.front();
}

std::map<int, double> values(const json& result) {
    std::map<int, double> v;
    for (const auto& c : result.at("channels")) v[c.at("id")] = c.at("value");
    return v;
}

// The probe's host drives libwmi.so through its exports against the simulated server on
// loopback, with the real WQL client underneath: the check, then several sensors scanned from
// several host threads at once, twice, a minute apart on the target's clock.
TEST(sensors_e2e, the_check_and_every_sensor_against_the_simulated_target) {
    offline_krb5::configure();
    std::atomic<long long> clock_offset_s{0};
    winrm_simulator::simulator_options options;
    options.users = {winrm_simulator::parse_user_account("LAB\\monitor:Secret-1")};
    options.clock = [&] {
        return winrm_simulator::sim_clock::time_point(1796486400s) +
               std::chrono::seconds(clock_offset_s.load());
    };
    winrm_simulator::simulator target(
        winrm_simulator::machine_model::load_file(WMI_SIMULATOR_MODELS_DIR "/windows_server.json"),
        options);
    target.start();
    wmiprobe::module_host host(LIBWMI_PATH);
    const auto document = [&](const std::string& kind, const std::string& password) {
        return test_support::settings_document(
            kind, test_kinds::settings(
                      {{"host", "127.0.0.1"},
                       {"logging", "disabled"},
                       {test_kinds::compatibility + "port", std::to_string(target.port())},
                       {test_kinds::credentials + "password", password}}));
    };

    for (const auto& [password, success] : {std::pair{"Secret-1", true}, {"wrong", false}}) {
        const auto result = only(host.check(1, document("wsman_check", password)), "check_result");
        EXPECT_EQ(result.value("success", !success), success) << password;
        // A failed check says why in its result, not only in the check log.
        const auto message = result.value("message", json());
        EXPECT_EQ(success ? "" : "libwql.error.access_denied",
                  message.is_object() ? message.at("key").get<std::string>().substr(2, 26) : "");
    }

    const std::vector<std::string> kinds{"cpu_load_sensor", "memory_sensor", "pagefile_sensor",
                                         "system_uptime_sensor"};
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        ASSERT_EQ(host.create_sensor(10 + static_cast<int>(i), document(kinds[i], "Secret-1")).code,
                  0);
    }
    std::vector<std::vector<json>> results(kinds.size());
    for (int round = 0; round < 2; ++round) {
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            threads.emplace_back([&, i] {
                results[i].push_back(
                    only(host.scan_sensor(10 + static_cast<int>(i)), "sensor_scan_result"));
            });
        }
        for (auto& t : threads) t.join();
        clock_offset_s += 60;
    }
    EXPECT_TRUE(host.stray_messages().empty());
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
    EXPECT_EQ(values(results[3][1]).at(0), values(results[3][0]).at(0) + 60);
    // A host callback calling back for the sensor whose scan it is inside of gets the
    // re-entrant code instead of waiting for itself; another sensor scans as usual.
    std::vector<int> nested;
    const auto outer = host.scan_sensor(11, [&](const json&) {
        nested = {host.scan_sensor(11).code, host.destroy_sensor(11).code,
                  host.scan_sensor(12).code};
    });
    EXPECT_EQ(outer.code, 0);
    EXPECT_EQ(nested, (std::vector<int>{9, 9, 0}));
    for (int id = 10; id < 14; ++id) EXPECT_EQ(host.destroy_sensor(id).code, 0);
}

}  // namespace
