#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "framework/check_base.hpp"
#include "framework/metascan_base.hpp"
#include "framework/sensor_base.hpp"
#include "framework/settings.hpp"
#include "libi18n/catalogue.hpp"
#include "libi18n/i18n.hpp"
#include "libvexahelper/channel_map.hpp"
#include "libwql/wsman_client.hpp"
#include "wmi_access/connection.hpp"
#include "wmi_access/queries.hpp"

// The shape every WMI kind takes: a check, meta-scan or sensor base plus the WSMan client it
// keeps for its life, and for sensors a static channel table that the base registers and one
// loop emits from a computed record.
namespace wmi {

// Channel tables name their messages from the catalogue.
namespace cat = libi18n::catalogue;

struct channel_limits {
    std::optional<double> lower_warning = std::nullopt;
    std::optional<double> upper_warning = std::nullopt;
    std::optional<double> lower_error = std::nullopt;
    std::optional<double> upper_error = std::nullopt;
};

// What a channel table row takes its value from; a kind without a record (values assigned one
// by one, as per-instance channels need) uses none.
struct no_record {};

// A channel as data: everything a sensor announces that differs from the defaults of
// dynamic_channel_options. Codes are the host's (value type 1 integer / 3 floating point;
// unit 2 bytes, 5 percent, 7 the host's default; size unit 9 for memory sizes).
template <typename Record = no_record>
struct channel {
    int id;
    // Gives the key ("channel.x") and, when `named`, the display name (its encoded key);
    // otherwise the host names the channel by translating the key.
    const libi18n::i18n_msg* name;
    bool named = false;
    std::uint32_t value_type = 1;
    std::uint32_t unit = 7;
    std::uint32_t size_unit = 0;
    // The unit's text when `unit` is the host's custom unit (8).
    const char* custom_unit = nullptr;
    // Limits are switched on exactly when the channel has one.
    channel_limits limits = {};
    const char* lookup = nullptr;
    // An empty optional leaves the channel unset in that scan.
    std::variant<std::monostate, double Record::*, std::int64_t Record::*,
                 std::optional<double> Record::*>
        value = {};
};

template <typename Record>
libvexahelper::dynamic_channel_options channel_options(const channel<Record>& c) {
    libvexahelper::dynamic_channel_options o;
    o.channel_id = c.id;
    o.key = c.name->key;
    if (c.named) o.display_name = (*c.name)().key;
    o.value_type = c.value_type;
    o.unit = c.unit;
    o.size_unit = c.size_unit;
    o.lower_warning_limit = c.limits.lower_warning;
    o.upper_warning_limit = c.limits.upper_warning;
    o.lower_error_limit = c.limits.lower_error;
    o.upper_error_limit = c.limits.upper_error;
    o.limits_enabled = c.limits.lower_warning || c.limits.upper_warning || c.limits.lower_error ||
                       c.limits.upper_error;
    if (c.custom_unit != nullptr) o.custom_unit = c.custom_unit;
    if (c.lookup != nullptr) o.lookup_name = c.lookup;
    return o;
}

// The plain, untranslated status text of a successful scan.
inline libi18n::i18n_msg ok_message() { return {"", "OK"}; }

// Client and session handling of every kind: the client comes from the container's factory on
// the first session and is kept for the kind's life, also after a failed scan; each
// open_session() is one scan's session, released when the scan drops it.
template <typename Base>
class wmi_kind : public Base {
public:
    using Base::Base;

protected:
    access::scan_session open_session() {
        if (!client_)
            client_ = this->container()->template create<libwql::wsman_client_interface>();
        return access::scan_session(
            client_->open_session(access::connection_parameters(this->settings())),
            *this->logger());
    }

private:
    std::shared_ptr<libwql::wsman_client_interface> client_;
};

template <typename Settings>
using wmi_check = wmi_kind<libvexahelper::checks::check_base<Settings>>;
template <typename Settings>
using wmi_metascan = wmi_kind<libvexahelper::metascans::metascan_base<Settings>>;

// The values of one meta-scan entry, keyed exactly as the sensor's settings group reads them, so
// that a host creates the sensor from the entry unchanged.
template <typename Group>
std::unordered_map<std::string, std::string> entry_values(
    std::initializer_list<std::pair<const char*, std::string>> values) {
    std::unordered_map<std::string, std::string> keyed;
    for (const auto& [name, value] : values) keyed.emplace(settings::key_of<Group>(name), value);
    return keyed;
}

// "<group>.<setting>": the key form of the meta-scans whose entries name the setting without its
// section; the host maps it onto the sensor's setting of that group.
template <typename Group>
std::string group_key(const char* setting) {
    return std::string(Group::group) + "." + setting;
}

// A sensor kind: `Kind::channels` (an array of channel) is announced when the sensor is built, in
// id order, and send_values emits one successful result with every table channel set from a
// record, in table order (a kind whose values go out in another order than its ids lists its
// rows in that order).
template <typename Kind, typename Settings>
class wmi_sensor : public wmi_kind<libvexahelper::sensors::sensor_base<Settings>> {
public:
    wmi_sensor(std::shared_ptr<libvexahelper::service_container> container, int id,
               Settings settings, std::map<int, std::string> channels,
               std::map<std::string, std::string> persistent)
        : wmi_kind<libvexahelper::sensors::sensor_base<Settings>>(
              std::move(container), id, std::move(settings), std::move(channels),
              std::move(persistent)) {
        std::vector<libvexahelper::dynamic_channel_options> by_id;
        for (const auto& c : Kind::channels) by_id.push_back(channel_options(c));
        std::ranges::sort(by_id, {}, &libvexahelper::dynamic_channel_options::channel_id);
        for (const auto& o : by_id) this->register_channel(o);
    }

protected:
    template <typename Record>
    void send_values(const Record& values) {
        auto r = this->result(ok_message(), libvexahelper::scan_response_codes::ok);
        for (const auto& c : Kind::channels) {
            if (const auto* real = std::get_if<double Record::*>(&c.value)) {
                r.set_value(c.id, values.**real);
            } else if (const auto* whole = std::get_if<std::int64_t Record::*>(&c.value)) {
                r.set_value(c.id, static_cast<long long>(values.**whole));
            } else if (const auto* maybe = std::get_if<std::optional<double> Record::*>(&c.value)) {
                if (const auto& value = values.**maybe) r.set_value(c.id, *value);
            }
        }
        this->send(r);
    }
};

}  // namespace wmi
