#include "commands.hpp"

namespace wmiprobe {

verdict run_check(session& s, const kind_entry& kind,
                  const std::map<std::string, std::string>& settings) {
    const auto outcome = s.host().check(probe_sensor_id, settings_document(kind.name, settings));
    s.print_raw(outcome);
    auto shown = check_verdict(kind.name, settings.at("host"), outcome, s.texts());
    s.print(shown);
    return shown;
}

}  // namespace wmiprobe
