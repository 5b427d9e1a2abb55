#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "commands.hpp"
#include "sensor_run.hpp"
#include "state_file.hpp"

namespace wmiprobe {

int scan_command(session& s, const options& opts) {
    const auto& kind = s.catalogue().find(kind_role::sensor, opts.kind);
    std::vector<std::string> extra;
    if (opts.count > 1) {
        extra.push_back("interval=" + std::to_string(std::max(1L, std::lround(opts.interval))));
    }
    const auto settings = s.request_settings(kind, extra);
    sensor_state state;
    if (opts.state_file) {
        state = load_state(*opts.state_file);
        if (!state.kind.empty() && (state.kind != kind.name || state.host != opts.target.host)) {
            throw usage_error("the state file " + *opts.state_file + " belongs to " + state.kind +
                              " on " + state.host + ", not " + kind.name + " on " +
                              opts.target.host);
        }
        state.kind = kind.name;
        state.host = opts.target.host;
    }
    int result = exit_ok;
    {
        sensor_run sensor(s, kind, probe_sensor_id, state);
        if (auto failed = sensor.create(settings)) {
            // Nothing was measured when the build lacks the kind.
            result = sensor.implemented() ? *failed : exit_failure;
        } else {
            for (int round = 1; round <= opts.count; ++round) {
                if (round > 1) {
                    std::this_thread::sleep_for(std::chrono::duration<double>(opts.interval));
                }
                const std::string title = "Scan " + std::to_string(round) + "/" +
                                          std::to_string(opts.count) + " of " + kind.name + " on " +
                                          opts.target.host;
                result = std::max(result, sensor.scan(title));
                if (result == exit_failure) {
                    break;
                }
            }
        }
    }
    // Written after the destroy, also after a failed scan: what the module sent still counts.
    if (opts.state_file) {
        save_state(*opts.state_file, state);
    }
    return result;
}

}  // namespace wmiprobe
