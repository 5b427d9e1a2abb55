#include "app.hpp"

#include <algorithm>
#include <chrono>
#include <deque>
#include <optional>
#include <ostream>
#include <thread>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "module_host.hpp"
#include "scan_view.hpp"
#include "settings.hpp"
#include "state_file.hpp"
#include "texts.hpp"

namespace wmiprobe {

namespace {

using nlohmann::json;

// Response codes of create, meta-scan and check that the exports share.
constexpr int code_unknown_kind = 1;
constexpr int code_creation_failed = 7;
constexpr int code_unknown_sensor_id = 8;
constexpr unsigned int discovery_request = 1;
constexpr int probe_sensor_id = 1;

struct options {
    std::string module_path;
    std::string language = "English";
    bool raw_json = false;

    std::string kind;
    std::string host;
    std::optional<int> port;
    bool https = false;
    std::string domain;
    std::string user;
    std::optional<std::string> password_file;
    std::vector<std::string> assignments;

    int count = 1;
    double interval = 60;
    std::optional<std::string> state_file;
};

std::int64_t now_us() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Everything a command needs once the module is loaded.
class session {
public:
    session(const options& opts, std::ostream& out, std::ostream& err)
        : opts_(opts),
          out_(out),
          err_(err),
          host_(opts.module_path.empty() ? default_module_path()
                                         : std::filesystem::path(opts.module_path)),
          information_raw_(host_.module_information(true)),
          information_(parse_information(information_raw_)),
          catalogue_(information_.at("document")),
          texts_(catalogue_.document(), opts.language) {}

    module_host& host() { return host_; }
    const module_catalogue& catalogue() const { return catalogue_; }
    const text_table& texts() const { return texts_; }
    const std::string& information_raw() const { return information_raw_; }
    std::ostream& out() { return out_; }
    std::ostream& err() { return err_; }
    bool raw() const { return opts_.raw_json; }

    json lookups() const { return catalogue_.document().value("Lookups", json::object()); }

    void print_raw(const call_outcome& outcome) {
        if (raw()) {
            for (const auto& message : outcome.raw_messages) {
                out_ << message << "\n";
            }
        }
    }

    // Meta-scan progress as it happens, one line each.
    message_observer progress_printer() {
        return [this](const json& message) {
            if (!raw() && message.value("type", "") == "metascan_progress") {
                out_ << "  ... " << message.value("progress", 0) << " " << message.value("text", "")
                     << "\n"
                     << std::flush;
            }
        };
    }

    // The first message of `type`, or null.
    static json first_of(const call_outcome& outcome, const std::string& type) {
        for (const auto& message : outcome.messages) {
            if (message.value("type", "") == type) {
                return message;
            }
        }
        return nullptr;
    }

    std::string message_text(const json& message) const {
        return message.is_object() ? texts_.render_message(message.value("message", json()))
                                   : std::string();
    }

private:
    static json parse_information(const std::string& raw) {
        json message = json::parse(raw, nullptr, false);
        if (!message.is_object() || !message.contains("document") ||
            !message["document"].is_object()) {
            throw module_error("the module information message is not a JSON object");
        }
        return message;
    }

