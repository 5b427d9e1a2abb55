#include "serve_config.hpp"

#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include <toml++/toml.h>

#include "settings.hpp"

namespace wmiprobe {

namespace {

// Reads one table of the file, refusing keys it does not know, so a misspelt key is an error
// with its line instead of a setting silently left at its default.
class table_reader {
public:
    table_reader(const toml::table& table, const std::string& origin, std::string what)
        : table_(table), origin_(origin), what_(std::move(what)) {}

    [[noreturn]] void fail(const toml::node& at, const std::string& message) const {
        throw config_error(origin_ + ":" + std::to_string(at.source().begin.line) + ": " + message);
    }
    [[noreturn]] void fail(const std::string& message) const { fail(table_, message); }

    const toml::node* find(const std::string& key) {
        known_.insert(key);
        return table_.get(key);
    }

    std::optional<std::string> text(const std::string& key) {
        const auto* node = find(key);
        if (node == nullptr) return std::nullopt;
        const auto* value = node->as_string();
        if (value == nullptr) fail(*node, "'" + key + "' in " + what_ + " must be a text");
        return value->get();
    }

    std::string required_text(const std::string& key) {
        auto value = text(key);
        if (!value || value->empty()) fail(what_ + " needs '" + key + "'");
        return *value;
    }

    std::optional<double> number(const std::string& key, double low, double high) {
        const auto* node = find(key);
        if (node == nullptr) return std::nullopt;
        const auto value = node->value<double>();
        if (!value || *value < low || *value > high) {
            std::ostringstream range;
            range << low << " to " << high;
            fail(*node, "'" + key + "' in " + what_ + " must be a number from " + range.str());
        }
        return *value;
    }

    // A table of setting key -> value, the keys as `--set` takes them (quoted in TOML, since
    // they contain dots).
    std::map<std::string, std::string> settings(const std::string& key) {
        std::map<std::string, std::string> out;
        const auto* node = find(key);
        if (node == nullptr) return out;
        const auto* table = node->as_table();
        if (table == nullptr) fail(*node, "'" + key + "' in " + what_ + " must be a table");
        for (const auto& [name, value] : *table) {
            const std::string setting(name.str());
            if (is_secret_key(setting)) {
                fail(value, "the secret setting '" + setting +
                                "' cannot be given here; use the target's password_file or "
                                "password_env");
            }
            if (const auto* text = value.as_string()) {
                out[setting] = text->get();
            } else if (const auto integer = value.value_exact<std::int64_t>()) {
                out[setting] = std::to_string(*integer);
            } else {
                fail(value, "setting '" + setting + "' must be a text or a whole number");
            }
        }
        return out;
    }

    template <typename Each>
    void tables(const std::string& key, Each each) {
        const auto* node = find(key);
        if (node == nullptr) return;
        const auto* array = node->as_array();
        if (array == nullptr || !array->is_array_of_tables()) {
            fail(*node, "'" + key + "' must be written as [[" + key + "]] tables");
        }
        for (const auto& element : *array) each(*element.as_table());
    }

    // Call after reading every key the table may have.
    void refuse_unknown() const {
        for (const auto& [name, value] : table_) {
            if (known_.count(std::string(name.str())) == 0) {
                fail(value, "unknown key '" + std::string(name.str()) + "' in " + what_);
            }
        }
    }

