#include "sensors/wsman_check.hpp"

#include <stdexcept>

namespace wmi {

void wsman_check::work() {
    libvexahelper::check_result result(get_id());
    try {
        if (!open_session().first_row(query_)) {
            throw std::runtime_error(query_.wmi_class + " query returned no results.");
        }
        log_debug("WSMan connection to " + settings().host + " established successfully.");
        result.set_success(true);
    } catch (const std::exception& e) {
        log(e.what(), 0);
    }
    send(result);
}

}  // namespace wmi
