#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "module_host.hpp"

namespace {

using nlohmann::json;

// The probe's host: dlopen, the ten exports bound by name, the callback collecting each call's
// messages on the calling thread.
TEST(e2e_host, loads_the_module_and_drives_only_the_exports) {
    wmiprobe::module_host host(LIBWMI_PATH);
    // Internal names stay hidden from the host.
    EXPECT_EQ(host.symbol("_ZN4wmi13VexaModuleWMID0Ev"), nullptr);
    EXPECT_NE(host.symbol("ExecuteSensorScan"), nullptr);
    EXPECT_EQ(host.api_level(), 6);

    const json info = json::parse(host.module_information(false));
    EXPECT_EQ(info.at("type"), "module_information");
    EXPECT_EQ(info.at("document").at("MetaData").at("Name"), "wmi");
    EXPECT_EQ(info.at("document").at("Revision"), 15);
    EXPECT_FALSE(info.at("document").contains("Text"));
    EXPECT_TRUE(json::parse(host.module_information(true)).at("document").contains("Text"));

    // Requests from several host threads at once, each answered on its own thread.
    const std::string doc =
        R"({"kind":"unknown_kind","settings":{"shared_windows_credentials_section.shared_windows_credentials_group.password":"hunter2"}})";
    std::vector<std::thread> threads;
    std::vector<wmiprobe::call_outcome> creates(4);
    std::vector<int> scans(4, -1);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            creates[t] = host.create_sensor(t, doc);
            scans[t] = host.scan_sensor(t).code;
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(creates[t].code, 1);
        EXPECT_EQ(scans[t], 8);
        ASSERT_EQ(creates[t].messages.size(), 1u);
        const auto& m = creates[t].messages.front();
        EXPECT_EQ(m.at("type"), "sensor_create_error");
        EXPECT_EQ(m.at("sensor_id"), t);
        EXPECT_EQ(m.at("response_code"), 1);
        EXPECT_EQ(m.dump().find("hunter2"), std::string::npos);
    }
    EXPECT_TRUE(host.stray_messages().empty());
}

TEST(e2e_host, a_second_host_starts_a_fresh_module) {
    // CleanupModule in the first host's destructor lets the next InitializeModule succeed.
    { wmiprobe::module_host first(LIBWMI_PATH); }
    wmiprobe::module_host second(LIBWMI_PATH);
    EXPECT_EQ(second.destroy_sensor(1).code, 8);
}

}  // namespace
