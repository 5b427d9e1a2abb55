#pragma once

#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "module_host.hpp"
#include "settings.hpp"
#include "texts.hpp"
#include "verdicts.hpp"

namespace wmiprobe {

// The sensor id of the single sensor, check or meta-scan that check, discover and scan run.
inline constexpr int probe_sensor_id = 1;

// What the command line asked for.
struct options {
    std::string module_path;
    std::string language = "English";
    bool raw_json = false;

    std::string kind;
    // The password is not given here but read from password_file or the environment.
    target_options target;
    std::optional<std::string> password_file;
    std::string ca_file;  // PEM; replaces the system trust store for HTTPS
    std::vector<std::string> assignments;

    int count = 1;
    double interval = 60;
    std::optional<std::string> state_file;
    // scan: one plugin line on standard output and nothing else (see nagios.hpp).
    bool nagios = false;

    // Not an option: standard error is a terminal, so meta-scan progress is one line there,
    // rewritten in place.
    bool progress_line = false;
};

// Everything a command needs once the module is loaded: the module, its catalogue and texts,
// and where to write.
class session {
public:
    // Throws module_error when the module cannot be loaded or its information is broken, and
    // std::invalid_argument when it has no texts in the chosen language.
    session(const options& opts, std::ostream& out, std::ostream& err);

    module_host& host() { return host_; }
    const module_catalogue& catalogue() const { return catalogue_; }
    const text_table& texts() const { return texts_; }
    const std::string& information_raw() const { return information_raw_; }
    std::ostream& out() { return out_; }
    std::ostream& err() { return err_; }
    bool raw() const { return opts_.raw_json; }
    nlohmann::json lookups() const;

    // In --json mode, the module's messages byte for byte.
    void print_raw(const call_outcome& outcome);
    // Writes `shown` (its standard output only when not in --json or --nagios mode).
    void print(const verdict& shown);
    // Meta-scan progress as it happens: a line each on standard output, or one line rewritten
    // on a terminal's standard error, which end_progress() then clears.
    message_observer progress_printer();
    void end_progress();

    // The settings of one request from the command line's target options and assignments,
    // `extra` assignments first so that the command line's own win.
    std::map<std::string, std::string> request_settings(
        const kind_entry& kind, const std::vector<std::string>& extra = {}) const;

private:
    const options& opts_;
    std::ostream& out_;
    std::ostream& err_;
    module_host host_;
    std::string information_raw_;
    module_catalogue catalogue_;
    text_table texts_;
    bool progress_shown_ = false;
};

}  // namespace wmiprobe
