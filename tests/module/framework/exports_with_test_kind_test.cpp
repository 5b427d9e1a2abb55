#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "frame/exports.hpp"
#include "frame/module_access.hpp"
#include "test_kinds.hpp"
#include "test_support.hpp"

namespace {

using nlohmann::json;

std::mutex inbox_mutex;
std::vector<json> inbox;

void host(std::uint64_t, void* data, unsigned int size) {
    const auto* bytes = static_cast<const char*>(data);
    auto message = json::parse(bytes, bytes + size);
    std::lock_guard lock(inbox_mutex);
    inbox.push_back(std::move(message));
}

std::vector<json> of_type(const std::string& type) {
    std::lock_guard lock(inbox_mutex);
    std::vector<json> found;
    for (const auto& m : inbox) {
        if (m.at("type") == type) found.push_back(m);
    }
    return found;
}

std::string document(const std::string& kind, const json& overrides = json::object()) {
    auto settings = test_kinds::settings({{"logging", "disabled"}, {"host", "ok"}});
    settings.update(overrides);
    return test_support::settings_document(kind, settings);
}

int create(int id, const std::string& doc) {
    return CreateSensorInstance(id, doc.data(), static_cast<unsigned int>(doc.size()));
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

TEST_F(exports_with_test_kind, a_sensor_lives_from_create_to_destroy_and_answers_each_scan_once) {
    ASSERT_EQ(create(3, document("test_probe_sensor")), 0);
    for (int scan = 1; scan <= 3; ++scan) {
        EXPECT_EQ(ExecuteSensorScan(3), 0);
        const auto results = of_type("sensor_scan_result");
        ASSERT_EQ(results.size(), static_cast<std::size_t>(scan));
        EXPECT_EQ(results.back().at("channels").at(0).at("value"), scan);
    }
    EXPECT_EQ(create(3, document("test_probe_sensor")), 4);  // duplicate id
    EXPECT_EQ(DestroySensorInstance(3), 0);
    EXPECT_EQ(ExecuteSensorScan(3), 8);
    for (const auto& m : inbox) EXPECT_EQ(m.dump().find(test_kinds::password), std::string::npos);
}

// Settings errors reach the host as documented errors, and nothing is created.
TEST_F(exports_with_test_kind, bad_settings_are_an_error_message_for_the_host) {
    const std::string port =
        "shared_windows_compatibility_section.shared_windows_compatibility_group.port";
    EXPECT_EQ(create(2, document("test_probe_sensor", {{port, "65536"}})), 6);
    EXPECT_EQ(of_type("sensor_create_error").back().at("message").at("text"),
              "Setting value 65536 is bigger than the allowed value of 65535.");
    EXPECT_EQ(ExecuteSensorScan(2), 8);

    const std::string check = document("test_probe_check", {{port, "0"}});
    EXPECT_EQ(ExecuteCheck(5, check.data(), static_cast<unsigned>(check.size())), 6);
    EXPECT_EQ(of_type("check_result").back().at("message").at("text"),
              "Setting value 0 is less than the allowed value of 1.");

    const std::string meta = document("test_probe_metascan", {{"host", "i18n"}});
    EXPECT_EQ(ExecuteMetaScan(5, 77, meta.data(), static_cast<unsigned>(meta.size())), 0);
    EXPECT_EQ(of_type("meta_scan_result").back().at("response_code"), 5);
    EXPECT_EQ(of_type("meta_scan_result").back().at("request"), 77);
}

// The export is the last barrier: what the scan wrapper lets through becomes 2.
TEST_F(exports_with_test_kind, a_scan_that_throws_something_else_returns_2) {
    ASSERT_EQ(create(6, document("test_probe_sensor", {{"host", "other"}})), 0);
    EXPECT_EQ(ExecuteSensorScan(6), 2);
    EXPECT_EQ(DestroySensorInstance(6), 0);
}

}  // namespace
