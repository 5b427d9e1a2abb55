#include "document_builder.hpp"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <set>
#include <sstream>

namespace wmi::document::generator {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// Names the place of a problem, e.g. "groups.json: group 'print_queue_group', setting 'paused'".
class where {
public:
    explicit where(std::string file) : text_(std::move(file) + ":") {}
    where(const where& parent, const std::string& what, const std::string& name)
        : text_(parent.text_ + (parent.nested_ ? ", " : " ") + what + " '" + name + "'"),
          nested_(true) {}

    [[noreturn]] void fail(const std::string& problem) const {
        throw data_error(text_ + (nested_ ? ": " : " ") + problem);
    }

private:
    std::string text_;
    bool nested_ = false;
};

const json& member(const json& object, const char* name, const where& at) {
    if (!object.is_object()) at.fail("must be a JSON object");
    const auto found = object.find(name);
    if (found == object.end()) at.fail(std::string("lacks member '") + name + "'");
    return *found;
}

std::string string_member(const json& object, const char* name, const where& at,
                          bool may_be_empty = false) {
    const json& value = member(object, name, at);
    if (!value.is_string()) at.fail(std::string("member '") + name + "' must be a string");
    auto text = value.get<std::string>();
    if (text.empty() && !may_be_empty) at.fail(std::string("member '") + name + "' is empty");
    return text;
}

std::vector<std::string> string_list(const json& object, const char* name, const where& at,
                                     bool may_be_empty = false) {
    const json& value = member(object, name, at);
    if (!value.is_array()) at.fail(std::string("member '") + name + "' must be an array");
    std::vector<std::string> items;
    for (const auto& item : value) {
        if (!item.is_string() || item.get<std::string>().empty()) {
            at.fail(std::string("member '") + name + "' must hold non-empty strings");
        }
        const auto text = item.get<std::string>();
        if (std::find(items.begin(), items.end(), text) != items.end()) {
            at.fail(std::string("member '") + name + "' lists '" + text + "' twice");
        }
        items.push_back(text);
    }
    if (items.empty() && !may_be_empty) at.fail(std::string("member '") + name + "' is empty");
    return items;
}

long long integer_member(const json& object, const char* name, const where& at) {
    const json& value = member(object, name, at);
    if (!value.is_number_integer())
        at.fail(std::string("member '") + name + "' must be an integer");
    return value.get<long long>();
}

const json& array_member(const json& object, const char* name, const where& at) {
    const json& value = member(object, name, at);
    if (!value.is_array() || value.empty()) {
        at.fail(std::string("member '") + name + "' must be a non-empty array");
    }
    return value;
}

void require_one_of(const std::string& value, const std::set<std::string>& allowed,
                    const std::string& what, const where& at) {
    if (allowed.count(value) == 0) at.fail(what + " '" + value + "' is not a known value");
}

void require_known(const std::string& name, const std::set<std::string>& known,
                   const std::string& what, const where& at) {
    if (known.count(name) == 0)
        at.fail("refers to " + what + " '" + name + "', which is not defined");
}

// Kind names, setting names and option values become keys and settings paths, so they must
// not contain the "." that separates key components.
void require_identifier(const std::string& name, const where& at) {
    const bool ok = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    });
    if (!ok) at.fail("name '" + name + "' must be lower_snake_case");
}

const std::set<std::string> compatibility_values{"SystemCompatibilityIPv4",
                                                 "SystemCompatibilityIPv6"};
const std::set<std::string> family_values{"FamilyKindAvailability",
                                          "FamilyKindCPU",
                                          "FamilyKindDisk",
                                          "FamilyKindFiles",
                                          "FamilyKindInfrastructure",
                                          "FamilyKindLAN",
                                          "FamilyKindMemory",
                                          "FamilyKindTraffic",
                                          "FamilyKindWMI",
                                          "FamilyKindWindows"};
const std::set<std::string> sensor_flag_values{
    "SensorFlagIsReleaseCandidate", "SensorFlagNeedsPersistentData", "SensorFlagNotOnQEB"};
const std::set<std::string> scope_values{"SettingSectionScopeSensor",
                                         "SettingSectionScopeSharedCredentials",
                                         "SettingSectionScopeSharedProtocol"};
