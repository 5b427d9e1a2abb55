#pragma once

#include <string>

namespace liblog {

// Diagnostic sink. The caller builds each line completely and writes it with one call.
// Levels: 7 diagnostics, 0 failures (the host decides what the numbers mean).
class log_interface {
public:
    virtual ~log_interface() = default;
    virtual void log(int level, const std::string& message) = 0;
};

class null_logger final : public log_interface {
public:
    void log(int, const std::string&) override {}
};

}  // namespace liblog
