#pragma once

#include <string>

#include "libi18n/catalogue.hpp"
#include "libi18n/i18n.hpp"

// The module's own failures. Each class bears the last part of its message key and picks its
// catalogue message itself; callers pass only the arguments.
namespace wmi::exceptions {

class exception : public libi18n::_i18n_exception<libi18n::i18n_exception> {
public:
    using _i18n_exception::_i18n_exception;
};

#define WMI_EXCEPTION_0(name)                                           \
    class name : public libi18n::_i18n_exception<exception> {           \
    public:                                                             \
        name() : _i18n_exception(libi18n::catalogue::error_##name()) {} \
    };
#define WMI_EXCEPTION_1(name, arg0)                                      \
    class name : public libi18n::_i18n_exception<exception> {            \
    public:                                                              \
        explicit name(const std::string& arg0)                           \
            : _i18n_exception(libi18n::catalogue::error_##name(arg0)) {} \
    };
#define WMI_EXCEPTION_2(name, arg0, arg1)                                      \
    class name : public libi18n::_i18n_exception<exception> {                  \
    public:                                                                    \
        name(const std::string& arg0, const std::string& arg1)                 \
            : _i18n_exception(libi18n::catalogue::error_##name(arg0, arg1)) {} \
    };

WMI_EXCEPTION_1(ambiguous_volume, volume_id)
WMI_EXCEPTION_1(instance_not_found, instance_name)
WMI_EXCEPTION_1(invalid_capacity, volume_id)
WMI_EXCEPTION_1(logical_disk_not_found, disk_name)
WMI_EXCEPTION_1(network_adapter_not_found, adapter_name)
WMI_EXCEPTION_0(no_instances_found)
WMI_EXCEPTION_0(no_logical_disks_found)
WMI_EXCEPTION_0(no_network_adapters_found)
WMI_EXCEPTION_0(no_performance_counters_selected)
WMI_EXCEPTION_0(no_physical_disks_found)
WMI_EXCEPTION_0(no_print_queues_found)
WMI_EXCEPTION_0(no_services_found)
WMI_EXCEPTION_0(no_volumes_found)
WMI_EXCEPTION_0(no_windows_security_products_found)
WMI_EXCEPTION_0(pagefile_usage_base_is_zero)
WMI_EXCEPTION_1(physical_disk_not_found, disk_name)
WMI_EXCEPTION_1(print_queue_not_found, print_queue_name)
WMI_EXCEPTION_2(required_field_unavailable, class_name, field_name)
WMI_EXCEPTION_1(service_not_found, service_name)
WMI_EXCEPTION_0(total_memory_is_zero)
WMI_EXCEPTION_1(volume_not_found, volume_id)
WMI_EXCEPTION_2(windows_security_product_not_found, product_name, product_kind)
WMI_EXCEPTION_1(wmi_class_no_result, class_name)

#undef WMI_EXCEPTION_0
#undef WMI_EXCEPTION_1
#undef WMI_EXCEPTION_2

}  // namespace wmi::exceptions
