#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "frame/exports.hpp"
#include "frame/module_access.hpp"
#include "test_kinds.hpp"

namespace {

using nlohmann::json;

std::vector<json> inbox;

void host(std::uint64_t, void* data, unsigned int size) {
    const auto* bytes = static_cast<const char*>(data);
    inbox.push_back(json::parse(bytes, bytes + size));
}

const std::string cred = "shared_windows_credentials_section.shared_windows_credentials_group.";
const std::string compat =
    "shared_windows_compatibility_section.shared_windows_compatibility_group.";

json good_settings(const std::string& host_mode = "ok") {
    return {{"host", host_mode},
            {"logging", "disabled"},
            {"timeout", "60"},
            {"ipversion", "IPv4"},
            {"interval", "60"},
            {cred + "domain", ""},
            {cred + "username", "monitor"},
            {cred + "password", "hunter2"},
            {cred + "mode", "negotiate"},
            {compat + "port", "5985"},
            {compat + "protocol", "http"},
            {"service_section.service_group.extended_monitoring", "disabled"}};
}

int create(int id, const json& settings, const std::string& kind = "test_probe_sensor") {
    const std::string doc = json{{"kind", kind}, {"settings", settings}}.dump();
    return CreateSensorInstance(id, doc.data(), static_cast<unsigned int>(doc.size()));
}

std::vector<json> of_type(const std::string& type) {
    std::vector<json> found;
    for (const auto& m : inbox) {
        if (m.at("type") == type) found.push_back(m);
    }
    return found;
}

class exports_with_test_kind : public ::testing::Test {
protected:
    void SetUp() override {
        inbox.clear();
        ASSERT_EQ(InitializeModule(1, &host), 0);
        auto& dispatcher = *wmi::frame::current_module()->module()->dispatcher();
        dispatcher.register_sensor_as<test_kinds::probe_sensor>("test_probe_sensor");
        dispatcher.register_meta_as<test_kinds::probe_metascan>("test_probe_metascan");
        dispatcher.register_check_as<test_kinds::probe_check>("test_probe_check");
    }
    void TearDown() override { CleanupModule(); }
};

TEST_F(exports_with_test_kind, good_settings_create_a_sensor_that_answers_each_scan_once) {
    ASSERT_EQ(create(3, good_settings()), 0);
    EXPECT_EQ(of_type("dynamic_channel").size(), 2u);
    for (int scan = 1; scan <= 3; ++scan) {
        const auto before = of_type("sensor_scan_result").size();
        EXPECT_EQ(ExecuteSensorScan(3), 0);
        const auto results = of_type("sensor_scan_result");
        ASSERT_EQ(results.size(), before + 1);
        EXPECT_EQ(results.back().at("channels").at(0).at("value"), scan);
    }
    EXPECT_EQ(create(3, good_settings()), 4);  // duplicate id
    EXPECT_EQ(DestroySensorInstance(3), 0);
    EXPECT_EQ(ExecuteSensorScan(3), 8);
    // No message carries the password.
    for (const auto& m : inbox) EXPECT_EQ(m.dump().find("hunter2"), std::string::npos);
}

TEST_F(exports_with_test_kind, each_bad_value_is_a_documented_error_reaching_the_host) {
    struct row {
        std::string key;
        std::optional<std::string> value;  // nullopt: leave the key out
        std::string text;
    };
    const std::vector<row> rows{
        {compat + "port", "65536",
         "Setting value 65536 is bigger than the allowed value of 65535."},
        {compat + "protocol", "HTTPS",
         "Value \"HTTPS\" could not be parsed into selection type \"protocol\"."},
        {"ipversion", "ipv4",
         "Value \"ipv4\" could not be parsed into selection type \"ipversion\"."},
        {"service_section.service_group.extended_monitoring", "on",
         "Value \"on\" could not be parsed into selection type \"extended_monitoring\"."},
        {cred + "username", std::nullopt,
         "The setting \"" + cred + "username\" was not available."},
    };
    ASSERT_EQ(create(1, good_settings()), 0);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.key);
        json settings = good_settings();
        if (r.value) {
            settings[r.key] = *r.value;
        } else {
            settings.erase(r.key);
        }
        EXPECT_EQ(create(2, settings), 6);
        const auto errors = of_type("sensor_create_error");
        ASSERT_FALSE(errors.empty());
        const auto& error = errors.back();
        EXPECT_EQ(error.at("sensor_id"), 2);
        EXPECT_EQ(error.at("response_code"), 6);
        EXPECT_EQ(error.at("message").at("text"), r.text);
        EXPECT_EQ(ExecuteSensorScan(2), 8);  // nothing was created
    }
    // The good sensor is undisturbed.
    EXPECT_EQ(ExecuteSensorScan(1), 0);
}

TEST_F(exports_with_test_kind, meta_scan_and_check_through_the_exports) {
    const std::string meta =
        json{{"kind", "test_probe_metascan"}, {"settings", good_settings("i18n")}}.dump();
    EXPECT_EQ(ExecuteMetaScan(5, 77, meta.data(), static_cast<unsigned>(meta.size())), 0);
    const auto result = of_type("meta_scan_result").back();
    EXPECT_EQ(result.at("response_code"), 5);
    EXPECT_EQ(result.at("request"), 77);

    const std::string check =
        json{{"kind", "test_probe_check"}, {"settings", good_settings()}}.dump();
    EXPECT_EQ(ExecuteCheck(5, check.data(), static_cast<unsigned>(check.size())), 0);
    EXPECT_EQ(of_type("check_result").back().at("success"), true);

    json bad = good_settings();
    bad[compat + "port"] = "0";
    const std::string bad_check = json{{"kind", "test_probe_check"}, {"settings", bad}}.dump();
    EXPECT_EQ(ExecuteCheck(5, bad_check.data(), static_cast<unsigned>(bad_check.size())), 6);
    EXPECT_EQ(of_type("check_result").back().at("message").at("text"),
              "Setting value 0 is less than the allowed value of 1.");
}

TEST_F(exports_with_test_kind, a_scan_that_throws_something_else_returns_2) {
    ASSERT_EQ(create(6, good_settings("other")), 0);
    EXPECT_EQ(ExecuteSensorScan(6), 2);
    EXPECT_EQ(DestroySensorInstance(6), 0);
}

}  // namespace
