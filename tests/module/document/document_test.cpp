// Checks the finished module information document as the host receives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "document/declared_kinds.hpp"
#include "document/module_information.hpp"
#include "libi18n/catalogue.hpp"

namespace {

using nlohmann::ordered_json;

const ordered_json& document() {
    static const ordered_json parsed = ordered_json::parse(wmi::document::module_information());
    return parsed;
}

std::vector<std::string> member_names(const ordered_json& object) {
    std::vector<std::string> names;
    for (const auto& [name, value] : object.items()) names.push_back(name);
    return names;
}

const ordered_json& table(const std::string& language) {
    return document().at("Text").at(language).at("Translation");
}

std::string english(const std::string& key) {
    const auto& en = table("English");
    if (!en.contains(key)) return "<missing " + key + ">";
    return en.at(key).at("Display").get<std::string>();
}

std::vector<std::string> placeholders(const std::string& text) {
    static const std::regex token(R"(%%|%[0-9]+:s|%)");
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), token);
         it != std::sregex_iterator(); ++it) {
        found.push_back(it->str());
    }
    std::sort(found.begin(), found.end());
    return found;
}

const std::vector<std::string> all_languages{"Russian",  "Brazilian", "Dutch",
                                             "Japanese", "French",    "Spanish",
                                             "English",  "German",    "SimplifiedChinese"};