const std::set<std::string> setting_flag_values{"SettingFlagRequired",
                                                "SettingFlagDiscoveryID",
                                                "SettingFlagEditOnRequest",
                                                "SettingFlagReadOnlyOnNotEmpty",
                                                "SettingFlagVisibilityNeedsWriteAccess",
                                                "SettingFlagVisibilityNotInNew",
                                                "SettingFlagVisibilityNotInMetascanTable",
                                                "SettingFlagVisibilityOnlyInMetascanTable"};
const std::set<std::string> selection_modes{"SettingSelectionModeSingle",
                                            "SettingSelectionModeMulti"};
const std::set<std::string> lookup_states{"LookupValueStateNone", "LookupValueStateOk",
                                          "LookupValueStateWarning", "LookupValueStateError"};

// Inserts a text key; two sources defining the same key is always a mistake.
void add_text(std::map<std::string, std::string>& table, const std::string& key,
              const std::string& text, const where& at) {
    if (text.empty()) at.fail("has an empty text for key '" + key + "'");
    if (!table.emplace(key, text).second) at.fail("defines text key '" + key + "' a second time");
}

std::vector<std::string> split_multi_default(const std::string& value) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : value) {
        if (c == ',') {
            parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    parts.push_back(current);
    return parts;
}

struct setting_info {
    bool is_selection = false;
    std::vector<std::string> option_values;
};

// Validates one setting of a group and returns it in document form; texts go to `texts`.
ordered_json build_setting(const json& setting, const std::string& group_name,
                           const json& option_sets, const where& group_at,
                           std::map<std::string, std::string>& texts, setting_info& info) {
    const auto name = string_member(setting, "Name", group_at);
    const where at(group_at, "setting", name);
    require_identifier(name, at);
    const auto display = string_member(setting, "Display", at);
    const auto help = string_member(setting, "Help", at);
    const auto default_value = string_member(setting, "Default", at, true);
    const auto flags = string_list(setting, "Flags", at, true);
    for (const auto& flag : flags) require_one_of(flag, setting_flag_values, "flag", at);
    const bool required =
        std::find(flags.begin(), flags.end(), "SettingFlagRequired") != flags.end();

    const std::string key_prefix = group_name + "." + name;
    add_text(texts, key_prefix + ".display", display, at);
    add_text(texts, key_prefix + ".help", help, at);

    ordered_json out;
    out["Name"] = name;
    out["Display"] = display;
    out["Help"] = help;
    out["Default"] = default_value;

    const int kinds = static_cast<int>(setting.contains("Text")) +
                      static_cast<int>(setting.contains("IntegerSigned")) +
                      static_cast<int>(setting.contains("Selection"));
    if (kinds != 1) at.fail("must have exactly one of 'Text', 'IntegerSigned', 'Selection'");

    if (setting.contains("Text")) {
        const json& text_kind = setting["Text"];
        if (!text_kind.is_object()) at.fail("member 'Text' must be an object");
        ordered_json kind = ordered_json::object();
        for (const auto& [k, v] : text_kind.items()) {
            if (k != "Security" || v != "SettingSecurityMedium") {
                at.fail("'Text' may only hold \"Security\": \"SettingSecurityMedium\"");
            }
            kind["Security"] = "SettingSecurityMedium";
        }
        out["Text"] = kind;
    } else if (setting.contains("IntegerSigned")) {
        const json& limits = setting["IntegerSigned"];
        if (!limits.is_object()) at.fail("member 'IntegerSigned' must be an object");
        for (const auto& [k, v] : limits.items()) {
            if (k != "Minimum" && k != "Maximum")
                at.fail("'IntegerSigned' has unknown member '" + k + "'");
        }
        const bool has_min = limits.contains("Minimum");
        const bool has_max = limits.contains("Maximum");
        const long long minimum = has_min ? integer_member(limits, "Minimum", at) : 0;
        const long long maximum = has_max ? integer_member(limits, "Maximum", at) : 0;
        if (has_min && has_max && minimum > maximum) at.fail("has Minimum above Maximum");
        ordered_json kind;
        kind["IsMinimumSet"] = has_min;
        if (has_min) kind["Minimum"] = minimum;
        kind["IsMaximumSet"] = has_max;
        if (has_max) kind["Maximum"] = maximum;
        out["IntegerSigned"] = kind;

        // An empty default leaves an optional number unset; a required one needs a value.
        if (default_value.empty()) {
            if (required) at.fail("is required but has an empty integer Default");
        } else {
            long long parsed = 0;
            const char* end = default_value.data() + default_value.size();
            const auto [ptr, ec] = std::from_chars(default_value.data(), end, parsed);
            if (ec != std::errc() || ptr != end) {
                at.fail("Default '" + default_value + "' is not an integer");
            }
            if ((has_min && parsed < minimum) || (has_max && parsed > maximum)) {
                at.fail("Default '" + default_value + "' lies outside its limits");
            }
        }
    } else {
        const json& selection = setting["Selection"];
        const auto mode = string_member(selection, "Mode", at);
        require_one_of(mode, selection_modes, "selection mode", at);
        const json* options = &member(selection, "Options", at);
        if (options->is_string()) {
            const auto set_name = options->get<std::string>();
            if (!option_sets.contains(set_name))
                at.fail("refers to option set '" + set_name + "', which is not defined");
            options = &option_sets[set_name];
        }
        if (!options->is_array() || options->empty()) at.fail("has no options");
        ordered_json out_options = ordered_json::array();
        info.is_selection = true;
        for (const auto& option : *options) {
            const auto value = string_member(option, "Value", at);
            const auto option_display = string_member(option, "Display", at);
            const where option_at(at, "option", value);
            require_identifier(value, option_at);
            if (std::find(info.option_values.begin(), info.option_values.end(), value) !=
                info.option_values.end()) {
                option_at.fail("is listed twice");
            }
            info.option_values.push_back(value);
            add_text(texts, key_prefix + ".option." + value, option_display, option_at);
            ordered_json out_option;
            out_option["Display"] = option_display;
            out_option["Value"] = value;
            out_options.push_back(out_option);
        }
        const auto chosen = mode == "SettingSelectionModeMulti"
                                ? split_multi_default(default_value)
                                : std::vector<std::string>{default_value};
        for (const auto& value : chosen) {
            if (std::find(info.option_values.begin(), info.option_values.end(), value) ==
                info.option_values.end()) {
                at.fail("Default '" + default_value + "' is not one of its options");
            }
        }
        ordered_json kind;
        kind["Mode"] = mode;
        kind["Options"] = out_options;
        out["Selection"] = kind;
    }

    if (setting.contains("MaxLengthInMetascanTable")) {
        const auto width = integer_member(setting, "MaxLengthInMetascanTable", at);
        if (width <= 0) at.fail("MaxLengthInMetascanTable must be positive");
        out["MaxLengthInMetascanTable"] = width;
    }
    out["Flags"] = flags;
    return out;
}

ordered_json build_group(const json& group, const json& option_sets, const where& file_at,
                         std::map<std::string, std::string>& texts) {
    const auto name = string_member(group, "Name", file_at);
    const where at(file_at, "group", name);
    require_identifier(name, at);
    std::map<std::string, setting_info> settings;
    ordered_json items = ordered_json::array();
    for (const auto& setting : array_member(group, "Items", at)) {
        setting_info info;
        ordered_json item;
        item["Setting"] = build_setting(setting, name, option_sets, at, texts, info);
        const auto setting_name = item["Setting"]["Name"].get<std::string>();
        if (!settings.emplace(setting_name, info).second) {
            where(at, "setting", setting_name).fail("is defined twice");
        }
        const bool depends = setting.contains("DependsOn");
        if (depends != setting.contains("Condition")) {
            where(at, "setting", setting_name)
                .fail("needs both DependsOn and Condition or neither");
        }
        if (depends) {
            const where setting_at(at, "setting", setting_name);
            const auto controller = string_member(setting, "DependsOn", setting_at);
            const auto condition = string_member(setting, "Condition", setting_at);
            // Only an earlier setting of the same group can control this one.
            const auto found = settings.find(controller);
            if (found == settings.end() || controller == setting_name) {
                setting_at.fail("DependsOn '" + controller +
                                "' is not an earlier setting of the group");
            }
            if (!found->second.is_selection) {
                setting_at.fail("DependsOn '" + controller + "' is not a selection");
            }
            const auto& values = found->second.option_values;
            if (std::find(values.begin(), values.end(), condition) == values.end()) {
                setting_at.fail("Condition '" + condition + "' is not an option of '" + controller +
                                "'");
            }
            item["DependsOn"] = controller;
            item["Condition"] = condition;
        }
        items.push_back(item);
    }
    ordered_json out;
    out["Name"] = name;
    out["Items"] = items;
    return out;
}

bool glob_match(const std::string& pattern, const std::string& text) {
    // '*' matches any run of characters; patterns are short, so plain backtracking is fine.
    std::size_t p = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool matches_any(const std::vector<std::string>& patterns, const std::string& key) {
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const std::string& pattern) { return glob_match(pattern, key); });
}

