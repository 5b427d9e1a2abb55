#include "libvexahelper/kinds.hpp"

#include <charconv>

#include "libvexahelper/exceptions.hpp"

namespace libvexahelper {

namespace ex = utils::exceptions;

namespace {
void check_length(const std::string& text, const validation_rules& rules) {
    if (rules.max_length && text.size() > *rules.max_length) {
        throw ex::string_too_long(rules.setting_name, text.size(), *rules.max_length);
    }
}
}  // namespace

std::string kind_string::parse_and_validate(const std::string& text,
                                            const validation_rules& rules) {
    check_length(text, rules);
    return text;
}

std::string kind_securestring::parse_and_validate(const std::string& text,
                                                  const validation_rules& rules) {
    check_length(text, rules);
    return text;
}

std::optional<long long> kind_integer::parse_and_validate(const std::string& text,
                                                          const validation_rules& rules) {
    long long value = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [end, error] = std::from_chars(first, last, value, 10);
    if (text.empty() || error != std::errc{} || end != last) return std::nullopt;
    if (rules.minimum && value < *rules.minimum) {
        throw ex::setting_invalid_less_min(text, std::to_string(*rules.minimum));
    }
    if (rules.maximum && value > *rules.maximum) {
        throw ex::setting_invalid_bigger_max(text, std::to_string(*rules.maximum));
    }
    return value;
}

}  // namespace libvexahelper