    const options& opts_;
    std::ostream& out_;
    std::ostream& err_;
    module_host host_;
    std::string information_raw_;
    json information_;
    module_catalogue catalogue_;
    text_table texts_;
};

// A failure the export reported besides the operation's own codes; nothing for other codes.
std::optional<std::string> export_failure(int code) {
    if (code == export_exception) {
        return "the module failed unexpectedly (an exception escaped it)";
    }
    if (code == export_no_module) {
        return "the module is not initialised";
    }
    return std::nullopt;
}

std::string not_implemented(const std::string& kind) {
    return kind + ": not implemented by this module build";
}

// ---- info ----

int run_info(session& s) {
    if (s.raw()) {
        s.out() << s.information_raw() << "\n";
        return exit_ok;
    }
    const auto& document = s.catalogue().document();
    const auto& meta = document.value("MetaData", json::object());
    const auto& t = s.texts();
    const auto text = [&](const std::string& key, const std::string& fallback) {
        return t.render(key).value_or(fallback);
    };
    s.out() << text("module.display", meta.value("Display", "")) << " (" << meta.value("Name", "")
            << ") version " << meta.value("Version", "") << ", " << meta.value("Vendor", "") << ", "
            << meta.value("Contact", "") << "\n"
            << text("module.description", meta.value("Description", "")) << "\n"
            << "API level " << s.host().api_level() << ", document revision "
            << document.value("Revision", 0) << ", texts in " << t.language() << "\n";

    const auto& sensors = document.value("Sensors", json::object());
    s.out() << "\nSensors:\n";
    for (const auto* kind : s.catalogue().kinds_of(kind_role::sensor)) {
        const auto& entry = sensors.value(kind->name, json::object());
        s.out() << "  " << kind->name << ": "
                << text(kind->name + ".display", entry.value("Display", "")) << "\n      "
                << text(kind->name + ".description", entry.value("Description", "")) << "\n";
        if (kind->first_meta_step) {
            s.out() << "      discover first with: " << *kind->first_meta_step << "\n";
        }
    }
    s.out() << "\nMeta-scans:\n";
    for (const auto* kind : s.catalogue().kinds_of(kind_role::metascan)) {
        std::string users;
        for (const auto* sensor : s.catalogue().kinds_of(kind_role::sensor)) {
            if (sensor->first_meta_step == kind->name) {
                const auto& entry = sensors.value(sensor->name, json::object());
                users += (users.empty() ? "" : ", ") +
                         text(sensor->name + ".display", entry.value("Display", sensor->name));
            }
        }
        s.out() << "  " << kind->name << (users.empty() ? "" : ": finds instances for " + users)
                << "\n";
    }
    s.out() << "\nChecks:\n";
    for (const auto* kind : s.catalogue().kinds_of(kind_role::check)) {
        s.out() << "  " << kind->name << "\n";
    }
    s.out() << "\nLanguages:";
    for (const auto& language : text_table::languages(document)) {
        s.out() << " " << language;
    }
    s.out() << "\n";
    return exit_ok;
}

// ---- check ----

struct check_outcome {
    int exit_code = exit_ok;
    bool implemented = true;
};

check_outcome run_check(session& s, const kind_entry& kind,
                        const std::map<std::string, std::string>& settings) {
    const auto outcome = s.host().check(probe_sensor_id, settings_document(kind.name, settings));
    s.print_raw(outcome);
    if (auto failure = export_failure(outcome.code)) {
        s.err() << "check " << kind.name << ": " << *failure << "\n";
        return {exit_failure, true};
    }
    if (outcome.code == code_unknown_kind) {
        if (!s.raw()) s.out() << "Check " << not_implemented(kind.name) << "\n";
        return {exit_ok, false};
    }
    const json result = session::first_of(outcome, "check_result");
    if (!result.is_object()) {
        s.err() << "check " << kind.name << ": the module sent no check_result (code "
                << outcome.code << ")\n";
        return {exit_failure, true};
    }
    const bool passed = outcome.code == 0 && result.is_object() && result.value("success", false);
    if (!s.raw()) {
        s.out() << "Check " << kind.name << " on " << settings.at("host") << ": "
                << (passed ? "passed" : "FAILED");
        const std::string why = s.message_text(result);
        if (!why.empty()) {
            s.out() << ": " << why;
        }
        s.out() << "\n";
    }
    if (passed) {
        return {exit_ok, true};
    }
    return {outcome.code == code_creation_failed || outcome.code == 0 ? exit_sensor_error
                                                                      : exit_failure,
            true};
}

// ---- discover ----

struct discovery {
    int exit_code = exit_ok;
    bool implemented = true;
    json entries = json::array();
};

discovery run_discover(session& s, const kind_entry& kind,
                       const std::map<std::string, std::string>& settings) {
    if (!s.raw()) {
        s.out() << "Discovering with " << kind.name << " on " << settings.at("host") << "\n";
    }
    const auto outcome =
        s.host().meta_scan(probe_sensor_id, discovery_request,
                           settings_document(kind.name, settings), s.progress_printer());
    s.print_raw(outcome);
    if (auto failure = export_failure(outcome.code)) {
        s.err() << kind.name << ": " << *failure << "\n";
        return {exit_failure, true, json::array()};
    }
    if (outcome.code == code_unknown_kind) {
        if (!s.raw()) s.out() << "  " << not_implemented(kind.name) << "\n";
        return {exit_ok, false, json::array()};
    }
    const json result = session::first_of(outcome, "meta_scan_result");
    if (!result.is_object()) {
        s.err() << kind.name << ": the module sent no meta_scan_result (code " << outcome.code
                << ")\n";
        return {exit_failure, true, json::array()};
    }
    if (outcome.code != 0 || !result.is_object() || result.value("response_code", 5) != 0) {
        if (!s.raw()) {
            const std::string why = s.message_text(result);
            s.out() << "  FAILED: " << (why.empty() ? "no reason given" : why) << "\n";
        }
        return {outcome.code == 0 || outcome.code == code_creation_failed ? exit_sensor_error
                                                                          : exit_failure,
                true, json::array()};
    }
    discovery found{exit_ok, true, result.value("entries", json::array())};
    if (!s.raw()) {
        s.out() << "  " << found.entries.size() << " found\n";
        int index = 0;
        for (const auto& entry : found.entries) {
            s.out() << "  " << ++index << ". "
                    << s.texts().render_message(entry.value("display_name", json())) << "\n";
            const json values = entry.value("values", json::object());
            for (const auto& [name, value] : values.items()) {
                s.out() << "       " << name << " = "
                        << (value.is_string() ? value.get<std::string>() : value.dump()) << "\n";
            }
        }
    }
    return found;
}

// The --set assignments that give a sensor the values of a discovered entry.
std::vector<std::string> entry_assignments(const module_catalogue& catalogue,
                                           const std::string& section, const json& entry) {
    std::vector<std::string> assignments;
    const auto keys = catalogue.section_keys(section);
    const json values = entry.value("values", json::object());
    for (const auto& [name, value] : values.items()) {
        for (const auto& key : keys) {
            if (key.size() > name.size() &&
                key.compare(key.size() - name.size() - 1, std::string::npos, "." + name) == 0 &&
                value.is_string()) {
                assignments.push_back(key + "=" + value.get<std::string>());
            }
        }
    }
    return assignments;
}

// ---- scan ----

int exit_for_scan(int response_code) {
    return response_code == 2 || response_code == 3 ? exit_sensor_error : exit_ok;
}

// One sensor from create to destroy.
class sensor_run {
public:
    sensor_run(session& s, const kind_entry& kind, int sensor_id, sensor_state& state)
        : s_(s), kind_(kind), id_(sensor_id), state_(state), view_(s.lookups(), s.texts(), state) {}

