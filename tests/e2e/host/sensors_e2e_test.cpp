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
#include "probe/settings.hpp"
#include "probe/verdicts.hpp"
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

// The simulated server on loopback with its clock under the test's control, and the probe's
// host driving libwmi.so through its exports with the real WQL client underneath.
struct simulated_target {
    explicit simulated_target(const std::string& model = "windows_server.json")
        : target(winrm_simulator::machine_model::load_file(WMI_SIMULATOR_MODELS_DIR "/" + model),
                 options()) {
        offline_krb5::configure();
        target.start();
    }

    // The kind's own `settings`, then the target and its credentials.
    std::string document(const std::string& kind, const std::string& password = "Secret-1",
                         const json& settings = json::object()) const {
        auto all = settings;
        all.update(test_kinds::settings(
            {{"host", "127.0.0.1"},
             {"logging", "disabled"},
             {test_kinds::compatibility + "port", std::to_string(target.port())},
             {test_kinds::credentials + "password", password}}));
        return test_support::settings_document(kind, all);
    }

    std::atomic<long long> clock_offset_s{0};
    winrm_simulator::simulator target;
    wmiprobe::module_host host{LIBWMI_PATH};

private:
    winrm_simulator::simulator_options options() {
        winrm_simulator::simulator_options o;
        o.users = {winrm_simulator::parse_user_account("LAB\\monitor:Secret-1")};
        o.clock = [this] {
            return winrm_simulator::sim_clock::time_point(1796486400s) +
                   std::chrono::seconds(clock_offset_s.load());
        };
        return o;
    }
};

