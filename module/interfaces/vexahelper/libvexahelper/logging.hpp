#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "liblog/log.hpp"
#include "libvexahelper/export.hpp"

namespace libvexahelper {
class service_container;
}

namespace libvexahelper::logging {

// Where the runtime log ("runtime.log") and the sensor logs ("sensors/sensor_<id>.log") go.
// The host chooses the directory with the environment variable VEXA_LOG_DIR, read when the
// first log is registered, or with set_log_directory. Without a directory nothing is written.
VEXAHELPER_API void set_log_directory(const std::filesystem::path& directory);
VEXAHELPER_API std::filesystem::path log_directory();

// Appends "<UTC time> [<level>] <message>" lines to one file; lines of concurrent writers never
// interleave, also when several logs share a file.
class VEXAHELPER_API file_log : public liblog::log_interface {
public:
    explicit file_log(const std::filesystem::path& file);
    ~file_log() override;
    void log(int level, const std::string& message) override;

    struct sink;

private:
    std::shared_ptr<sink> sink_;
};

// The log of one sensor id; every sensor, meta-scan and check of that id writes to the same
// file.
class VEXAHELPER_API sensor_log : public file_log {
public:
    sensor_log(const std::filesystem::path& directory, int sensor_id);
    int sensor_id() const { return sensor_id_; }

private:
    int sensor_id_;
};

}  // namespace libvexahelper::logging

namespace libvexahelper {

// Puts the module-wide log_interface into the container's instance store.
VEXAHELPER_API void register_runtime_log(service_container& container);
// Puts a factory (int sensor id) -> std::unique_ptr<logging::sensor_log> into the container.
VEXAHELPER_API void register_sensor_log(service_container& container);

}  // namespace libvexahelper
