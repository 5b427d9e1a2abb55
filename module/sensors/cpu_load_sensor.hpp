#pragma once

#include <optional>
#include <string>

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"
#include "sensors/counter_arithmetic.hpp"

namespace wmi {

// Load of every processor of the target in percent: channel 0 the "_Total" row, one channel
// per processor, numbered from 1 in the order processors first yield a value.
class cpu_load_sensor : public wmi_sensor<cpu_load_sensor, settings::cpu_load_sensor> {
public:
    using wmi_sensor::wmi_sensor;
    void work() override;

    // The "_Total" row; the host names it by translating "channel.total". Processors get
    // channels of their own as they first yield a value.
    static constexpr channel<> channels[] = {
        {.id = 0, .name = &cat::channel_total, .value_type = 3, .unit = 5}};

private:
    std::optional<counters::processor_sample> load_previous(const std::string& name);
    void store_sample(const std::string& name, const std::optional<counters::processor_sample>& s);
    int channel_id_of(const std::string& name);

    const access::query query_ =
        access::select("Win32_PerfRawData_PerfOS_Processor",
                       {"Name", "PercentProcessorTime", "Timestamp_Sys100NS"});
};

}  // namespace wmi
