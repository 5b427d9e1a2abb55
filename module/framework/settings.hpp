#pragma once

#include <array>
#include <string>

#include "framework/selections.hpp"
#include "framework/settings_fields.hpp"

// The settings records of every kind. The host's common settings are declared here; every other
// group, each kind's record (its groups in parsing order: common, then credentials, then
// compatibility, then the kind's own) and the selection enumerations are generated from the
// module information document's data at build time. docs/settings.md says how to add a setting.
namespace wmi::settings {

// Settings every request carries from the host, under bare keys. They are not part of the
// document.
struct common_group {
    static constexpr const char* section = nullptr;
    static constexpr const char* group = nullptr;

    std::string host;
    settings::logging logging = settings::logging::disabled;
    long long timeout = 60;  // seconds
    std::string zarvelcloudapikey;
    settings::ipversion ipversion = settings::ipversion::ipv4;
    long long interval = 60;  // seconds between scans

    static constexpr auto fields() {
        using g = common_group;
        return std::array<field<g>, 6>{{
            {"host", &read_text<&g::host>},
            {"logging", &read_selection<&g::logging, presence::optional>},
            {"timeout", &read_integer<&g::timeout, at_least(0), presence::optional>},
            {"zarvelcloudapikey", &read_secret<&g::zarvelcloudapikey, presence::optional>},
            {"ipversion", &read_selection<&g::ipversion, presence::optional>},
            {"interval", &read_integer<&g::interval, at_least(1), presence::optional>},
        }};
    }
};

}  // namespace wmi::settings

#include "document/settings_records.hpp"

namespace wmi::settings {

// What the connection code calls the shared groups.
using credentials_group = shared_windows_credentials_group;
using compatibility_group = shared_windows_compatibility_group;

// What every kind needs to reach its target, plus its own groups.
template <typename... Own>
using target_record = record<common_group, credentials_group, compatibility_group, Own...>;

}  // namespace wmi::settings