    ~sensor_run() {
        if (created_) {
            s_.print_raw(s_.host().destroy_sensor(id_));
        }
    }

    // Returns the exit code of a failed create, or nothing when the sensor exists.
    std::optional<int> create(const std::map<std::string, std::string>& settings) {
        std::map<int, std::string> channels;
        for (const auto& [id, definition] : state_.channels) {
            channels[id] = definition.value("key", "");
        }
        const auto outcome = s_.host().create_sensor(
            id_, settings_document(kind_.name, settings, channels, state_.persistent_data));
        s_.print_raw(outcome);
        for (const auto& message : outcome.messages) {
            view_.take(message);
        }
        if (auto failure = export_failure(outcome.code)) {
            s_.err() << kind_.name << ": " << *failure << "\n";
            return exit_failure;
        }
        if (outcome.code == code_unknown_kind) {
            implemented_ = false;
            if (!s_.raw()) s_.out() << not_implemented(kind_.name) << "\n";
            return exit_ok;
        }
        if (outcome.code != 0) {
            if (!s_.raw()) {
                const std::string why =
                    s_.message_text(session::first_of(outcome, "sensor_create_error"));
                s_.out() << kind_.name << ": the sensor could not be created: "
                         << (why.empty() ? "code " + std::to_string(outcome.code) : why) << "\n";
            }
            return outcome.code == code_creation_failed ? exit_sensor_error : exit_failure;
        }
        created_ = true;
        return std::nullopt;
    }

    bool implemented() const { return implemented_; }

