#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "liblog/log.hpp"

namespace test_support {

struct log_line {
    int level;
    std::string text;
    bool operator==(const log_line&) const = default;
};

// Keeps every line written through it, from any thread, in order.
class recording_log final : public liblog::log_interface {
public:
    void log(int level, const std::string& message) override {
        std::lock_guard lock(mutex_);
        lines_.push_back({level, message});
    }
    std::vector<log_line> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // Whether any line contains `text`: for what must (or must never) be logged.
    bool contains(const std::string& text) const {
        for (const auto& l : lines()) {
            if (l.text.find(text) != std::string::npos) return true;
        }
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<log_line> lines_;
};

}  // namespace test_support
