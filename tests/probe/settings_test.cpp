#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "settings.hpp"

namespace {

using nlohmann::json;
using namespace wmiprobe;

json item(const char* name, const char* fallback) {
    return {{"Setting", {{"Name", name}, {"Default", fallback}}}};
}

// The shape of the module's document: a sensor that needs a meta-scan, the meta-scan, a check.
json document() {
    return {{"Sensors",
             {{"disk_sensor",
               {{"Name", "disk_sensor"},
                {"FirstMetaStep", "disk_metascan"},
                {"Settings", {{"Sections", {"cred_section", "compat_section"}}}}}}}},
            {"MetaScans",
             {{"disk_metascan",
               {{"Name", "disk_metascan"},
                {"Section", "found_section"},
                {"Sections", {"cred_section"}}}}}},
            {"Checks", {{"a_check", {{"Name", "a_check"}, {"Sections", {"cred_section"}}}}}},
            {"Sections",
             {{"shared_windows_credentials_section",
               {{"Groups", {"shared_windows_credentials_group"}}}},
              {"cred_section", {{"Groups", {"shared_windows_credentials_group"}}}},
              {"compat_section", {{"Groups", {"shared_windows_compatibility_group"}}}},
              {"found_section", {{"Groups", {"found_group"}}}}}},
            {"Groups",
             {{"shared_windows_credentials_group",
               {{"Items",
                 {item("domain", ""), item("username", ""), item("password", ""),
                  item("mode", "negotiate")}}}},
              {"shared_windows_compatibility_group",
               {{"Items", {item("port", "5985"), item("protocol", "http")}}}},
              {"found_group", {{"Items", {item("name", ""), item("label", "none")}}}}}}};
}

// The real document's keys, so the target options land where the module reads them.
json real_key_document() {
    json d = document();
    d["Sensors"]["disk_sensor"]["Settings"]["Sections"] = {"shared_windows_credentials_section",
                                                           "shared_windows_compatibility_section"};
    d["Sections"]["shared_windows_compatibility_section"] = {
        {"Groups", {"shared_windows_compatibility_group"}}};
    return d;
}

TEST(module_catalogue, reads_kinds_and_their_sections) {
    const module_catalogue catalogue(document());
    const auto& sensor = catalogue.find(kind_role::sensor, "disk_sensor");
    EXPECT_EQ(sensor.first_meta_step, "disk_metascan");
    EXPECT_EQ(sensor.discovered_section, "found_section");
    EXPECT_EQ(catalogue.find(kind_role::metascan, "disk_metascan").fills_section, "found_section");
    EXPECT_EQ(catalogue.kinds_of(kind_role::check).size(), 1u);
    try {
        catalogue.find(kind_role::sensor, "disk_metascan");
        FAIL() << "a meta-scan is not a sensor";
    } catch (const usage_error& e) {
        EXPECT_NE(std::string(e.what()).find("sensors: disk_sensor"), std::string::npos);
    }
}

TEST(module_catalogue, defaults_cover_common_sections_and_the_discovered_section) {
    const module_catalogue catalogue(document());
    const auto settings =
        catalogue.default_settings(catalogue.find(kind_role::sensor, "disk_sensor"));
    const std::map<std::string, std::string> expected{
        {"host", ""},
        {"interval", "60"},
        {"ipversion", "IPv4"},
        {"logging", "disabled"},
        {"timeout", "60"},
        {"zarvelcloudapikey", ""},
        {"cred_section.shared_windows_credentials_group.domain", ""},
        {"cred_section.shared_windows_credentials_group.username", ""},
        {"cred_section.shared_windows_credentials_group.password", ""},
        {"cred_section.shared_windows_credentials_group.mode", "negotiate"},
        {"compat_section.shared_windows_compatibility_group.port", "5985"},
        {"compat_section.shared_windows_compatibility_group.protocol", "http"},
        {"found_section.found_group.name", ""},
        {"found_section.found_group.label", "none"},
    };
    EXPECT_EQ(settings, expected);
    // The meta-scan itself needs only its own sections.
    EXPECT_EQ(catalogue.default_settings(catalogue.find(kind_role::metascan, "disk_metascan"))
                  .count("found_section.found_group.name"),
              0u);
}

TEST(build_settings, target_options_then_assignments_in_order) {
    const module_catalogue catalogue(real_key_document());
    const auto& kind = catalogue.find(kind_role::sensor, "disk_sensor");
    target_options target{"192.0.2.7", std::nullopt, true, "CORP", "monitor", "s3cret"};
    const auto settings = build_settings(
        catalogue, kind, target, {"found_section.found_group.name=C:=x", "timeout=5", "timeout=7"});
    const std::string cred = credentials_prefix;
    const std::string compat = compatibility_prefix;
    EXPECT_EQ(settings.at("host"), "192.0.2.7");
    EXPECT_EQ(settings.at(cred + "domain"), "CORP");
    EXPECT_EQ(settings.at(cred + "username"), "monitor");
    EXPECT_EQ(settings.at(cred + "password"), "s3cret");
    EXPECT_EQ(settings.at(compat + "protocol"), "https");
    EXPECT_EQ(settings.at(compat + "port"), "5986");  // the HTTPS port unless --port says else
    EXPECT_EQ(settings.at("found_section.found_group.name"), "C:=x");
    EXPECT_EQ(settings.at("timeout"), "7");

    EXPECT_EQ(settings.at("ipversion"), "IPv4");
    target_options v6;
    v6.host = "2001:db8::7";
    EXPECT_EQ(build_settings(catalogue, kind, v6, {}).at("ipversion"), "IPv6");
    EXPECT_EQ(build_settings(catalogue, kind, v6, {"ipversion=IPv4"}).at("ipversion"), "IPv4");

    target.port = 443;
    EXPECT_EQ(build_settings(catalogue, kind, target, {}).at(compat + "port"), "443");
    EXPECT_EQ(build_settings(catalogue, kind, target, {compat + "port=8080"}).at(compat + "port"),
              "8080");
}

TEST(build_settings, refuses_unknown_keys_secrets_and_malformed_assignments) {
    const module_catalogue catalogue(real_key_document());
    const auto& kind = catalogue.find(kind_role::sensor, "disk_sensor");
    const std::vector<std::string> bad = {
        "nosuch=1",
        "found_section.found_group.nam=C:",
        "novalue",
        "=5",
        std::string(credentials_prefix) + "password=hunter2",
        "zarvelcloudapikey=abc",
    };
    for (const auto& assignment : bad) {
        try {
            build_settings(catalogue, kind, {}, {assignment});
            ADD_FAILURE() << "accepted " << assignment;
        } catch (const usage_error& e) {
            // A refused secret is never repeated back.
            EXPECT_EQ(std::string(e.what()).find("hunter2"), std::string::npos);
            EXPECT_EQ(std::string(e.what()).find("=abc"), std::string::npos);
        }
    }
}

TEST(is_secret_key, follows_the_masking_rule) {
    const std::pair<std::string, bool> rows[] = {
        {"a.b.password", true},       {"a.b.db_password", true},  {"zarvelcloudapikey", true},
        {"x.client_secret", true},    {"x.apikey", true},         {"x.refresh_token", true},
        {"a.b.password_hint", false}, {"a.password.name", false}, {"host", false},
        {"x.tokens", false},
    };
    for (const auto& [key, secret] : rows) {
        EXPECT_EQ(is_secret_key(key), secret) << key;
    }
}

TEST(settings_document, has_the_protocol_members_with_string_values) {
    const auto text = settings_document("disk_sensor", {{"port", "5985"}},
                                        {{0, "channel.total"}, {-3, "x"}}, {{"k", "v"}});
    const json parsed = json::parse(text);
    EXPECT_EQ(parsed.at("kind"), "disk_sensor");
    EXPECT_EQ(parsed.at("settings"), (json{{"port", "5985"}}));
    EXPECT_EQ(parsed.at("channels"), (json{{"0", "channel.total"}, {"-3", "x"}}));
    EXPECT_EQ(parsed.at("persistent_data"), (json{{"k", "v"}}));
}

TEST(read_password, file_first_line_then_environment) {
    const auto file = std::filesystem::temp_directory_path() / "wmiprobe_password_test";
    {
        std::ofstream out(file);
        out << "pa ss\r\nsecond line\n";
    }
    setenv("WMIPROBE_PASSWORD", "from-env", 1);
    EXPECT_EQ(read_password(file.string()), "pa ss");
    EXPECT_EQ(read_password(std::nullopt), "from-env");
    unsetenv("WMIPROBE_PASSWORD");
    EXPECT_EQ(read_password(std::nullopt), "");
    std::filesystem::remove(file);
    EXPECT_THROW(read_password(file.string()), usage_error);
}

}  // namespace
