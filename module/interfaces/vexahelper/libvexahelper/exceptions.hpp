#pragma once

#include <cstddef>
#include <string>

#include "libi18n/i18n.hpp"
#include "libvexahelper/export.hpp"

// Errors of the host helper library. Every class takes only its arguments and picks its
// message from the global catalogue; the family bases take a ready message.
namespace libvexahelper::utils::exceptions {

class VEXAHELPER_API exception : public libi18n::_i18n_exception<libi18n::i18n_exception> {
public:
    explicit exception(const libi18n::i18n_msg& msg);
};

class VEXAHELPER_API initialization_error : public libi18n::_i18n_exception<exception> {
public:
    explicit initialization_error(const libi18n::i18n_msg& msg);
};

class VEXAHELPER_API service_container_error : public libi18n::_i18n_exception<exception> {
public:
    explicit service_container_error(const libi18n::i18n_msg& msg);
};

class VEXAHELPER_API setting_selection_parse_error : public libi18n::_i18n_exception<exception> {
public:
    setting_selection_parse_error(const std::string& value, const std::string& selection_type);
};

class VEXAHELPER_API channel_map_not_initialized
    : public libi18n::_i18n_exception<initialization_error> {
public:
    channel_map_not_initialized();
};

class VEXAHELPER_API already_contains_factory
    : public libi18n::_i18n_exception<service_container_error> {
public:
    explicit already_contains_factory(const std::string& type_name);
};

// With a key, the "_key" variant of the message is used.
class VEXAHELPER_API already_contains_instance
    : public libi18n::_i18n_exception<service_container_error> {
public:
    explicit already_contains_instance(const std::string& type_name);
    already_contains_instance(const std::string& type_name, const std::string& key);
};

class VEXAHELPER_API factory_not_available
    : public libi18n::_i18n_exception<service_container_error> {
public:
    explicit factory_not_available(const std::string& type_name);
};

class VEXAHELPER_API instance_not_available
    : public libi18n::_i18n_exception<service_container_error> {
public:
    explicit instance_not_available(const std::string& type_name);
    instance_not_available(const std::string& type_name, const std::string& key);
};

class VEXAHELPER_API invalid_lookup_value : public libi18n::i18n_exception {
public:
    invalid_lookup_value(const std::string& value, const std::string& valid_values);
};

// Raised by the settings lookups and kind parsers.
class VEXAHELPER_API setting_not_available : public libi18n::_i18n_exception<exception> {
public:
    explicit setting_not_available(const std::string& setting_name);
};

class VEXAHELPER_API setting_invalid_less_min : public libi18n::_i18n_exception<exception> {
public:
    setting_invalid_less_min(const std::string& value, const std::string& minimum);
};

class VEXAHELPER_API setting_invalid_bigger_max : public libi18n::_i18n_exception<exception> {
public:
    setting_invalid_bigger_max(const std::string& value, const std::string& maximum);
};

class VEXAHELPER_API string_too_long : public libi18n::_i18n_exception<exception> {
public:
    string_too_long(const std::string& setting_name, std::size_t length, std::size_t maximum);
};

// A channel value set for an id the sensor never registered and the host does not know.
class VEXAHELPER_API channel_not_defined : public libi18n::_i18n_exception<exception> {
public:
    explicit channel_not_defined(int channel_id);
};

class VEXAHELPER_API sensor_already_registered : public libi18n::_i18n_exception<exception> {
public:
    explicit sensor_already_registered(int sensor_id);
};

class VEXAHELPER_API sensor_not_in_sensor_stock : public libi18n::_i18n_exception<exception> {
public:
    explicit sensor_not_in_sensor_stock(int sensor_id);
};

// A message that cannot be turned into bytes (for example a module document that is not JSON).
class VEXAHELPER_API message_serialization_failed : public libi18n::_i18n_exception<exception> {
public:
    message_serialization_failed();
};

}  // namespace libvexahelper::utils::exceptions