    int scan(const std::string& title) {
        const auto outcome = s_.host().scan_sensor(id_);
        const std::int64_t arrived = now_us();
        s_.print_raw(outcome);
        if (auto failure = export_failure(outcome.code)) {
            s_.err() << kind_.name << ": " << *failure << "\n";
            return exit_failure;
        }
        if (outcome.code == code_unknown_sensor_id) {
            s_.err() << kind_.name << ": the module lost sensor " << id_ << "\n";
            return exit_failure;
        }
        int worst = exit_ok;
        bool reported = false;
        for (const auto& message : outcome.messages) {
            view_.take(message);
            if (message.value("type", "") != "sensor_scan_result") {
                continue;
            }
            reported = true;
            const auto report = view_.report(message, arrived);
            if (!s_.raw()) {
                s_.out() << title << "\n" << format_report(report);
            }
            worst = std::max(worst, exit_for_scan(report.response_code));
        }
        if (!reported) {
            s_.err() << kind_.name << ": the scan sent no result\n";
            return exit_failure;
        }
        return worst;
    }

private:
    session& s_;
    const kind_entry& kind_;
    int id_;
    sensor_state& state_;
    sensor_view view_;
    bool created_ = false;
    bool implemented_ = true;
};

std::map<std::string, std::string> request_settings(const session& s, const kind_entry& kind,
                                                    const options& opts,
                                                    const std::vector<std::string>& extra = {}) {
    target_options target{opts.host,   opts.port, opts.https,
                          opts.domain, opts.user, read_password(opts.password_file)};
    std::vector<std::string> assignments = extra;
    assignments.insert(assignments.end(), opts.assignments.begin(), opts.assignments.end());
    return build_settings(s.catalogue(), kind, target, assignments);
}

int run_scan(session& s, const options& opts) {
    const auto& kind = s.catalogue().find(kind_role::sensor, opts.kind);
    std::vector<std::string> extra;
    if (opts.count > 1) {
        extra.push_back("interval=" + std::to_string(std::max(1L, std::lround(opts.interval))));
    }
    const auto settings = request_settings(s, kind, opts, extra);
    sensor_state state;
    if (opts.state_file) {
        state = load_state(*opts.state_file);
        if (!state.kind.empty() && (state.kind != kind.name || state.host != opts.host)) {
            throw usage_error("the state file " + *opts.state_file + " belongs to " + state.kind +
                              " on " + state.host + ", not " + kind.name + " on " + opts.host);
        }
        state.kind = kind.name;
        state.host = opts.host;
    }
    int result = exit_ok;
    {
        sensor_run sensor(s, kind, probe_sensor_id, state);
        if (auto failed = sensor.create(settings)) {
            result = *failed;
            if (!sensor.implemented()) {
                result = exit_failure;
            }
        } else {
            for (int round = 1; round <= opts.count; ++round) {
                if (round > 1) {
                    std::this_thread::sleep_for(std::chrono::duration<double>(opts.interval));
                }
                const std::string title = "Scan " + std::to_string(round) + "/" +
                                          std::to_string(opts.count) + " of " + kind.name + " on " +
                                          opts.host;
                result = std::max(result, sensor.scan(title));
                if (result == exit_failure) {
                    break;
                }
            }
        }
    }
    if (opts.state_file) {
        save_state(*opts.state_file, state);
    }
    return result;
}

// ---- demo ----

int run_demo(session& s, options opts, const app_context& context) {
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
    opts.host = endpoint.host;
    opts.port = endpoint.port;
    opts.domain = endpoint.domain;
    opts.user = endpoint.user;
    opts.https = false;
    opts.password_file.reset();
    opts.assignments.clear();
    // The demo's own password travels like any other: through the settings, never argv.
    const auto settings_for = [&](const kind_entry& kind, std::vector<std::string> extra = {}) {
        target_options t{opts.host, opts.port, false, opts.domain, opts.user, endpoint.password};
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
    const auto tally = [&](const kind_entry& kind, bool implemented) {
        (implemented ? ran : missing).push_back(kind.name);
    };
    for (const auto* check : s.catalogue().kinds_of(kind_role::check)) {
        const auto outcome = run_check(s, *check, settings_for(*check));
        result = std::max(result, outcome.exit_code);
        tally(*check, outcome.implemented);
    }
    std::map<std::string, json> first_entries;
    for (const auto* metascan : s.catalogue().kinds_of(kind_role::metascan)) {
        if (!s.raw()) s.out() << "\n";
        auto found = run_discover(s, *metascan, settings_for(*metascan));
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
        // Comma-separated, wrapped to stay within a 100-column terminal.
        const auto list = [](const std::vector<std::string>& names) {
            std::string text;
            std::size_t line = 20;
            for (std::size_t i = 0; i < names.size(); ++i) {
                const std::string item = names[i] + (i + 1 < names.size() ? "," : "");
                if (i > 0 && line + 1 + item.size() > 100) {
                    text += "\n   ";
                    line = 3;
                }
                text += (i > 0 ? " " : "") + item;
                line += item.size() + 1;
            }
            return text;
        };
        s.out() << "\nDemo finished: " << ran.size() << " kinds ran, " << missing.size()
                << " not implemented by this module build, " << skipped.size() << " skipped\n";
        if (!missing.empty()) s.out() << "  not implemented: " << list(missing) << "\n";
        if (!skipped.empty()) s.out() << "  skipped: " << list(skipped) << "\n";
    }
    return result;
}

void add_target_options(CLI::App& command, options& opts) {
    command.add_option("--host", opts.host, "target host name or address")->required();
    command.add_option("--port", opts.port, "WSMan port (default 5985, or 5986 with --https)")
        ->check(CLI::Range(1, 65535));
    command.add_flag("--https", opts.https, "HTTPS instead of HTTP with message encryption");
    command.add_option("--domain", opts.domain, "domain or computer name of the account");
    command.add_option("--user", opts.user, "user name");
    command.add_option("--password-file", opts.password_file,
                       "file whose first line is the password (else WMIPROBE_PASSWORD)");
    command
        .add_option("--set", opts.assignments,
                    "setting key=value, keys as in the settings document (repeatable)")
        ->expected(1)
        ->take_all();
}

}  // namespace

int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
        const app_context& context) {
    options opts;
    CLI::App app{"wmiprobe: runs the WMI module's checks, meta-scans and sensors", "wmiprobe"};
    app.require_subcommand(1);
    app.fallthrough();
    app.add_option("--module", opts.module_path, "path of libwmi.so (default: beside wmiprobe)");
    app.add_option("--lang", opts.language, "language of names and messages (default English)");
    app.add_flag("--json", opts.raw_json, "print the module's messages, one JSON object a line");

    auto* info = app.add_subcommand("info", "the module's sensors, meta-scans and check");
    auto* check = app.add_subcommand("check", "run the connectivity check against a target");
    check->add_option("kind", opts.kind, "check kind (default: the module's only check)");
    add_target_options(*check, opts);
    auto* discover = app.add_subcommand("discover", "run a meta-scan and list what it finds");
    discover->add_option("kind", opts.kind, "meta-scan kind")->required();
    add_target_options(*discover, opts);
    auto* scan = app.add_subcommand("scan", "create a sensor, scan it, destroy it");
    scan->add_option("kind", opts.kind, "sensor kind")->required();
    add_target_options(*scan, opts);
    scan->add_option("--count", opts.count, "number of scans (default 1)")
        ->check(CLI::Range(1, 1000000));
    scan->add_option("--interval", opts.interval, "seconds between scans (default 60)")
        ->check(CLI::Range(0.0, 86400.0));
    scan->add_option("--state", opts.state_file,
                     "file keeping channels and persistent data between runs");
    auto* demo = app.add_subcommand("demo", "run everything against the simulated target");

    std::vector<std::string> argv_text{"wmiprobe"};
    argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : argv_text) argv.push_back(text.data());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        return code == 0 ? exit_ok : exit_failure;
    }

    try {
        session s(opts, out, err);
        if (info->parsed()) {
            return run_info(s);
        }
        if (check->parsed()) {
            const auto checks = s.catalogue().kinds_of(kind_role::check);
            if (opts.kind.empty() && checks.empty()) {
                throw usage_error("the module has no check");
            }
            const auto& kind = opts.kind.empty() ? *checks.front()
                                                 : s.catalogue().find(kind_role::check, opts.kind);
            const auto outcome = run_check(s, kind, request_settings(s, kind, opts));
            return outcome.implemented ? outcome.exit_code : exit_failure;
        }
        if (discover->parsed()) {
            const auto& kind = s.catalogue().find(kind_role::metascan, opts.kind);
            const auto found = run_discover(s, kind, request_settings(s, kind, opts));
            return found.implemented ? found.exit_code : exit_failure;
        }
        if (scan->parsed()) {
            return run_scan(s, opts);
        }
        if (demo->parsed()) {
            return run_demo(s, opts, context);
        }
        err << "no command given\n";
        return exit_failure;
    } catch (const usage_error& e) {
        err << "wmiprobe: " << e.what() << "\n";
    } catch (const std::invalid_argument& e) {
        err << "wmiprobe: " << e.what() << "\n";
    } catch (const module_error& e) {
        err << "wmiprobe: " << e.what() << "\n";
    } catch (const state_error& e) {
        err << "wmiprobe: " << e.what() << "\n";
    } catch (const std::exception& e) {
        err << "wmiprobe: unexpected failure: " << e.what() << "\n";
    }
    return exit_failure;
}

}  // namespace wmiprobe
