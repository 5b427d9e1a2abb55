#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "log_folder.hpp"
#include "module_host.hpp"
#include "test_support.hpp"
#include "valid_settings.hpp"

namespace {

using nlohmann::json;

// A host chooses the log folder with VEXA_LOG_DIR before it loads the module. The module reads
// it once per process, so this test comes first in the file.
TEST(e2e_host, logs_land_in_the_folder_the_host_names) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("wmi_vexa_log_dir_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    ::setenv("VEXA_LOG_DIR", dir.c_str(), 1);
    {
        wmiprobe::module_host host(LIBWMI_PATH);
        ASSERT_EQ(host.create_sensor(7, test_support::settings_document("memory_sensor",
                                                                        test_kinds::settings()))
                      .code,
                  0);
    }
    ::unsetenv("VEXA_LOG_DIR");
    const auto runtime = test_support::read_log(dir / "runtime.log");
    ASSERT_FALSE(runtime.empty());
    EXPECT_EQ(
        runtime.front().text,
        "### Begin libvexahelper::module::module_instance_adapter::create_sensor_instance ###");
    const auto sensor = test_support::read_log(dir / "sensors" / "sensor_7.log");
    ASSERT_GE(sensor.size(), 2u);
    EXPECT_EQ(sensor[1].text, "WMI Memory v2 version is: 1.21.0.22799");
    std::filesystem::remove_all(dir);
}

TEST(e2e_host, loads_the_module_and_drives_only_the_exports) {
    wmiprobe::module_host host(LIBWMI_PATH);
    // Internal names stay hidden from the host.
    EXPECT_EQ(host.symbol("_ZN4wmi13VexaModuleWMID0Ev"), nullptr);
    EXPECT_NE(host.symbol("ExecuteSensorScan"), nullptr);
    EXPECT_EQ(host.api_level(), 6);
    EXPECT_FALSE(json::parse(host.module_information(false)).at("document").contains("Text"));
    EXPECT_TRUE(json::parse(host.module_information(true)).at("document").contains("Text"));

    // A failed create tells the host why, without the secrets it was given.
    const auto outcome = host.create_sensor(
        3, test_support::settings_document("unknown_kind", test_kinds::settings()));
    EXPECT_EQ(outcome.code, 1);
    ASSERT_EQ(outcome.messages.size(), 1u);
    EXPECT_EQ(outcome.messages[0].at("type"), "sensor_create_error");
    EXPECT_EQ(outcome.raw_messages[0].find(test_kinds::password), std::string::npos);
    EXPECT_EQ(host.scan_sensor(3).code, 8);
    EXPECT_TRUE(host.stray_messages().empty());
}

}  // namespace
