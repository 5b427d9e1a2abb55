#pragma once

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"

namespace wmi {

// Lists the target's print queues by name.
class print_queue_metascan : public wmi_metascan<settings::print_queue_metascan> {
public:
    using wmi_kind::wmi_kind;
    void work() override;

private:
    const access::query query_ = access::select("Win32_Printer", {"Name"});
};

}  // namespace wmi
