#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fake_wsman.hpp"
#include "frame/vexa_module_wmi.hpp"
#include "libvexahelper/logging.hpp"
#include "libvexahelper/sensor_dispatcher.hpp"
#include "log_folder.hpp"
#include "test_kinds.hpp"
#include "test_support.hpp"

// Runs a kind's scenario table (tests/data/<kind>.json) against the real kind, created by the
// module's registration table through a dispatcher, with the fake client underneath.
//
// Table: {"query": "<namespace>: <WQL>" of every query (or a list: every query is one of them),
// "settings" (optional, what every scenario's settings start from),
// "scenarios": [{"name", "settings" (merged into a valid document), "persistent", "channels"
// (known to the host), "announced" (channels announced at creation), "connection" (expected
// connection parameters), "clients" and "sessions" (clients made and sessions opened over the
// scenario, for a kind that fails some scans before it needs the target; by default one client
// per sensor or per run and one session per scan that was not refused), "scans": [...]}]}.
// A scan (for a check or meta-scan: one run) sets up "rows" (a list answering every query, or
// an object of lists keyed "<namespace>: <WQL>" (one statement), "<namespace>: <class>",
// "<class>" or "" for the rest), "refuse"
// (session refused with this text) or "throw" (typed client error mid-query: a name, or an
// object keyed like "rows") and expects any of "code" (default 0), "values" ([[id, value], ...]
// in result order), "system_reset" (the sensor result's flag, default false), "key",
// "message", "success", "stored" (the host's view of persistent data
// afterwards; null: never stored), "sent" (persistent_data messages of this scan), "announced",
// "log" (sensor log lines), "last_log" ([level, text]), "queries" (exactly the queries of this
// scan, in order); a meta-scan's "progress" ([[value, text], ...]) and "entries"
// ([[display text, {setting key: value}], ...] in result order).
namespace kind_scenarios {

using nlohmann::json;

using test_kinds::password;

class runner {
public:
    runner() {
        test_support::register_recorder(*container_, recorder_);
        libvexahelper::register_sensor_log(*container_);
        fake::register_client(*container_, target_);
        for (const auto& kind : wmi::kind_registrations())
            kind.register_with(dispatcher_, kind.name);
    }

    // The table is tests/data/<kind>.json under `data_dir`.
    void run(const wmi::kind_registration& kind, const std::string& data_dir) {
        std::ifstream in(data_dir + "/" + kind.name + ".json");
        ASSERT_TRUE(in) << "no scenario table for " << kind.name;
        const auto table = json::parse(in);
        int id = 100;
        for (const auto& scenario : table.at("scenarios")) {
            SCOPED_TRACE(scenario.at("name").get<std::string>());
            run_scenario(kind.name, kind.family, table, scenario, ++id);
        }
    }

private:
    std::vector<json> of(const std::string& type, int id, std::size_t since = 0) const {
        std::vector<json> found;
        const auto all = recorder_->messages();
        for (std::size_t i = since; i < all.size(); ++i) {
            if (all[i].at("type") == type && all[i].at("sensor_id") == id) found.push_back(all[i]);
        }
        return found;
    }

    void expect_announced(const json& expected, int id, std::size_t since) const {
        const auto announced = of("dynamic_channel", id, since);
        ASSERT_EQ(announced.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            for (const auto& [field, value] : expected[i].items()) {
                EXPECT_EQ(announced[i].at("channel").at(field), value) << field;
            }
        }
    }

    // A list answers every query; an object answers by class.
    template <typename Value>
    static std::map<std::string, Value> by_query(const json& given, Value (*make)(const json&)) {
        std::map<std::string, Value> table;
        if (given.is_object()) {
            for (const auto& [key, value] : given.items()) table[key] = make(value);
        } else if (!given.is_null() && given != "") {
            table[""] = make(given);
        }
        return table;
    }
    static std::string text_of(const json& j) { return j.get<std::string>(); }

