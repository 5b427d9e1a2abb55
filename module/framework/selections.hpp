#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
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

// A multiple selection: one flag per option of E. The host sends the chosen option values
// joined by "," ("general_statistics,locks"); the empty text chooses none, which is left to the
// kind to refuse or accept.
template <typename E>
class selection_flags {
public:
    constexpr selection_flags() = default;
    constexpr selection_flags(std::initializer_list<E> chosen) {
        for (const E e : chosen) set(e);
    }
    constexpr bool has(E e) const { return (bits_ >> static_cast<unsigned>(e)) & 1u; }
    constexpr void set(E e) { bits_ |= 1u << static_cast<unsigned>(e); }
    constexpr bool none() const { return bits_ == 0; }
    bool operator==(const selection_flags&) const = default;

private:
    std::uint32_t bits_ = 0;
};

// Every part must be an option (the same exact comparison as a single selection); an empty
// part, as in "locks,,", is no option either.
template <typename E>
selection_flags<E> parse_selection_flags(const std::string& text, const std::string& setting_name) {
    static_assert(selection_traits<E>::options.size() <= 32, "one bit per option");
    selection_flags<E> flags;
    if (text.empty()) return flags;
    for (std::size_t begin = 0;;) {
        const auto end = text.find(',', begin);
        flags.set(parse_selection<E>(text.substr(begin, end - begin), setting_name));
        if (end == std::string::npos) return flags;
        begin = end + 1;
    }
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
