#include "serve_log.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <ostream>

namespace wmiprobe {

std::optional<log_level> parse_log_level(const std::string& text) {
    if (text == "error") return log_level::error;
    if (text == "warn") return log_level::warn;
    if (text == "info") return log_level::info;
    if (text == "debug") return log_level::debug;
    return std::nullopt;
}

void serve_log::write(log_level level, const std::string& text) {
    if (!enabled(level)) return;
    static constexpr const char* names[] = {"error", "warn", "info", "debug"};
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    // One line per event: a message that spans lines keeps them on this one.
    std::string line = text;
    for (auto& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    std::lock_guard lock(mutex_);
    out_ << stamp << " [" << names[static_cast<int>(level)] << "] " << line << "\n" << std::flush;
}

}  // namespace wmiprobe
