#include "frame/vexa_module_wmi.hpp"

#include <array>
#include <memory>
#include <stdexcept>

#include "document/module_information.hpp"
#include "libwql/wsman_client.hpp"
#include "sensors/cpu_load_sensor.hpp"
#include "sensors/memory_sensor.hpp"
#include "sensors/pagefile_sensor.hpp"
#include "sensors/system_uptime_sensor.hpp"
#include "sensors/wsman_check.hpp"

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

// Adding a kind is one line here, in the order of registration.
constexpr std::array<kind_registration, 5> registrations{{
    {"wsman_check", kind_family::check, &as_check<wsman_check>},
    {"memory_sensor", kind_family::sensor, &as_sensor<memory_sensor>},
    {"cpu_load_sensor", kind_family::sensor, &as_sensor<cpu_load_sensor>},
    {"system_uptime_sensor", kind_family::sensor, &as_sensor<system_uptime_sensor>},
    {"pagefile_sensor", kind_family::sensor, &as_sensor<pagefile_sensor>},
}};

// The container owns this factory, so it may only hold the container weakly; a client asked
// for after the module is torn down is an error, not a dangling log.
void register_wsman_client_factory(libvexahelper::service_container& container,
                                   std::weak_ptr<libvexahelper::service_container> weak) {
    container.register_factory<libwql::wsman_client_interface>(
        [weak]() -> std::unique_ptr<libwql::wsman_client_interface> {
            const auto locked = weak.lock();
            if (!locked) throw std::runtime_error("Service container was already destroyed");
            auto log = locked->get_instance<liblog::log_interface>();
            return libwql::create_wsman_client(libwql::wsman_client_settings{8, 5, 5, 3, 3, 100},
                                               std::move(log));
        });
}

}  // namespace

std::span<const kind_registration> kind_registrations() { return registrations; }

VexaModuleWMI::VexaModuleWMI(std::uint64_t context, wmi_host_callback callback)
    : module_instance(context, callback) {
    register_wsman_client_factory(*container(), container());
    for (const auto& kind : registrations) kind.register_with(*dispatcher(), kind.name);
}

std::string VexaModuleWMI::get_module_information() { return document::module_information(); }

}  // namespace wmi
