#include "sensors/network_card_metascan.hpp"

#include <stdexcept>

#include "framework/exceptions.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

namespace {

const std::string not_available = "n/a";

std::string entry_key(const char* setting) {
    return group_key<settings::network_card_metascan_group>(setting);
}

struct addresses {
    std::string ip = not_available;
    std::string mac = not_available;
};

// The adapter's configuration is found through its Index in Win32_NetworkAdapter.
addresses addresses_of(access::scan_session& session, const std::string& name) {
    addresses found;
    const auto adapter = session.first_row(
        access::select("Win32_NetworkAdapter", {"Name", "Index"}, access::equals{"Name", name}));
    const auto index = adapter ? access::optional_int64(*adapter, "Index") : std::nullopt;
    if (!index) return found;
    const auto configuration = session.first_row(access::select("Win32_NetworkAdapterConfiguration",
                                                                {"IPAddress", "MACAddress"},
                                                                access::equals{"Index", *index}));
    if (!configuration) return found;
    // Several addresses arrive as an array and read as "a, b".
    if (const auto ip = configuration->get("IPAddress")) found.ip = ip->as_string();
    if (const auto mac = configuration->get("MACAddress")) found.mac = mac->as_string();
    return found;
}

}  // namespace

void step_progress::set_maximum(int maximum) {
    if (maximum <= 0) throw std::out_of_range("Maximum must be greater than 0.");
    base_ += count_ * (100 - base_) / maximum_;
    count_ = 0;
    maximum_ = maximum;
}

int step_progress::step() {
    ++count_;
    return base_ + (100 - base_) * count_ / maximum_;
}

void network_card_metascan::step(step_progress& p, const libi18n::i18n_msg& text) {
    logged_progress(p.step(), text);
}

void network_card_metascan::work() {
    auto result = this->result();
    auto session = open_session();
    step_progress p;
    p.set_maximum(2);
    step(p, cat::metascan_querying_network_adapters());
    const auto rows = session.rows(query_);
    if (rows.empty()) throw exceptions::no_network_adapters_found();
    p.set_maximum(static_cast<int>(rows.size()));
    for (const auto& row : rows) {
        const auto name = access::selected_text(row, "Name");
        step(p, cat::metascan_querying_network_information(name));
        const auto found = addresses_of(session, name);
        result.add_entry(cat::metascan_network_card_instance_name(name),
                         {{entry_key("name"), name},
                          {entry_key("ip_addresses"), found.ip},
                          {entry_key("mac_address"), found.mac}});
    }
    send(result);
}

}  // namespace wmi
