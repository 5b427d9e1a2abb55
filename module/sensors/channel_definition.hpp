#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "libi18n/i18n.hpp"
#include "libvexahelper/channel_map.hpp"

namespace wmi {

// A channel as data: everything a sensor sets that differs from the defaults of
// dynamic_channel_options. Codes are the host's (value type 1 integer / 3 floating point;
// unit 2 bytes, 5 percent, 7 the host's default; size unit 9 for memory sizes).
struct channel_definition {
    int id;
    // Gives the key ("channel.x") and, when `named`, the display name (its encoded key).
    const libi18n::i18n_msg* name;
    bool named;
    std::uint32_t value_type;
    std::uint32_t unit;
    std::uint32_t size_unit;
    std::optional<double> lower_warning_limit = std::nullopt;
    std::optional<double> upper_warning_limit = std::nullopt;
    std::optional<double> lower_error_limit = std::nullopt;
    std::optional<double> upper_error_limit = std::nullopt;
};

// Limits are switched on exactly when the definition has one.
inline libvexahelper::dynamic_channel_options channel_options(const channel_definition& d) {
    libvexahelper::dynamic_channel_options o;
    o.channel_id = d.id;
    o.key = d.name->key;
    if (d.named) o.display_name = (*d.name)().key;
    o.value_type = d.value_type;
    o.unit = d.unit;
    o.size_unit = d.size_unit;
    o.lower_warning_limit = d.lower_warning_limit;
    o.upper_warning_limit = d.upper_warning_limit;
    o.lower_error_limit = d.lower_error_limit;
    o.upper_error_limit = d.upper_error_limit;
    o.limits_enabled = d.lower_warning_limit || d.upper_warning_limit || d.lower_error_limit ||
                       d.upper_error_limit;
    return o;
}

// The plain, untranslated status text of a successful scan.
inline libi18n::i18n_msg ok_message() { return {"", "OK"}; }

}  // namespace wmi
