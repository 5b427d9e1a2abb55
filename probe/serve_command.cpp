#include "serve_command.hpp"

#include <pthread.h>
#include <signal.h>

#include <ostream>

#include <CLI/CLI.hpp>

#include "serve_config.hpp"
#include "serve_host.hpp"
#include "serve_http.hpp"
#include "serve_log.hpp"
#include "verdicts.hpp"

namespace wmiprobe {

CLI::App* add_serve_command(CLI::App& app, serve_options& serve) {
    auto* command =
        app.add_subcommand("serve", "scan the configured targets for ever and serve /metrics");
    command->add_option("--config", serve.config_file, "configuration file (TOML)")->required();
    command->add_option("--state-dir", serve.state_dir,
                        "directory of the sensors' state files (else the file's state_dir)");
    command->add_option("--listen", serve.listen,
                        "ADDRESS:PORT of the HTTP server (else the file's listen)");
    command->add_option("--log-level", serve.log_level, "error, warn, info or debug")
        ->check(CLI::IsMember({"error", "warn", "info", "debug"}));
    return command;
}

int serve_command(const options& opts, const serve_options& serve, std::ostream& err) {
    serve_log log(err, parse_log_level(serve.log_level).value_or(log_level::info));
    // Signals are taken by sigwait below, so block them before any thread exists: every
    // thread started from here on inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &signals, &previous);
    int code = exit_failure;
    try {
        auto config = load_serve_config(serve.config_file);
        if (!serve.listen.empty()) config.listen = serve.listen;
        if (!serve.state_dir.empty()) config.state_dir = serve.state_dir;
        if (config.state_dir.empty()) {
            throw config_error(serve.config_file +
                               ": no state directory; set state_dir or give --state-dir");
        }
        session s(opts, err, err);
        serve_host host(s, config, config.state_dir, log);
        http_server server(config.listen,
                           [&host](const std::string& method, const std::string& target) {
                               return host.answer(method, target);
                           });
        host.start();
        log.info("serving /metrics on " + config.listen + " (port " +
                 std::to_string(server.port()) + ")");
        int received = 0;
        sigwait(&signals, &received);
        log.info(std::string("stopping on ") + (received == SIGINT ? "SIGINT" : "SIGTERM"));
        server.stop();
        host.stop();
        code = exit_ok;
    } catch (const std::exception& e) {
        log.error(e.what());
    }
    // The module was cleaned up when the session ended.
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (code == exit_ok) log.info("module cleaned up; exiting");
    return code;
}

}  // namespace wmiprobe
