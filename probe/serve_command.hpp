#pragma once

#include <iosfwd>
#include <string>

#include "session.hpp"

namespace CLI {
class App;
}

namespace wmiprobe {

struct serve_options {
    std::string config_file;
    std::string state_dir;
    std::string listen;
    std::string log_level = "info";
};

// Adds `serve` to the command line.
CLI::App* add_serve_command(CLI::App& app, serve_options& serve);

// Runs until SIGTERM or SIGINT; returns the exit code. Everything goes to `err`: the log, and
// why it could not start.
int serve_command(const options& opts, const serve_options& serve, std::ostream& err);

}  // namespace wmiprobe
