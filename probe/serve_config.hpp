#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace wmiprobe {

// A configuration file that cannot be used. The text starts with "FILE:LINE:" whenever the
// mistake has a place in the file.
class config_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A sensor the configuration names directly.
struct sensor_config {
    std::string kind;
    // The `instance` label; empty unless the user names it.
    std::string instance;
    std::map<std::string, std::string> settings;
    double interval_s = 60;
    int line = 0;
};

// A meta-scan whose entries become sensors of `sensor` (the sensor kind whose first step the
// meta-scan is), kept in step with the target by discovering again every `rediscover_s`.
struct discovery_config {
    std::string sensor;
    // ECMAScript pattern searched in each entry's display name; empty takes every entry.
    std::string match;
    std::map<std::string, std::string> settings;
    double interval_s = 60;
    double rediscover_s = 3600;
    int line = 0;
};

struct target_config {
    // The `target` label; the host when not given.
    std::string name;
    std::string host;
    std::optional<int> port;
    bool https = false;
    // Value of the credentials group's `mode` selection.
    std::string authentication = "negotiate";
    std::string domain;
    std::string user;
    // Exactly one of these names where the password comes from; an inline password is refused.
    std::optional<std::string> password_file;
    std::optional<std::string> password_env;
    std::vector<sensor_config> sensors;
    std::vector<discovery_config> discoveries;
    int line = 0;
};

struct serve_config {
    // The file's name, for messages that point at a line of it.
    std::string origin;
    std::string listen = "127.0.0.1:9640";
    std::string state_dir;
    // Threads that call the module's exports; scans beyond them wait in a bounded queue.
    int workers = 4;
    // Each scan starts up to this fraction of its interval late, so sensors of one interval
    // do not all hit a target in the same instant.
    double jitter = 0.1;
    std::vector<target_config> targets;
};

// Parses a TOML configuration (see docs/serve.md). `origin` names the file in messages.
serve_config parse_serve_config(const std::string& text, const std::string& origin);
serve_config load_serve_config(const std::string& path);

// The password of a target from its file's first line or its environment variable; throws
// config_error naming the target when neither gives one.
std::string target_password(const target_config& target);

}  // namespace wmiprobe
