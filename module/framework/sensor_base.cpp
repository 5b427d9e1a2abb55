#include "framework/sensor_base.hpp"

namespace libvexahelper::sensors {

std::shared_ptr<liblog::log_interface> shared_null_logger() {
    static const std::shared_ptr<liblog::log_interface> logger =
        std::make_shared<liblog::null_logger>();
    return logger;
}

}  // namespace libvexahelper::sensors
