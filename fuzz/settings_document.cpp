// Feeds arbitrary bytes to the settings document as the host hands it over: the document
// reader, its masked log form, and the settings records of whichever kind the document names
// (sensor creation only; nothing here reaches the network). Every message the module sends
// on the way must be JSON again.
#include <cstddef>
#include <cstdint>
#include <memory>

#include <nlohmann/json.hpp>

#include "frame/vexa_module_wmi.hpp"
#include "libvexahelper/message_service.hpp"
#include "libvexahelper/sensor_data_wrapper.hpp"
#include "libvexahelper/sensor_dispatcher.hpp"
#include "libvexahelper/service_container.hpp"

namespace {

void must_be_json(const void* data, std::size_t size) {
    const auto* text = static_cast<const char*>(data);
    if (nlohmann::json::parse(text, text + size, nullptr, false).is_discarded()) __builtin_trap();
}

// The module's kinds behind a dispatcher whose messages are checked as they leave.
struct module_kinds {
    std::shared_ptr<libvexahelper::service_container> container =
        std::make_shared<libvexahelper::service_container>();
    libvexahelper::sensor_dispatcher dispatcher{container};

    module_kinds() {
        container->register_factory<libvexahelper::message_service_interface>([] {
            return std::make_unique<libvexahelper::message_service>(
                [](void* data, unsigned int size) { must_be_json(data, size); });
        });
        for (const auto& kind : wmi::kind_registrations())
            kind.register_with(dispatcher, kind.name);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const libvexahelper::sensor_data_wrapper document(data, static_cast<unsigned int>(size));
    const std::string logged = document.to_json();
    must_be_json(logged.data(), logged.size());
    static module_kinds module;
    module.dispatcher.create_sensor_instance(1, document);
    module.dispatcher.destroy_sensor_instance(1);
    return 0;
}
