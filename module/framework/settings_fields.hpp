#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <type_traits>

#include "framework/selections.hpp"
#include "libvexahelper/kinds.hpp"
#include "libvexahelper/sensor_data_wrapper.hpp"

// The machinery behind the settings records: each group record lists its fields once, as an
// array of {setting name, reader}; parse_group walks that array in order. The records of the
// document's groups are generated with these readers (document/settings_records.hpp).
namespace wmi::settings {

// Whether a setting must be in the document. An optional setting that is absent leaves the
// member's initial value; a present value is always validated.
enum class presence { required, optional };

struct integer_limits {
    bool has_minimum = false;
    long long minimum = 0;
    bool has_maximum = false;
    long long maximum = 0;
};
inline constexpr integer_limits no_limits{};
constexpr integer_limits at_least(long long minimum) { return {true, minimum, false, 0}; }
constexpr integer_limits at_most(long long maximum) { return {false, 0, true, maximum}; }
constexpr integer_limits between(long long minimum, long long maximum) {
    return {true, minimum, true, maximum};
}

template <typename Group>
struct field {
    const char* name;
    void (*read)(Group& group, const libvexahelper::sensor_data_wrapper& data,
                 const std::string& key);
};

// A required integer whose text is empty or not a number. It is a std::bad_optional_access,
// as the record's contract says, but its text names the setting.
class missing_integer : public std::bad_optional_access {
public:
    explicit missing_integer(const std::string& key)
        : message_("The setting \"" + key + "\" has no integer value.") {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

namespace detail {

template <typename M>
struct member_of;
template <typename C, typename T>
struct member_of<T C::*> {
    using owner = C;
    using type = T;
};
template <auto Member>
using owner_t = typename member_of<decltype(Member)>::owner;

// The value text, or nothing for an absent optional setting. A required setting that is
// absent raises setting_not_available.
std::optional<std::string> lookup(const libvexahelper::sensor_data_wrapper& data,
                                  const std::string& key, presence p);

libvexahelper::validation_rules rules_for(const std::string& key, integer_limits limits);

std::optional<long long> parse_integer(const std::string& text, const std::string& key,
                                       integer_limits limits);

// For settings that may have no value: text that is not a number is still an error.
[[noreturn]] void throw_not_a_number(const std::string& text, const std::string& key);

}  // namespace detail

template <auto Member, presence P = presence::required, std::size_t MaxLength = 0>
void read_text(detail::owner_t<Member>& group, const libvexahelper::sensor_data_wrapper& data,
               const std::string& key) {
    if (const auto text = detail::lookup(data, key, P)) {
        libvexahelper::validation_rules rules(key);
        if (MaxLength != 0) rules.max_length = MaxLength;
        group.*Member = libvexahelper::kind_string::parse_and_validate(*text, rules);
    }
}

// Secure strings. A required one must be present; an optional one is read through the
// wrapper's secure lookup, where absent means empty.
template <auto Member, presence P = presence::required>
void read_secret(detail::owner_t<Member>& group, const libvexahelper::sensor_data_wrapper& data,
                 const std::string& key) {
    const std::string text =
        P == presence::required ? data.get_value(key) : data.get_secure_value(key);
    group.*Member = libvexahelper::kind_securestring::parse_and_validate(
        text, libvexahelper::validation_rules(key));
}

// long long members need a value (missing_integer otherwise); std::optional<long long> members
// take "no value" from an empty text, but never from text that is not a number.
template <auto Member, integer_limits Limits = no_limits, presence P = presence::required>
void read_integer(detail::owner_t<Member>& group, const libvexahelper::sensor_data_wrapper& data,
                  const std::string& key) {
    const auto text = detail::lookup(data, key, P);
    if (!text) return;
    const auto value = detail::parse_integer(*text, key, Limits);
    using member_type = typename detail::member_of<decltype(Member)>::type;
    if constexpr (std::is_same_v<member_type, std::optional<long long>>) {
        if (!value && !text->empty()) detail::throw_not_a_number(*text, key);
        group.*Member = value;
    } else {
        if (!value) throw missing_integer(key);
        group.*Member = *value;
    }
}

namespace detail {
template <typename T>
struct flags_of {
    using type = void;
};
template <typename E>
struct flags_of<selection_flags<E>> {
    using type = E;
};
}  // namespace detail

// The enumeration is the member's type, or selection_flags of it for a multiple selection; an
// unknown value's error names the setting.
template <auto Member, presence P = presence::required>
void read_selection(detail::owner_t<Member>& group, const libvexahelper::sensor_data_wrapper& data,
                    const std::string& key) {
    if (const auto text = detail::lookup(data, key, P)) {
        using member_type = typename detail::member_of<decltype(Member)>::type;
        using option_type = typename detail::flags_of<member_type>::type;
        const auto name = key.substr(key.rfind('.') + 1);
        if constexpr (std::is_void_v<option_type>) {
            group.*Member = parse_selection<member_type>(*text, name);
        } else {
            group.*Member = parse_selection_flags<option_type>(*text, name);
        }
    }
}

// "section.group.name", or the bare name for the host's common settings.
template <typename Group>
std::string key_of(const char* name) {
    if constexpr (Group::section == nullptr) {
        return name;
    } else {
        return std::string(Group::section) + "." + Group::group + "." + name;
    }
}

template <typename Group>
void parse_group(Group& group, const libvexahelper::sensor_data_wrapper& data) {
    for (const auto& f : Group::fields()) f.read(group, data, key_of<Group>(f.name));
}

// A kind's record: its groups in parsing order, as bases, so members read as settings.port.
template <typename... Groups>
struct record : Groups... {
    using groups_type = record;
};

template <typename... Groups>
void parse_record(record<Groups...>& r, const libvexahelper::sensor_data_wrapper& data) {
    (parse_group(static_cast<Groups&>(r), data), ...);
}

// Found by argument-dependent lookup from the dispatcher's factories.
template <typename Record>
requires requires { typename Record::groups_type; }
Record parse_settings(const libvexahelper::sensor_data_wrapper& data, std::type_identity<Record>) {
    Record r{};
    parse_record(static_cast<typename Record::groups_type&>(r), data);
    return r;
}

}  // namespace wmi::settings