// The keys a language of the given subset must translate, by the rule in languages.json.
std::set<std::string> subset_keys(const json& subset, const std::string& subset_name,
                                  const std::map<std::string, std::string>& english) {
    const where at(where("languages.json"), "subset", subset_name);
    const bool includes = subset.contains("include");
    if (includes == subset.contains("exclude")) {
        at.fail("must have exactly one of 'include' and 'exclude'");
    }
    const auto patterns = string_list(subset, includes ? "include" : "exclude", at);
    std::set<std::string> keys;
    for (const auto& [key, text] : english) {
        if (matches_any(patterns, key) == includes) keys.insert(key);
    }
    for (const auto& pattern : patterns) {
        const bool used = std::any_of(english.begin(), english.end(), [&](const auto& entry) {
            return glob_match(pattern, entry.first);
        });
        if (!used) at.fail("pattern '" + pattern + "' matches no key");
    }
    return keys;
}

struct document_parts {
    ordered_json sensors = ordered_json::object();
    ordered_json sections = ordered_json::object();
    ordered_json groups = ordered_json::object();
    ordered_json metascans = ordered_json::object();
    ordered_json checks = ordered_json::object();
    ordered_json lookups = ordered_json::object();
    std::map<std::string, std::string> english;
    built_document kinds;
};

