#pragma once

#include <iterator>
#include <string>
#include <vector>

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"

namespace wmi {

// Traffic and packet counters of one network adapter, sent raw (value type 2): the host forms
// the per-second differences, and restarts them when the result says a counter went back.
class network_card_sensor : public wmi_sensor<network_card_sensor, settings::network_card_sensor> {
public:
    using wmi_sensor::wmi_sensor;
    void work() override;

    // clang-format off
    static constexpr channel<> channels[] = {
        {.id = 0, .name = &cat::channel_traffic, .value_type = 2, .unit = 1, .size_unit = 8},
        {.id = 1, .name = &cat::channel_traffic_in, .value_type = 2, .unit = 1, .size_unit = 8},
        {.id = 2, .name = &cat::channel_traffic_out, .value_type = 2, .unit = 1, .size_unit = 8},
        {.id = 3, .name = &cat::channel_packets, .value_type = 2, .unit = 10},
        {.id = 4, .name = &cat::channel_packets_received, .value_type = 2, .unit = 10},
        {.id = 5, .name = &cat::channel_packets_sent, .value_type = 2, .unit = 10},
        {.id = 6, .name = &cat::channel_unicast_in, .value_type = 2, .unit = 10},
        {.id = 7, .name = &cat::channel_unicast_out, .value_type = 2, .unit = 10},
        {.id = 8, .name = &cat::channel_non_unicast_in, .value_type = 2, .unit = 10},
        {.id = 9, .name = &cat::channel_non_unicast_out, .value_type = 2, .unit = 10},
        {.id = 10, .name = &cat::channel_errors_in, .value_type = 2, .unit = 10},
        {.id = 11, .name = &cat::channel_errors_out, .value_type = 2, .unit = 10},
        {.id = 12, .name = &cat::channel_discards_in, .value_type = 2, .unit = 10},
        {.id = 13, .name = &cat::channel_discards_out, .value_type = 2, .unit = 10},
        {.id = 14, .name = &cat::channel_unknown_protocols_in, .value_type = 2, .unit = 10}};

    // Where each channel's raw counter comes from and the persistent key ("sample." + suffix)
    // that keeps its last value; row i feeds channel i.
    struct counter {
        const char* field;
        const char* key_suffix;
    };
    static constexpr counter counters[] = {
        {"BytesTotalPersec", "bytes_total_persec"},
        {"BytesReceivedPersec", "bytes_received_persec"},
        {"BytesSentPersec", "bytes_sent_persec"},
        {"PacketsPersec", "packets_persec"},
        {"PacketsReceivedPersec", "packets_received_persec"},
        {"PacketsSentPersec", "packets_sent_persec"},
        {"PacketsReceivedUnicastPersec", "packets_received_unicast_persec"},
        {"PacketsSentUnicastPersec", "packets_sent_unicast_persec"},
        {"PacketsReceivedNonUnicastPersec", "packets_received_non_unicast_persec"},
        {"PacketsSentNonUnicastPersec", "packets_sent_non_unicast_persec"},
        {"PacketsReceivedErrors", "packets_received_errors"},
        {"PacketsOutboundErrors", "packets_outbound_errors"},
        {"PacketsReceivedDiscarded", "packets_received_discarded"},
        {"PacketsOutboundDiscarded", "packets_outbound_discarded"},
        {"PacketsReceivedUnknown", "packets_received_unknown"}};
    // clang-format on
    static_assert(std::size(counters) == std::size(channels));

    // "Name" and every counter field, in table order: the sensor's query and the meta-scan's
    // first one select the same.
    static std::vector<std::string> counter_fields();

private:
    const access::query query_ =
        access::select("Win32_PerfRawData_Tcpip_NetworkAdapter", counter_fields(),
                       access::equals{"Name", settings().name});
};

}  // namespace wmi
