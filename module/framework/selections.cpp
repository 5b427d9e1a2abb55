#include "framework/selections.hpp"

#include "libvexahelper/exceptions.hpp"

namespace wmi::settings::detail {

void throw_unknown_option(const std::string& text, const std::string& setting_name) {
    throw libvexahelper::utils::exceptions::setting_selection_parse_error(text, setting_name);
}

}  // namespace wmi::settings::detail