document_parts build_parts(const source_data& data) {
    document_parts parts;
    auto& texts = parts.english;
    for (const auto& entry : data.catalogue) {
        add_text(texts, entry.key, entry.text, where("catalogue.def"));
    }

    const where meta_at("metadata.json");
    const json& meta = member(data.metadata, "MetaData", meta_at);
    add_text(texts, "module.display", string_member(meta, "Display", meta_at), meta_at);
    add_text(texts, "module.description", string_member(meta, "Description", meta_at), meta_at);

    // Sections and groups first: sensors, meta-scans and the check refer to them.
    const where groups_at("groups.json");
    const json& option_sets =
        data.groups.contains("option_sets") ? data.groups["option_sets"] : json::object();
    std::set<std::string> group_names;
    for (const auto& group : array_member(data.groups, "Groups", groups_at)) {
        auto built = build_group(group, option_sets, groups_at, texts);
        const auto name = built["Name"].get<std::string>();
        if (!group_names.insert(name).second)
            where(groups_at, "group", name).fail("is defined twice");
        parts.groups[name] = built;
    }
    const where shared_at("shared_texts.json");
    for (const auto& group : array_member(data.shared_texts, "Groups", shared_at)) {
        const auto built = build_group(group, option_sets, shared_at, texts);
        if (group_names.count(built["Name"].get<std::string>()) != 0) {
            where(shared_at, "group", built["Name"].get<std::string>())
                .fail("is also a document group");
        }
    }
    for (const auto& section : array_member(data.shared_texts, "Sections", shared_at)) {
        const auto name = string_member(section, "Name", shared_at);
        const where at(shared_at, "section", name);
        add_text(texts, name + ".display", string_member(section, "Display", at), at);
    }

    const where sections_at("sections.json");
    std::set<std::string> section_names;
    std::set<std::string> used_groups;
    for (const auto& section : array_member(data.sections, "Sections", sections_at)) {
        const auto name = string_member(section, "Name", sections_at);
        const where at(sections_at, "section", name);
        require_identifier(name, at);
        if (!section_names.insert(name).second) at.fail("is defined twice");
        const auto display = string_member(section, "Display", at);
        const auto scope = string_member(section, "Scope", at);
        require_one_of(scope, scope_values, "scope", at);
        const auto groups = string_list(section, "Groups", at);
        for (const auto& group : groups) {
            require_known(group, group_names, "group", at);
            used_groups.insert(group);
        }
        add_text(texts, name + ".display", display, at);
        ordered_json out;
        out["Name"] = name;
        out["Display"] = display;
        out["Scope"] = scope;
        out["Groups"] = groups;
        parts.sections[name] = out;
    }
    for (const auto& group : group_names) {
        if (used_groups.count(group) == 0)
            where(groups_at, "group", group).fail("is in no section");
    }

    std::set<std::string> used_sections;
    const where checks_at("checks.json");
    std::set<std::string> check_names;
    for (const auto& check : array_member(data.checks, "Checks", checks_at)) {
        const auto name = string_member(check, "Name", checks_at);
        const where at(checks_at, "check", name);
        require_identifier(name, at);
        if (!check_names.insert(name).second) at.fail("is defined twice");
        const auto sections = string_list(check, "Sections", at);
        for (const auto& s : sections) {
            require_known(s, section_names, "section", at);
            used_sections.insert(s);
        }
        ordered_json out;
        out["Name"] = name;
        out["Sections"] = sections;
        parts.checks[name] = out;
        parts.kinds.check_kinds.push_back(name);
    }

    const where metascans_at("metascans.json");
    std::set<std::string> metascan_names;
    for (const auto& metascan : array_member(data.metascans, "MetaScans", metascans_at)) {
        const auto name = string_member(metascan, "Name", metascans_at);
        const where at(metascans_at, "meta-scan", name);
        require_identifier(name, at);
        if (!metascan_names.insert(name).second) at.fail("is defined twice");
        const auto mode = string_member(metascan, "Mode", at);
        require_one_of(mode, {"MetaScanInformationModeTable"}, "mode", at);
        const auto target = string_member(metascan, "Section", at);
        require_known(target, section_names, "section", at);
        used_sections.insert(target);
        const auto sections = string_list(metascan, "Sections", at);
        for (const auto& s : sections) {
            require_known(s, section_names, "section", at);
            used_sections.insert(s);
        }
        ordered_json out;
        out["Name"] = name;
        out["Mode"] = mode;
        out["Section"] = target;
        out["Sections"] = sections;
        parts.metascans[name] = out;
        parts.kinds.metascan_kinds.push_back(name);
    }

    const where sensors_at("sensors.json");
    const json& help_texts = member(data.sensors, "help_texts", sensors_at);
    std::set<std::string> sensor_names;
    for (const auto& sensor : array_member(data.sensors, "sensors", sensors_at)) {
        const auto name = string_member(sensor, "Name", sensors_at);
        const where at(sensors_at, "sensor", name);
        require_identifier(name, at);
        if (!sensor_names.insert(name).second) at.fail("is defined twice");
        if (check_names.count(name) != 0 || metascan_names.count(name) != 0) {
            at.fail("uses a name that another kind already has");
        }
        if (sensor.contains("Help") == sensor.contains("HelpText")) {
            at.fail("needs exactly one of 'Help' and 'HelpText'");
        }
        std::string help;
        if (sensor.contains("Help")) {
            help = string_member(sensor, "Help", at);
        } else {
            const auto ref = string_member(sensor, "HelpText", at);
            if (!help_texts.contains(ref) || !help_texts[ref].is_string()) {
                at.fail("refers to help text '" + ref + "', which is not defined");
            }
            help = help_texts[ref].get<std::string>();
        }
        ordered_json out;
        out["Name"] = name;
        out["Display"] = string_member(sensor, "Display", at);
        out["Description"] = string_member(sensor, "Description", at);
        out["Help"] = help;
        out["ManualLink"] = string_member(sensor, "ManualLink", at);
        out["ResourceUsage"] = integer_member(sensor, "ResourceUsage", at);
        if (sensor.contains("FirstMetaStep")) {
            const auto step = string_member(sensor, "FirstMetaStep", at);
            require_known(step, metascan_names, "meta-scan", at);
            out["FirstMetaStep"] = step;
        }
        const auto compatibility = string_list(sensor, "Compatibility", at);
        for (const auto& v : compatibility)
            require_one_of(v, compatibility_values, "compatibility", at);
        const auto family = string_list(sensor, "Family", at);
        for (const auto& v : family) require_one_of(v, family_values, "family", at);
        const auto flag = string_list(sensor, "Flag", at);
        for (const auto& v : flag) require_one_of(v, sensor_flag_values, "flag", at);
        const auto checks = string_list(sensor, "RequiredChecks", at);
        for (const auto& v : checks) require_known(v, check_names, "check", at);
        const auto sections = string_list(sensor, "Sections", at);
        for (const auto& s : sections) {
            require_known(s, section_names, "section", at);
            used_sections.insert(s);
        }
        out["Compatibility"] = compatibility;
        out["Family"] = family;
        out["Flag"] = flag;
        out["RequiredChecks"] = checks;
        out["Settings"]["Sections"] = sections;
        out["Tags"] = string_list(sensor, "Tags", at);

        add_text(texts, name + ".display", out["Display"].get<std::string>(), at);
        add_text(texts, name + ".description", out["Description"].get<std::string>(), at);
        add_text(texts, name + ".help", help, at);
        parts.sensors[name] = out;
        parts.kinds.sensor_kinds.push_back(name);
        parts.kinds.sensor_displays.push_back(out["Display"].get<std::string>());
    }
    for (const auto& section : section_names) {
        if (used_sections.count(section) == 0) {
            where(sections_at, "section", section).fail("is used by no sensor, meta-scan or check");
        }
    }

    // Lookup displays are the catalogue's texts, so the channel value names cannot drift from
    // the messages the sensors send.
    const where lookups_at("lookups.json");
    for (const auto& lookup : array_member(data.lookups, "Lookups", lookups_at)) {
        const auto name = string_member(lookup, "Name", lookups_at);
        const where at(lookups_at, "lookup", name);
        require_identifier(name, at);
        if (parts.lookups.contains(name)) at.fail("is defined twice");
        const auto mode = string_member(lookup, "Mode", at);
        require_one_of(mode, {"LookupDisplayModeInteger"}, "mode", at);
        std::set<long long> values;
        std::set<std::string> value_names;
        ordered_json out_values = ordered_json::array();
        for (const auto& value : array_member(lookup, "LookupValues", at)) {
            const auto number = integer_member(value, "Value", at);
            const where value_at(at, "value", std::to_string(number));
            if (!values.insert(number).second) value_at.fail("is listed twice");
            const auto value_name = string_member(value, "Name", value_at);
            require_identifier(value_name, value_at);
            if (!value_names.insert(value_name).second)
                value_at.fail("repeats name '" + value_name + "'");
            const auto key = "lookup." + name + "." + std::to_string(number);
            const auto display = texts.find(key);
            if (display == texts.end()) value_at.fail("has no catalogue text '" + key + "'");
            const auto state = string_member(value, "State", value_at);
            require_one_of(state, lookup_states, "state", value_at);
            ordered_json out_value;
            out_value["Name"] = value_name;
            out_value["Display"] = display->second;
            out_value["Value"] = number;
            if (value.contains("ReverseValue")) {
                out_value["ReverseValue"] = string_member(value, "ReverseValue", value_at);
            }
            out_value["State"] = state;
            out_values.push_back(out_value);
        }
        ordered_json out;
        out["Name"] = name;
        out["Mode"] = mode;
        out["LookupValues"] = out_values;
        parts.lookups[name] = out;
    }
    return parts;
}

