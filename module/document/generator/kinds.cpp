#include <algorithm>
#include <set>

#include "builder_parts.hpp"

namespace wmi::document::generator {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

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
const std::set<std::string> lookup_states{"LookupValueStateNone", "LookupValueStateOk",
                                          "LookupValueStateWarning", "LookupValueStateError"};

// Parsing order of a kind's groups: the shared credentials, the shared protocol options, then
// the kind's own sections as listed.
int scope_rank(const std::string& scope) {
    if (scope == "SettingSectionScopeSharedCredentials") return 0;
    if (scope == "SettingSectionScopeSharedProtocol") return 1;
    return 2;
}

// Reads a kind's section list (or its one section), checks each is defined and notes it as
// used.
std::vector<std::string> kind_sections(const json& kind, const char* name,
                                       const document_parts& parts, std::set<std::string>& used,
                                       const where& at) {
    auto sections = kind.contains(name) && kind[name].is_string()
                        ? std::vector{string_member(kind, name, at)}
                        : string_list(kind, name, at);
    for (const auto& s : sections) {
        if (!parts.sections.contains(s))
            at.fail("refers to section '" + s + "', which is not defined");
        used.insert(s);
    }
    return sections;
}

// A kind's record has one member per setting of its groups, so no two may share a name.
settings_kind settings_of(const std::string& name, std::vector<std::string> sections,
                          const document_parts& parts, const where& at) {
    // Sorted by scope; stable, so a kind's own sections keep their listed order.
    std::stable_sort(sections.begin(), sections.end(), [&](const auto& a, const auto& b) {
        return scope_rank(parts.sections[a]["Scope"].template get<std::string>()) <
               scope_rank(parts.sections[b]["Scope"].template get<std::string>());
    });
    settings_kind kind{name, "", {}};
    std::map<std::string, std::string> group_of_setting;
    for (const auto& section : sections) {
        for (const auto& group : parts.sections[section]["Groups"]) {
            kind.groups.push_back(group.get<std::string>());
            for (const auto& item : parts.groups[kind.groups.back()]["Items"]) {
                const auto setting = item["Setting"]["Name"].get<std::string>();
                const auto [earlier, added] = group_of_setting.emplace(setting, kind.groups.back());
                if (!added)
                    at.fail("reads setting '" + setting + "' from both '" + earlier->second +
                            "' and '" + kind.groups.back() + "'");
            }
        }
    }
    return kind;
}

// One name per kind across sensors, meta-scans and checks.
void claim_kind_name(std::set<std::string>& names, const std::string& name, const where& at) {
    if (!names.insert(name).second) at.fail("uses a name that another kind already has");
}

void build_sensor(const json& sensor, const json& help_texts, std::set<std::string>& names,
                  std::set<std::string>& used_sections, document_parts& parts,
                  const where& sensors_at) {
    const auto [name, at] = entry_named(sensor, sensors_at, "sensor", parts.sensors);
    claim_kind_name(names, name, at);
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
    const auto display = string_member(sensor, "Display", at);
    ordered_json out;
    out["Name"] = name;
    out["Display"] = display;
    out["Description"] = string_member(sensor, "Description", at);
    out["Help"] = help;
    out["ManualLink"] = string_member(sensor, "ManualLink", at);
    out["ResourceUsage"] = integer_member(sensor, "ResourceUsage", at);
    // A sensor reads the settings its first meta-scan filled in, after its own.
    std::vector<std::string> record_sections;
    if (sensor.contains("FirstMetaStep")) {
        const auto step = string_member(sensor, "FirstMetaStep", at);
        if (!parts.metascans.contains(step))
            at.fail("refers to meta-scan '" + step + "', which is not defined");
        out["FirstMetaStep"] = step;
        record_sections.push_back(parts.metascans[step]["Section"].get<std::string>());
    }
    // An init-capture: clang before 16 cannot capture a structured binding.
    const auto checked = [&, &at = at](const char* member, const std::set<std::string>& allowed,
                                       const char* what) {
        const auto values = string_list(sensor, member, at);
        for (const auto& v : values) require_one_of(v, allowed, what, at);
        return values;
    };
    out["Compatibility"] = checked("Compatibility", compatibility_values, "compatibility");
    out["Family"] = checked("Family", family_values, "family");
    out["Flag"] = checked("Flag", sensor_flag_values, "flag");
    const auto checks = string_list(sensor, "RequiredChecks", at);
    for (const auto& check : checks) {
        if (!parts.checks.contains(check))
            at.fail("refers to check '" + check + "', which is not defined");
    }
    out["RequiredChecks"] = checks;
    const auto sections = kind_sections(sensor, "Sections", parts, used_sections, at);
    out["Settings"]["Sections"] = sections;
    out["Tags"] = string_list(sensor, "Tags", at);

    add_text(parts.english, name + ".display", display, at);
    add_text(parts.english, name + ".description", out["Description"].get<std::string>(), at);
    add_text(parts.english, name + ".help", help, at);
    parts.sensors[name] = out;
    parts.kinds.sensor_kinds.push_back(name);
    parts.kinds.sensor_displays.push_back(display);
    record_sections.insert(record_sections.begin(), sections.begin(), sections.end());
    auto record = settings_of(name, record_sections, parts, at);
    record.display = display;
    parts.kinds.kinds.push_back(std::move(record));
}

}  // namespace

