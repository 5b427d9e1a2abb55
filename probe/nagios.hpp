#pragma once

#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "scan_view.hpp"

// `scan --nagios`: a run as the single line and exit code of a Nagios/Icinga plugin. Data in,
// line out; the command only prints it.
namespace wmiprobe {

// The plugin states; the value is the exit code.
enum class nagios_state { ok = 0, warning = 1, critical = 2, unknown = 3 };

struct nagios_line {
    nagios_state state = nagios_state::unknown;
    // "STATE - message | perfdata", without a newline.
    std::string text;
    int exit_code() const { return static_cast<int>(state); }
};

// One scan result. The state is the worst of the sensor's response code (ok → OK, warning →
// WARNING, down and error → CRITICAL, anything else UNKNOWN) and its channels' marks (a crossed
// warning limit or a lookup state of level warning → WARNING, error → CRITICAL), CRITICAL ranking
// above WARNING above UNKNOWN. The message names `subject`, the sensor's status when it is not ok
// and the channels of the worst state. The perfdata holds every channel with a number;
// `channels` are the announced definitions by id (unit, value type, limits, factor).
nagios_line nagios_scan_line(const std::string& subject, const scan_report& report,
                             const std::map<int, nlohmann::json>& channels);

// A run that produced no scan result, `why` being what the probe would have said: with
// `probe_exit` exit_sensor_error (the target's answer: the sensor could not be created) it is
// CRITICAL, otherwise (usage, a module failure, a kind this build lacks) UNKNOWN.
nagios_line nagios_failure_line(int probe_exit, const std::string& why);

}  // namespace wmiprobe
