#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Selection settings: small enumerations numbered in option order, parsed by one table-driven
// parser. The document's selections and their option tables are generated from it
// (document/settings_records.hpp); the two the host itself sends are declared here.
namespace wmi::settings {

template <typename E>
struct selection_option {
    std::string_view text;
    E value;
};

// Specialised for every selection enumeration: `options`, an array of selection_option<E>.
// Several spellings may give one value ("IPv4" and "0").
template <typename E>
struct selection_traits;

namespace detail {
[[noreturn]] void throw_unknown_option(const std::string& text, const std::string& setting_name);
}  // namespace detail

// Compares exactly (case-sensitive); when nothing matches, throws
// setting_selection_parse_error naming the setting.
template <typename E>
E parse_selection(const std::string& text, const std::string& setting_name) {
    for (const auto& option : selection_traits<E>::options) {
        if (option.text == text) return option.value;
    }
    detail::throw_unknown_option(text, setting_name);
}

enum class logging : std::uint8_t { disabled, enabled };
enum class ipversion : std::uint8_t { ipv4, ipv6 };

template <>
struct selection_traits<logging> {
    static constexpr std::array<selection_option<logging>, 2> options{{
        {"disabled", logging::disabled},
        {"enabled", logging::enabled},
    }};
};

template <>
struct selection_traits<ipversion> {
    static constexpr std::array<selection_option<ipversion>, 4> options{{
        {"IPv4", ipversion::ipv4},
        {"0", ipversion::ipv4},
        {"IPv6", ipversion::ipv6},
        {"1", ipversion::ipv6},
    }};
};

}  // namespace wmi::settings
