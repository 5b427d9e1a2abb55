#include "libvexahelper/logging.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include "libvexahelper/service_container.hpp"

namespace libvexahelper::logging {

// One open file shared by every log writing to that path.
struct file_log::sink {
    std::mutex mutex;
    std::filesystem::path path;
    std::ofstream out;
};

namespace {

std::mutex directory_mutex;
std::optional<std::filesystem::path> directory;

std::mutex sinks_mutex;
std::map<std::filesystem::path, std::weak_ptr<file_log::sink>> sinks;

std::shared_ptr<file_log::sink> sink_for(const std::filesystem::path& path) {
    std::lock_guard lock(sinks_mutex);
    if (auto existing = sinks[path].lock()) return existing;
    std::erase_if(sinks, [](const auto& entry) { return entry.second.expired(); });
    auto created = std::make_shared<file_log::sink>();
    created->path = path;
    sinks[path] = created;
    return created;
}

// "2026-12-05 16:23:32.123456" in UTC; std::chrono calendar types, so no non-reentrant C time
// functions are involved.
std::string utc_timestamp() {
    using namespace std::chrono;
    const auto now = floor<microseconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day ymd{day};
    const hh_mm_ss hms{now - day};
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u %02d:%02d:%02d.%06lld",
                  static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()), static_cast<int>(hms.hours().count()),
                  static_cast<int>(hms.minutes().count()), static_cast<int>(hms.seconds().count()),
                  static_cast<long long>(hms.subseconds().count()));
    return buffer;
}

}  // namespace

void set_log_directory(const std::filesystem::path& dir) {
    std::lock_guard lock(directory_mutex);
    directory = dir;
}

std::filesystem::path log_directory() {
    std::lock_guard lock(directory_mutex);
    if (!directory) {
        const char* env = std::getenv("VEXA_LOG_DIR");
        directory = std::filesystem::path(env != nullptr ? env : "");
    }
    return *directory;
}

file_log::file_log(const std::filesystem::path& file) {
    if (!file.empty()) sink_ = sink_for(file);
}

file_log::~file_log() = default;

void file_log::log(int level, const std::string& message) {
    if (!sink_) return;
    const std::string line = utc_timestamp() + " [" + std::to_string(level) + "] " + message + "\n";
    std::lock_guard lock(sink_->mutex);
    if (!sink_->out.is_open()) {
        // A log must never fail its caller: an unwritable directory only loses the lines.
        std::error_code ignored;
        std::filesystem::create_directories(sink_->path.parent_path(), ignored);
        sink_->out.open(sink_->path, std::ios::app | std::ios::binary);
        if (!sink_->out.is_open()) return;
    }
    sink_->out << line;
    sink_->out.flush();
    if (!sink_->out) sink_->out.close();
}

namespace {
std::filesystem::path sensor_log_path(const std::filesystem::path& dir, int sensor_id) {
    if (dir.empty()) return {};
    return dir / "sensors" / ("sensor_" + std::to_string(sensor_id) + ".log");
}
}  // namespace

sensor_log::sensor_log(const std::filesystem::path& dir, int sensor_id)
    : file_log(sensor_log_path(dir, sensor_id)), sensor_id_(sensor_id) {}

}  // namespace libvexahelper::logging

namespace libvexahelper {

void register_runtime_log(service_container& container) {
    const auto dir = logging::log_directory();
    std::shared_ptr<liblog::log_interface> log;
    if (dir.empty()) {
        log = std::make_shared<liblog::null_logger>();
    } else {
        log = std::make_shared<logging::file_log>(dir / "runtime.log");
    }
    container.register_instance<liblog::log_interface>(std::move(log));
}

void register_sensor_log(service_container& container) {
    // The directory is fixed when the module starts, so all logs of one run stay together.
    container.register_factory<logging::sensor_log, int>(
        [dir = logging::log_directory()](int sensor_id) {
            return std::make_unique<logging::sensor_log>(dir, sensor_id);
        });
}

}  // namespace libvexahelper
