#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame/exports.hpp"
#include "libvexahelper/sensor_data_wrapper.hpp"
#include "libvexahelper/sensor_dispatcher.hpp"
#include "libvexahelper/service_container.hpp"

namespace libvexahelper::module {

// The module object: owns the service container and the dispatcher. Construction registers
// the message-service factory, which calls the host callback with the host's context.
class module_instance {
public:
    // Throws std::invalid_argument for a null callback: nothing could ever reach the host.
    module_instance(std::uint64_t context, wmi_host_callback callback);
    module_instance(const module_instance&) = delete;
    module_instance& operator=(const module_instance&) = delete;
    // Releases the dispatcher (and every sensor) before the container.
    virtual ~module_instance();

    virtual std::string get_module_information() = 0;

    std::uint64_t context() const { return context_; }
    const std::shared_ptr<service_container>& container() const { return container_; }
    const std::shared_ptr<sensor_dispatcher>& dispatcher() const { return dispatcher_; }

private:
    std::uint64_t context_;
    std::shared_ptr<service_container> container_;
    std::shared_ptr<sensor_dispatcher> dispatcher_;
};

// Between the exports and the module object: logs a begin and an end line for every
// operation on the runtime log and hands the request to the dispatcher.
class module_instance_adapter {
public:
    // Throws std::invalid_argument for a null module; registers the runtime log, then the
    // sensor-log factory.
    explicit module_instance_adapter(std::unique_ptr<module_instance> module);

    int create_sensor_instance(int sensor_id, const void* data, unsigned int size);
    int destroy_sensor_instance(int sensor_id);
    int execute_sensor_scan(int sensor_id);
    int execute_meta_scan(int sensor_id, unsigned int request, const void* data, unsigned int size);
    int execute_check(int sensor_id, const void* data, unsigned int size);
    void get_module_information(bool include_text);
    std::vector<char> get_module_information_as_bytes(bool include_text);

    // One line on the runtime log at level 7; nothing without a module.
    void log(const std::string& line);

    module_instance* module() const { return module_.get(); }

private:
    sensor_data_wrapper logged_settings(const void* data, unsigned int size);

    std::unique_ptr<module_instance> module_;
};

}  // namespace libvexahelper::module
