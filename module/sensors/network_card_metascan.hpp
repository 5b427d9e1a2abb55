#pragma once

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"
#include "sensors/network_card_sensor.hpp"

namespace wmi {

// Progress of a meta-scan in steps: the steps of each stage share what the stages before left
// of 100. Starts with base 0 and a maximum of 100 steps.
class step_progress {
public:
    // Folds the steps reached so far into the base and starts a stage of `maximum` steps;
    // throws std::out_of_range for 0.
    void set_maximum(int maximum);
    // Counts one step of the stage; the percent reached, truncated.
    int step();

private:
    int base_ = 0;
    int count_ = 0;
    int maximum_ = 100;
};

// Lists the target's network adapters with their IP and MAC addresses; "n/a" where an adapter
// has no Win32_NetworkAdapter row or no configuration.
class network_card_metascan : public wmi_metascan<settings::network_card_metascan> {
public:
    using wmi_kind::wmi_kind;
    void work() override;

private:
    void step(step_progress& p, const libi18n::i18n_msg& text);

    const access::query query_ = access::select("Win32_PerfRawData_Tcpip_NetworkAdapter",
                                                network_card_sensor::counter_fields());
};

}  // namespace wmi
