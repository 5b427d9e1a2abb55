#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "frame/module_instance.hpp"

namespace wmi {

enum class kind_family { check, sensor, metascan };

// One kind the module offers: its name (also the class name and the document key), its
// family, and how it is put into the dispatcher.
struct kind_registration {
    const char* name;
    kind_family family;
    void (*register_with)(libvexahelper::sensor_dispatcher& dispatcher, const std::string& name);
};

// The registration table: the only list of kinds, in registration order.
std::span<const kind_registration> kind_registrations();
// The kinds the module information document declares that are not registered yet.
std::span<const std::string_view> kinds_not_yet_built();

class VexaModuleWMI : public libvexahelper::module::module_instance {
public:
    VexaModuleWMI(std::uint64_t context, wmi_host_callback callback);
    // A copy of the process-wide module information document.
    std::string get_module_information() override;
};

}  // namespace wmi
