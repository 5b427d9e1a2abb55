#include "framework/settings_fields.hpp"

#include "libi18n/catalogue.hpp"
#include "libvexahelper/exceptions.hpp"

namespace wmi::settings::detail {

std::optional<std::string> lookup(const libvexahelper::sensor_data_wrapper& data,
                                  const std::string& key, presence p) {
    if (p == presence::optional && !data.has_value(key)) return std::nullopt;
    return data.get_value(key);
}

libvexahelper::validation_rules rules_for(const std::string& key, integer_limits limits) {
    libvexahelper::validation_rules rules(key);
    if (limits.has_minimum) rules.minimum = limits.minimum;
    if (limits.has_maximum) rules.maximum = limits.maximum;
    return rules;
}

std::optional<long long> parse_integer(const std::string& text, const std::string& key,
                                       integer_limits limits) {
    return libvexahelper::kind_integer::parse_and_validate(text, rules_for(key, limits));
}

void throw_not_a_number(const std::string& text, const std::string& key) {
    throw libvexahelper::utils::exceptions::exception(
        libi18n::catalogue::libvexahelper_error_setting_invalid(
            text, "\"" + key + "\" must be a whole number."));
}

}  // namespace wmi::settings::detail
