#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "state_file.hpp"
#include "texts.hpp"

namespace wmiprobe {

enum class level { none, ok, warning, error };

struct channel_row {
    int id = 0;
    std::string name;
    // Value with unit, or the lookup state name; empty while a counter has no rate yet.
    std::string value;
    // Why the row is marked: the crossed limit, the lookup state, "first reading".
    std::string note;
    level mark = level::none;
    // The number as the module sent it (a counter's cumulative reading, before the factor).
    std::optional<double> raw;
    // The value a machine reads: the reading, or its rate per second for a counter; before the
    // channel's factor. Empty when there is none (no value, or a counter's first reading).
    std::optional<double> number;
    bool rate = false;
};

struct scan_report {
    int response_code = 0;
    std::string message;
    bool system_reset = false;
    std::vector<channel_row> rows;
};

// The name of a scan result's response code ("ok", "warning", "down", "error", ...).
std::string response_code_name(int response_code);

// A value in a channel's unit: bytes scaled to KiB/MiB/GiB, percent, milliseconds, seconds as
// a duration; unit codes are those of `dynamic_channel` (see docs/probe.md).
std::string format_value(double value, unsigned int unit, const std::string& custom_unit,
                         bool per_second, bool integer);

// What the probe shows of one sensor's results, keeping the state a host keeps for it.
class sensor_view {
public:
    // `lookups` is the document's `Lookups` member.
    sensor_view(nlohmann::json lookups, const text_table& texts, sensor_state& state);

    // Files `dynamic_channel` and `persistent_data` messages into the state; other messages
    // are left alone.
    void take(const nlohmann::json& message);

    // A `sensor_scan_result` turned into rows; cumulative counters become rates against the
    // previous reading (`now_us` in microseconds since the epoch), which it then replaces.
    scan_report report(const nlohmann::json& result, std::int64_t now_us);

    // The display name of a channel definition in the chosen language.
    std::string channel_name(const nlohmann::json& definition) const;

    // The lookup state of an integer value: its display name and level.
    std::optional<std::pair<std::string, level>> lookup_state(const std::string& lookup,
                                                              long long value) const;

private:
    nlohmann::json lookups_;
    const text_table& texts_;
    sensor_state& state_;
};

// The report as a table a person reads.
std::string format_report(const scan_report& report);

}  // namespace wmiprobe
