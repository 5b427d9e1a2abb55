#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "host.hpp"
#include "simulator/simulator.hpp"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

std::atomic<long long> clock_offset_s{0};

// The module through its exports against the simulated server on loopback, with the real
// WQL client underneath.
class sensors_e2e : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Without this, Kerberos first asks DNS about the target's realm and stalls offline.
        const std::string file = ::testing::TempDir() + "sensors-e2e-krb5.conf";
        std::ofstream(file) << "[libdefaults]\n dns_lookup_realm = false\n"
                               " dns_lookup_kdc = false\n rdns = false\n"
                               " dns_canonicalize_hostname = false\n";
        ::setenv("KRB5_CONFIG", file.c_str(), 1);

        winrm_simulator::simulator_options options;
        options.users = {winrm_simulator::parse_user_account("LAB\\monitor:Secret-1")};
        options.clock = [] {
            return winrm_simulator::sim_clock::time_point(1796486400s) +
                   std::chrono::seconds(clock_offset_s.load());
        };
        target_ =
            new winrm_simulator::simulator(winrm_simulator::machine_model::load_file(
                                               WMI_SIMULATOR_MODELS_DIR "/windows_server.json"),
                                           options);
        target_->start();

        library_ = dlopen(LIBWMI_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        e2e::bind_all(library_, api_);
        ASSERT_EQ(api_.InitializeModule(e2e::host_context, &e2e::host_callback), 0);
    }
    static void TearDownTestSuite() {
        if (library_) {
            EXPECT_EQ(api_.CleanupModule(), 0);
            EXPECT_EQ(dlclose(library_), 0);
        }
        delete target_;
    }

    static std::string document(const std::string& kind, const std::string& password,
                                const json& persistent = json::object()) {
        const std::string cred =
            "shared_windows_credentials_section.shared_windows_credentials_group.";
        const std::string compat =
            "shared_windows_compatibility_section.shared_windows_compatibility_group.";
        return json{{"kind", kind},
                    {"settings",
                     {{"host", "127.0.0.1"},
                      {"logging", "disabled"},
                      {cred + "domain", "LAB"},
                      {cred + "username", "monitor"},
                      {cred + "password", password},
                      {cred + "mode", "negotiate"},
                      {compat + "port", std::to_string(target_->port())},
                      {compat + "protocol", "http"}}},
                    {"persistent_data", persistent}}
            .dump();
    }

    static std::size_t mark() { return e2e::inbox::instance().all().size(); }
    // Messages of a type for a sensor id that arrived after `since`.
    static std::vector<json> since(std::size_t since, const std::string& type, int id) {
        std::vector<json> found;
        const auto all = e2e::inbox::instance().all();
        for (std::size_t i = since; i < all.size(); ++i) {
            if (all[i].at("type") == type && all[i].at("sensor_id") == id) found.push_back(all[i]);
        }
        return found;
    }
    static json scan(int id) {
        const auto before = mark();
        EXPECT_EQ(api_.ExecuteSensorScan(id), 0);
        const auto results = since(before, "sensor_scan_result", id);
        EXPECT_EQ(results.size(), 1u);
        return results.empty() ? json::object() : results.front();
    }
    static void create(int id, const std::string& kind, const json& persistent = json::object()) {
        const auto doc = document(kind, "Secret-1", persistent);
        ASSERT_EQ(api_.CreateSensorInstance(id, doc.data(), static_cast<unsigned>(doc.size())), 0);
    }
    static std::map<int, double> values(const json& result) {
        std::map<int, double> v;
        for (const auto& c : result.at("channels")) v[c.at("id")] = c.at("value");
        return v;
    }

    static inline winrm_simulator::simulator* target_ = nullptr;
    static inline void* library_ = nullptr;
    static inline e2e::module_api api_{};
};

TEST_F(sensors_e2e, the_check_succeeds_with_the_right_password_and_fails_with_a_wrong_one) {
    for (const auto& [password, success] : {std::pair{"Secret-1", true}, {"wrong", false}}) {
        const auto before = mark();
        const auto doc = document("wsman_check", password);
        EXPECT_EQ(api_.ExecuteCheck(1, doc.data(), static_cast<unsigned>(doc.size())), 0);
        const auto results = since(before, "check_result", 1);
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].at("success"), success) << password;
    }
}

TEST_F(sensors_e2e, each_sensor_scanned_twice_reports_plausible_values) {
    create(10, "cpu_load_sensor");
    create(11, "memory_sensor");
    create(12, "pagefile_sensor");
    create(13, "system_uptime_sensor");

    const auto cpu_first = scan(10);
    EXPECT_EQ(cpu_first.at("response_code"), 0) << cpu_first.dump();
    EXPECT_EQ(cpu_first.at("message").at("key"), "message.collecting_initial_sample");
    const auto uptime_first = scan(13);
    ASSERT_EQ(uptime_first.at("response_code"), 0) << uptime_first.dump();

    clock_offset_s += 60;

    const auto cpu = scan(10);
    ASSERT_EQ(cpu.at("response_code"), 0) << cpu.dump();
    const auto loads = values(cpu);
    ASSERT_TRUE(loads.count(0)) << cpu.dump();
    EXPECT_GE(loads.size(), 2u);  // the total and at least one processor
    for (const auto& [id, load] : loads) {
        EXPECT_GE(load, 0.0) << id;
        EXPECT_LE(load, 100.0) << id;
    }

    const auto memory = scan(11);
    ASSERT_EQ(memory.at("response_code"), 0) << memory.dump();
    const auto mem = values(memory);
    EXPECT_NEAR(mem.at(0) + mem.at(2), 100.0, 1e-9);
    EXPECT_GT(mem.at(1), 0.0);
    EXPECT_GT(mem.at(3), 0.0);
    EXPECT_EQ(scan(11).at("response_code"), 0);

    for (int round = 0; round < 2; ++round) {
        const auto pagefile = scan(12);
        ASSERT_EQ(pagefile.at("response_code"), 0) << pagefile.dump();
        EXPECT_GT(values(pagefile).at(0), 0.0);
        EXPECT_LT(values(pagefile).at(0), 100.0);
    }

    const auto uptime = scan(13);
    EXPECT_EQ(values(uptime).at(0), values(uptime_first).at(0) + 60);
    EXPECT_GT(values(uptime_first).at(0), 0.0);

    for (int id : {10, 11, 12, 13}) EXPECT_EQ(api_.DestroySensorInstance(id), 0);
}

TEST_F(sensors_e2e, a_re_created_cpu_sensor_continues_from_its_persistent_data) {
    const auto before = mark();
    create(20, "cpu_load_sensor");
    scan(20);
    clock_offset_s += 30;
    const auto second = scan(20);
    ASSERT_EQ(api_.DestroySensorInstance(20), 0);

    // The host stores what the module sent and hands it back on the next create.
    json persistent = json::object();
    for (const auto& m : since(before, "persistent_data", 20))
        persistent[m.at("key")] = m.at("value");
    EXPECT_TRUE(persistent.contains("next_channel_id"));
    EXPECT_FALSE(persistent.contains("_Total"));

    create(20, "cpu_load_sensor", persistent);
    clock_offset_s += 30;
    const auto third = scan(20);
    EXPECT_EQ(third.at("message").at("text"), "OK");
    std::vector<int> ids_second, ids_third;
    for (const auto& [id, v] : values(second)) ids_second.push_back(id);
    for (const auto& [id, v] : values(third)) ids_third.push_back(id);
    EXPECT_EQ(ids_third, ids_second);
    EXPECT_EQ(api_.DestroySensorInstance(20), 0);
}

}  // namespace
