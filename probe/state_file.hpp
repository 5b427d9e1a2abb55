#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace wmiprobe {

// A state file that cannot be read, parsed or written; exit code 2.
class state_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The last raw reading of a cumulative counter channel, for the next difference.
struct counter_sample {
    double value = 0;
    // Microseconds since the Unix epoch, when the reading arrived.
    std::int64_t time_us = 0;
    bool operator==(const counter_sample&) const = default;
};

// What a host keeps for one sensor between runs: the channels the module announced (their
// full `dynamic_channel` definitions, because a known channel is never announced again), the
// persistent data, and the counter baselines for rates.
struct sensor_state {
    std::string kind;
    std::string host;
    std::map<int, nlohmann::json> channels;
    std::map<std::string, std::string> persistent_data;
    std::map<int, counter_sample> counters;
    bool operator==(const sensor_state&) const = default;
};

// A missing file gives an empty state; a file that is not a state file throws state_error.
sensor_state load_state(const std::filesystem::path& path);

// Writes a temporary file beside `path` and renames it over `path`, so a crash leaves either
// the old or the new state, never half of one.
void save_state(const std::filesystem::path& path, const sensor_state& state);

}  // namespace wmiprobe
