#pragma once

// Base64 for the tokens of the HTTP Negotiate/Kerberos headers (Boost.Beast's codec).

#include <boost/beast/core/detail/base64.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace wsman_wire::base64 {

inline std::string encode(std::string_view raw) {
    namespace base64 = boost::beast::detail::base64;
    std::string out(base64::encoded_size(raw.size()), '\0');
    out.resize(base64::encode(out.data(), raw.data(), raw.size()));
    return out;
}

// No value when `text` holds anything but base64 and trailing padding.
inline std::optional<std::string> decode(std::string_view text) {
    namespace base64 = boost::beast::detail::base64;
    std::string out(base64::decoded_size(text.size()), '\0');
    const auto [written, consumed] = base64::decode(out.data(), text.data(), text.size());
    if (text.substr(consumed).find_first_not_of('=') != std::string_view::npos) {
        return std::nullopt;
    }
    out.resize(written);
    return out;
}

}  // namespace wsman_wire::base64
