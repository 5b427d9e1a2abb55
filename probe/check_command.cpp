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

int check_command(session& s, const options& opts) {
    const auto checks = s.catalogue().kinds_of(kind_role::check);
    if (opts.kind.empty() && checks.empty()) {
        throw usage_error("the module has no check");
    }
    const auto& kind =
        opts.kind.empty() ? *checks.front() : s.catalogue().find(kind_role::check, opts.kind);
    const auto shown = run_check(s, kind, s.request_settings(kind));
    // Nothing was checked when the build lacks the kind.
    return shown.implemented ? shown.exit_code : exit_failure;
}

}  // namespace wmiprobe