// The check, then several sensors scanned from several host threads at once, twice, a minute
// apart on the target's clock.
TEST(sensors_e2e, the_check_and_every_sensor_against_the_simulated_target) {
    simulated_target sim;
    auto& host = sim.host;
    auto& clock_offset_s = sim.clock_offset_s;
    const auto document = [&](const std::string& kind, const std::string& password) {
        return sim.document(kind, password);
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
    EXPECT_EQ(results[0][0].at("message").at("key"), "#:message.collecting_initial_sample[]");
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

// Through the real client to the simulated target: a service name with quotes reaches it as one
// literal and its process's CPU usage needs two readings; an adapter whose counters restart
// 90 s in (a reboot) makes the result tell the host to restart its differences.
TEST(sensors_e2e, service_process_and_restarting_adapter_counters) {
    simulated_target sim;
    const json service{
        {"service_metascan_section.service_metascan_group.name", "Contoso's \"Backup\" Agent"},
        {"service_section.service_group.extended_monitoring", "enabled"}};
    const json adapter{{"network_card_metascan_section.network_card_metascan_group.name",
                        "Hyper-V Virtual Ethernet Adapter"}};
    ASSERT_EQ(sim.host.create_sensor(1, sim.document("service_sensor", "Secret-1", service)).code,
              0);
    ASSERT_EQ(
        sim.host.create_sensor(2, sim.document("network_card_sensor", "Secret-1", adapter)).code,
        0);
    std::vector<json> results[2];
    for (int round = 0; round < 2; ++round) {
        sim.clock_offset_s += 60;
        for (int id : {1, 2}) {
            results[id - 1].push_back(only(sim.host.scan_sensor(id), "sensor_scan_result"));
        }
    }
    const auto service_first = values(results[0][0]);
    EXPECT_EQ(service_first.at(0), 4.0);  // Running
    EXPECT_EQ(service_first.count(5), 0u);
    EXPECT_NEAR(values(results[0][1]).at(5), 150.0, 1e-9);  // one and a half processors busy
    EXPECT_EQ(results[1][0].at("system_reset"), false);
    EXPECT_EQ(results[1][1].at("system_reset"), true);
    EXPECT_LT(values(results[1][1]).at(0), values(results[1][0]).at(0));
    EXPECT_TRUE(sim.host.stray_messages().empty());
}

// As a host does it, on the server and on the client model: each sensor's meta-scan discovers,
// the sensor is created from the document's defaults and the first entry unchanged, and its
// second scan, a minute later, reports values. A meta-scan may fail only where the model lacks
// its namespace (a server has no Windows Security), and every kind works on some model.
TEST(sensors_e2e, every_meta_scan_feeds_its_sensor) {
    std::map<std::string, int> worked;
    for (const char* model : {"windows_server.json", "windows_client.json"}) {
        SCOPED_TRACE(model);
        simulated_target sim(model);
        const auto information = json::parse(sim.host.module_information(false));
        const wmiprobe::module_catalogue catalogue(information.at("document"));
        int id = 100;
        for (const auto* sensor : catalogue.kinds_of(wmiprobe::kind_role::sensor)) {
            if (!sensor->first_meta_step || !sensor->discovered_section) continue;
            SCOPED_TRACE(sensor->name);
            const auto discovered =
                sim.host.meta_scan(++id, 1, sim.document(*sensor->first_meta_step));
            if (discovered.code == wmiprobe::code_unknown_kind) continue;
            worked.try_emplace(sensor->name, 0);
            const auto result = only(discovered, "meta_scan_result");
            if (result.at("response_code") != 0) {
                const auto key = result.at("message").at("key").get<std::string>();
                EXPECT_EQ(key.rfind("#:libwql.error.invalid_namespace[", 0), 0u) << result.dump();
                continue;
            }
            ASSERT_FALSE(result.at("entries").empty());
            json settings(catalogue.default_settings(*sensor));
            const auto chosen = catalogue.entry_settings(*sensor->discovered_section,
                                                         result.at("entries").at(0).at("values"));
            ASSERT_FALSE(chosen.empty()) << "no setting of the sensor takes the entry's values";
            settings.update(json(chosen));
            ASSERT_EQ(
                sim.host.create_sensor(id, sim.document(sensor->name, "Secret-1", settings)).code,
                0);
            only(sim.host.scan_sensor(id), "sensor_scan_result");
            sim.clock_offset_s += 60;
            const auto second = only(sim.host.scan_sensor(id), "sensor_scan_result");
            EXPECT_EQ(second.at("response_code"), 0) << second.dump();
            EXPECT_FALSE(second.at("channels").empty()) << second.dump();
            EXPECT_EQ(sim.host.destroy_sensor(id).code, 0);
            ++worked[sensor->name];
        }
        EXPECT_TRUE(sim.host.stray_messages().empty());
    }
    EXPECT_FALSE(worked.empty());
    for (const auto& [kind, models] : worked) EXPECT_GT(models, 0) << kind << " works nowhere";
}

// The client has no root\PrintManagement: with the custom mapping the status comes from
// Win32_Printer from the first scan on, and only jobs a minute old on the target's clock count.
TEST(sensors_e2e, print_queue_falls_back_where_print_management_is_missing) {
    simulated_target sim("windows_client.json");
    const wmiprobe::module_catalogue catalogue(
        json::parse(sim.host.module_information(false)).at("document"));
    json settings(catalogue.default_settings(
        catalogue.find(wmiprobe::kind_role::sensor, "print_queue_sensor")));
    const std::string group = "print_queue_section.print_queue_group.";
    settings.update({{"print_queue_metascan_section.print_queue_metascan_group.name", "Front Desk"},
                     {group + "advanced_status_options", "custom"},
                     {group + "paused", "warning"},
                     {group + "min_print_job_age", "60"}});
    ASSERT_EQ(
        sim.host.create_sensor(1, sim.document("print_queue_sensor", "Secret-1", settings)).code,
        0);
    for (int scan = 0; scan < 2; ++scan) {
        const auto result = only(sim.host.scan_sensor(1), "sensor_scan_result");
        EXPECT_EQ(values(result), (std::map<int, double>{{0, 1.0}, {1, 2.0}})) << result.dump();
        EXPECT_EQ(result.at("message").at("text"),
                  "1 jobs in the print queue have been waiting for more than 60 seconds. Status: "
                  "Paused");
    }
}

}  // namespace
