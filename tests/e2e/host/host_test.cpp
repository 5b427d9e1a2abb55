#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;
using callback_t = void (*)(std::uint64_t, void*, unsigned int);

// The entry points as a host in another language would bind them: by name, nothing else.
struct module_api {
    int (*GetApiLevel)();
    int (*InitializeModule)(std::uint64_t, callback_t);
    void (*GetModuleInformation)(bool);
    int (*GetModuleInformationSync)(char*, unsigned int*, bool);
    int (*CreateSensorInstance)(int, const void*, unsigned int);
    int (*DestroySensorInstance)(int);
    int (*ExecuteSensorScan)(int);
    int (*ExecuteMetaScan)(int, unsigned int, const void*, unsigned int);
    int (*ExecuteCheck)(int, const void*, unsigned int);
    int (*CleanupModule)();
};

template <typename F>
void bind(void* library, const char* name, F& target) {
    void* symbol = dlsym(library, name);
    ASSERT_NE(symbol, nullptr) << name;
    target = reinterpret_cast<F>(symbol);
}

std::mutex inbox_mutex;
std::vector<json> inbox;

void host_callback(std::uint64_t context, void* data, unsigned int size) {
    EXPECT_EQ(context, 0x1234567890ULL);
    const auto* bytes = static_cast<const char*>(data);
    auto message = json::parse(bytes, bytes + size);
    std::lock_guard lock(inbox_mutex);
    inbox.push_back(std::move(message));
}

TEST(e2e_host, loads_the_module_and_drives_only_the_exports) {
    void* library = dlopen(LIBWMI_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    module_api api{};
    bind(library, "GetApiLevel", api.GetApiLevel);
    bind(library, "InitializeModule", api.InitializeModule);
    bind(library, "GetModuleInformation", api.GetModuleInformation);
    bind(library, "GetModuleInformationSync", api.GetModuleInformationSync);
    bind(library, "CreateSensorInstance", api.CreateSensorInstance);
    bind(library, "DestroySensorInstance", api.DestroySensorInstance);
    bind(library, "ExecuteSensorScan", api.ExecuteSensorScan);
    bind(library, "ExecuteMetaScan", api.ExecuteMetaScan);
    bind(library, "ExecuteCheck", api.ExecuteCheck);
    bind(library, "CleanupModule", api.CleanupModule);
    // Internal names stay hidden from the host.
    EXPECT_EQ(dlsym(library, "_ZN4wmi13VexaModuleWMID0Ev"), nullptr);

    EXPECT_EQ(api.GetApiLevel(), 6);
    ASSERT_EQ(api.InitializeModule(0x1234567890ULL, &host_callback), 0);

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
        std::lock_guard lock(inbox_mutex);
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
