#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// A host that knows libwmi.so only by path: dlopen, the ten exports and the callback.
namespace e2e {

using callback_t = void (*)(std::uint64_t, void*, unsigned int);

inline constexpr std::uint64_t host_context = 0x1234567890ULL;

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

inline void bind_all(void* library, module_api& api) {
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
}

// Every message the module delivered, parsed, in arrival order.
class inbox {
public:
    static inbox& instance() {
        static inbox box;
        return box;
    }
    void add(nlohmann::json message) {
        std::lock_guard lock(mutex_);
        messages_.push_back(std::move(message));
    }
    std::vector<nlohmann::json> all() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::vector<nlohmann::json> of_type(const std::string& type) const {
        std::vector<nlohmann::json> found;
        for (const auto& m : all()) {
            if (m.at("type") == type) found.push_back(m);
        }
        return found;
    }

private:
    mutable std::mutex mutex_;
    std::vector<nlohmann::json> messages_;
};

inline void host_callback(std::uint64_t context, void* data, unsigned int size) {
    EXPECT_EQ(context, host_context);
    const auto* bytes = static_cast<const char*>(data);
    inbox::instance().add(nlohmann::json::parse(bytes, bytes + size));
}

}  // namespace e2e
