#include "libvexahelper/exceptions.hpp"

#include <vector>

#include "libi18n/catalogue.hpp"
#include "libstringutils/format.hpp"

namespace libvexahelper::utils::exceptions {

namespace cat = libi18n::catalogue;

exception::exception(const libi18n::i18n_msg& msg) : _i18n_exception(msg) {}
initialization_error::initialization_error(const libi18n::i18n_msg& msg) : _i18n_exception(msg) {}
service_container_error::service_container_error(const libi18n::i18n_msg& msg)
    : _i18n_exception(msg) {}

setting_selection_parse_error::setting_selection_parse_error(const std::string& value,
                                                             const std::string& selection_type)
    : _i18n_exception(
          cat::libvexahelper_error_setting_selection_parse_error(value, selection_type)) {}

channel_map_not_initialized::channel_map_not_initialized()
    : _i18n_exception(cat::libvexahelper_error_channel_map_not_initialized()) {}

already_contains_factory::already_contains_factory(const std::string& type_name)
    : _i18n_exception(cat::libvexahelper_error_already_contains_factory(type_name)) {}

already_contains_instance::already_contains_instance(const std::string& type_name)
    : _i18n_exception(cat::libvexahelper_error_already_contains_instance(type_name)) {}

already_contains_instance::already_contains_instance(const std::string& type_name,
                                                     const std::string& key)
    : _i18n_exception(cat::libvexahelper_error_already_contains_instance_key(type_name, key)) {}

factory_not_available::factory_not_available(const std::string& type_name)
    : _i18n_exception(cat::libvexahelper_error_factory_not_available(type_name)) {}

instance_not_available::instance_not_available(const std::string& type_name)
    : _i18n_exception(cat::libvexahelper_error_instance_not_available(type_name)) {}

instance_not_available::instance_not_available(const std::string& type_name, const std::string& key)
    : _i18n_exception(cat::libvexahelper_error_instance_not_available_key(type_name, key)) {}

invalid_lookup_value::invalid_lookup_value(const std::string& value,
                                           const std::string& valid_values)
    : i18n_exception(cat::libvexahelper_error_invalid_lookup_value(value, valid_values)) {}

setting_not_available::setting_not_available(const std::string& setting_name)
    : _i18n_exception(cat::libvexahelper_error_setting_not_available(setting_name)) {}

setting_invalid_less_min::setting_invalid_less_min(const std::string& value,
                                                   const std::string& minimum)
    : _i18n_exception(cat::libvexahelper_error_setting_invalid_less_min(value, minimum)) {}

setting_invalid_bigger_max::setting_invalid_bigger_max(const std::string& value,
                                                       const std::string& maximum)
    : _i18n_exception(cat::libvexahelper_error_setting_invalid_bigger_max(value, maximum)) {}

namespace {
// i18n_msg applies at most two arguments; this message has three.
libi18n::i18n_msg too_long_message(const std::string& name, std::size_t length,
                                   std::size_t maximum) {
    const std::vector<std::string> args{name, std::to_string(length), std::to_string(maximum)};
    const auto& templ = cat::libvexahelper_error_string_too_long;
    return {libi18n::encode_key(templ.key, args), libstringutils::format(templ.text, args)};
}
}  // namespace

string_too_long::string_too_long(const std::string& setting_name, std::size_t length,
                                 std::size_t maximum)
    : _i18n_exception(too_long_message(setting_name, length, maximum)) {}

channel_not_defined::channel_not_defined(int channel_id)
    : _i18n_exception(cat::libvexahelper_error_channel_not_defined(std::to_string(channel_id))) {}

sensor_already_registered::sensor_already_registered(int sensor_id)
    : _i18n_exception(
          cat::libvexahelper_error_sensor_already_registered(std::to_string(sensor_id))) {}

sensor_not_in_sensor_stock::sensor_not_in_sensor_stock(int sensor_id)
    : _i18n_exception(
          cat::libvexahelper_error_sensor_not_in_sensor_stock(std::to_string(sensor_id))) {}

message_serialization_failed::message_serialization_failed()
    : _i18n_exception(cat::libvexahelper_error_message_serialization_failed()) {}

}  // namespace libvexahelper::utils::exceptions
