#pragma once

#include <string>

#include "libvexahelper/export.hpp"

// What the dispatcher needs of the objects it runs. The module's framework templates derive
// from these.
namespace libvexahelper {

namespace sensors {
class VEXAHELPER_API sensor_interface {
public:
    virtual ~sensor_interface();
    virtual int get_id() const = 0;
    virtual void log(const std::string& message, int level) = 0;
    virtual void log_debug(const std::string& message) = 0;
    // Sends exactly one result; lets only non-standard exceptions escape.
    virtual void scan() = 0;
};
}  // namespace sensors

namespace metascans {
class VEXAHELPER_API metascan_interface {
public:
    virtual ~metascan_interface();
    virtual int get_id() const = 0;
    virtual unsigned int get_request() const = 0;
    virtual void log_debug(const std::string& message) = 0;
    virtual void log(const std::string& message, int level) = 0;
    virtual void scan() = 0;
};
}  // namespace metascans

namespace checks {
class VEXAHELPER_API check_interface {
public:
    virtual ~check_interface();
    virtual int get_id() const = 0;
    virtual void log_debug(const std::string& message) = 0;
    virtual void log(const std::string& message, int level) = 0;
    // Sends the check_result itself.
    virtual void work() = 0;
};
}  // namespace checks

}  // namespace libvexahelper