    void run_scenario(const std::string& kind, wmi::kind_family family, const json& table,
                      const json& scenario, int id) {
        const bool check = family == wmi::kind_family::check;
        const bool meta = family == wmi::kind_family::metascan;
        const bool sensor = family == wmi::kind_family::sensor;
        target_->clients_made = 0;
        target_->sessions_opened = 0;
        auto settings = table.value("settings", json::object());
        settings.update(scenario.value("settings", json::object()));
        const std::string doc = test_support::settings_document(
            kind, test_kinds::settings(settings), scenario.value("channels", json::object()),
            scenario.value("persistent", json::object()));
        if (sensor) {
            ASSERT_EQ(dispatcher_.create_sensor_instance(id, test_support::wrap(doc)),
                      libvexahelper::sensor_create_response_code::ok);
            if (scenario.contains("announced")) expect_announced(scenario["announced"], id, 0);
        }
        auto stored = scenario.value("persistent", json::object());
        int refused = 0;
        unsigned int request = 0;
        for (const auto& scan : scenario.at("scans")) {
            const auto since = recorder_->messages().size();
            const auto queried = target_->queries.size();
            target_->answers = by_query(scan.value("rows", json()), &fake::rows_of);
            target_->fail_with = by_query(scan.value("throw", json()), &text_of);
            target_->refuse = scan.value("refuse", "");
            refused += target_->refuse.empty() ? 0 : 1;
            if (check) {
                dispatcher_.execute_check(id, test_support::wrap(doc));
            } else if (meta) {
                EXPECT_EQ(dispatcher_.execute_meta_scan(id, ++request, test_support::wrap(doc)),
                          libvexahelper::meta_scan_response_code::ok);
            } else {
                EXPECT_EQ(dispatcher_.execute_sensor_scan(id),
                          libvexahelper::sensor_scan_response_code::ok);
            }
            const auto results = of(check  ? "check_result"
                                    : meta ? "meta_scan_result"
                                           : "sensor_scan_result",
                                    id, since);
            ASSERT_EQ(results.size(), 1u) << "one result per scan";
            expect_result(results[0], scan);
            if (meta) expect_meta(scan, id, request, since);
            if (scan.contains("queries")) {
                const std::vector<std::string> ran(target_->queries.begin() + queried,
                                                   target_->queries.end());
                EXPECT_EQ(json(ran), scan["queries"]);
            }
            const auto sent = of("persistent_data", id, since);
            for (const auto& m : sent) stored[m.at("key").get<std::string>()] = m.at("value");
            EXPECT_EQ(sent.size(), scan.value("sent", sent.size())) << "persistent_data sent";
            const auto expected_stored = scan.value("stored", json::object());
            for (const auto& [key, value] : expected_stored.items()) {
                EXPECT_EQ(stored.value(key, json()), value) << key;  // null: never stored
            }
            if (scan.contains("announced")) expect_announced(scan["announced"], id, since);
            expect_log(scan, id);
            EXPECT_EQ(target_->sessions_open, 0) << "the session outlived its scan";
        }
        const int scans = static_cast<int>(scenario.at("scans").size());
        // A sensor keeps one client for its life, failed scans included; a check or meta-scan
        // lives for one run.
        EXPECT_EQ(target_->clients_made, scenario.value("clients", sensor ? 1 : scans));
        EXPECT_EQ(target_->sessions_opened, scenario.value("sessions", scans - refused));
        const auto& allowed = table.at("query");
        for (const auto& query : target_->queries) {
            if (allowed.is_array()) {
                EXPECT_NE(std::find(allowed.begin(), allowed.end(), query), allowed.end()) << query;
            } else {
                EXPECT_EQ(query, allowed);
            }
        }
        target_->queries.clear();
        const auto& p = target_->last_parameters;
        const json connection{{"host", p.host},
                              {"username", p.username},
                              {"port", p.port},
                              {"use_https", p.use_https},
                              {"mode", p.authentication_mode}};
        const auto expected_connection = scenario.value("connection", connection);
        for (const auto& [field, value] : expected_connection.items()) {
            EXPECT_EQ(connection.at(field), value) << field;
        }
        for (const auto& m : recorder_->messages()) {
            EXPECT_EQ(m.dump().find(password), std::string::npos) << "password sent to the host";
        }
        if (sensor) dispatcher_.destroy_sensor_instance(id);
    }

    void expect_meta(const json& scan, int id, unsigned int request, std::size_t since) const {
        const auto result = of("meta_scan_result", id, since).at(0);
        EXPECT_EQ(result.at("request"), request);
        if (scan.contains("entries")) {
            json entries = json::array();
            for (const auto& e : result.at("entries")) {
                entries.push_back({e.at("display_name").at("text"), e.at("values")});
            }
            EXPECT_EQ(entries, scan["entries"]);
        }
        if (scan.contains("progress")) {
            json progress = json::array();
            for (const auto& p : of("metascan_progress", id, since)) {
                EXPECT_EQ(p.at("request"), request);
                progress.push_back({p.at("progress"), p.at("text")});
            }
            EXPECT_EQ(progress, scan["progress"]);
        }
    }

    static void expect_result(const json& result, const json& scan) {
        const auto message = result.value("message", json());
        const json actual{{"success", result.value("success", json())},
                          {"key", message.is_object() ? message.at("key") : json()},
                          {"message", message.is_object() ? message.at("text") : json()}};
        for (const auto& [field, value] : actual.items()) {
            EXPECT_EQ(value, scan.value(field, value)) << field;
        }
        if (result.at("type") == "check_result") return;
        EXPECT_EQ(result.at("response_code"), scan.value("code", 0));
        if (result.at("type") == "meta_scan_result") return;
        EXPECT_EQ(result.at("error_code"), 0);
        EXPECT_EQ(result.at("system_reset"), scan.value("system_reset", false));
        const auto expected = scan.value("values", json::array());
        const auto& channels = result.at("channels");
        ASSERT_EQ(channels.size(), expected.size()) << channels.dump();
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const auto& channel = channels[i];
            EXPECT_EQ(channel.at("id"), expected[i][0]);
            EXPECT_EQ(channel.at("kind"), expected[i][1].is_number_integer() ? "integer" : "float");
            EXPECT_NEAR(channel.at("value").get<double>(), expected[i][1].get<double>(), 1e-9)
                << "channel " << expected[i][0];
        }
    }

    void expect_log(const json& scan, int id) const {
        const auto log = logs_.sensor_log(id);
        for (const auto& line : scan.value("log", json::array())) {
            EXPECT_TRUE(
                std::any_of(log.begin(), log.end(), [&](const auto& l) { return l.text == line; }))
                << "not logged: " << line;
        }
        if (scan.contains("last_log")) {
            ASSERT_FALSE(log.empty());
            EXPECT_EQ(json({log.back().level, log.back().text}), scan["last_log"]);
        }
        for (const auto& l : log) EXPECT_EQ(l.text.find(password), std::string::npos);
    }

    test_support::log_folder logs_;
    std::shared_ptr<libvexahelper::service_container> container_ =
        std::make_shared<libvexahelper::service_container>();
    std::shared_ptr<test_support::message_recorder> recorder_ =
        std::make_shared<test_support::message_recorder>();
    std::shared_ptr<fake::target> target_ = std::make_shared<fake::target>();
    libvexahelper::sensor_dispatcher dispatcher_{container_};
};

}  // namespace kind_scenarios
