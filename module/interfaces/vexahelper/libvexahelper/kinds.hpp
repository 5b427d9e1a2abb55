#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

#include "libvexahelper/export.hpp"

namespace libvexahelper {

// Limits a setting's value must meet. setting_name appears in error texts.
struct validation_rules {
    validation_rules() = default;
    validation_rules(std::string name, std::optional<long long> min = std::nullopt,
                     std::optional<long long> max = std::nullopt,
                     std::optional<std::size_t> length_limit = std::nullopt)
        : setting_name(std::move(name)), minimum(min), maximum(max), max_length(length_limit) {}

    std::string setting_name;
    std::optional<long long> minimum;
    std::optional<long long> maximum;
    std::optional<std::size_t> max_length;  // in bytes, strings only
};

struct VEXAHELPER_API kind_string {
    // Throws string_too_long.
    static std::string parse_and_validate(const std::string& text, const validation_rules& rules);
};

// Same rules as kind_string; the value never appears in an error text.
struct VEXAHELPER_API kind_securestring {
    static std::string parse_and_validate(const std::string& text, const validation_rules& rules);
};

struct VEXAHELPER_API kind_integer {
    // Decimal signed 64-bit, optional leading '-', nothing else around it. Empty or
    // unparsable text (or out of 64-bit range) gives no value; the caller decides whether the
    // setting is required. A value outside the limits throws setting_invalid_less_min or
    // setting_invalid_bigger_max.
    static std::optional<long long> parse_and_validate(const std::string& text,
                                                       const validation_rules& rules);
};

}  // namespace libvexahelper
