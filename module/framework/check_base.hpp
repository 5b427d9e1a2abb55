#pragma once

#include "framework/request_base.hpp"
#include "libvexahelper/sensor_interface.hpp"

namespace libvexahelper::checks {

// A check lives for one ExecuteCheck; the dispatcher calls work() once, which sends one
// check_result. There is no wrapper: an exception from work() is the dispatcher's to report.
template <typename Settings>
class check_base : public request_base<check_interface, Settings> {
public:
    using request_base<check_interface, Settings>::request_base;
};

}  // namespace libvexahelper::checks
