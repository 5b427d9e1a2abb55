#pragma once

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"

namespace wmi {

// Whether the target answers a WQL query over WSMan with the given credentials and options.
// Every failure becomes an unsuccessful check_result whose message is the reason, and one
// level-0 log line; work() throws only when the result itself cannot be sent.
class wsman_check : public wmi_check<settings::wsman_check> {
public:
    using wmi_kind::wmi_kind;
    void work() override;

private:
    const access::query query_ = access::select("Win32_OperatingSystem", {"Caption"});
};

}  // namespace wmi
