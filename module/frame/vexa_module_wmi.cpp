#include "frame/vexa_module_wmi.hpp"

#include <array>

#include "document/module_information.hpp"

namespace wmi {

namespace {

template <typename T>
void as_sensor(libvexahelper::sensor_dispatcher& d, const std::string& name) {
    d.register_sensor_as<T>(name);
}
template <typename T>
void as_meta(libvexahelper::sensor_dispatcher& d, const std::string& name) {
    d.register_meta_as<T>(name);
}
template <typename T>
void as_check(libvexahelper::sensor_dispatcher& d, const std::string& name) {
    d.register_check_as<T>(name);
}

// Adding a kind is one line here, e.g.
//   {"cpu_load_sensor", kind_family::sensor, &as_sensor<cpu_load_sensor>},
constexpr std::array<kind_registration, 0> registrations{};

// HOOK (WSMan client): the factory of libwql's wsman_client_interface is registered here once
// the WQL client declarations are in module/interfaces/libwql. It holds only a weak reference
// to the container; when invoked it throws std::runtime_error("Service container was already
// destroyed") if the container is gone, else calls create_wsman_client with the fixed client
// settings and the runtime log.
void register_wsman_client_factory(libvexahelper::service_container&) {}

}  // namespace

std::span<const kind_registration> kind_registrations() { return registrations; }

VexaModuleWMI::VexaModuleWMI(std::uint64_t context, wmi_host_callback callback)
    : module_instance(context, callback) {
    register_wsman_client_factory(*container());
    for (const auto& kind : registrations) kind.register_with(*dispatcher(), kind.name);
}

std::string VexaModuleWMI::get_module_information() { return document::module_information(); }

}  // namespace wmi