ordered_json translation_table(const std::map<std::string, std::string>& texts) {
    ordered_json table = ordered_json::object();
    for (const auto& [key, text] : texts) table[key]["Display"] = text;
    ordered_json language;
    language["Translation"] = table;
    return language;
}

ordered_json build_text(const source_data& data,
                        const std::map<std::string, std::string>& english) {
    const where at("languages.json");
    const json& subsets = member(data.languages, "subsets", at);
    std::map<std::string, std::set<std::string>> subset_key_sets;
    for (const auto& [name, subset] : subsets.items()) {
        subset_key_sets[name] = subset_keys(subset, name, english);
    }

    ordered_json text = ordered_json::object();
    bool has_source = false;
    std::set<std::string> used_files;
    for (const auto& language : array_member(data.languages, "languages", at)) {
        const auto name = string_member(language, "Language", at);
        const where language_at(at, "language", name);
        if (text.contains(name)) language_at.fail("is listed twice");
        if (language.value("source", false)) {
            if (has_source) language_at.fail("is a second source language");
            has_source = true;
            text[name] = translation_table(english);
            continue;
        }
        const auto file = string_member(language, "file", language_at);
        const auto subset_name = string_member(language, "subset", language_at);
        const auto subset = subset_key_sets.find(subset_name);
        if (subset == subset_key_sets.end()) {
            language_at.fail("refers to subset '" + subset_name + "', which is not defined");
        }
        const auto found = data.translations.find(file);
        if (found == data.translations.end()) language_at.fail("has no file translations/" + file);
        used_files.insert(file);

        const where file_at("translations/" + file);
        const json& translations = found->second;
        if (!translations.is_object()) file_at.fail("must be a JSON object of key -> text");
        std::map<std::string, std::string> translated;
        for (const auto& [key, value] : translations.items()) {
            const where key_at(file_at, "key", key);
            const auto english_text = english.find(key);
            if (english_text == english.end()) key_at.fail("is not an English key");
            if (subset->second.count(key) == 0) {
                key_at.fail("is outside the '" + subset_name + "' subset of this language");
            }
            if (!value.is_string() || value.get<std::string>().empty()) {
                key_at.fail("must have a non-empty text");
            }
            const auto translation = value.get<std::string>();
            auto expected = placeholders_of(english_text->second);
            auto actual = placeholders_of(translation);
            std::sort(expected.begin(), expected.end());
            std::sort(actual.begin(), actual.end());
            if (expected != actual) {
                key_at.fail("has other placeholders than the English text '" +
                            english_text->second + "'");
            }
            translated.emplace(key, translation);
        }
        for (const auto& key : subset->second) {
            if (translated.count(key) == 0) file_at.fail("lacks key '" + key + "' of its subset");
        }
        text[name] = translation_table(translated);
    }
    if (!has_source) at.fail("names no source language");
    for (const auto& [file, content] : data.translations) {
        if (used_files.count(file) == 0)
            where("translations/" + file).fail("belongs to no language");
    }
    return text;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw data_error(path.string() + ": cannot be read");
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace

std::vector<std::string> placeholders_of(const std::string& text) {
    std::vector<std::string> found;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (i + 1 < text.size() && text[i + 1] == '%') {
            found.emplace_back("%%");
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
        if (j > i + 1 && j + 1 < text.size() && text[j] == ':' && text[j + 1] == 's') {
            found.push_back(text.substr(i, j + 2 - i));
            i = j + 1;
        } else {
            found.emplace_back("%");
        }
    }
    return found;
}

nlohmann::json load_json_file(const std::filesystem::path& path) {
    const auto content = read_file(path);
    // One set of member names per open object; a repeated name is reported, not overwritten.
    std::vector<std::set<std::string>> open_objects;
    std::string duplicate;
    json::parser_callback_t check = [&](int, json::parse_event_t event, json& parsed) {
        if (event == json::parse_event_t::object_start) {
            open_objects.emplace_back();
        } else if (event == json::parse_event_t::object_end && !open_objects.empty()) {
            open_objects.pop_back();
        } else if (event == json::parse_event_t::key && !open_objects.empty() &&
                   !open_objects.back().insert(parsed.get<std::string>()).second &&
                   duplicate.empty()) {
            duplicate = parsed.get<std::string>();
        }
        return true;
    };
    json parsed;
    try {
        parsed = json::parse(content, check);
    } catch (const json::exception& e) {
        throw data_error(path.string() + ": not valid JSON: " + e.what());
    }
    if (!duplicate.empty())
        throw data_error(path.string() + ": member '" + duplicate + "' appears twice");
    return parsed;
}

source_data load_source_data(const std::filesystem::path& data_dir,
                             std::vector<catalogue_entry> catalogue) {
    source_data data;
    data.metadata = load_json_file(data_dir / "metadata.json");
    data.sensors = load_json_file(data_dir / "sensors.json");
    data.metascans = load_json_file(data_dir / "metascans.json");
    data.checks = load_json_file(data_dir / "checks.json");
    data.sections = load_json_file(data_dir / "sections.json");
    data.groups = load_json_file(data_dir / "groups.json");
    data.shared_texts = load_json_file(data_dir / "shared_texts.json");
    data.lookups = load_json_file(data_dir / "lookups.json");
    data.languages = load_json_file(data_dir / "languages.json");
    const auto translations_dir = data_dir / "translations";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(translations_dir, ec)) {
        if (entry.path().extension() == ".json") {
            data.translations[entry.path().filename().string()] = load_json_file(entry.path());
        }
    }
    if (ec) throw data_error(translations_dir.string() + ": cannot be listed: " + ec.message());
    data.catalogue = std::move(catalogue);
    return data;
}

