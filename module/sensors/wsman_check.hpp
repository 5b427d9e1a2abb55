#pragma once

#include <memory>

#include "framework/check_base.hpp"
#include "framework/settings.hpp"

namespace wmi {

// Whether the target answers a WQL query over WSMan with the given credentials and options.
// Every failure becomes an unsuccessful check_result and one level-0 log line; work() throws
// only when the result itself cannot be sent.
class wsman_check : public libvexahelper::checks::check_base<settings::wsman_check> {
public:
    using check_base::check_base;
    void work() override;
};

}  // namespace wmi
