#pragma once

#include <functional>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "libvexahelper/export.hpp"
#include "libvexahelper/sensor_data_wrapper.hpp"
#include "libvexahelper/sensor_interface.hpp"
#include "libvexahelper/sensor_stock.hpp"
#include "libvexahelper/service_container.hpp"

namespace libvexahelper {

// Return codes of the five request operations; the exports pass them to the host unchanged.
// 2 and 3 are left out on purpose: the exports use them for "exception" and "no module".
enum class sensor_create_response_code : int {
    ok = 0,
    unknown_kind = 1,
    duplicate_sensor_id = 4,
    malformed_settings_document = 5,
    invalid_settings = 6,
    creation_failed = 7,
};
enum class sensor_destroy_response_code : int { ok = 0, unknown_sensor_id = 8 };
enum class sensor_scan_response_code : int { ok = 0, unknown_sensor_id = 8 };
enum class meta_scan_response_code : int {
    ok = 0,  // a meta_scan_result was sent (it may be an error result, response 5)
    unknown_kind = 1,
    malformed_settings_document = 5,
    invalid_settings = 6,
    creation_failed = 7,
};
enum class check_response_code : int {
    ok = 0,  // the check ran and sent its check_result
    unknown_kind = 1,
    malformed_settings_document = 5,
    invalid_settings = 6,
    check_failed = 7,  // building or running the check threw; a failed check_result was sent
};

// How far a factory got before it threw: parsing the settings record, or building/running.
enum class creation_stage { parsing_settings, building };

// Runs sensors, meta-scans and checks by kind name for the host.
//
// A kind T plugs in through two things of its own:
//   - T::settings_type, its settings record, and a function
//       settings_type parse_settings(const sensor_data_wrapper&, std::type_identity<settings_type>)
//     found by argument-dependent lookup (declare it in the record's namespace);
//   - a constructor: sensors T(container, id, settings, channels, persistent data),
//     meta-scans T(container, request, id, settings), checks T(container, id, settings).
//
// Concurrency: any operation may be called from any thread. Calls for one sensor id are
// serialised (destroy waits for a scan in flight); different ids, meta-scans and checks run in
// parallel. Registration happens before the first request.
class VEXAHELPER_API sensor_dispatcher {
public:
    using container_ptr = std::shared_ptr<service_container>;
    using sensor_factory =
        std::function<void(sensor_stock&, int, const sensor_data_wrapper&, creation_stage&)>;
    using meta_factory =
        std::function<void(int, unsigned int, const sensor_data_wrapper&, creation_stage&)>;
    using check_factory = std::function<std::unique_ptr<checks::check_interface>(
        int, const sensor_data_wrapper&, creation_stage&)>;

    explicit sensor_dispatcher(container_ptr container);
    sensor_dispatcher(const sensor_dispatcher&) = delete;
    sensor_dispatcher& operator=(const sensor_dispatcher&) = delete;
    // Destroys every sensor still in the stock.
    ~sensor_dispatcher();

    template <typename T>
    void register_sensor_as(const std::string& name) {
        add_sensor_factory(
            name, [container = container_](sensor_stock& stock, int id,
                                           const sensor_data_wrapper& data, creation_stage& stage) {
                using settings_type = typename T::settings_type;
                stage = creation_stage::parsing_settings;
                settings_type settings = parse_settings(data, std::type_identity<settings_type>{});
                stage = creation_stage::building;
                auto sensor = std::make_shared<T>(container, id, std::move(settings),
                                                  data.get_channels(), data.get_persistent_data());
                stock.add_sensor(id, sensor);
                sensor->log_debug(data.to_json());
            });
    }

    template <typename T>
    void register_meta_as(const std::string& name) {
        add_meta_factory(
            name, [container = container_](int id, unsigned int request,
                                           const sensor_data_wrapper& data, creation_stage& stage) {
                using settings_type = typename T::settings_type;
                stage = creation_stage::parsing_settings;
                settings_type settings = parse_settings(data, std::type_identity<settings_type>{});
                stage = creation_stage::building;
                T metascan(container, request, id, std::move(settings));
                metascan.scan();
            });
    }

    template <typename T>
    void register_check_as(const std::string& name) {
        add_check_factory(name,
                          [container = container_](
                              int id, const sensor_data_wrapper& data,
                              creation_stage& stage) -> std::unique_ptr<checks::check_interface> {
                              using settings_type = typename T::settings_type;
                              stage = creation_stage::parsing_settings;
                              settings_type settings =
                                  parse_settings(data, std::type_identity<settings_type>{});
                              stage = creation_stage::building;
                              return std::make_unique<T>(container, id, std::move(settings));
                          });
    }

    // Throws std::invalid_argument for a name registered twice in one family.
    void add_sensor_factory(const std::string& name, sensor_factory factory);
    void add_meta_factory(const std::string& name, meta_factory factory);
    void add_check_factory(const std::string& name, check_factory factory);

    sensor_create_response_code create_sensor_instance(int sensor_id,
                                                       const sensor_data_wrapper& data);
    sensor_destroy_response_code destroy_sensor_instance(int sensor_id);
    sensor_scan_response_code execute_sensor_scan(int sensor_id);
    meta_scan_response_code execute_meta_scan(int sensor_id, unsigned int request,
                                              const sensor_data_wrapper& data);
    check_response_code execute_check(int sensor_id, const sensor_data_wrapper& data);

    // Registered names of each family, sorted.
    std::vector<std::string> sensor_kinds() const;
    std::vector<std::string> meta_kinds() const;
    std::vector<std::string> check_kinds() const;

    const sensor_stock& stock() const { return stock_; }

private:
    container_ptr container_;
    mutable std::shared_mutex tables_mutex_;
    std::unordered_map<std::string, sensor_factory> sensor_factories_;
    std::unordered_map<std::string, meta_factory> meta_factories_;
    std::unordered_map<std::string, check_factory> check_factories_;
    sensor_stock stock_;
};

}  // namespace libvexahelper
