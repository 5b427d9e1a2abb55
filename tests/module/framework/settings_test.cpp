// The settings records read the host's document: keys in a fixed order, each value checked by
// its field kind, and every error names the setting.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "document/module_information.hpp"
#include "framework/settings.hpp"
#include "test_support.hpp"

namespace {

using nlohmann::json;
namespace s = wmi::settings;

const std::string cred = "shared_windows_credentials_section.shared_windows_credentials_group.";
const std::string compat =
    "shared_windows_compatibility_section.shared_windows_compatibility_group.";
const std::string pq = "print_queue_section.print_queue_group.";
const std::string secret_value = "s3cret-value";

// The host's common settings plus every setting of the module information document at its
// default; secrets get secret_value.
json valid_settings() {
    json settings = {{"host", "win-01"},    {"logging", "disabled"},
                     {"timeout", "30"},     {"zarvelcloudapikey", secret_value},
                     {"ipversion", "IPv4"}, {"interval", "120"}};
    const auto doc = json::parse(wmi::document::module_information());
    for (const auto& [section, entry] : doc.at("Sections").items()) {
        for (const auto& group : entry.at("Groups")) {
            for (const auto& item : doc.at("Groups").at(group.get<std::string>()).at("Items")) {
                const auto& setting = item.at("Setting");
                const bool secret =
                    setting.contains("Text") && setting["Text"].contains("Security");
                settings[section + "." + group.get<std::string>() + "." +
                         setting.at("Name").get<std::string>()] =
                    secret ? json(secret_value) : setting.at("Default");
            }
        }
    }
    settings[pq + "min_print_job_age"] = "300";
    return settings;
}

// Notes every key a record asks for, in order.
using base_wrapper = libvexahelper::sensor_data_wrapper;
class recording_wrapper : public base_wrapper {
public:
    using base_wrapper::base_wrapper;
    std::string get_value(const std::string& k) const override {
        return base_wrapper::get_value(note(k));
    }
    std::string get_secure_value(const std::string& k) const override {
        return base_wrapper::get_secure_value(note(k));
    }
    bool has_value(const std::string& k) const override { return base_wrapper::has_value(note(k)); }
    mutable std::vector<std::string> keys;

private:
    const std::string& note(const std::string& k) const {
        if (keys.empty() || keys.back() != k) keys.push_back(k);
        return k;
    }
};

template <typename Record>
std::vector<std::string> keys_read() {
    const auto text = test_support::settings_document("any", valid_settings());
    const recording_wrapper w(text.data(), static_cast<unsigned int>(text.size()));
    parse_settings(w, std::type_identity<Record>{});
    return w.keys;
}

// The groups a record reads, in order ("" for the host's bare keys).
template <typename Record>
std::vector<std::string> groups_read() {
    std::vector<std::string> groups;
    for (const auto& key : keys_read<Record>()) {
        const auto dot = key.rfind('.');
        const auto group = dot == std::string::npos ? "" : key.substr(0, dot + 1);
        if (groups.empty() || groups.back() != group) groups.push_back(group);
    }
    return groups;
}

TEST(settings_records, read_common_credentials_compatibility_then_their_own_groups) {
    EXPECT_EQ(
        keys_read<s::wsman_check>(),
        (std::vector<std::string>{"host", "logging", "timeout", "zarvelcloudapikey", "ipversion",
                                  "interval", cred + "domain", cred + "username", cred + "password",
                                  cred + "mode", compat + "port", compat + "protocol"}));
    const std::vector<std::string> target{"", cred, compat};
    const auto with = [&](std::vector<std::string> own) {
        own.insert(own.begin(), target.begin(), target.end());
        return own;
    };
    // print_queue_sensor lists its own section before the shared ones in the document.
    const std::vector<std::pair<std::vector<std::string> (*)(), std::vector<std::string>>> rows{
        {groups_read<s::memory_sensor>, target},
        {groups_read<s::volume_sensor>, with({"volume_metascan_section.volume_metascan_group."})},
        {groups_read<s::print_queue_sensor>,
         with({pq, "print_queue_metascan_section.print_queue_metascan_group."})},
        {groups_read<s::microsoft_sql_server_sensor>,
         with({"microsoft_sql_server_section.microsoft_sql_server_group.",
               "microsoft_sql_server_metascan_section.microsoft_sql_server_metascan_group."})},
    };
    for (const auto& [read, expected] : rows) EXPECT_EQ(read(), expected);
}

template <typename Record>
Record parse(const json& settings) {
    return parse_settings(test_support::wrap(test_support::settings_document("any", settings)),
                          std::type_identity<Record>{});
}

TEST(settings_records, values_land_in_members_and_absent_optionals_keep_defaults) {
    auto j = valid_settings();
    j["ipversion"] = "1";
    j[pq + "door_open"] = "down";
    auto r = parse<s::print_queue_sensor>(j);
    EXPECT_EQ(r.ipversion, s::ipversion::ipv6);
    EXPECT_EQ(r.door_open, s::condition_action::down);
    EXPECT_EQ(r.paused, s::condition_action::ignore);
    EXPECT_EQ(r.min_print_job_age, 300);

    for (const char* key : {"logging", "timeout", "zarvelcloudapikey", "ipversion", "interval"}) {
        j.erase(key);
    }
    j[pq + "min_print_job_age"] = "";  // an empty optional integer is "no value"
    r = parse<s::print_queue_sensor>(j);
    EXPECT_EQ(r.logging, s::logging::disabled);
    EXPECT_EQ(r.timeout, 60);
    EXPECT_EQ(r.ipversion, s::ipversion::ipv4);
    EXPECT_EQ(r.min_print_job_age, std::nullopt);
}

// One valid and one invalid value per field kind; the error names the setting (never the
// enumeration behind it) or the value.
TEST(settings_records, invalid_values_are_rejected_with_their_errors) {
    struct row {
        std::string key;
        std::string good;
        std::optional<std::string> bad;  // nullopt: the key is left out
        std::string message;
    };
    const std::vector<row> rows{
        {"ipversion", "0", "ipv4",
         "Value \"ipv4\" could not be parsed into selection type \"ipversion\"."},
        {"timeout", "0", "-1", "Setting value -1 is less than the allowed value of 0."},
        {"interval", "1", "sixty", "The setting \"interval\" has no integer value."},
        {"host", "h", std::nullopt, "The setting \"host\" was not available."},
        {cred + "mode", "kerberos_only", " negotiate",
         "Value \" negotiate\" could not be parsed into selection type \"mode\"."},
        {cred + "password", "", std::nullopt,
         "The setting \"" + cred + "password\" was not available."},
        {compat + "port", "65535", "65536",
         "Setting value 65536 is bigger than the allowed value of 65535."},
        {pq + "toner_out", "down", "Down",
         "Value \"Down\" could not be parsed into selection type \"toner_out\"."},
        {pq + "min_print_job_age", "10", "10s",
         "Setting value 10s is invalid. \"" + pq + "min_print_job_age\" must be a whole number."},
    };
    const auto outcome = [](const json& settings) -> std::string {
        try {
            parse<s::print_queue_sensor>(settings);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "accepted";
    };
    for (const auto& r : rows) {
        json j = valid_settings();
        j[r.key] = r.good;
        EXPECT_EQ(outcome(j), "accepted") << r.key << " = " << r.good;
        if (r.bad) {
            j[r.key] = *r.bad;
        } else {
            j.erase(r.key);
        }
        EXPECT_EQ(outcome(j), r.message) << r.key;
    }
}

// A multiple selection arrives as its option values joined by ","; each part is checked like a
// single selection and the error names the setting.
TEST(settings_records, multiple_selection_sets_one_flag_per_chosen_option) {
    using pc = s::performance_counters;
    using flags = s::selection_flags<pc>;
    const std::string key =
        "microsoft_sql_server_section.microsoft_sql_server_group.performance_counters";
    const std::vector<std::pair<std::string, flags>> accepted{
        {"general_statistics", {pc::general_statistics}},
        {"sql_statistics,locks", {pc::locks, pc::sql_statistics}},
        {"locks,locks", {pc::locks}},
        {"", {}},
    };
    auto j = valid_settings();
    EXPECT_EQ(parse<s::microsoft_sql_server_sensor>(j).performance_counters,
              flags{pc::general_statistics});
    for (const auto& [text, expected] : accepted) {
        j[key] = text;
        const auto got = parse<s::microsoft_sql_server_sensor>(j).performance_counters;
        EXPECT_EQ(got, expected) << text;
        EXPECT_EQ(got.none(), text.empty()) << text;
    }
    for (const auto& [text, part] : std::vector<std::pair<std::string, std::string>>{
             {"locks,Locks", "Locks"}, {"locks,", ""}, {" locks", " locks"}}) {
        j[key] = text;
        try {
            parse<s::microsoft_sql_server_sensor>(j);
            ADD_FAILURE() << text << " accepted";
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()), "Value \"" + part +
                                                 "\" could not be parsed into selection type "
                                                 "\"performance_counters\".");
        }
    }
}

// The dispatcher logs each request's settings: every secret a record reads stays masked.
TEST(settings_records, secrets_never_reach_the_logged_settings) {
    const auto text = test_support::settings_document("any", valid_settings());
    EXPECT_NE(text.find(secret_value), std::string::npos);
    EXPECT_EQ(test_support::wrap(text).to_json().find(secret_value), std::string::npos);
}

}  // namespace