std::map<std::string, std::string> english_texts(const source_data& data) {
    return build_parts(data).english;
}

built_document build_document(const source_data& data) {
    auto parts = build_parts(data);
    const where meta_at("metadata.json");
    const json& meta = member(data.metadata, "MetaData", meta_at);
    ordered_json metadata;
    for (const char* name : {"Vendor", "Name", "Contact", "Version", "Display", "Description"}) {
        metadata[name] = string_member(meta, name, meta_at);
    }
    const auto revision = integer_member(data.metadata, "Revision", meta_at);

    ordered_json document;
    document["MetaData"] = metadata;
    document["Sensors"] = parts.sensors;
    document["Sections"] = parts.sections;
    document["Groups"] = parts.groups;
    document["Revision"] = revision;
    document["MetaScans"] = parts.metascans;
    document["Checks"] = parts.checks;
    document["Lookups"] = parts.lookups;
    document["Text"] = build_text(data, parts.english);

    built_document result = std::move(parts.kinds);
    // ASCII output keeps the generated source free of encoding questions on every compiler.
    result.text = document.dump(-1, ' ', true);
    return result;
}

std::string render_pieces_source(const built_document& doc, std::size_t max_piece) {
    static constexpr std::string_view delimiter = "wmidoc";
    const std::string closing = ")" + std::string(delimiter) + "\"";
    if (doc.text.find(closing) != std::string::npos) {
        throw data_error("the document contains the raw string delimiter " + closing);
    }
    std::ostringstream out;
    out << "// Generated by document_generator from module/document/data and the message\n"
           "// catalogue. Do not edit; change the data files instead.\n"
           "#include \"document_pieces.hpp\"\n\n"
           "namespace wmi::document::detail {\n\n"
           "constinit const char* const document_pieces[] = {\n";
    std::vector<std::size_t> sizes;
    for (std::size_t at = 0; at < doc.text.size(); at += max_piece) {
        const auto piece = doc.text.substr(at, max_piece);
        out << "    R\"" << delimiter << "(" << piece << ")" << delimiter << "\",\n";
        sizes.push_back(piece.size());
    }
    out << "};\n\nconstinit const std::size_t document_piece_sizes[] = {";
    for (std::size_t i = 0; i < sizes.size(); ++i) out << (i == 0 ? "" : ", ") << sizes[i];
    out << "};\n\n"
        << "constinit const std::size_t document_piece_count = " << sizes.size() << ";\n\n"
        << "constinit const std::size_t document_size = " << doc.text.size() << ";\n\n"
        << "}  // namespace wmi::document::detail\n";
    return out.str();
}

