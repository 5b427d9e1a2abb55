#include <ostream>

#include "commands.hpp"

namespace wmiprobe {

namespace {

// The request bits of a meta-scan: 1 asks for the instances.
constexpr unsigned int discovery_request = 1;

}  // namespace

discovery run_discover(session& s, const kind_entry& kind,
                       const std::map<std::string, std::string>& settings) {
    if (!s.raw()) {
        s.out() << "Discovering with " << kind.name << " on " << settings.at("host") << "\n";
    }
    const auto outcome =
        s.host().meta_scan(probe_sensor_id, discovery_request,
                           settings_document(kind.name, settings), s.progress_printer());
    s.end_progress();
    s.print_raw(outcome);
    auto found = discover_verdict(kind.name, outcome, s.texts());
    s.print(found);
    return found;
}

int discover_command(session& s, const options& opts) {
    const auto& kind = s.catalogue().find(kind_role::metascan, opts.kind);
    const auto found = run_discover(s, kind, s.request_settings(kind));
    // Nothing was discovered when the build lacks the kind.
    return found.implemented ? found.exit_code : exit_failure;
}

}  // namespace wmiprobe
