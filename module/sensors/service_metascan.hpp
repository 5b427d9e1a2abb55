#pragma once

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"

namespace wmi {

// Lists every service of the target, in the order WMI returns them, for the user to pick one.
class service_metascan : public wmi_metascan<settings::service_metascan> {
public:
    using wmi_kind::wmi_kind;
    void work() override;

private:
    const access::query query_ =
        access::select("Win32_Service", {"Name", "State", "DisplayName", "Description"});
};

}  // namespace wmi
