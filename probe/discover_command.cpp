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
    s.print_raw(outcome);
    auto found = discover_verdict(kind.name, outcome, s.texts());
    s.print(found);
    return found;
}

}  // namespace wmiprobe
