#pragma once

#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>

namespace wmiprobe {

enum class log_level { error, warn, info, debug };

// "error", "warn", "info" or "debug"; nothing for another text.
std::optional<log_level> parse_log_level(const std::string& text);

// The serving host's log: one line per event, "2026-12-06T04:05:06.789Z [info] text", written
// whole under a lock so lines of different threads never interleave. Callers never pass a
// secret: texts are the module's messages (which mask secrets) and the host's own words.
class serve_log {
public:
    serve_log(std::ostream& out, log_level threshold) : out_(out), threshold_(threshold) {}

    bool enabled(log_level level) const { return level <= threshold_; }
    void write(log_level level, const std::string& text);
    void error(const std::string& text) { write(log_level::error, text); }
    void warn(const std::string& text) { write(log_level::warn, text); }
    void info(const std::string& text) { write(log_level::info, text); }
    void debug(const std::string& text) { write(log_level::debug, text); }

private:
    std::mutex mutex_;
    std::ostream& out_;
    log_level threshold_;
};

}  // namespace wmiprobe
