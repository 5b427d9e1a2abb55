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
    return p;
}

}  // namespace wmi::access
