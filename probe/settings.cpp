#include "settings.hpp"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace wmiprobe {

namespace {

// The host's own settings, which the module information document does not declare.
const std::map<std::string, std::string>& common_defaults() {
    static const std::map<std::string, std::string> defaults{
        {"host", ""},       {"logging", "disabled"}, {"timeout", "60"},
        {"interval", "60"}, {"ipversion", "IPv4"},   {"zarvelcloudapikey", ""},
    };
    return defaults;
}

std::vector<std::string> string_list(const nlohmann::json& value) {
    std::vector<std::string> out;
    if (value.is_array()) {
        for (const auto& item : value) {
            if (item.is_string()) {
                out.push_back(item.get<std::string>());
            }
        }
    }
    return out;
}

std::string role_name(kind_role role) {
    switch (role) {
        case kind_role::sensor:
            return "sensor";
        case kind_role::metascan:
            return "meta-scan";
        case kind_role::check:
            return "check";
    }
    return "kind";
}

bool ends_with(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

module_catalogue::module_catalogue(nlohmann::json document) : document_(std::move(document)) {
    if (!document_.is_object()) {
        throw std::invalid_argument("the module information document is not an object");
    }
    const auto members = [&](const char* name) {
        const auto it = document_.find(name);
        return it != document_.end() && it->is_object() ? *it : nlohmann::json::object();
    };
    const nlohmann::json metascans = members("MetaScans");
    const nlohmann::json sensors = members("Sensors");
    const nlohmann::json checks = members("Checks");
    for (const auto& [name, entry] : sensors.items()) {
        kind_entry kind{kind_role::sensor, name, {}, {}, {}};
        if (entry.contains("Settings")) {
            kind.sections = string_list(entry["Settings"].value("Sections", nlohmann::json()));
        }
        if (entry.contains("FirstMetaStep") && entry["FirstMetaStep"].is_string()) {
            kind.first_meta_step = entry["FirstMetaStep"].get<std::string>();
            const auto meta = metascans.find(*kind.first_meta_step);
            if (meta != metascans.end() && meta->contains("Section")) {
                kind.discovered_section = (*meta)["Section"].get<std::string>();
            }
        }
        kinds_.push_back(std::move(kind));
    }
    // Meta-scans and checks name their sections directly.
    for (const auto& [role, entries] :
         {std::pair{kind_role::metascan, &metascans}, std::pair{kind_role::check, &checks}}) {
        for (const auto& [name, entry] : entries->items()) {
            kinds_.push_back(
                {role, name, string_list(entry.value("Sections", nlohmann::json())), {}, {}});
        }
    }
}

std::vector<const kind_entry*> module_catalogue::kinds_of(kind_role role) const {
    std::vector<const kind_entry*> out;
    for (const auto& kind : kinds_) {
        if (kind.role == role) {
            out.push_back(&kind);
        }
    }
    return out;
}

const kind_entry& module_catalogue::find(kind_role role, const std::string& name) const {
    std::string known;
    for (const auto* kind : kinds_of(role)) {
        if (kind->name == name) {
            return *kind;
        }
        known += (known.empty() ? "" : ", ") + kind->name;
    }
    throw usage_error("'" + name + "' is not a " + role_name(role) + " of this module (" +
                      role_name(role) + "s: " + known + ")");
}

std::vector<std::string> module_catalogue::section_keys(const std::string& section) const {
    std::vector<std::string> keys;
    const nlohmann::json sections = document_.value("Sections", nlohmann::json::object());
    const nlohmann::json groups = document_.value("Groups", nlohmann::json::object());
    const auto entry = sections.find(section);
    if (entry == sections.end()) {
        return keys;
    }
    for (const auto& group_name : string_list(entry->value("Groups", nlohmann::json()))) {
        const auto group = groups.find(group_name);
        if (group == groups.end()) {
            continue;
        }
        for (const auto& item : group->value("Items", nlohmann::json::array())) {
            const auto& setting = item.value("Setting", nlohmann::json::object());
            if (setting.contains("Name") && setting["Name"].is_string()) {
                keys.push_back(section + "." + group_name + "." +
                               setting["Name"].get<std::string>());
            }
        }
    }
    return keys;
}

std::map<std::string, std::string> module_catalogue::entry_settings(
    const std::string& section, const nlohmann::json& values) const {
    std::map<std::string, std::string> settings;
    for (const auto& key : section_keys(section)) {
        for (const auto& [name, value] : values.items()) {
            const bool same = key == name || (key.ends_with(name) && key.size() > name.size() &&
                                              key[key.size() - name.size() - 1] == '.');
            if (same && value.is_string()) settings[key] = value.get<std::string>();
        }
    }
    return settings;
}

std::map<std::string, std::string> module_catalogue::default_settings(
    const kind_entry& kind) const {
    std::map<std::string, std::string> settings = common_defaults();
    std::vector<std::string> sections = kind.sections;
    if (kind.discovered_section) {
        sections.push_back(*kind.discovered_section);
    }
    const nlohmann::json groups = document_.value("Groups", nlohmann::json::object());
    for (const auto& section : sections) {
        for (const auto& key : section_keys(section)) {
            // key = section.group.setting; find the default in the group's item.
            const auto first = key.find('.');
            const auto last = key.rfind('.');
            const std::string group_name = key.substr(first + 1, last - first - 1);
            const std::string setting_name = key.substr(last + 1);
            std::string value;
            const auto group = groups.find(group_name);
            if (group == groups.end()) {
                continue;
            }
            for (const auto& item : group->value("Items", nlohmann::json::array())) {
                const auto& setting = item.value("Setting", nlohmann::json::object());
                if (setting.value("Name", "") == setting_name) {
                    value = setting.value("Default", "");
                }
            }
            settings[key] = value;
        }
    }
    return settings;
}

bool is_secret_key(const std::string& key) {
    const auto dot = key.rfind('.');
    const std::string last = dot == std::string::npos ? key : key.substr(dot + 1);
    return last == "zarvelcloudapikey" || ends_with(last, "password") ||
           ends_with(last, "secret") || ends_with(last, "apikey") || ends_with(last, "token");
}

std::pair<std::string, std::string> parse_assignment(const std::string& argument) {
    const auto equals = argument.find('=');
    if (equals == std::string::npos || equals == 0) {
        throw usage_error("--set expects key=value, got '" + argument + "'");
    }
    return {argument.substr(0, equals), argument.substr(equals + 1)};
}

std::map<std::string, std::string> build_settings(const module_catalogue& catalogue,
                                                  const kind_entry& kind,
                                                  const target_options& target,
                                                  const std::vector<std::string>& assignments) {
    auto settings = catalogue.default_settings(kind);
    const auto put = [&](const std::string& key, const std::string& value) {
        // A check or a meta-scan of another module layout may lack the credentials; only
        // keys the kind has are sent.
        if (settings.count(key) != 0) {
            settings[key] = value;
        }
    };
    put("host", target.host);
    // An IPv6 literal can only be reached over IPv6; a name keeps the IPv4 default.
    if (target.host.find(':') != std::string::npos) {
        put("ipversion", "IPv6");
    }
    put(std::string(credentials_prefix) + "domain", target.domain);
    put(std::string(credentials_prefix) + "username", target.user);
    put(std::string(credentials_prefix) + "password", target.password);
    if (target.https) {
        put(std::string(compatibility_prefix) + "protocol", "https");
        put(std::string(compatibility_prefix) + "port", "5986");
    }
    if (target.port) {
        put(std::string(compatibility_prefix) + "port", std::to_string(*target.port));
    }
    for (const auto& assignment : assignments) {
        auto [key, value] = parse_assignment(assignment);
        if (is_secret_key(key)) {
            throw usage_error("'" + key +
                              "' is a secret; give it with --password-file or WMIPROBE_PASSWORD, "
                              "never on the command line");
        }
        if (settings.count(key) == 0) {
            std::string known;
            for (const auto& [name, unused] : settings) {
                known += "\n  " + name;
            }
            throw usage_error("'" + key + "' is not a setting of " + kind.name +
                              "; its settings are:" + known);
        }
        settings[key] = std::move(value);
    }
    return settings;
}

std::string settings_document(const std::string& kind,
                              const std::map<std::string, std::string>& settings,
                              const std::map<int, std::string>& channels,
                              const std::map<std::string, std::string>& persistent_data) {
    nlohmann::json document{{"kind", kind},
                            {"settings", settings},
                            {"channels", nlohmann::json::object()},
                            {"persistent_data", persistent_data}};
    for (const auto& [id, name] : channels) {
        document["channels"][std::to_string(id)] = name;
    }
    return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string read_password(const std::optional<std::string>& password_file) {
    if (password_file) {
        std::ifstream in(*password_file, std::ios::binary);
        if (!in) {
            throw usage_error("cannot read the password file " + *password_file);
        }
        std::string line;
        std::getline(in, line);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        return line;
    }
    if (const char* value = std::getenv("WMIPROBE_PASSWORD")) {
        return value;
    }
    return {};
}

}  // namespace wmiprobe
