#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "framework/settings.hpp"
#include "libvexahelper/exceptions.hpp"
#include "recording_wrapper.hpp"

namespace {

using nlohmann::json;
namespace s = wmi::settings;
namespace ex = libvexahelper::utils::exceptions;

const std::string cred = "shared_windows_credentials_section.shared_windows_credentials_group.";
const std::string compat =
    "shared_windows_compatibility_section.shared_windows_compatibility_group.";
const std::string pq = "print_queue_section.print_queue_group.";

// Every key any record reads, with a valid value.
json full_settings() {
    json j = {{"host", "win-01"},
              {"logging", "disabled"},
              {"timeout", "30"},
              {"zarvelcloudapikey", "key"},
              {"ipversion", "IPv4"},
              {"interval", "120"},
              {cred + "domain", "CORP"},
              {cred + "username", "monitor"},
              {cred + "password", "hunter2"},
              {cred + "mode", "negotiate"},
              {compat + "port", "5985"},
              {compat + "protocol", "http"},
              {"service_section.service_group.extended_monitoring", "enabled"},
              {pq + "advanced_status_options", "custom"},
              {pq + "min_print_job_age", "300"},
              {"microsoft_sql_server_section.microsoft_sql_server_group.performance_counters",
               "general_statistics"}};
    for (const char* c :
         {"door_open", "manual_feed_required", "needs_user_intervention", "offline",
          "out_of_memory", "out_of_paper", "paper_jammed", "paper_problem", "paused",
          "printer_error", "printer_not_available", "toner_low", "toner_out"}) {
        j[pq + c] = "warning";
    }
    const std::map<std::string, std::vector<std::string>> meta_groups{
        {"logical_disk_io_metascan", {"name"}},
        {"microsoft_sql_server_metascan", {"service_name", "display_name"}},
        {"network_card_metascan", {"name", "ip_addresses", "mac_address"}},
        {"physical_disk_io_metascan", {"name"}},
        {"print_queue_metascan", {"name"}},
        {"service_metascan", {"name", "displayname", "description", "status"}},
        {"volume_metascan",
         {"device_id", "name", "label", "drive_type", "file_system", "drive_letter"}},
        {"windows_security_metascan", {"name", "type"}}};
    for (const auto& [kind, names] : meta_groups) {
        for (const auto& n : names) j[kind + "_section." + kind + "_group." + n] = kind + "-" + n;
    }
    return j;
}

std::string document(const json& settings) {
    return json{{"kind", "any"}, {"settings", settings}}.dump();
}

template <typename Record>
Record parse(const json& settings) {
    const recording_wrapper w(document(settings));
    return parse_settings(w, std::type_identity<Record>{});
}

template <typename Record>
std::vector<std::string> keys_read() {
    const recording_wrapper w(document(full_settings()));
    parse_settings(w, std::type_identity<Record>{});
    return w.keys;
}

std::vector<std::string> prefixed(const std::string& prefix, std::vector<std::string> names) {
    for (auto& n : names) n = prefix + n;
    return names;
}

std::vector<std::string> target_keys() {
    std::vector<std::string> keys{"host",      "logging", "timeout", "zarvelcloudapikey",
                                  "ipversion", "interval"};
    for (const auto& k : prefixed(cred, {"domain", "username", "password", "mode"})) {
        keys.push_back(k);
    }
    for (const auto& k : prefixed(compat, {"port", "protocol"})) keys.push_back(k);
    return keys;
}

std::vector<std::string> meta_keys(const std::string& kind, std::vector<std::string> names) {
    return prefixed(kind + "_section." + kind + "_group.", std::move(names));
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(settings_records, every_kind_reads_its_keys_in_the_documented_order) {
    const auto base = target_keys();
    const auto print_queue =
        prefixed(pq, {"advanced_status_options", "door_open", "manual_feed_required",
                      "needs_user_intervention", "offline", "out_of_memory", "out_of_paper",
                      "paper_jammed", "paper_problem", "paused", "printer_error",
                      "printer_not_available", "toner_low", "toner_out", "min_print_job_age"});
    const std::vector<std::pair<std::string, std::vector<std::string>>> expected{
        {"cpu_load_sensor", base},
        {"memory_sensor", base},
        {"pagefile_sensor", base},
        {"system_uptime_sensor", base},
        {"logical_disk_io_sensor", base + meta_keys("logical_disk_io_metascan", {"name"})},
        {"physical_disk_io_sensor", base + meta_keys("physical_disk_io_metascan", {"name"})},
        {"network_card_sensor",
         base + meta_keys("network_card_metascan", {"name", "ip_addresses", "mac_address"})},
        {"microsoft_sql_server_sensor",
         base +
             std::vector<std::string>{"microsoft_sql_server_section.microsoft_sql_server_group."
                                      "performance_counters"} +
             meta_keys("microsoft_sql_server_metascan", {"service_name", "display_name"})},
        {"print_queue_sensor", base + print_queue + meta_keys("print_queue_metascan", {"name"})},
        {"service_sensor",
         base + std::vector<std::string>{"service_section.service_group.extended_monitoring"} +
             meta_keys("service_metascan", {"name", "displayname", "description", "status"})},
        {"volume_sensor",
         base + meta_keys("volume_metascan", {"device_id", "name", "label", "drive_type",
                                              "file_system", "drive_letter"})},
        {"windows_security_sensor",
         base + meta_keys("windows_security_metascan", {"name", "type"})},
    };
    const std::map<std::string, std::function<std::vector<std::string>()>> readers{
        {"cpu_load_sensor", keys_read<s::cpu_load_sensor>},
        {"memory_sensor", keys_read<s::memory_sensor>},
        {"pagefile_sensor", keys_read<s::pagefile_sensor>},
        {"system_uptime_sensor", keys_read<s::system_uptime_sensor>},
        {"logical_disk_io_sensor", keys_read<s::logical_disk_io_sensor>},
        {"physical_disk_io_sensor", keys_read<s::physical_disk_io_sensor>},
        {"network_card_sensor", keys_read<s::network_card_sensor>},
        {"microsoft_sql_server_sensor", keys_read<s::microsoft_sql_server_sensor>},
        {"print_queue_sensor", keys_read<s::print_queue_sensor>},
        {"service_sensor", keys_read<s::service_sensor>},
        {"volume_sensor", keys_read<s::volume_sensor>},
        {"windows_security_sensor", keys_read<s::windows_security_sensor>},
    };
    for (const auto& [kind, keys] : expected) {
        SCOPED_TRACE(kind);
        EXPECT_EQ(readers.at(kind)(), keys);
    }
    // Meta-scans and the check need only the target.
    for (const auto& read :
         {keys_read<s::logical_disk_io_metascan>, keys_read<s::microsoft_sql_server_metascan>,
          keys_read<s::network_card_metascan>, keys_read<s::physical_disk_io_metascan>,
          keys_read<s::print_queue_metascan>, keys_read<s::service_metascan>,
          keys_read<s::volume_metascan>, keys_read<s::windows_security_metascan>,
          keys_read<s::wsman_check>}) {
        EXPECT_EQ(read(), base);
    }
}

TEST(settings_records, values_land_in_their_members) {
    auto j = full_settings();
    j["logging"] = "enabled";
    j["ipversion"] = "1";
    j[cred + "mode"] = "kerberos_only";
    j[compat + "protocol"] = "https";
    j[pq + "door_open"] = "down";
    j[pq + "toner_low"] = "ignore";
    const auto r = parse<s::print_queue_sensor>(j);
    EXPECT_EQ(r.host, "win-01");
    EXPECT_EQ(r.logging, s::logging::enabled);
    EXPECT_EQ(r.timeout, 30);
    EXPECT_EQ(r.interval, 120);
    EXPECT_EQ(r.zarvelcloudapikey, "key");
    EXPECT_EQ(r.ipversion, s::ipversion::ipv6);
    EXPECT_EQ(r.domain, "CORP");
    EXPECT_EQ(r.password, "hunter2");
    EXPECT_EQ(r.mode, s::mode::kerberos_only);
    EXPECT_EQ(r.port, 5985);
    EXPECT_EQ(r.protocol, s::protocol::https);
    EXPECT_EQ(r.advanced_status_options, s::advanced_status_options::custom);
    EXPECT_EQ(r.door_open, s::condition_action::down);
    EXPECT_EQ(r.paused, s::condition_action::warning);
    EXPECT_EQ(r.toner_low, s::condition_action::ignore);
    EXPECT_EQ(r.min_print_job_age, 300);
    EXPECT_EQ(r.name, "print_queue_metascan-name");
}

TEST(settings_records, absent_optional_settings_keep_their_defaults) {
    json j = full_settings();
    for (const char* key : {"logging", "timeout", "zarvelcloudapikey", "ipversion", "interval"}) {
        j.erase(key);
    }
    j.erase(pq + "min_print_job_age");
    j.erase("service_metascan_section.service_metascan_group.status");
    const auto pqr = parse<s::print_queue_sensor>(j);
    EXPECT_EQ(pqr.logging, s::logging::disabled);
    EXPECT_EQ(pqr.timeout, 60);
    EXPECT_EQ(pqr.interval, 60);
    EXPECT_EQ(pqr.zarvelcloudapikey, "");
    EXPECT_EQ(pqr.ipversion, s::ipversion::ipv4);
    EXPECT_EQ(pqr.min_print_job_age, std::nullopt);
    EXPECT_EQ(parse<s::service_sensor>(j).status, "");
    // An empty optional integer is "no value", too.
    j[pq + "min_print_job_age"] = "";
    EXPECT_EQ(parse<s::print_queue_sensor>(j).min_print_job_age, std::nullopt);
}

// Valid and invalid value pairs for each value kind and selection type.
TEST(settings_records, invalid_values_are_rejected_with_their_errors) {
    enum class error { selection, less_min, bigger_max, not_available, bad_optional, invalid };
    struct row {
        std::string key;
        std::string good;
        std::optional<std::string> bad;  // nullopt: the key is left out
        error expected;
        std::string message;  // expected what(), empty: not checked
    };
    const std::vector<row> rows{
        {"ipversion", "IPv6", "ipv4", error::selection,
         "Value \"ipv4\" could not be parsed into selection type \"ipversion\"."},
        {"ipversion", "0", "2", error::selection, ""},
        {"logging", "enabled", "Enabled", error::selection, ""},
        {"timeout", "0", "-1", error::less_min,
         "Setting value -1 is less than the allowed value of 0."},
        {"interval", "1", "0", error::less_min, ""},
        {"interval", "1", "sixty", error::bad_optional,
         "The setting \"interval\" has no integer value."},
        {"host", "h", std::nullopt, error::not_available,
         "The setting \"host\" was not available."},
        {cred + "mode", "kerberos_only", "kerberos", error::selection,
         "Value \"kerberos\" could not be parsed into selection type \"mode\"."},
        {cred + "username", "", std::nullopt, error::not_available, ""},
        {cred + "password", "", std::nullopt, error::not_available, ""},
        {compat + "protocol", "https", "HTTPS", error::selection,
         "Value \"HTTPS\" could not be parsed into selection type \"protocol\"."},
        {compat + "port", "65535", "65536", error::bigger_max,
         "Setting value 65536 is bigger than the allowed value of 65535."},
        {compat + "port", "1", "0", error::less_min, ""},
        {compat + "port", "5986", "", error::bad_optional, ""},
        {compat + "port", "5986", std::nullopt, error::not_available, ""},
        {pq + "door_open", "down", "Down", error::selection,
         "Value \"Down\" could not be parsed into selection type \"door_open\"."},
        {pq + "toner_out", "ignore", "off", error::selection,
         "Value \"off\" could not be parsed into selection type \"toner_out\"."},
        {pq + "advanced_status_options", "standard", "advanced", error::selection, ""},
        {pq + "min_print_job_age", "0", "-5", error::less_min, ""},
        {pq + "min_print_job_age", "10", "10s", error::invalid,
         "Setting value 10s is invalid. \"print_queue_section.print_queue_group."
         "min_print_job_age\" must be a whole number."},
        {"print_queue_metascan_section.print_queue_metascan_group.name", "HP", std::nullopt,
         error::not_available, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.key + " = " + r.bad.value_or("<absent>"));
        json j = full_settings();
        j[r.key] = r.good;
        EXPECT_NO_THROW(parse<s::print_queue_sensor>(j));
        if (r.bad) {
            j[r.key] = *r.bad;
        } else {
            j.erase(r.key);
        }
        std::string what;
        try {
            parse<s::print_queue_sensor>(j);
            ADD_FAILURE() << "accepted";
            continue;
        } catch (const ex::setting_selection_parse_error& e) {
            EXPECT_EQ(r.expected, error::selection);
            what = e.what();
        } catch (const ex::setting_invalid_less_min& e) {
            EXPECT_EQ(r.expected, error::less_min);
            what = e.what();
        } catch (const ex::setting_invalid_bigger_max& e) {
            EXPECT_EQ(r.expected, error::bigger_max);
            what = e.what();
        } catch (const ex::setting_not_available& e) {
            EXPECT_EQ(r.expected, error::not_available);
            what = e.what();
        } catch (const std::bad_optional_access& e) {
            EXPECT_EQ(r.expected, error::bad_optional);
            what = e.what();
        } catch (const ex::exception& e) {
            EXPECT_EQ(r.expected, error::invalid);
            EXPECT_EQ(e.get_i18n_msg().key.rfind("#:libvexahelper.error.setting_invalid[", 0), 0u);
            what = e.what();
        }
        if (!r.message.empty()) {
            EXPECT_EQ(what, r.message);
        }
    }
}

TEST(selection_parsers, each_names_its_own_type_and_matches_exactly) {
    EXPECT_EQ(s::parse_ipversion("IPv4"), s::ipversion::ipv4);
    EXPECT_EQ(s::parse_ipversion("0"), s::ipversion::ipv4);
    EXPECT_EQ(s::parse_ipversion("IPv6"), s::ipversion::ipv6);
    EXPECT_EQ(s::parse_ipversion("1"), s::ipversion::ipv6);
    EXPECT_EQ(s::parse_protocol("https"), s::protocol::https);
    EXPECT_EQ(s::parse_extended_monitoring("enabled"), s::extended_monitoring::enabled);
    const std::vector<std::pair<std::function<void(const std::string&)>, std::string>> parsers{
        {[](const std::string& t) { s::parse_manual_feed_required(t); }, "manual_feed_required"},
        {[](const std::string& t) { s::parse_needs_user_intervention(t); },
         "needs_user_intervention"},
        {[](const std::string& t) { s::parse_offline(t); }, "offline"},
        {[](const std::string& t) { s::parse_out_of_memory(t); }, "out_of_memory"},
        {[](const std::string& t) { s::parse_out_of_paper(t); }, "out_of_paper"},
        {[](const std::string& t) { s::parse_paper_jammed(t); }, "paper_jammed"},
        {[](const std::string& t) { s::parse_paper_problem(t); }, "paper_problem"},
        {[](const std::string& t) { s::parse_paused(t); }, "paused"},
        {[](const std::string& t) { s::parse_printer_error(t); }, "printer_error"},
        {[](const std::string& t) { s::parse_printer_not_available(t); }, "printer_not_available"},
        {[](const std::string& t) { s::parse_toner_low(t); }, "toner_low"},
        {[](const std::string& t) { s::parse_extended_monitoring(t); }, "extended_monitoring"},
    };
    for (const auto& [parse_fn, type] : parsers) {
        try {
            parse_fn(" ignore");
            ADD_FAILURE() << type << " accepted a padded value";
        } catch (const ex::setting_selection_parse_error& e) {
            EXPECT_EQ(e.get_i18n_msg().key,
                      "#:libvexahelper.error.setting_selection_parse_error[ ignore," + type + "]");
        }
    }
    EXPECT_EQ(s::parse_paper_jammed("down"), s::condition_action::down);
    EXPECT_EQ(s::parse_offline("warning"), s::condition_action::warning);
}

}  // namespace
