#include "sensors/wsman_check.hpp"

#include <stdexcept>

#include "libi18n/i18n.hpp"

namespace wmi {

void wsman_check::work() {
    libvexahelper::check_result result(get_id());
    try {
        if (!open_session().first_row(query_)) {
            throw std::runtime_error(query_.wmi_class + " query returned no results.");
        }
        log_debug("WSMan connection to " + settings().host + " established successfully.");
        result.set_success(true);
    } catch (const libi18n::i18n_exception& e) {
        // The host shows the reason with the failed result, translated where it can.
        log(e.what(), 0);
        result.set_message(e.get_i18n_msg());
    } catch (const std::exception& e) {
        log(e.what(), 0);
        result.set_message({"", e.what()});
    }
    send(result);
}

}  // namespace wmi
