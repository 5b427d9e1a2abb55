#include <algorithm>
#include <chrono>
#include <cmath>
#include <ostream>
#include <thread>

#include "commands.hpp"
#include "nagios.hpp"
#include "sensor_run.hpp"
#include "state_file.hpp"

namespace wmiprobe {

int scan_command(session& s, const options& opts) {
    if (opts.nagios && s.raw()) {
        throw usage_error("--nagios prints one line of its own; it cannot be combined with --json");
    }
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
    const std::string subject = kind.name + " on " + opts.target.host;
    int result = exit_ok;
    // The plugin line of the last attempt: the last scan decides.
    nagios_line status;
    {
        sensor_run sensor(s, kind, probe_sensor_id, state);
        if (auto failed = sensor.create(settings)) {
            // Nothing was measured when the build lacks the kind.
            result = sensor.implemented() ? *failed : exit_failure;
            status =
                nagios_failure_line(result, sensor.last_verdict().out + sensor.last_verdict().err);
        } else {
            for (int round = 1; round <= opts.count; ++round) {
                if (round > 1) {
                    std::this_thread::sleep_for(std::chrono::duration<double>(opts.interval));
                }
                const std::string title = "Scan " + std::to_string(round) + "/" +
                                          std::to_string(opts.count) + " of " + subject;
                result = std::max(result, sensor.scan(title));
                const auto& report = sensor.last_report();
                status = report ? nagios_scan_line(subject, *report, state.channels)
                                : nagios_failure_line(exit_failure, sensor.last_verdict().err);
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
    if (opts.nagios) {
        s.out() << status.text << "\n";
        return status.exit_code();
    }
    return result;
}

}  // namespace wmiprobe
