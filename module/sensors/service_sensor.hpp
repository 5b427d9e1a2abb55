#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"
#include "libvexahelper/lookup_value.hpp"
#include "sensors/counter_arithmetic.hpp"

namespace wmi {

// The operating_state lookup's values, 0 "Unknown" to 7 "Paused".
using operating_state = libvexahelper::lookup_value<0, 7>;

// The value of a Win32_Service State text; exact and case-sensitive, so an unlisted text
// ("running") and a missing State are 0, "Unknown".
operating_state operating_state_of(const std::optional<std::string>& state_text);

// Keeps the previous reading of the service's process for one scan and hands the current one
// to `store` when it goes out of scope, however the scan ends, so the next scan compares
// against it. reset() leaves nothing to compare against.
class process_cpu_usage {
public:
    using sample_type = std::optional<counters::process_sample>;
    using store_function = std::function<void(const sample_type&)>;

    process_cpu_usage(sample_type previous, store_function store)
        : previous_(std::move(previous)), store_(std::move(store)) {}
    process_cpu_usage(const process_cpu_usage&) = delete;
    process_cpu_usage& operator=(const process_cpu_usage&) = delete;
    ~process_cpu_usage();

    // Takes the row as the current reading; the usage in percent of one processor when it
    // follows the previous one.
    std::optional<double> sample(const libwql::wql_query_row& row);
    void reset() { current_.reset(); }

private:
    sample_type previous_;
    sample_type current_;
    store_function store_;
};

// The operating state of one Windows service and, with extended monitoring, the working set,
// pagefile usage, threads, handles and CPU usage of its process.
class service_sensor : public wmi_sensor<service_sensor, settings::service_sensor> {
public:
    service_sensor(std::shared_ptr<libvexahelper::service_container> container, int id,
                   settings::service_sensor settings, std::map<int, std::string> known_channels,
                   std::map<std::string, std::string> stored);
    void work() override;

    // clang-format off
    static constexpr channel<> channels[] = {
        {.id = 0, .name = &cat::channel_operating_state, .unit = 0, .lookup = "operating_state"}};
    // Announced only with extended monitoring.
    static constexpr channel<> process_channels[] = {
        {.id = 1, .name = &cat::channel_working_set, .unit = 2, .size_unit = 8},
        {.id = 2, .name = &cat::channel_pagefile_usage, .unit = 2, .size_unit = 8},
        {.id = 3, .name = &cat::channel_threads, .unit = 10},
        {.id = 4, .name = &cat::channel_handles, .unit = 10},
        {.id = 5, .name = &cat::channel_cpu_usage, .value_type = 3, .unit = 11}};
    // clang-format on

private:
    bool extended() const;
    process_cpu_usage::sample_type load_previous();
    void store_sample(const process_cpu_usage::sample_type& sample);
    void process_metrics(access::scan_session& session, const libwql::wql_query_row& service,
                         libvexahelper::sensor_scan_result& result);

    // The service's internal name reaches the target as one literal: quotes and backslashes
    // in it match exactly that service.
    const access::query query_ = access::select("Win32_Service", {"Name", "State", "ProcessId"},
                                                access::equals{"Name", settings().name});
};

}  // namespace wmi