void build_kinds(const source_data& data, document_parts& parts) {
    std::set<std::string> used_sections;
    std::set<std::string> names;
    // Records list sensors, then meta-scans, then checks.
    std::vector<settings_kind> check_records;
    std::vector<settings_kind> metascan_records;
    // Checks and meta-scans read only their Sections; `fill` adds what lies between Name and
    // Sections in the document.
    const auto target_kinds = [&](const json& list, const where& file_at, const char* what,
                                  ordered_json& table, std::vector<std::string>& declared,
                                  std::vector<settings_kind>& records, const auto& fill) {
        for (const auto& entry : list) {
            const auto [name, at] = entry_named(entry, file_at, what, table);
            claim_kind_name(names, name, at);
            ordered_json out;
            out["Name"] = name;
            fill(entry, out, at);
            const auto sections = kind_sections(entry, "Sections", parts, used_sections, at);
            out["Sections"] = sections;
            records.push_back(settings_of(name, sections, parts, at));
            table[name] = std::move(out);
            declared.push_back(name);
        }
    };
    const where checks_at("checks.json");
    target_kinds(array_member(data.checks, "Checks", checks_at), checks_at, "check", parts.checks,
                 parts.kinds.check_kinds, check_records,
                 [](const json&, ordered_json&, const where&) {});
    // A meta-scan fills in its own Section for the sensor it discovers.
    const where metascans_at("metascans.json");
    target_kinds(array_member(data.metascans, "MetaScans", metascans_at), metascans_at, "meta-scan",
                 parts.metascans, parts.kinds.metascan_kinds, metascan_records,
                 [&](const json& metascan, ordered_json& out, const where& at) {
                     const auto mode = string_member(metascan, "Mode", at);
                     require_one_of(mode, {"MetaScanInformationModeTable"}, "mode", at);
                     out["Mode"] = mode;
                     out["Section"] =
                         kind_sections(metascan, "Section", parts, used_sections, at).front();
                 });

    const where sensors_at("sensors.json");
    const json& help_texts = member(data.sensors, "help_texts", sensors_at);
    for (const auto& sensor : array_member(data.sensors, "sensors", sensors_at)) {
        build_sensor(sensor, help_texts, names, used_sections, parts, sensors_at);
    }
    for (auto* records : {&metascan_records, &check_records}) {
        for (auto& kind : *records) parts.kinds.kinds.push_back(std::move(kind));
    }

    for (const auto& [section, entry] : parts.sections.items()) {
        if (used_sections.count(section) == 0) {
            where(where("sections.json"), "section", section)
                .fail("is used by no sensor, meta-scan or check");
        }
    }
}

// Lookup displays are the catalogue's texts, so the channel value names cannot drift from the
// messages the sensors send.
void build_lookups(const source_data& data, document_parts& parts) {
    const where lookups_at("lookups.json");
    for (const auto& lookup : array_member(data.lookups, "Lookups", lookups_at)) {
        const auto [name, at] = entry_named(lookup, lookups_at, "lookup", parts.lookups);
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
            const auto display = parts.english.find(key);
            if (display == parts.english.end())
                value_at.fail("has no catalogue text '" + key + "'");
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
}

}  // namespace wmi::document::generator
