#pragma once

#include <memory>

#include "framework/settings.hpp"
#include "libvexahelper/service_container.hpp"
#include "libwql/wsman_client.hpp"

namespace wmi::access {

// Where and as whom a scan connects, from the three groups every kind carries.
libwql::wsman_connection_parameters connection_parameters(
    const settings::common_group& common, const settings::credentials_group& credentials,
    const settings::compatibility_group& compatibility);

template <typename Record>
libwql::wsman_connection_parameters connection_parameters(const Record& record) {
    return connection_parameters(static_cast<const settings::common_group&>(record),
                                 static_cast<const settings::credentials_group&>(record),
                                 static_cast<const settings::compatibility_group&>(record));
}

// The client a sensor keeps for its life: made by the container's factory on first use, then
// reused, also after a failed scan.
const std::shared_ptr<libwql::wsman_client_interface>& ensure_client(
    const libvexahelper::service_container& container,
    std::shared_ptr<libwql::wsman_client_interface>& client);

// Opens the session of one scan; the caller drops it when the scan ends.
template <typename Record>
std::unique_ptr<libwql::wmi_session_interface> open_session(
    const libvexahelper::service_container& container,
    std::shared_ptr<libwql::wsman_client_interface>& client, const Record& record) {
    return ensure_client(container, client)->open_session(connection_parameters(record));
}

}  // namespace wmi::access
