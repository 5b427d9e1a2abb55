#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace test_kinds {

inline const std::string password = "Secret-1";
inline const std::string credentials =
    "shared_windows_credentials_section.shared_windows_credentials_group.";
inline const std::string compatibility =
    "shared_windows_compatibility_section.shared_windows_compatibility_group.";

// Settings every kind accepts (the common, credentials and compatibility groups), sensor
// logging on; `overrides` replaces or adds keys.
inline nlohmann::json settings(const nlohmann::json& overrides = nlohmann::json::object()) {
    const auto& cred = credentials;
    const auto& compat = compatibility;
    nlohmann::json s{{"host", "target.example"},    {"logging", "enabled"},
                     {cred + "domain", "LAB"},      {cred + "username", "monitor"},
                     {cred + "password", password}, {cred + "mode", "negotiate"},
                     {compat + "port", "5985"},     {compat + "protocol", "http"}};
    s.update(overrides);
    return s;
}

}  // namespace test_kinds
