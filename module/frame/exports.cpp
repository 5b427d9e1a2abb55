#include "frame/exports.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "frame/module_access.hpp"
#include "frame/module_instance.hpp"
#include "frame/vexa_module_wmi.hpp"

using libvexahelper::module::module_instance_adapter;

namespace {

// The one module of the process. A plain pointer: InitializeModule and CleanupModule never
// overlap another call, and every other export only reads it.
module_instance_adapter* the_module = nullptr;

constexpr int api_level = 6;
constexpr int no_module = 3;
constexpr int exception_escaped = 2;
// A host callback called back into the module for a sensor id whose call it is inside of.
constexpr int reentrant_call = 9;

// Sensor ids whose export call is running on this thread, outermost first. Messages reach the
// host on the calling thread while the call holds the sensor, so a callback that calls back
// for one of these ids would wait for itself for ever.
thread_local std::vector<int> ids_in_call;

class in_call {
public:
    explicit in_call(int sensor_id) { ids_in_call.push_back(sensor_id); }
    ~in_call() { ids_in_call.pop_back(); }
    in_call(const in_call&) = delete;
    in_call& operator=(const in_call&) = delete;
};

template <typename Operation>
int forward(int sensor_id, const char* export_name, Operation&& operation) {
    module_instance_adapter* const module = the_module;
    if (module == nullptr) return no_module;
    try {
        if (std::find(ids_in_call.begin(), ids_in_call.end(), sensor_id) != ids_in_call.end()) {
            module->log(std::string(export_name) + " for sensor " + std::to_string(sensor_id) +
                        " refused: called from a host callback of a call for the same sensor");
            return reentrant_call;
        }
        const in_call guard(sensor_id);
        return operation(*module);
    } catch (...) {
        return exception_escaped;
    }
}

}  // namespace

libvexahelper::module::module_instance_adapter* wmi::frame::current_module() { return the_module; }

extern "C" {

WMI_EXPORT int WMI_CALL GetApiLevel(void) { return api_level; }

WMI_EXPORT int WMI_CALL InitializeModule(uint64_t context, wmi_host_callback callback) {
    try {
        if (the_module != nullptr) {
            the_module->log("InitializeModule called on already initialized module.");
            return 1;
        }
        auto module = std::make_unique<module_instance_adapter>(
            std::make_unique<wmi::VexaModuleWMI>(context, callback));
        the_module = module.release();
        return 0;
    } catch (...) {
        return 1;
    }
}

WMI_EXPORT void WMI_CALL GetModuleInformation(bool include_text) {
    module_instance_adapter* const module = the_module;
    if (module == nullptr) return;
    try {
        module->get_module_information(include_text);
    } catch (...) {
        // Nothing to report to: the message could not be built or delivered.
    }
}

WMI_EXPORT int WMI_CALL GetModuleInformationSync(char* buffer, unsigned int* size,
                                                 bool include_text) {
    if (size == nullptr) return 1;
    module_instance_adapter* const module = the_module;
    if (module == nullptr) return 2;
    try {
        const auto bytes = module->get_module_information_as_bytes(include_text);
        const unsigned int capacity = *size;
        const auto length = static_cast<unsigned int>(bytes.size());
        *size = length;
        if (buffer == nullptr) return 0;
        if (capacity < length) return 1;
        std::memcpy(buffer, bytes.data(), length);
        return 0;
    } catch (...) {
        return 1;
    }
}

WMI_EXPORT int WMI_CALL CreateSensorInstance(int sensor_id, const void* data, unsigned int size) {
    return forward(sensor_id, "CreateSensorInstance", [&](module_instance_adapter& m) {
        return m.create_sensor_instance(sensor_id, data, size);
    });
}

WMI_EXPORT int WMI_CALL DestroySensorInstance(int sensor_id) {
    return forward(sensor_id, "DestroySensorInstance", [&](module_instance_adapter& m) {
        return m.destroy_sensor_instance(sensor_id);
    });
}

WMI_EXPORT int WMI_CALL ExecuteSensorScan(int sensor_id) {
    return forward(sensor_id, "ExecuteSensorScan",
                   [&](module_instance_adapter& m) { return m.execute_sensor_scan(sensor_id); });
}

WMI_EXPORT int WMI_CALL ExecuteMetaScan(int sensor_id, unsigned int request, const void* data,
                                        unsigned int size) {
    return forward(sensor_id, "ExecuteMetaScan", [&](module_instance_adapter& m) {
        return m.execute_meta_scan(sensor_id, request, data, size);
    });
}

WMI_EXPORT int WMI_CALL ExecuteCheck(int sensor_id, const void* data, unsigned int size) {
    return forward(sensor_id, "ExecuteCheck", [&](module_instance_adapter& m) {
        return m.execute_check(sensor_id, data, size);
    });
}

WMI_EXPORT int WMI_CALL CleanupModule(void) {
    // From inside a callback the module is still in use below this frame.
    if (!ids_in_call.empty()) return reentrant_call;
    module_instance_adapter* const module = the_module;
    the_module = nullptr;
    delete module;
    return 0;
}

}  // extern "C"
