#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "frame/exports.hpp"
#include "frame/module_access.hpp"
#include "test_kinds.hpp"
#include "test_support.hpp"

namespace {

void host(std::uint64_t, void*, unsigned int) {}

// The export is the last barrier: what the scan wrapper lets through becomes 2, and the sensor
// stays usable.
TEST(exports_with_test_kind, a_scan_that_throws_something_else_returns_2) {
    ASSERT_EQ(InitializeModule(1, &host), 0);
    wmi::frame::current_module()
        ->module()
        ->dispatcher()
        ->register_sensor_as<test_kinds::probe_sensor>("test_probe_sensor");
    const std::string doc = test_support::settings_document(
        "test_probe_sensor", test_kinds::settings({{"logging", "disabled"}, {"host", "other"}}));
    ASSERT_EQ(CreateSensorInstance(6, doc.data(), static_cast<unsigned int>(doc.size())), 0);
    EXPECT_EQ(ExecuteSensorScan(6), 2);
    EXPECT_EQ(DestroySensorInstance(6), 0);
    EXPECT_EQ(CleanupModule(), 0);
}

}  // namespace
