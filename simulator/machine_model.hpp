#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "simulator/wql_select.hpp"

namespace winrm_simulator {

using sim_clock = std::chrono::system_clock;

// A malformed model file: the message names the file and the JSON path of the fault.
class model_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One property value as the target renders it at one moment.
struct property_value {
    enum class type { null, text, integer, boolean, datetime };
    type kind = type::null;
    bool is_array = false;
    std::vector<std::string> items;  // decimal, "true"/"false" or datetime text per element
};

// Where the value of a property comes from; evaluated when a query runs.
struct literal_source {
    property_value value;
};
// start + per_second × elapsed seconds, never below zero. With reset_after_seconds the counter
// falls back to 0 at that moment and counts on from there (a reboot of the target).
struct counter_source {
    std::int64_t start = 0;
    std::int64_t per_second = 0;
    std::optional<std::int64_t> reset_after_seconds;
};
// 100 ns ticks: the wall clock as a Windows file time, or the performance counter.
struct clock_source {
    enum class base { sys100ns, boot_sys100ns, perf_time };
    base from = base::sys100ns;
    std::int64_t offset_seconds = 0;
};
// A CIM datetime: now, the boot time, or a fixed text, shifted by offset_seconds.
struct datetime_source {
    enum class base { now, boot, fixed };
    base from = base::now;
    std::string fixed_text;
    std::int64_t offset_seconds = 0;
};
using value_source = std::variant<literal_source, counter_source, clock_source, datetime_source>;

struct model_class {
    std::string name;
    std::vector<std::string> properties;  // spelling as declared, sorted case-insensitively
    std::vector<std::map<std::string, value_source, iless>> instances;
};

struct model_namespace {
    std::string name;  // full path as declared, e.g. root\cimv2
    std::map<std::string, model_class, iless> classes;
};

// The two moments every dynamic value is derived from: when the simulated target started
// serving (counters are at their "start" values then) and the time of the query.
struct model_time {
    sim_clock::time_point started;
    sim_clock::time_point now;
};

// One instance after evaluation: property name (declared spelling) to value.
using rendered_instance = std::vector<std::pair<std::string, property_value>>;

class machine_model {
public:
    static machine_model load_file(const std::filesystem::path& path);
    static machine_model parse(std::string_view json_text, std::string_view origin);

    const std::string& machine_name() const { return machine_name_; }
    int utc_offset_minutes() const { return utc_offset_minutes_; }
    std::int64_t uptime_seconds() const { return uptime_seconds_; }
    std::int64_t perf_frequency() const { return perf_frequency_; }

    // Case-insensitive; a namespace exists when declared or when a declared one lies below it.
    const model_namespace* find_namespace(std::string_view name) const;
    bool has_namespace(std::string_view name) const;
    // Child namespace names (last path element) of a namespace, for __NAMESPACE.
    std::vector<std::string> child_namespaces(std::string_view name) const;
    // A namespace the monitoring account may not open ("denied_namespaces"), or one below it;
    // its parent still lists it.
    bool is_denied(std::string_view name) const;

    property_value evaluate(const value_source& source, const model_time& time) const;
    rendered_instance evaluate(const model_class& cls, std::size_t index,
                               const model_time& time) const;

    const std::map<std::string, model_namespace, iless>& namespaces() const { return namespaces_; }

private:
    std::string machine_name_ = "WIN-SIMULATED";
    int utc_offset_minutes_ = 0;
    std::int64_t uptime_seconds_ = 3600;
    std::int64_t perf_frequency_ = 10'000'000;
    std::map<std::string, model_namespace, iless> namespaces_;
    std::vector<std::string> denied_namespaces_;
};

// Windows file time (100 ns ticks since 1601-01-01 UTC) of a moment.
std::int64_t to_file_time(sim_clock::time_point at);
// CIM datetime as WS-Management renders it: 2026-12-05T16:28:43.488171+01:00, fraction
// without trailing zeros (none when whole), "Z" for offset 0.
std::string format_cim_datetime(sim_clock::time_point at, int utc_offset_minutes);

}  // namespace winrm_simulator
