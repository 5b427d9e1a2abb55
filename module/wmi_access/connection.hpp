#pragma once

#include "framework/settings.hpp"
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

}  // namespace wmi::access
