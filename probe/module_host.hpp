#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace wmiprobe {

// Loading the module or a broken answer of it; the probe maps this to exit code 2.
class module_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Export return values besides the response codes of each operation.
inline constexpr int export_exception = 2;
inline constexpr int export_no_module = 3;

// What one export call produced: its return value and every message the module sent on the
// calling thread while the call ran, in arrival order.
struct call_outcome {
    int code = 0;
    std::vector<nlohmann::json> messages;
    // The same messages as the module sent them, byte for byte.
    std::vector<std::string> raw_messages;
};

// Called for every message as it arrives (on the thread of the export call), before the call
// returns; used for live progress lines.
using message_observer = std::function<void(const nlohmann::json&)>;

// The module library seen through its ten exports only, as a probe loads it. One instance per
// process: it owns the module between InitializeModule and CleanupModule. Export calls other
// than construction and destruction may run on any number of threads at once; each call's
// messages are collected for that call alone, because the module delivers them on the
// calling thread.
class module_host {
public:
    explicit module_host(const std::filesystem::path& library);
    ~module_host();
    module_host(const module_host&) = delete;
    module_host& operator=(const module_host&) = delete;

    int api_level() const;
    // The raw module_information message (two-call protocol of GetModuleInformationSync).
    std::string module_information(bool include_text) const;

    call_outcome create_sensor(int sensor_id, const std::string& settings_document,
                               const message_observer& observer = {});
    call_outcome destroy_sensor(int sensor_id, const message_observer& observer = {});
    call_outcome scan_sensor(int sensor_id, const message_observer& observer = {});
    call_outcome meta_scan(int sensor_id, unsigned int request,
                           const std::string& settings_document,
                           const message_observer& observer = {});
    call_outcome check(int sensor_id, const std::string& settings_document,
                       const message_observer& observer = {});

    // Messages that arrived outside any export call of this host (should stay empty); also
    // texts of messages that were not valid JSON.
    std::vector<std::string> stray_messages() const;

    // The address of any dynamic symbol of the library, or nullptr; for checks that nothing
    // but the ten exports is visible.
    void* symbol(const char* name) const;

private:
    struct exports;
    call_outcome run(const std::function<int()>& call, const message_observer& observer);
    static void callback(std::uint64_t context, void* data, unsigned int size);

    void* library_ = nullptr;
    std::unique_ptr<exports> api_;
    bool initialized_ = false;
    mutable std::mutex stray_mutex_;
    std::vector<std::string> stray_;
};

// Where the probe looks for the module when no path is given: next to its own executable.
std::filesystem::path default_module_path();

}  // namespace wmiprobe
