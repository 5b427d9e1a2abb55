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
    }
    void TearDown() override { CleanupModule(); }
};

// The export is the last barrier: what the scan wrapper lets through becomes 2.
TEST_F(exports_with_test_kind, a_scan_that_throws_something_else_returns_2) {
    ASSERT_EQ(create(6, document("test_probe_sensor", {{"host", "other"}})), 0);
    EXPECT_EQ(ExecuteSensorScan(6), 2);
    EXPECT_EQ(DestroySensorInstance(6), 0);
}

}  // namespace
