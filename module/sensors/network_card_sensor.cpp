#include "sensors/network_card_sensor.hpp"

#include "framework/exceptions.hpp"
#include "sensors/counter_arithmetic.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

std::vector<std::string> network_card_sensor::counter_fields() {
    std::vector<std::string> fields{"Name"};
    for (const auto& c : counters) fields.emplace_back(c.field);
    return fields;
}

void network_card_sensor::work() {
    const auto row = open_session().first_row(query_);
    if (!row) throw exceptions::network_adapter_not_found(settings().name);
    auto result = this->result(ok_message(), libvexahelper::scan_response_codes::ok);
    bool went_back = false;
    for (std::size_t i = 0; i < std::size(counters); ++i) {
        const auto current = access::optional_int64(*row, counters[i].field);
        const std::string key = std::string("sample.") + counters[i].key_suffix;
        // Text without leading digits, or beyond 64 bits, is no previous value.
        const auto stored = persistent().at_opt(key);
        const auto previous = stored ? counters::parse_leading_int64(*stored) : std::nullopt;
        // A missing counter stores "0", so when it comes back it is compared against 0.
        set_persistent_data(key, current ? std::to_string(*current) : "0");
        if (current && previous && *current < *previous) went_back = true;
        if (current) result.set_value(channels[i].id, static_cast<long long>(*current));
    }
    // The host restarts its differences: a reboot or a reset adapter starts counting anew.
    if (went_back) result.set_system_reset(true);
    send(result);
}

}  // namespace wmi
