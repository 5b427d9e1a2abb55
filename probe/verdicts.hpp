#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "module_host.hpp"
#include "scan_view.hpp"
#include "settings.hpp"
#include "texts.hpp"

// What the probe decides from the module's answers: exit codes and the text a person reads.
// Everything here is data in, text and exit code out; the commands only call the exports and
// print.
namespace wmiprobe {

inline constexpr int exit_ok = 0;
// A sensor reported an error or down state, a meta-scan failed, or the check failed.
inline constexpr int exit_sensor_error = 1;
// Wrong usage, or the module could not be loaded or misbehaved.
inline constexpr int exit_failure = 2;

// Response codes of create, meta-scan and check that the exports share.
inline constexpr int code_unknown_kind = 1;
inline constexpr int code_creation_failed = 7;
inline constexpr int code_unknown_sensor_id = 8;

struct verdict {
    int exit_code = exit_ok;
    // False when the module build does not implement the kind (it answered unknown_kind).
    bool implemented = true;
    // Standard output, left out in --json mode.
    std::string out;
    // Standard error, always written.
    std::string err;
};

// A meta-scan's verdict with the instances it found (empty unless it succeeded).
struct discovery : verdict {
    nlohmann::json entries = nlohmann::json::array();
    // The meta-scan failed because the target has no namespace for its classes (Windows
    // Security on a server): the kind does not apply to this target.
    bool target_lacks_namespace = false;
};

// The exit code of a create, check or meta-scan that did not succeed, by its response code:
// the target's answer (0, or creation failed) is a sensor error, anything else a failure.
int exit_for_failure(int code);

// The exit code of a scan result's response code: down and error are sensor errors.
int exit_for_scan(int response_code);

verdict check_verdict(const std::string& kind, const std::string& host, const call_outcome& outcome,
                      const text_table& texts);

discovery discover_verdict(const std::string& kind, const call_outcome& outcome,
                           const text_table& texts);

// A create that succeeded (response code 0) has an empty verdict.
verdict create_verdict(const std::string& kind, const call_outcome& outcome,
                       const text_table& texts);

// Files every message of a scan into `view` (and so into its sensor state) and renders each
// scan result under `title`; `arrived_us` is when the answer came, for counter rates. `last`,
// when given, receives the report of the last scan result.
verdict scan_verdict(const std::string& kind, int sensor_id, const std::string& title,
                     const call_outcome& outcome, sensor_view& view, std::int64_t arrived_us,
                     scan_report* last = nullptr);

// The `info` listing: identity, sensors, meta-scans, checks and languages.
std::string render_info(const module_catalogue& catalogue, const text_table& texts, int api_level);

// The demo's closing summary, its name lists wrapped to 100 columns.
std::string render_demo_summary(const std::vector<std::string>& ran,
                                const std::vector<std::string>& missing,
                                const std::vector<std::string>& skipped,
                                const std::vector<std::string>& unavailable = {});

}  // namespace wmiprobe
