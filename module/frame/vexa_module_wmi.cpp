#include "frame/vexa_module_wmi.hpp"

#include <array>
#include <memory>
#include <stdexcept>

#include "document/module_information.hpp"
#include "libwql/wsman_client.hpp"
#include "sensors/cpu_load_sensor.hpp"
#include "sensors/disk_io_metascan.hpp"
#include "sensors/disk_io_sensor.hpp"
#include "sensors/memory_sensor.hpp"
#include "sensors/microsoft_sql_server_metascan.hpp"
#include "sensors/microsoft_sql_server_sensor.hpp"
#include "sensors/network_card_metascan.hpp"
#include "sensors/network_card_sensor.hpp"
#include "sensors/pagefile_sensor.hpp"
#include "sensors/print_queue_metascan.hpp"
#include "sensors/print_queue_sensor.hpp"
#include "sensors/service_metascan.hpp"
#include "sensors/service_sensor.hpp"
#include "sensors/system_uptime_sensor.hpp"
#include "sensors/volume_metascan.hpp"
#include "sensors/volume_sensor.hpp"
#include "sensors/windows_security_metascan.hpp"
#include "sensors/windows_security_sensor.hpp"
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

// The name of a kind is its settings record's, which the document declares.
template <typename T>
constexpr kind_registration sensor() {
    return {T::settings_type::kind_name, kind_family::sensor, &as_sensor<T>};
}
template <typename T>
constexpr kind_registration metascan() {
    return {T::settings_type::kind_name, kind_family::metascan, &as_meta<T>};
}
template <typename T>
constexpr kind_registration check() {
    return {T::settings_type::kind_name, kind_family::check, &as_check<T>};
}

// Adding a kind is one line here, in the order of registration, and its name leaves the list
// below.
// clang-format off
constexpr std::array registrations{
    check<wsman_check>(),
    sensor<memory_sensor>(),
    sensor<cpu_load_sensor>(),
    sensor<system_uptime_sensor>(),
    sensor<pagefile_sensor>(),
    sensor<volume_sensor>(),
    metascan<volume_metascan>(),
    sensor<logical_disk_io_sensor>(),
    metascan<logical_disk_io_metascan>(),
    sensor<physical_disk_io_sensor>(),
    metascan<physical_disk_io_metascan>(),
    sensor<service_sensor>(),
    metascan<service_metascan>(),
    sensor<network_card_sensor>(),
    metascan<network_card_metascan>(),
    sensor<print_queue_sensor>(),
    metascan<print_queue_metascan>(),
    sensor<windows_security_sensor>(),
    metascan<windows_security_metascan>(),
    sensor<microsoft_sql_server_sensor>(),
    metascan<microsoft_sql_server_metascan>(),
};
// clang-format on

// Kinds the document declares that this build does not implement yet.
constexpr std::array<std::string_view, 0> not_yet_built{};

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

std::span<const std::string_view> kinds_not_yet_built() { return not_yet_built; }

VexaModuleWMI::VexaModuleWMI(std::uint64_t context, wmi_host_callback callback)
    : module_instance(context, callback) {
    register_wsman_client_factory(*container(), container());
    for (const auto& kind : registrations) kind.register_with(*dispatcher(), kind.name);
}

std::string VexaModuleWMI::get_module_information() { return document::module_information(); }

}  // namespace wmi
