#include "frame/module_instance.hpp"

#include <stdexcept>
#include <utility>

#include "liblog/log.hpp"
#include "libvexahelper/logging.hpp"
#include "libvexahelper/message_service.hpp"
#include "libvexahelper/messages.hpp"
#include "libvexahelper/sensor_data_wrapper.hpp"

namespace libvexahelper::module {

module_instance::module_instance(std::uint64_t context, wmi_host_callback callback)
    : context_(context),
      container_(std::make_shared<service_container>()),
      dispatcher_(std::make_shared<sensor_dispatcher>(container_)) {
    if (callback == nullptr) {
        throw std::invalid_argument("module_instance: the host callback must not be null");
    }
    container_->register_factory<message_service_interface>([context, callback] {
        return std::make_unique<message_service>(
            [context, callback](void* data, unsigned int size) { callback(context, data, size); });
    });
}

module_instance::~module_instance() {
    dispatcher_.reset();
    container_.reset();
}

namespace {

constexpr const char* qualifier = "libvexahelper::module::module_instance_adapter::";

// Logs the begin line on construction and, via end(), the end line; an exception between the
// two leaves the end line out, as the failure is reported by the export instead.
class frame {
public:
    frame(module_instance_adapter& adapter, const char* operation)
        : adapter_(adapter), operation_(operation) {
        adapter_.log(std::string("### Begin ") + qualifier + operation_ + " ###");
    }
    void end() { adapter_.log(std::string("### End   ") + qualifier + operation_ + " ###"); }

private:
    module_instance_adapter& adapter_;
    const char* operation_;
};

// Runs `call` inside begin and end lines; returns its result as the export's code.
template <typename Call>
auto framed(module_instance_adapter& adapter, const char* operation, Call&& call) {
    frame f(adapter, operation);
    auto result = call();
    f.end();
    return result;
}

const char* include_texts_line(bool include_text) {
    return include_text ? "Include texts: Yes" : "Include texts: No";
}

}  // namespace

module_instance_adapter::module_instance_adapter(std::unique_ptr<module_instance> module)
    : module_(std::move(module)) {
    if (!module_) {
        throw std::invalid_argument("module_instance_adapter: module_instance must not be null");
    }
    register_runtime_log(*module_->container());
    register_sensor_log(*module_->container());
}

void module_instance_adapter::log(const std::string& line) {
    if (!module_) return;
    module_->container()->get_instance<liblog::log_interface>()->log(7, line);
}

// The settings a request brought, logged with their secrets masked.
sensor_data_wrapper module_instance_adapter::logged_settings(const void* data, unsigned int size) {
    sensor_data_wrapper settings(data, size);
    log(settings.to_json());
    return settings;
}

int module_instance_adapter::create_sensor_instance(int sensor_id, const void* data,
                                                    unsigned int size) {
    return framed(*this, "create_sensor_instance", [&] {
        const auto settings = logged_settings(data, size);
        return static_cast<int>(module_->dispatcher()->create_sensor_instance(sensor_id, settings));
    });
}

int module_instance_adapter::destroy_sensor_instance(int sensor_id) {
    return framed(*this, "destroy_sensor_instance", [&] {
        return static_cast<int>(module_->dispatcher()->destroy_sensor_instance(sensor_id));
    });
}

int module_instance_adapter::execute_sensor_scan(int sensor_id) {
    return framed(*this, "execute_sensor_scan", [&] {
        return static_cast<int>(module_->dispatcher()->execute_sensor_scan(sensor_id));
    });
}

int module_instance_adapter::execute_meta_scan(int sensor_id, unsigned int request,
                                               const void* data, unsigned int size) {
    return framed(*this, "execute_meta_scan", [&] {
        const auto settings = logged_settings(data, size);
        return static_cast<int>(
            module_->dispatcher()->execute_meta_scan(sensor_id, request, settings));
    });
}

int module_instance_adapter::execute_check(int sensor_id, const void* data, unsigned int size) {
    return framed(*this, "execute_check", [&] {
        const auto settings = logged_settings(data, size);
        return static_cast<int>(module_->dispatcher()->execute_check(sensor_id, settings));
    });
}

void module_instance_adapter::get_module_information(bool include_text) {
    frame f(*this, "get_module_information");
    log(include_texts_line(include_text));
    const module_information_message message(module_->get_module_information(), include_text);
    module_->container()->create<message_service_interface>()->send(message);
    f.end();
}

std::vector<char> module_instance_adapter::get_module_information_as_bytes(bool include_text) {
    frame f(*this, "get_module_information_as_bytes");
    log(include_texts_line(include_text));
    auto bytes =
        module_information_message(module_->get_module_information(), include_text).serialize();
    f.end();
    return bytes;
}

}  // namespace libvexahelper::module