    int line() const { return static_cast<int>(table_.source().begin.line); }

private:
    const toml::table& table_;
    const std::string& origin_;
    std::string what_;
    std::set<std::string> known_;
};

constexpr double max_interval_s = 86400.0 * 7;

void read_sensor(table_reader& in, sensor_config& sensor) {
    sensor.line = in.line();
    sensor.kind = in.required_text("kind");
    sensor.instance = in.text("instance").value_or("");
    sensor.interval_s = in.number("interval", 1, max_interval_s).value_or(60);
    sensor.settings = in.settings("settings");
    in.refuse_unknown();
}

void read_discovery(table_reader& in, discovery_config& discovery) {
    discovery.line = in.line();
    discovery.sensor = in.required_text("sensor");
    discovery.match = in.text("match").value_or("");
    try {
        std::regex pattern(discovery.match);
    } catch (const std::regex_error& e) {
        in.fail(*in.find("match"), "'match' is not a valid pattern: " + std::string(e.what()));
    }
    discovery.interval_s = in.number("interval", 1, max_interval_s).value_or(60);
    discovery.rediscover_s = in.number("rediscover", 10, max_interval_s).value_or(3600);
    discovery.settings = in.settings("settings");
    in.refuse_unknown();
}

void read_target(table_reader& in, const std::string& origin, target_config& target) {
    target.line = in.line();
    target.host = in.required_text("host");
    target.name = in.text("name").value_or(target.host);
    if (const auto port = in.number("port", 1, 65535)) target.port = static_cast<int>(*port);
    const auto protocol = in.text("protocol").value_or("http");
    if (protocol != "http" && protocol != "https") {
        in.fail(*in.find("protocol"), "'protocol' must be \"http\" or \"https\"");
    }
    target.https = protocol == "https";
    target.authentication = in.text("authentication").value_or("negotiate");
    if (target.authentication != "negotiate" && target.authentication != "kerberos_only") {
        in.fail(*in.find("authentication"),
                "'authentication' must be \"negotiate\" or \"kerberos_only\"");
    }
    target.domain = in.text("domain").value_or("");
    target.user = in.required_text("user");
    if (const auto* inline_password = in.find("password")) {
        // Never echo the value: this message reaches logs.
        in.fail(*inline_password,
                "a password in the configuration is refused; use password_file or password_env");
    }
    target.password_file = in.text("password_file");
    target.password_env = in.text("password_env");
    if (target.password_file.has_value() == target.password_env.has_value()) {
        in.fail("target '" + target.name + "' needs exactly one of password_file and password_env");
    }
    const std::string of = " of target '" + target.name + "'";
    in.tables("sensor", [&](const toml::table& table) {
        table_reader sensor_in(table, origin, "a sensor" + of);
        read_sensor(sensor_in, target.sensors.emplace_back());
    });
    in.tables("discover", [&](const toml::table& table) {
        table_reader discovery_in(table, origin, "a discovery" + of);
        read_discovery(discovery_in, target.discoveries.emplace_back());
    });
    in.refuse_unknown();
    if (target.sensors.empty() && target.discoveries.empty()) {
        in.fail("target '" + target.name + "' has no [[target.sensor]] and no [[target.discover]]");
    }
}

}  // namespace

serve_config parse_serve_config(const std::string& text, const std::string& origin) {
    toml::table root;
    try {
        root = toml::parse(text, origin);
    } catch (const toml::parse_error& e) {
        throw config_error(origin + ":" + std::to_string(e.source().begin.line) + ": " +
                           std::string(e.description()));
    }
    serve_config config;
    config.origin = origin;
    table_reader in(root, origin, "the file");
    config.listen = in.text("listen").value_or(config.listen);
    config.state_dir = in.text("state_dir").value_or("");
    config.workers = static_cast<int>(in.number("workers", 1, 256).value_or(config.workers));
    config.jitter = in.number("jitter", 0, 0.9).value_or(config.jitter);
    std::set<std::string> names;
    in.tables("target", [&](const toml::table& table) {
        table_reader target_in(table, origin, "a target");
        auto& target = config.targets.emplace_back();
        read_target(target_in, origin, target);
        if (!names.insert(target.name).second) {
            target_in.fail("a second target named '" + target.name +
                           "'; give each target its own name");
        }
    });
    in.refuse_unknown();
    if (config.targets.empty()) {
        throw config_error(origin + ": no [[target]] is configured");
    }
    return config;
}

serve_config load_serve_config(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw config_error("cannot read the configuration file " + path);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return parse_serve_config(buffer.str(), path);
}

std::string target_password(const target_config& target) {
    if (target.password_env) {
        const char* value = std::getenv(target.password_env->c_str());
        if (value == nullptr || *value == '\0') {
            throw config_error("target '" + target.name + "': the environment variable " +
                               *target.password_env + " is not set");
        }
        return value;
    }
    try {
        const auto password = read_password(target.password_file);
        if (password.empty()) {
            throw config_error("target '" + target.name + "': the password file " +
                               *target.password_file + " is empty");
        }
        return password;
    } catch (const usage_error& e) {
        throw config_error("target '" + target.name + "': " + e.what());
    }
}

}  // namespace wmiprobe
