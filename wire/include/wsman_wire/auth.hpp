#pragma once

// The tokens of the HTTP authentication headers ("Negotiate <base64>", "Kerberos <base64>").

#include <optional>
#include <string>
#include <string_view>

namespace wsman_wire {

// The token an Authorization or WWW-Authenticate value carries for `scheme` (compared without
// case): no value when the header names another scheme; an empty token when it has none or
// when it is not base64 (a handshake cannot step on it either way).
std::optional<std::string> auth_token(std::string_view header, std::string_view scheme);

// "<scheme>" alone for an empty token, else "<scheme> <base64 of token>".
std::string auth_header(std::string_view scheme, std::string_view token);

}  // namespace wsman_wire
