#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <ostream>
#include <thread>

#include "commands.hpp"
#include "sensor_run.hpp"

namespace wmiprobe {

namespace {

// The --set assignments that give a sensor the values of a discovered entry.
std::vector<std::string> entry_assignments(const module_catalogue& catalogue,
                                           const std::string& section,
                                           const nlohmann::json& entry) {
    std::vector<std::string> assignments;
    const auto values = entry.value("values", nlohmann::json::object());
    for (const auto& [key, value] : catalogue.entry_settings(section, values)) {
        assignments.push_back(key + "=" + value);
    }
    return assignments;
}

}  // namespace

int demo_command(session& s, const app_context& context) {
    auto target = context.make_target ? context.make_target() : nullptr;
    if (!target) {
        s.err() << "demo: this build has no simulated Windows target, so there is nothing to "
                   "run against; use check, discover and scan with a real target\n";
        return exit_failure;
    }
    demo_endpoint endpoint;
    try {
        endpoint = target->start();
    } catch (const std::exception& e) {
        s.err() << "demo: the simulated Windows target could not start: " << e.what() << "\n";
        return exit_failure;
    }
    // The demo's own password travels like any other: through the settings, never argv.
    const auto settings_for = [&](const kind_entry& kind, std::vector<std::string> extra = {}) {
        target_options t{endpoint.host,   endpoint.port, false,
                         endpoint.domain, endpoint.user, endpoint.password};
        return build_settings(s.catalogue(), kind, t, extra);
    };
    if (!s.raw()) {
        s.out() << "Simulated Windows target on " << endpoint.host << ":" << endpoint.port
                << "\n\n";
    }
    int result = exit_ok;
    // Which kinds ran, which the module build lacks and which had nothing to run against,
    // for the closing summary.
    std::vector<std::string> ran;
    std::vector<std::string> missing;
    std::vector<std::string> skipped;
    // Kinds whose classes live in a namespace the target does not have: they do not apply to
    // it, which is no failure of the demo.
    std::vector<std::string> unavailable;
    const auto tally = [&](const kind_entry& kind, bool implemented) {
        (implemented ? ran : missing).push_back(kind.name);
    };
    for (const auto* check : s.catalogue().kinds_of(kind_role::check)) {
        const auto outcome = run_check(s, *check, settings_for(*check));
        result = std::max(result, outcome.exit_code);
        tally(*check, outcome.implemented);
    }
    std::map<std::string, nlohmann::json> first_entries;
    for (const auto* metascan : s.catalogue().kinds_of(kind_role::metascan)) {
        if (!s.raw()) s.out() << "\n";
        auto found = run_discover(s, *metascan, settings_for(*metascan));
        if (found.target_lacks_namespace) {
            unavailable.push_back(metascan->name);
            continue;
        }
        result = std::max(result, found.exit_code);
        tally(*metascan, found.implemented);
        if (!found.entries.empty()) {
            first_entries[metascan->name] = found.entries.front();
        }
    }

    struct running {
        const kind_entry* kind;
        sensor_state state;
        std::unique_ptr<sensor_run> run;
    };
    // A deque: each sensor_run keeps a reference to its state, which must not move.
    std::deque<running> sensors;
    int next_id = 100;
    for (const auto* kind : s.catalogue().kinds_of(kind_role::sensor)) {
        std::vector<std::string> extra;
        if (kind->first_meta_step && std::find(unavailable.begin(), unavailable.end(),
                                               *kind->first_meta_step) != unavailable.end()) {
            if (!s.raw()) {
                s.out() << "\n"
                        << kind->name << ": not available on this target, "
                        << *kind->first_meta_step << " found no namespace for it\n";
            }
            unavailable.push_back(kind->name);
            continue;
        }
        if (kind->first_meta_step) {
            const auto entry = first_entries.find(*kind->first_meta_step);
            const bool meta_ran =
                std::find(ran.begin(), ran.end(), *kind->first_meta_step) != ran.end();
            if (entry != first_entries.end() && kind->discovered_section) {
                extra = entry_assignments(s.catalogue(), *kind->discovered_section, entry->second);
            } else if (meta_ran) {
                // The meta-scan ran but gave this sensor nothing to watch: the demo could not
                // show a kind the build implements, which is a failed demo.
                if (!s.raw()) {
                    s.out() << "\n"
                            << kind->name << ": skipped, " << *kind->first_meta_step
                            << " found nothing to monitor\n";
                }
                skipped.push_back(kind->name);
                result = std::max(result, exit_sensor_error);
                continue;
            }
            // Without its meta-scan in this build the sensor is still created with its
            // defaults: a build that lacks it says so, one that has it reports what is missing.
        }
        sensors.push_back({kind, sensor_state{}, nullptr});
        auto& added = sensors.back();
        added.run = std::make_unique<sensor_run>(s, *kind, next_id++, added.state);
        if (!s.raw()) s.out() << "\n";
        if (auto failed = added.run->create(settings_for(*kind, extra))) {
            result = std::max(result, *failed);
            tally(*kind, added.run->implemented());
            added.run.reset();
        } else {
            tally(*kind, true);
        }
    }
    for (int round = 1; round <= 2; ++round) {
        const bool any_running = std::any_of(sensors.begin(), sensors.end(),
                                             [](const running& r) { return r.run != nullptr; });
        if (!any_running) break;
        if (round == 2) {
            std::this_thread::sleep_for(std::chrono::duration<double>(context.demo_pause_seconds));
        }
        for (auto& sensor : sensors) {
            if (!sensor.run) continue;
            if (!s.raw()) s.out() << "\n";
            result = std::max(result, sensor.run->scan("Scan " + std::to_string(round) + "/2 of " +
                                                       sensor.kind->name));
        }
    }
    sensors.clear();  // destroys the sensors before the summary
    if (!s.raw()) {
        s.out() << render_demo_summary(ran, missing, skipped, unavailable);
    }
    return result;
}

}  // namespace wmiprobe
