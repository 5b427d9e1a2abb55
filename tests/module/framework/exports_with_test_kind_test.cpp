#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "frame/exports.hpp"
#include "frame/module_access.hpp"
#include "test_kinds.hpp"
#include "test_support.hpp"

namespace {

using nlohmann::json;

test_support::message_recorder inbox;

void host(std::uint64_t, void* data, unsigned int size) { inbox.deliver(data, size); }

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
        ASSERT_EQ(InitializeModule(1, &host), 0);
        auto& dispatcher = *wmi::frame::current_module()->module()->dispatcher();
        dispatcher.register_sensor_as<test_kinds::probe_sensor>("test_probe_sensor");
        dispatcher.register_meta_as<test_kinds::probe_metascan>("test_probe_metascan");
    }
    void TearDown() override { CleanupModule(); }
};

// Settings errors reach the host as documented errors, and nothing is created.
TEST_F(exports_with_test_kind, bad_settings_are_an_error_message_for_the_host) {
    const std::string port =
        "shared_windows_compatibility_section.shared_windows_compatibility_group.port";
    EXPECT_EQ(create(2, document("test_probe_sensor", {{port, "65536"}})), 6);
    EXPECT_EQ(inbox.of_type("sensor_create_error").back().at("message").at("text"),
              "Setting value 65536 is bigger than the allowed value of 65535.");
    EXPECT_EQ(ExecuteSensorScan(2), 8);

    const std::string check = document("wsman_check", {{port, "0"}});
    EXPECT_EQ(ExecuteCheck(5, check.data(), static_cast<unsigned>(check.size())), 6);
    EXPECT_EQ(inbox.of_type("check_result").back().at("message").at("text"),
              "Setting value 0 is less than the allowed value of 1.");

    const std::string meta = document("test_probe_metascan", {{"host", "i18n"}});
    EXPECT_EQ(ExecuteMetaScan(5, 77, meta.data(), static_cast<unsigned>(meta.size())), 0);
    EXPECT_EQ(inbox.of_type("meta_scan_result").back().at("response_code"), 5);
    EXPECT_EQ(inbox.of_type("meta_scan_result").back().at("request"), 77);
}

// The export is the last barrier: what the scan wrapper lets through becomes 2.
TEST_F(exports_with_test_kind, a_scan_that_throws_something_else_returns_2) {
    ASSERT_EQ(create(6, document("test_probe_sensor", {{"host", "other"}})), 0);
    EXPECT_EQ(ExecuteSensorScan(6), 2);
    EXPECT_EQ(DestroySensorInstance(6), 0);
}

}  // namespace
