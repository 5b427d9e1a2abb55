#include "wsman_wire/auth.hpp"

#include <boost/algorithm/string/predicate.hpp>

#include "wsman_wire/base64.hpp"

namespace wsman_wire {

std::optional<std::string> auth_token(std::string_view header, std::string_view scheme) {
    const auto space = header.find(' ');
    if (!boost::algorithm::iequals(header.substr(0, space), scheme)) return std::nullopt;
    if (space == std::string_view::npos) return std::string();
    std::string_view token = header.substr(space + 1);
    while (!token.empty() && token.front() == ' ') token.remove_prefix(1);
    return base64::decode(token).value_or(std::string());
}

std::string auth_header(std::string_view scheme, std::string_view token) {
    if (token.empty()) return std::string(scheme);
    return std::string(scheme) + " " + base64::encode(token);
}

}  // namespace wsman_wire
