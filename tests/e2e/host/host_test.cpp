#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "host.hpp"

namespace {

using e2e::module_api;
using nlohmann::json;

TEST(e2e_host, loads_the_module_and_drives_only_the_exports) {
    void* library = dlopen(LIBWMI_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    module_api api{};
    e2e::bind_all(library, api);
    // Internal names stay hidden from the host.
    EXPECT_EQ(dlsym(library, "_ZN4wmi13VexaModuleWMID0Ev"), nullptr);

    EXPECT_EQ(api.GetApiLevel(), 6);
    ASSERT_EQ(api.InitializeModule(e2e::host_context, &e2e::host_callback), 0);

    unsigned int size = 0;
    ASSERT_EQ(api.GetModuleInformationSync(nullptr, &size, false), 0);
    std::string buffer(size, '\0');
    ASSERT_EQ(api.GetModuleInformationSync(buffer.data(), &size, false), 0);
    const json info = json::parse(buffer);
    EXPECT_EQ(info.at("document").at("MetaData").at("Name"), "wmi");
    EXPECT_EQ(info.at("document").at("Revision"), 15);

    // Requests from several host threads at once, each answered on its own thread.
    const std::string doc =
        R"({"kind":"unknown_kind","settings":{"shared_windows_credentials_section.shared_windows_credentials_group.password":"hunter2"}})";
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            EXPECT_EQ(api.CreateSensorInstance(t, doc.data(), static_cast<unsigned>(doc.size())),
                      1);
            EXPECT_EQ(api.ExecuteSensorScan(t), 8);
        });
    }
    for (auto& th : threads) th.join();
    {
        const auto inbox = e2e::inbox::instance().all();
        ASSERT_EQ(inbox.size(), 4u);
        for (const auto& m : inbox) {
            EXPECT_EQ(m.at("type"), "sensor_create_error");
            EXPECT_EQ(m.at("response_code"), 1);
            EXPECT_EQ(m.dump().find("hunter2"), std::string::npos);
        }
    }

    EXPECT_EQ(api.CleanupModule(), 0);
    EXPECT_EQ(api.ExecuteSensorScan(0), 3);
    EXPECT_EQ(dlclose(library), 0);
}

}  // namespace
