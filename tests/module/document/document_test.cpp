// Checks the finished module information document as the host receives it, where the generator's
// own checks do not reach: the member order the host reads and the quality of translations.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "document/module_information.hpp"

namespace {

using nlohmann::ordered_json;
using names = std::vector<std::string>;

const ordered_json& document() {
    static const ordered_json parsed = ordered_json::parse(wmi::document::module_information());
    return parsed;
}

// The members in the host's order; optional ones may be absent, nothing else may appear.
void expect_order(const ordered_json& object, const names& order) {
    names expected;
    names found;
    for (const auto& name : order) {
        if (object.contains(name)) expected.push_back(name);
    }
    for (const auto& [name, value] : object.items()) found.push_back(name);
    EXPECT_EQ(found, expected) << object.value("Name", "the document");
}

TEST(module_information, members_appear_in_the_order_the_host_reads) {
    expect_order(document(), {"MetaData", "Sensors", "Sections", "Groups", "Revision", "MetaScans",
                              "Checks", "Lookups", "Text"});
    for (const auto& [name, sensor] : document().at("Sensors").items()) {
        expect_order(sensor, {"Name", "Display", "Description", "Help", "ManualLink",
                              "ResourceUsage", "FirstMetaStep", "Compatibility", "Family", "Flag",
                              "RequiredChecks", "Settings", "Tags"});
    }
    for (const auto& [name, group] : document().at("Groups").items()) {
        for (const auto& item : group.at("Items")) {
            expect_order(item.at("Setting"),
                         {"Name", "Display", "Help", "Default", "Text", "IntegerSigned",
                          "Selection", "MaxLengthInMetascanTable", "Flags"});
        }
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
    const auto& texts = document().at("Text");
    for (const char* language : {"German", "Japanese"}) {
        const auto& table = texts.at(language).at("Translation");
        std::size_t translated = 0;
        for (const auto& [key, entry] : table.items()) {
            const auto text = entry.at("Display").get<std::string>();
            if (text != texts.at("English").at("Translation").at(key).at("Display")) {
                ++translated;
            } else {
                EXPECT_TRUE(only_international_words(text))
                    << language << " copies " << key << ": " << text;
            }
        }
        EXPECT_GT(translated, table.size() * 9 / 10) << language;
    }
}

}  // namespace
