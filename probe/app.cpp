#include "app.hpp"

#include <algorithm>
#include <cstdlib>
#include <ostream>

#include <CLI/CLI.hpp>

#include "commands.hpp"
#include "nagios.hpp"
#include "serve_command.hpp"
#include "state_file.hpp"

namespace wmiprobe {

namespace {

void add_target_options(CLI::App& command, options& opts) {
    command.add_option("--host", opts.target.host, "target host name or address")->required();
    command
        .add_option("--port", opts.target.port, "WSMan port (default 5985, or 5986 with --https)")
        ->check(CLI::Range(1, 65535));
    command.add_flag("--https", opts.target.https, "HTTPS instead of HTTP with message encryption");
    command
        .add_option("--ca-file", opts.ca_file,
                    "trust only the certificate authorities in this PEM file for HTTPS "
                    "(else the system's trust store)")
        ->check(CLI::ExistingFile);
    command.add_option("--domain", opts.target.domain, "domain or computer name of the account");
    command.add_option("--user", opts.target.user, "user name");
    command.add_option("--password-file", opts.password_file,
                       "file whose first line is the password (else WMIPROBE_PASSWORD)");
    command
        .add_option("--set", opts.assignments,
                    "setting key=value, keys as in the settings document (repeatable)")
        ->expected(1)
        ->take_all();
}

// The plugin line of a run that could not measure: usage, or the module failed.
int print_unknown(std::ostream& out, const std::string& why) {
    const auto line = nagios_failure_line(exit_failure, "wmiprobe: " + why);
    out << line.text << "\n";
    return line.exit_code();
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
    scan->add_flag("--nagios", opts.nagios,
                   "print one Nagios/Icinga plugin line; exit 0 OK, 1 WARNING, 2 CRITICAL, "
                   "3 UNKNOWN");
    auto* demo = app.add_subcommand("demo", "run everything against the simulated target");

    serve_options serve_opts;
    auto* serve = add_serve_command(app, serve_opts);

    std::vector<std::string> argv_text{"wmiprobe"};
    argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : argv_text) argv.push_back(text.data());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        // A plugin's usage mistake is UNKNOWN; opts.nagios is not reliable after a failed parse.
        if (code != 0 && std::ranges::find(arguments, "--nagios") != arguments.end()) {
            return print_unknown(out, e.what());
        }
        return code == 0 ? exit_ok : exit_failure;
    }
    opts.progress_line = context.err_is_terminal;
    if (serve->parsed()) return serve_command(opts, serve_opts, err);

    // The WQL client verifies HTTPS targets against OpenSSL's default trust store, which
    // SSL_CERT_FILE replaces; set before the module makes its first connection.
    if (!opts.ca_file.empty()) setenv("SSL_CERT_FILE", opts.ca_file.c_str(), 1);

    std::string failure;
    try {
        session s(opts, out, err);
        if (info->parsed()) {
            return info_command(s);
        }
        if (check->parsed()) {
            return check_command(s, opts);
        }
        if (discover->parsed()) {
            return discover_command(s, opts);
        }
        if (scan->parsed()) {
            return scan_command(s, opts);
        }
        if (demo->parsed()) {
            return demo_command(s, context);
        }
        err << "no command given\n";
        return exit_failure;
    } catch (const usage_error& e) {
        failure = e.what();
    } catch (const std::invalid_argument& e) {
        failure = e.what();
    } catch (const module_error& e) {
        failure = e.what();
    } catch (const state_error& e) {
        failure = e.what();
    } catch (const std::exception& e) {
        failure = std::string("unexpected failure: ") + e.what();
    }
    err << "wmiprobe: " << failure << "\n";
    return opts.nagios ? print_unknown(out, failure) : exit_failure;
}

}  // namespace wmiprobe
