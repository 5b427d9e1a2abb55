#include "libvexahelper/sensor_dispatcher.hpp"

#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "libi18n/catalogue.hpp"
#include "liblog/log.hpp"
#include "libvexahelper/exceptions.hpp"
#include "libvexahelper/message_service.hpp"

namespace libvexahelper {

namespace {

namespace cat = libi18n::catalogue;

// Failures of a request are handled here, once: one runtime-log line and one message that
// tells the host why.
void log_runtime(const service_container& container, const std::string& line) {
    if (!container.has_instance<liblog::log_interface>()) return;
    container.get_instance<liblog::log_interface>()->log(7, line);
}

void send(const service_container& container, const vexa_message& message) {
    if (!container.has_factory<message_service_interface>()) return;
    container.create<message_service_interface>()->send(message);
}

libi18n::i18n_msg malformed_message(const sensor_data_wrapper& data) {
    return cat::libjsonparser_error_parse(data.error().value_or(""));
}

libi18n::i18n_msg unknown_kind_message(const std::string& kind) {
    return cat::libvexahelper_error_initialization("Unknown kind \"" + kind + "\".");
}

template <typename Map>
std::vector<std::string> names_of(const Map& map) {
    std::vector<std::string> names;
    for (const auto& [name, factory] : map) names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

template <typename Map, typename Factory>
void add_unique(Map& map, const std::string& name, Factory factory, const char* family) {
    if (!factory) throw std::invalid_argument(std::string("empty ") + family + " factory");
    if (!map.emplace(name, std::move(factory)).second) {
        throw std::invalid_argument(std::string(family) + " kind registered twice: " + name);
    }
}

template <typename Map>
typename Map::mapped_type find_factory(std::shared_mutex& mutex, const Map& map,
                                       const std::string& name) {
    std::shared_lock lock(mutex);
    const auto it = map.find(name);
    return it == map.end() ? typename Map::mapped_type{} : it->second;
}

}  // namespace

sensor_dispatcher::sensor_dispatcher(container_ptr container) : container_(std::move(container)) {
    if (!container_) throw std::invalid_argument("sensor_dispatcher: container must not be null");
}

sensor_dispatcher::~sensor_dispatcher() = default;

void sensor_dispatcher::add_sensor_factory(const std::string& name, sensor_factory factory) {
    std::unique_lock lock(tables_mutex_);
    add_unique(sensor_factories_, name, std::move(factory), "sensor");
}

void sensor_dispatcher::add_meta_factory(const std::string& name, meta_factory factory) {
    std::unique_lock lock(tables_mutex_);
    add_unique(meta_factories_, name, std::move(factory), "meta-scan");
}

void sensor_dispatcher::add_check_factory(const std::string& name, check_factory factory) {
    std::unique_lock lock(tables_mutex_);
    add_unique(check_factories_, name, std::move(factory), "check");
}

sensor_create_response_code sensor_dispatcher::create_sensor_instance(
    int sensor_id, const sensor_data_wrapper& data) {
    using code = sensor_create_response_code;
    const auto fail = [&](code c, const libi18n::i18n_msg& why) {
        log_runtime(*container_, "CreateSensorInstance for sensor " + std::to_string(sensor_id) +
                                     " failed: " + why.text);
        send(*container_, sensor_create_error(sensor_id, static_cast<int>(c), why));
        return c;
    };

    if (!data.is_valid()) return fail(code::malformed_settings_document, malformed_message(data));
    const auto factory = find_factory(tables_mutex_, sensor_factories_, data.get_kind());
    if (!factory) return fail(code::unknown_kind, unknown_kind_message(data.get_kind()));

    std::unique_lock<std::mutex> slot_lock;
    const auto slot = stock_.reserve(sensor_id, slot_lock);
    if (!slot) {
        return fail(code::duplicate_sensor_id,
                    cat::libvexahelper_error_sensor_already_registered(std::to_string(sensor_id)));
    }

    creation_stage stage = creation_stage::parsing_settings;
    std::optional<libi18n::i18n_msg> failure;
    try {
        factory(stock_, sensor_id, data, stage);
    } catch (const libi18n::i18n_exception& e) {
        failure = e.get_i18n_msg();
    } catch (const std::exception& e) {
        failure = libi18n::i18n_msg{"", e.what()};
    } catch (...) {
        slot->sensor.reset();
        stock_.release(sensor_id, slot);
        throw;
    }
    if (!failure) return code::ok;

    // No half-built sensor stays behind; callers waiting on the slot find it empty.
    slot->sensor.reset();
    stock_.release(sensor_id, slot);
    slot_lock.unlock();
    return fail(
        stage == creation_stage::parsing_settings ? code::invalid_settings : code::creation_failed,
        *failure);
}

sensor_destroy_response_code sensor_dispatcher::destroy_sensor_instance(int sensor_id) {
    const auto slot = stock_.find(sensor_id);
    if (!slot) return sensor_destroy_response_code::unknown_sensor_id;
    std::lock_guard lock(slot->mutex);
    if (!slot->sensor) return sensor_destroy_response_code::unknown_sensor_id;
    // Destroyed before the id is released, so a new sensor of this id never overlaps it.
    slot->sensor.reset();
    stock_.release(sensor_id, slot);
    return sensor_destroy_response_code::ok;
}

sensor_scan_response_code sensor_dispatcher::execute_sensor_scan(int sensor_id) {
    const auto slot = stock_.find(sensor_id);
    if (!slot) return sensor_scan_response_code::unknown_sensor_id;
    std::lock_guard lock(slot->mutex);
    if (!slot->sensor) return sensor_scan_response_code::unknown_sensor_id;
    slot->sensor->scan();
    return sensor_scan_response_code::ok;
}

meta_scan_response_code sensor_dispatcher::execute_meta_scan(int sensor_id, unsigned int request,
                                                             const sensor_data_wrapper& data) {
    using code = meta_scan_response_code;
    // The host waits for a meta_scan_result, so every failure is answered with one.
    const auto fail = [&](code c, const libi18n::i18n_msg& why) {
        log_runtime(*container_, "ExecuteMetaScan for sensor " + std::to_string(sensor_id) +
                                     " failed: " + why.text);
        send(*container_, meta_scan_result(sensor_id, request, libi18n::i18n_exception(why)));
        return c;
    };

    if (!data.is_valid()) return fail(code::malformed_settings_document, malformed_message(data));
    const auto factory = find_factory(tables_mutex_, meta_factories_, data.get_kind());
    if (!factory) return fail(code::unknown_kind, unknown_kind_message(data.get_kind()));

    creation_stage stage = creation_stage::parsing_settings;
    try {
        factory(sensor_id, request, data, stage);
    } catch (const libi18n::i18n_exception& e) {
        return fail(stage == creation_stage::parsing_settings ? code::invalid_settings
                                                              : code::creation_failed,
                    e.get_i18n_msg());
    } catch (const std::exception& e) {
        return fail(stage == creation_stage::parsing_settings ? code::invalid_settings
                                                              : code::creation_failed,
                    {"", e.what()});
    }
    return code::ok;
}

check_response_code sensor_dispatcher::execute_check(int sensor_id,
                                                     const sensor_data_wrapper& data) {
    using code = check_response_code;
    // The host waits for a check_result, so every failure is answered with a failed one.
    const auto fail = [&](code c, const libi18n::i18n_msg& why) {
        log_runtime(*container_, "ExecuteCheck for sensor " + std::to_string(sensor_id) +
                                     " failed: " + why.text);
        send(*container_, check_result(sensor_id).set_success(false).set_message(why));
        return c;
    };

    if (!data.is_valid()) return fail(code::malformed_settings_document, malformed_message(data));
    const auto factory = find_factory(tables_mutex_, check_factories_, data.get_kind());
    if (!factory) return fail(code::unknown_kind, unknown_kind_message(data.get_kind()));

    creation_stage stage = creation_stage::parsing_settings;
    std::optional<libi18n::i18n_msg> failure;
    try {
        const auto check = factory(sensor_id, data, stage);
        check->work();
        return code::ok;
    } catch (const libi18n::i18n_exception& e) {
        failure = e.get_i18n_msg();
    } catch (const std::exception& e) {
        failure = libi18n::i18n_msg{"", e.what()};
    }
    return fail(
        stage == creation_stage::parsing_settings ? code::invalid_settings : code::check_failed,
        *failure);
}

std::vector<std::string> sensor_dispatcher::sensor_kinds() const {
    std::shared_lock lock(tables_mutex_);
    return names_of(sensor_factories_);
}

std::vector<std::string> sensor_dispatcher::meta_kinds() const {
    std::shared_lock lock(tables_mutex_);
    return names_of(meta_factories_);
}

std::vector<std::string> sensor_dispatcher::check_kinds() const {
    std::shared_lock lock(tables_mutex_);
    return names_of(check_factories_);
}

}  // namespace libvexahelper
