#include <algorithm>
#include <charconv>
#include <set>

#include "builder_parts.hpp"

namespace wmi::document::generator {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

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

bool contains(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

struct built_setting {
    ordered_json document;
    setting_field field;
    std::vector<std::string> option_values;  // empty unless a selection
};

ordered_json text_kind(const json& setting, setting_field& field, const where& at) {
    const json& text_kind = setting["Text"];
    if (!text_kind.is_object()) at.fail("member 'Text' must be an object");
    ordered_json kind = ordered_json::object();
    for (const auto& [k, v] : text_kind.items()) {
        if (k != "Security" || v != "SettingSecurityMedium") {
            at.fail("'Text' may only hold \"Security\": \"SettingSecurityMedium\"");
        }
        kind["Security"] = "SettingSecurityMedium";
        field.kind = setting_field::value_kind::secret;
    }
    return kind;
}

ordered_json integer_kind(const json& setting, setting_field& field, const where& at) {
    const json& limits = setting["IntegerSigned"];
    if (!limits.is_object()) at.fail("member 'IntegerSigned' must be an object");
    for (const auto& [k, v] : limits.items()) {
        if (k != "Minimum" && k != "Maximum")
            at.fail("'IntegerSigned' has unknown member '" + k + "'");
    }
    field.kind = setting_field::value_kind::integer;
    if (limits.contains("Minimum")) field.minimum = integer_member(limits, "Minimum", at);
    if (limits.contains("Maximum")) field.maximum = integer_member(limits, "Maximum", at);
    if (field.minimum && field.maximum && *field.minimum > *field.maximum)
        at.fail("has Minimum above Maximum");
    ordered_json kind;
    kind["IsMinimumSet"] = field.minimum.has_value();
    if (field.minimum) kind["Minimum"] = *field.minimum;
    kind["IsMaximumSet"] = field.maximum.has_value();
    if (field.maximum) kind["Maximum"] = *field.maximum;

    // An empty default leaves an optional number unset; a required one needs a value.
    const auto& value = field.default_value;
    if (value.empty()) {
        if (field.required) at.fail("is required but has an empty integer Default");
        return kind;
    }
    long long parsed = 0;
    const char* end = value.data() + value.size();
    const auto [ptr, ec] = std::from_chars(value.data(), end, parsed);
    if (ec != std::errc() || ptr != end) at.fail("Default '" + value + "' is not an integer");
    if ((field.minimum && parsed < *field.minimum) || (field.maximum && parsed > *field.maximum))
        at.fail("Default '" + value + "' lies outside its limits");
    return kind;
}

ordered_json selection_kind(const json& setting, const json& option_sets, const std::string& key,
                            built_setting& built, text_table& texts, const where& at) {
    const json& selection = setting["Selection"];
    const auto mode = string_member(selection, "Mode", at);
    require_one_of(mode, selection_modes, "selection mode", at);
    const bool multi = mode == "SettingSelectionModeMulti";
    built.field.kind =
        multi ? setting_field::value_kind::multi_selection : setting_field::value_kind::selection;
    built.field.selection = built.field.name;
    const json* options = &member(selection, "Options", at);
    if (options->is_string()) {
        const auto set_name = options->get<std::string>();
        if (!option_sets.contains(set_name))
            at.fail("refers to option set '" + set_name + "', which is not defined");
        require_identifier(set_name, at);
        options = &option_sets[set_name];
        built.field.selection = set_name;
    }
    if (!options->is_array() || options->empty()) at.fail("has no options");
    auto& values = built.option_values;
    ordered_json out_options = ordered_json::array();
    for (const auto& option : *options) {
        const auto value = string_member(option, "Value", at);
        const auto display = string_member(option, "Display", at);
        const where option_at(at, "option", value);
        require_identifier(value, option_at);
        if (contains(values, value)) option_at.fail("is listed twice");
        values.push_back(value);
        add_text(texts, key + ".option." + value, display, option_at);
        ordered_json out_option;
        out_option["Display"] = display;
        out_option["Value"] = value;
        out_options.push_back(out_option);
    }
    const auto& chosen = built.field.default_value;
    for (const auto& value : multi ? split_multi_default(chosen) : std::vector{chosen}) {
        if (!contains(values, value)) at.fail("Default '" + chosen + "' is not one of its options");
        if (multi) built.field.chosen.push_back(value);
    }
    ordered_json kind;
    kind["Mode"] = mode;
    kind["Options"] = out_options;
    return kind;
}

// Validates one setting of a group and returns it in document form; texts go to `texts`.
built_setting build_setting(const json& setting, const std::string& group_name,
                            const json& option_sets, const where& group_at, text_table& texts) {
    built_setting built;
    auto& field = built.field;
    field.name = string_member(setting, "Name", group_at);
    const where at(group_at, "setting", field.name);
    require_identifier(field.name, at);
    const auto display = string_member(setting, "Display", at);
    const auto help = string_member(setting, "Help", at);
    field.default_value = string_member(setting, "Default", at, true);
    const auto flags = string_list(setting, "Flags", at, true);
    for (const auto& flag : flags) require_one_of(flag, setting_flag_values, "flag", at);
    field.required = contains(flags, "SettingFlagRequired");

    const std::string key = group_name + "." + field.name;
    add_text(texts, key + ".display", display, at);
    add_text(texts, key + ".help", help, at);

    ordered_json& out = built.document;
    out["Name"] = field.name;
    out["Display"] = display;
    out["Help"] = help;
    out["Default"] = field.default_value;

    const int kinds = static_cast<int>(setting.contains("Text")) +
                      static_cast<int>(setting.contains("IntegerSigned")) +
                      static_cast<int>(setting.contains("Selection"));
    if (kinds != 1) at.fail("must have exactly one of 'Text', 'IntegerSigned', 'Selection'");
    if (setting.contains("Text")) {
        out["Text"] = text_kind(setting, field, at);
    } else if (setting.contains("IntegerSigned")) {
        out["IntegerSigned"] = integer_kind(setting, field, at);
    } else {
        out["Selection"] = selection_kind(setting, option_sets, key, built, texts, at);
    }

    if (setting.contains("MaxLengthInMetascanTable")) {
        const auto width = integer_member(setting, "MaxLengthInMetascanTable", at);
        if (width <= 0) at.fail("MaxLengthInMetascanTable must be positive");
        out["MaxLengthInMetascanTable"] = width;
    }
    out["Flags"] = flags;
    return built;
}

// Only an earlier selection of the same group can control a setting.
void check_dependency(const json& setting, const std::map<std::string, built_setting>& earlier,
                      ordered_json& item, const where& at) {
    const bool depends = setting.contains("DependsOn");
    if (depends != setting.contains("Condition"))
        at.fail("needs both DependsOn and Condition or neither");
    if (!depends) return;
    const auto controller = string_member(setting, "DependsOn", at);
    const auto condition = string_member(setting, "Condition", at);
    const auto found = earlier.find(controller);
    if (found == earlier.end())
        at.fail("DependsOn '" + controller + "' is not an earlier setting of the group");
    const auto& values = found->second.option_values;
    if (values.empty()) at.fail("DependsOn '" + controller + "' is not a selection");
    if (!contains(values, condition))
        at.fail("Condition '" + condition + "' is not an option of '" + controller + "'");
    item["DependsOn"] = controller;
    item["Condition"] = condition;
}

// One enumeration per name: selections that share an option set, or a setting name, must
// offer the same values.
void add_selection(std::vector<selection_type>& selections, const setting_field& field,
                   const std::vector<std::string>& values, const where& at) {
    const auto same = std::find_if(selections.begin(), selections.end(),
                                   [&](const auto& s) { return s.name == field.selection; });
    if (same == selections.end()) {
        selections.push_back({field.selection, values});
    } else if (same->values != values) {
        at.fail("selection '" + field.selection +
                "' has other options than an earlier selection of that name");
    }
}

ordered_json build_group(const json& group, const json& option_sets, const where& file_at,
                         text_table& texts, settings_group& model,
                         std::vector<selection_type>& selections) {
    model.name = string_member(group, "Name", file_at);
    const where at(file_at, "group", model.name);
    require_identifier(model.name, at);
    std::map<std::string, built_setting> settings;
    ordered_json items = ordered_json::array();
    for (const auto& setting : array_member(group, "Items", at)) {
        auto built = build_setting(setting, model.name, option_sets, at, texts);
        const where setting_at(at, "setting", built.field.name);
        ordered_json item;
        item["Setting"] = built.document;
        check_dependency(setting, settings, item, setting_at);
        if (!built.option_values.empty())
            add_selection(selections, built.field, built.option_values, setting_at);
        model.fields.push_back(built.field);
        if (!settings.emplace(built.field.name, std::move(built)).second)
            setting_at.fail("is defined twice");
        items.push_back(item);
    }
    ordered_json out;
    out["Name"] = model.name;
    out["Items"] = items;
    return out;
}

}  // namespace

void build_groups_and_sections(const source_data& data, document_parts& parts) {
    auto& texts = parts.english;
    const where groups_at("groups.json");
    const json& option_sets =
        data.groups.contains("option_sets") ? data.groups["option_sets"] : json::object();
    std::set<std::string> group_names;
    for (const auto& group : array_member(data.groups, "Groups", groups_at)) {
        settings_group model;
        auto built =
            build_group(group, option_sets, groups_at, texts, model, parts.kinds.selections);
        if (!group_names.insert(model.name).second)
            where(groups_at, "group", model.name).fail("is defined twice");
        parts.groups[model.name] = built;
        parts.kinds.groups.push_back(std::move(model));
    }
    // The host's shared groups: texts only, no records and no enumerations.
    const where shared_at("shared_texts.json");
    for (const auto& group : array_member(data.shared_texts, "Groups", shared_at)) {
        settings_group model;
        std::vector<selection_type> unused;
        build_group(group, option_sets, shared_at, texts, model, unused);
        if (group_names.count(model.name) != 0)
            where(shared_at, "group", model.name).fail("is also a document group");
    }
    for (const auto& section : array_member(data.shared_texts, "Sections", shared_at)) {
        const auto name = string_member(section, "Name", shared_at);
        const where at(shared_at, "section", name);
        add_text(texts, name + ".display", string_member(section, "Display", at), at);
    }

    const where sections_at("sections.json");
    std::map<std::string, std::string> section_of_group;
    for (const auto& section : array_member(data.sections, "Sections", sections_at)) {
        const auto [name, at] = entry_named(section, sections_at, "section", parts.sections);
        const auto display = string_member(section, "Display", at);
        const auto scope = string_member(section, "Scope", at);
        require_one_of(scope, scope_values, "scope", at);
        const auto groups = string_list(section, "Groups", at);
        for (const auto& group : groups) {
            require_known(group, group_names, "group", at);
            // A settings key names one section per group.
            if (!section_of_group.emplace(group, name).second)
                at.fail("lists group '" + group + "', which is already in section '" +
                        section_of_group[group] + "'");
        }
        add_text(texts, name + ".display", display, at);
        ordered_json out;
        out["Name"] = name;
        out["Display"] = display;
        out["Scope"] = scope;
        out["Groups"] = groups;
        parts.sections[name] = out;
    }
    for (auto& group : parts.kinds.groups) {
        const auto found = section_of_group.find(group.name);
        if (found == section_of_group.end())
            where(groups_at, "group", group.name).fail("is in no section");
        group.section = found->second;
    }
}

}  // namespace wmi::document::generator