TEST(module_information, is_built_once_and_every_call_returns_the_same_bytes) {
    const std::string& first = wmi::document::module_information();
    const std::string copy = first;
    const std::string& second = wmi::document::module_information();
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(copy, second);
    EXPECT_FALSE(first.empty());
    // ASCII only: every other character travels as a \u escape, so no host code page can
    // garble it.
    EXPECT_TRUE(std::all_of(first.begin(), first.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
}

TEST(module_information, members_appear_in_the_documented_order) {
    EXPECT_EQ(member_names(document()),
              (std::vector<std::string>{"MetaData", "Sensors", "Sections", "Groups", "Revision",
                                        "MetaScans", "Checks", "Lookups", "Text"}));
    EXPECT_EQ(member_names(document().at("MetaData")),
              (std::vector<std::string>{"Vendor", "Name", "Contact", "Version", "Display",
                                        "Description"}));
    EXPECT_EQ(member_names(document().at("Text")), all_languages);

    for (const auto& [name, sensor] : document().at("Sensors").items()) {
        std::vector<std::string> expected{"Name", "Display",    "Description",
                                          "Help", "ManualLink", "ResourceUsage"};
        if (sensor.contains("FirstMetaStep")) expected.push_back("FirstMetaStep");
        for (const char* m :
             {"Compatibility", "Family", "Flag", "RequiredChecks", "Settings", "Tags"}) {
            expected.push_back(m);
        }
        EXPECT_EQ(member_names(sensor), expected) << name;
    }
    for (const auto& [name, metascan] : document().at("MetaScans").items()) {
        EXPECT_EQ(member_names(metascan),
                  (std::vector<std::string>{"Name", "Mode", "Section", "Sections"}))
            << name;
    }
    for (const auto& [name, section] : document().at("Sections").items()) {
        EXPECT_EQ(member_names(section),
                  (std::vector<std::string>{"Name", "Display", "Scope", "Groups"}))
            << name;
    }
    for (const auto& [group_name, group] : document().at("Groups").items()) {
        for (const auto& item : group.at("Items")) {
            const auto& setting = item.at("Setting");
            const auto setting_name = setting.at("Name").get<std::string>();
            auto names = member_names(setting);
            ASSERT_GE(names.size(), 6u) << group_name << "." << setting_name;
            EXPECT_EQ((std::vector<std::string>(names.begin(), names.begin() + 4)),
                      (std::vector<std::string>{"Name", "Display", "Help", "Default"}))
                << group_name << "." << setting_name;
            EXPECT_EQ(names.back(), "Flags") << group_name << "." << setting_name;
            EXPECT_TRUE(names[4] == "Text" || names[4] == "IntegerSigned" ||
                        names[4] == "Selection")
                << group_name << "." << setting_name;
            const bool has_width = setting.contains("MaxLengthInMetascanTable");
            EXPECT_EQ(names.size(), has_width ? 7u : 6u) << group_name << "." << setting_name;
            if (has_width) {
                EXPECT_EQ(names[5], "MaxLengthInMetascanTable");
            }
        }
    }
    for (const auto& [name, lookup] : document().at("Lookups").items()) {
        for (const auto& value : lookup.at("LookupValues")) {
            std::vector<std::string> expected{"Name", "Display", "Value"};
            if (value.contains("ReverseValue")) expected.push_back("ReverseValue");
            expected.push_back("State");
            EXPECT_EQ(member_names(value), expected) << name;
        }
    }
}

TEST(module_information, declares_every_kind_once_with_its_fixed_identity) {
    const auto& doc = document();
    EXPECT_EQ(doc.at("Sensors").size(), 12u);
    EXPECT_EQ(doc.at("MetaScans").size(), 8u);
    EXPECT_EQ(doc.at("Checks").size(), 1u);
    EXPECT_EQ(doc.at("Sections").size(), 13u);
    EXPECT_EQ(doc.at("Groups").size(), 13u);
    EXPECT_EQ(doc.at("Lookups").size(), 4u);
    EXPECT_EQ(doc.at("Revision"), 15);
    EXPECT_EQ(doc.at("MetaData").at("Vendor"), "zarvel");
    EXPECT_EQ(doc.at("MetaData").at("Name"), "wmi");
    EXPECT_EQ(doc.at("MetaData").at("Version"), "1.21.0.22799");

    // Objects are keyed by the entry's own name, and the exported kind lists match them in order.
    const std::vector<std::pair<const char*, std::vector<std::string_view>>> kinds{
        {"Sensors",
         {wmi::document::declared_sensor_kinds.begin(),
          wmi::document::declared_sensor_kinds.end()}},
        {"MetaScans",
         {wmi::document::declared_metascan_kinds.begin(),
          wmi::document::declared_metascan_kinds.end()}},
        {"Checks",
         {wmi::document::declared_check_kinds.begin(), wmi::document::declared_check_kinds.end()}},
    };
    for (const auto& [member, declared] : kinds) {
        std::vector<std::string_view> in_document;
        for (const auto& [key, entry] : doc.at(member).items()) {
            EXPECT_EQ(entry.at("Name"), key) << member;
            in_document.push_back(entry.at("Name").get_ref<const std::string&>());
        }
        EXPECT_EQ(in_document, declared) << member;
    }
    ASSERT_EQ(wmi::document::declared_sensor_displays.size(), doc.at("Sensors").size());
    std::size_t index = 0;
    for (const auto& [key, sensor] : doc.at("Sensors").items()) {
        EXPECT_EQ(wmi::document::declared_sensor_displays[index++],
                  sensor.at("Display").get<std::string>());
    }
    EXPECT_EQ(wmi::document::declared_sensor_displays[3], "WMI Microsoft SQL Server");
    for (const char* member : {"Sections", "Groups", "Lookups"}) {
        for (const auto& [key, entry] : doc.at(member).items()) EXPECT_EQ(entry.at("Name"), key);
    }
    EXPECT_EQ(doc.at("Checks").begin().key(), "wsman_check");
}

TEST(module_information, every_reference_names_an_existing_entry) {
    const auto& doc = document();
    const auto exists = [&](const char* member, const ordered_json& name) {
        return name.is_string() && doc.at(member).contains(name.get<std::string>());
    };
    for (const auto& [name, sensor] : doc.at("Sensors").items()) {
        const auto& checks = sensor.at("RequiredChecks");
        EXPECT_NE(std::find(checks.begin(), checks.end(), "wsman_check"), checks.end()) << name;
        for (const auto& check : checks)
            EXPECT_TRUE(exists("Checks", check)) << name << " " << check;
        if (sensor.contains("FirstMetaStep")) {
            EXPECT_TRUE(exists("MetaScans", sensor.at("FirstMetaStep"))) << name;
        }
        EXPECT_FALSE(sensor.at("Settings").at("Sections").empty()) << name;
        for (const auto& section : sensor.at("Settings").at("Sections")) {
            EXPECT_TRUE(exists("Sections", section)) << name << " " << section;
        }
    }
    for (const auto& [name, metascan] : doc.at("MetaScans").items()) {
        EXPECT_TRUE(exists("Sections", metascan.at("Section"))) << name;
        for (const auto& section : metascan.at("Sections")) {
            EXPECT_TRUE(exists("Sections", section)) << name << " " << section;
        }
    }
    for (const auto& [name, check] : doc.at("Checks").items()) {
        for (const auto& section : check.at("Sections")) {
            EXPECT_TRUE(exists("Sections", section)) << name << " " << section;
        }
    }
    for (const auto& [name, section] : doc.at("Sections").items()) {
        for (const auto& group : section.at("Groups")) {
            EXPECT_TRUE(exists("Groups", group)) << name << " " << group;
        }
    }
    // DependsOn names a selection of the same group, and Condition one of its option values.
    for (const auto& [group_name, group] : doc.at("Groups").items()) {
        std::map<std::string, std::set<std::string>> options;
        for (const auto& item : group.at("Items")) {
            const auto& setting = item.at("Setting");
            if (setting.contains("Selection")) {
                for (const auto& option : setting.at("Selection").at("Options")) {
                    options[setting.at("Name")].insert(option.at("Value").get<std::string>());
                }
            }
            if (!item.contains("DependsOn")) {
                EXPECT_FALSE(item.contains("Condition")) << group_name;
                continue;
            }
            const auto controller = item.at("DependsOn").get<std::string>();
            ASSERT_EQ(options.count(controller), 1u) << group_name << " " << controller;
            EXPECT_EQ(options[controller].count(item.at("Condition").get<std::string>()), 1u)
                << group_name << " " << setting.at("Name");
        }
    }
    // Every sensor that needs discovery names the meta-scan that fills its own section.
    EXPECT_EQ(doc.at("Sensors").at("volume_sensor").at("FirstMetaStep"), "volume_metascan");
    EXPECT_EQ(doc.at("MetaScans").at("volume_metascan").at("Section"), "volume_metascan_section");
}

TEST(module_information, defaults_lie_within_limits_and_options) {
    int integer_settings = 0;
    for (const auto& [group_name, group] : document().at("Groups").items()) {
        for (const auto& item : group.at("Items")) {
            const auto& setting = item.at("Setting");
            const auto where = group_name + "." + setting.at("Name").get<std::string>();
            ASSERT_TRUE(setting.at("Default").is_string()) << where;
            const auto value = setting.at("Default").get<std::string>();
            const auto& flags = setting.at("Flags");
            const bool required =
                std::find(flags.begin(), flags.end(), "SettingFlagRequired") != flags.end();
            if (setting.contains("IntegerSigned")) {
                ++integer_settings;
                const auto& limits = setting.at("IntegerSigned");
                if (value.empty()) {
                    EXPECT_FALSE(required) << where;
                    continue;
                }
                std::size_t used = 0;
                const long long number = std::stoll(value, &used);
                EXPECT_EQ(used, value.size()) << where;
                if (limits.at("IsMinimumSet")) {
                    EXPECT_GE(number, limits.at("Minimum").get<long long>()) << where;
                }
                if (limits.at("IsMaximumSet")) {
                    EXPECT_LE(number, limits.at("Maximum").get<long long>()) << where;
                }
                EXPECT_EQ(limits.contains("Maximum"), limits.at("IsMaximumSet").get<bool>())
                    << where;
            } else if (setting.contains("Selection")) {
                std::set<std::string> values;
                for (const auto& option : setting.at("Selection").at("Options")) {
                    values.insert(option.at("Value").get<std::string>());
                }
                EXPECT_EQ(values.count(value), 1u) << where << " default " << value;
            }
        }
    }
    EXPECT_EQ(integer_settings, 2);
    const auto& port = document()
                           .at("Groups")
                           .at("shared_windows_compatibility_group")
                           .at("Items")[0]
                           .at("Setting");
    EXPECT_EQ(port.at("Default"), "5985");
    EXPECT_EQ(port.at("IntegerSigned").at("Minimum"), 1);
    EXPECT_EQ(port.at("IntegerSigned").at("Maximum"), 65535);
}

TEST(module_information, only_the_password_is_a_secret) {
    std::vector<std::string> secrets;
    for (const auto& [group_name, group] : document().at("Groups").items()) {
        for (const auto& item : group.at("Items")) {
            const auto& setting = item.at("Setting");
            if (setting.contains("Text") && setting.at("Text").contains("Security")) {
                EXPECT_EQ(setting.at("Text").at("Security"), "SettingSecurityMedium");
                secrets.push_back(group_name + "." + setting.at("Name").get<std::string>());
            }
        }
    }
    EXPECT_EQ(secrets, std::vector<std::string>{"shared_windows_credentials_group.password"});
}

TEST(module_information, english_table_carries_every_text_of_the_structure) {
    const auto& doc = document();
    for (const auto& [name, sensor] : doc.at("Sensors").items()) {
        EXPECT_EQ(english(name + ".display"), sensor.at("Display"));
        EXPECT_EQ(english(name + ".description"), sensor.at("Description"));
        EXPECT_EQ(english(name + ".help"), sensor.at("Help"));
    }
    for (const auto& [name, section] : doc.at("Sections").items()) {
        EXPECT_EQ(english(name + ".display"), section.at("Display"));
    }
    for (const auto& [group_name, group] : doc.at("Groups").items()) {
        for (const auto& item : group.at("Items")) {
            const auto& setting = item.at("Setting");
            const auto prefix = group_name + "." + setting.at("Name").get<std::string>();
            EXPECT_EQ(english(prefix + ".display"), setting.at("Display"));
            EXPECT_EQ(english(prefix + ".help"), setting.at("Help"));
            if (!setting.contains("Selection")) continue;
            for (const auto& option : setting.at("Selection").at("Options")) {
                EXPECT_EQ(english(prefix + ".option." + option.at("Value").get<std::string>()),
                          option.at("Display"));
            }
        }
    }
    for (const auto& [name, lookup] : doc.at("Lookups").items()) {
        for (const auto& value : lookup.at("LookupValues")) {
            EXPECT_EQ(
                english("lookup." + name + "." + std::to_string(value.at("Value").get<int>())),
                value.at("Display"));
        }
    }
    EXPECT_EQ(english("module.display"), doc.at("MetaData").at("Display"));
    EXPECT_EQ(english("module.description"), doc.at("MetaData").at("Description"));
}

TEST(module_information, english_catalogue_texts_equal_the_message_definitions) {
    ASSERT_EQ(libi18n::catalogue::size, 279u);
    for (std::size_t i = 0; i < libi18n::catalogue::size; ++i) {
        const auto& entry = libi18n::catalogue::entries[i];
        EXPECT_EQ(english(entry.key), entry.text) << entry.key;
    }
    EXPECT_EQ(english("channel.used_memory_percent"), "Memory Used %%");
    EXPECT_EQ(english("libvexahelper.error.setting_not_available"),
              "The setting \"%0:s\" was not available.");
}

TEST(module_information, key_counts_per_language_and_english_prefix) {
    const std::map<std::string, std::size_t> per_language{
        {"Russian", 42},  {"Brazilian", 42}, {"Dutch", 42},
        {"Japanese", 42}, {"French", 42},    {"Spanish", 321},
        {"English", 484}, {"German", 321},   {"SimplifiedChinese", 42}};
    for (const auto& [language, count] : per_language) {
        EXPECT_EQ(table(language).size(), count) << language;
    }

    const std::map<std::string, std::size_t> per_prefix{
        {"channel", 78},
        {"cpu_load_sensor", 3},
        {"error", 23},
        {"httpproxy", 1},
        {"httpproxygroup", 8},
        {"libi18n", 1},
        {"libjsonparser", 6},
        {"libvexahelper", 31},
        {"libparser", 2},
        {"libtimeutils", 2},
        {"libwql", 18},
        {"logical_disk_io_metascan_group", 2},
        {"logical_disk_io_metascan_section", 1},
        {"logical_disk_io_sensor", 3},
        {"lookup", 84},
        {"memory_sensor", 3},
        {"message", 17},
        {"metascan", 17},
        {"microsoft_sql_server_group", 8},
        {"microsoft_sql_server_metascan_group", 4},
        {"microsoft_sql_server_metascan_section", 1},
        {"microsoft_sql_server_section", 1},
        {"microsoft_sql_server_sensor", 3},
        {"module", 2},
        {"network_card_metascan_group", 6},
        {"network_card_metascan_section", 1},
        {"network_card_sensor", 3},
        {"pagefile_sensor", 3},
        {"physical_disk_io_metascan_group", 2},
        {"physical_disk_io_metascan_section", 1},
        {"physical_disk_io_sensor", 3},
        {"print_queue_group", 71},
        {"print_queue_metascan_group", 2},
        {"print_queue_metascan_section", 1},
        {"print_queue_section", 1},
        {"print_queue_sensor", 3},
        {"service_group", 4},
        {"service_metascan_group", 8},
        {"service_metascan_section", 1},
        {"service_section", 1},
        {"service_sensor", 3},
        {"shared_http_validation_group", 5},
        {"shared_http_validation_section", 1},
        {"shared_windows_compatibility_group", 6},
        {"shared_windows_compatibility_section", 1},
        {"shared_windows_credentials_group", 10},
        {"shared_windows_credentials_section", 1},
        {"system_uptime_sensor", 3},
        {"volume_metascan_group", 12},
        {"volume_metascan_section", 1},
        {"volume_sensor", 3},
        {"windows_security_metascan_group", 4},
        {"windows_security_metascan_section", 1},
        {"windows_security_sensor", 3}};
    std::map<std::string, std::size_t> counted;
    for (const auto& [key, value] : table("English").items()) {
        ++counted[key.substr(0, key.find('.'))];
    }
    EXPECT_EQ(counted, per_prefix);
}

TEST(module_information, translations_are_subsets_with_the_english_placeholders) {
    std::set<std::string> previous_core;
    std::set<std::string> previous_common;
    for (const auto& language : all_languages) {
        if (language == "English") continue;
        std::set<std::string> keys;
        for (const auto& [key, entry] : table(language).items()) {
            keys.insert(key);
            ASSERT_TRUE(table("English").contains(key)) << language << " " << key;
            const auto text = entry.at("Display").get<std::string>();
            EXPECT_FALSE(text.empty()) << language << " " << key;
            EXPECT_EQ(placeholders(text), placeholders(english(key))) << language << " " << key;
        }
        // Languages of one size translate the same keys, and the small set is part of the large.
        auto& previous = keys.size() == 42 ? previous_core : previous_common;
        if (!previous.empty()) {
            EXPECT_EQ(keys, previous) << language;
        }
        previous = keys;
    }
    ASSERT_FALSE(previous_core.empty());
    EXPECT_TRUE(std::includes(previous_common.begin(), previous_common.end(), previous_core.begin(),
                              previous_core.end()));
    // What a user meets first is in every language.
    for (const char* key : {"cpu_load_sensor.display", "service_sensor.description",
                            "lookup.operating_state.4", "lookup.print_queue_status.3"}) {
        EXPECT_EQ(previous_core.count(key), 1u) << key;
    }
    for (const char* key :
         {"channel.processor", "shared_windows_credentials_group.password.display",
          "error.service_not_found", "libwql.error.access_denied"}) {
        EXPECT_EQ(previous_common.count(key), 1u) << key;
    }
}

// Words that are written the same in every language: product and protocol names, and the few
// terms that German and Japanese monitoring user interfaces use unchanged.
bool only_international_words(std::string text) {
    static const std::set<std::string> international{
        "WMI", "CPU",    "Microsoft", "SQL",     "Server",  "Volume", "v2",
        "OK",  "Status", "Offline",   "Handles", "Threads", "Port",   "Name",
        "IP",  "MAC",    "ID",        "DNS",     "HTTP",    "HTTPS",  "WSMan"};
    text = std::regex_replace(text, std::regex(R"(%[0-9]+:s|%%)"), " ");
    static const std::regex word(R"([A-Za-z0-9]+)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), word);
         it != std::sregex_iterator(); ++it) {
        if (international.count(it->str()) == 0) return false;
    }
    return true;
}

TEST(module_information, german_and_japanese_texts_are_translated_not_copied) {
    for (const char* language : {"German", "Japanese"}) {
        int translated = 0;
        for (const auto& [key, entry] : table(language).items()) {
            const auto text = entry.at("Display").get<std::string>();
            if (text == english(key)) {
                EXPECT_TRUE(only_international_words(text))
                    << language << " copies " << key << ": " << text;
            } else {
                ++translated;
            }
        }
        EXPECT_GT(translated, static_cast<int>(table(language).size()) * 9 / 10) << language;
    }
    EXPECT_EQ(table("German").at("channel.free_space").at("Display"), "Freier Speicherplatz");
    EXPECT_FALSE(only_international_words("Free Space"));
    EXPECT_TRUE(only_international_words("WMI Microsoft SQL Server: %0:s"));
}

}  // namespace
