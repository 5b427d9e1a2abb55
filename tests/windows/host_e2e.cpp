// A Windows host of the module: loads wmi.dll by its full path, binds the ten exports and drives
// them against the simulated target that run_host_e2e.sh started (WMI_E2E_PORT, WMI_E2E_DLL).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "valid_settings.hpp"

namespace {

using nlohmann::json;
using callback_t = void(__cdecl*)(std::uint64_t, void*, unsigned int);

std::mutex received_mutex;
std::vector<json> received;

void __cdecl collect(std::uint64_t, void* data, unsigned int size) {
    std::lock_guard lock(received_mutex);
    received.push_back(
        json::parse(std::string(static_cast<const char*>(data), size), nullptr, false));
}

// The messages of `type` the module sent since the last call.
std::vector<json> take(const std::string& type) {
    std::lock_guard lock(received_mutex);
    std::vector<json> found;
    for (const auto& m : received) {
        if (m.is_object() && m.value("type", "") == type) found.push_back(m);
    }
    received.clear();
    return found;
}

template <typename F>
F bind(HMODULE module, const char* name) {
    auto* address = GetProcAddress(module, name);
    if (address == nullptr) throw std::runtime_error(std::string("wmi.dll lacks ") + name);
    return reinterpret_cast<F>(reinterpret_cast<void*>(address));
}

std::string document(const std::string& kind, const std::string& password) {
    const char* port = std::getenv("WMI_E2E_PORT");
    const auto settings =
        test_kinds::settings({{"host", "127.0.0.1"},
                              {"logging", "disabled"},
                              {test_kinds::compatibility + "port", port ? port : ""},
                              {test_kinds::credentials + "password", password}});
    return json{{"kind", kind},
                {"settings", settings},
                {"channels", json::object()},
                {"persistent_data", json::object()}}
        .dump();
}

TEST(windows_host, check_and_sensor_through_the_exports_over_sealed_ntlm) {
    const char* path = std::getenv("WMI_E2E_DLL");
    ASSERT_NE(path, nullptr);
    const std::wstring wide(path, path + std::char_traits<char>::length(path));
    HMODULE module = LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(module, nullptr) << "cannot load " << path << ": error " << GetLastError();

    const auto api_level = bind<int(__cdecl*)()>(module, "GetApiLevel");
    const auto initialize =
        bind<int(__cdecl*)(std::uint64_t, callback_t)>(module, "InitializeModule");
    const auto check = bind<int(__cdecl*)(int, const void*, unsigned)>(module, "ExecuteCheck");
    const auto create =
        bind<int(__cdecl*)(int, const void*, unsigned)>(module, "CreateSensorInstance");
    const auto scan = bind<int(__cdecl*)(int)>(module, "ExecuteSensorScan");
    const auto destroy = bind<int(__cdecl*)(int)>(module, "DestroySensorInstance");
    const auto cleanup = bind<int(__cdecl*)()>(module, "CleanupModule");
    EXPECT_EQ(api_level(), 6);
    ASSERT_EQ(initialize(7, &collect), 0);

    for (const auto& [password, success] : {std::pair{"Secret-1", true}, {"wrong", false}}) {
        const auto settings = document("wsman_check", password);
        EXPECT_EQ(check(1, settings.data(), static_cast<unsigned>(settings.size())), 0);
        const auto results = take("check_result");
        ASSERT_EQ(results.size(), 1u) << password;
        EXPECT_EQ(results[0].value("success", !success), success) << results[0].dump();
    }

    const auto settings = document("memory_sensor", "Secret-1");
    ASSERT_EQ(create(10, settings.data(), static_cast<unsigned>(settings.size())), 0);
    take("sensor_scan_result");
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(scan(10), 0);
        const auto results = take("sensor_scan_result");
        ASSERT_EQ(results.size(), 1u) << round;
        ASSERT_EQ(results[0].at("response_code"), 0) << results[0].dump();
        std::map<int, double> memory;
        for (const auto& c : results[0].at("channels")) memory[c.at("id")] = c.at("value");
        // Free and used percentages add up; the available bytes are known.
        EXPECT_NEAR(memory.at(0) + memory.at(2), 100.0, 1e-9);
        EXPECT_GT(memory.at(3), 0.0);
    }
    EXPECT_EQ(destroy(10), 0);
    EXPECT_EQ(cleanup(), 0);
    FreeLibrary(module);
}

}  // namespace
