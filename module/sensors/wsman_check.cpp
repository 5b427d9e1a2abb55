#include "sensors/wsman_check.hpp"

#include <stdexcept>

#include "wmi_access/connection.hpp"
#include "wmi_access/queries.hpp"

namespace wmi {

void wsman_check::work() {
    libvexahelper::check_result result(get_id());
    try {
        std::shared_ptr<libwql::wsman_client_interface> client;
        auto session = access::open_session(*container(), client, settings());
        if (!access::query_caption(*session, *logger())) {
            throw std::runtime_error("Win32_OperatingSystem query returned no results.");
        }
        log_debug("WSMan connection to " + settings().host + " established successfully.");
        result.set_success(true);
    } catch (const std::exception& e) {
        log(e.what(), 0);
    }
    send(result);
}

}  // namespace wmi
