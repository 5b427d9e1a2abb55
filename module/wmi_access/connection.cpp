#include "wmi_access/connection.hpp"

namespace wmi::access {

libwql::wsman_connection_parameters connection_parameters(
    const settings::common_group& common, const settings::credentials_group& credentials,
    const settings::compatibility_group& compatibility) {
    libwql::wsman_connection_parameters p;
    p.host = common.host;
    p.domain = credentials.domain;
    p.username = credentials.username;
    p.password = credentials.password;
    p.authentication_mode = credentials.mode == settings::mode::kerberos_only ? 1 : 0;
    // The settings parser has held the port to 1..65535 already.
    p.port = static_cast<std::uint16_t>(compatibility.port);
    p.use_https = compatibility.protocol == settings::protocol::https;
    // The host's `timeout` bounds the scan's network work end to end; 0 leaves each step to
    // the client settings' own limits.
    p.session_timeout = std::chrono::seconds(common.timeout);
    p.family = common.ipversion == settings::ipversion::ipv6 ? libwql::address_family::ipv6
                                                             : libwql::address_family::ipv4;
    return p;
}

}  // namespace wmi::access