std::string render_kinds_header(const built_document& doc) {
    std::ostringstream out;
    out << "// Generated by document_generator: the kind names the module information document\n"
           "// declares, for checks against the registration table. Do not edit.\n"
           "#pragma once\n\n#include <array>\n#include <string_view>\n\n"
           "namespace wmi::document {\n";
    const auto list = [&](const char* name, const std::vector<std::string>& kinds) {
        out << "\ninline constexpr std::array<std::string_view, " << kinds.size() << "> " << name
            << "{\n";
        for (const auto& kind : kinds) out << "    \"" << kind << "\",\n";
        out << "};\n";
    };
    list("declared_sensor_kinds", doc.sensor_kinds);
    list("declared_metascan_kinds", doc.metascan_kinds);
    list("declared_check_kinds", doc.check_kinds);

    // Display names are free text, so they go into raw literals.
    static constexpr std::string_view closing = ")wmidoc\"";
    out << "\n// Display names in the order of declared_sensor_kinds; each sensor logs the same "
           "text\n"
           "// when it is constructed.\n"
           "inline constexpr std::array<std::string_view, "
        << doc.sensor_displays.size() << "> declared_sensor_displays{\n";
    for (const auto& display : doc.sensor_displays) {
        if (display.find(closing) != std::string::npos || display.find('\n') != std::string::npos) {
            throw data_error("sensor display '" + display + "' cannot be written as a raw literal");
        }
        out << "    R\"wmidoc(" << display << ")wmidoc\",\n";
    }
    out << "};\n";
    out << "\n}  // namespace wmi::document\n";
    return out.str();
}

}  // namespace wmi::document::generator
