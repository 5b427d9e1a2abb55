// The build-time generator must refuse inconsistent data with a message that names the place,
// since a broken entry would otherwise ship as a broken settings page.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>

#include "document_builder.hpp"
#include "libi18n/catalogue.hpp"

namespace {

namespace gen = wmi::document::generator;
using nlohmann::json;

gen::source_data real_data() {
    std::vector<gen::catalogue_entry> catalogue;
    for (std::size_t i = 0; i < libi18n::catalogue::size; ++i) {
        catalogue.push_back(
            {libi18n::catalogue::entries[i].key, libi18n::catalogue::entries[i].text});
    }
    return gen::load_source_data(WMI_DOCUMENT_DATA_DIR, std::move(catalogue));
}

json& setting(gen::source_data& data, const std::string& group, const std::string& name) {
    for (auto& g : data.groups["Groups"]) {
        if (g["Name"] != group) continue;
        for (auto& s : g["Items"]) {
            if (s["Name"] == name) return s;
        }
    }
    throw std::runtime_error("no setting " + group + "." + name);
}

json& sensor(gen::source_data& data, const std::string& name) {
    for (auto& s : data.sensors["sensors"]) {
        if (s["Name"] == name) return s;
    }
    throw std::runtime_error("no sensor " + name);
}

struct broken_case {
    const char* what;
    std::function<void(gen::source_data&)> breaks;
    const char* message;  // a fragment the error must contain
};

TEST(document_builder, real_data_builds) {
    const auto built = gen::build_document(real_data());
    EXPECT_EQ(built.sensor_kinds.size(), 12u);
    EXPECT_EQ(built.metascan_kinds.size(), 8u);
    EXPECT_EQ(built.check_kinds, std::vector<std::string>{"wsman_check"});
    EXPECT_EQ(json::parse(built.text).at("Revision"), 15);
}

TEST(document_builder, rejects_inconsistent_data_and_names_the_place) {
    const std::vector<broken_case> cases{
        {"sensor names an unknown section",
         [](auto& d) { sensor(d, "memory_sensor")["Sections"].push_back("nope_section"); },
         "sensor 'memory_sensor': refers to section 'nope_section'"},
        {"sensor names an unknown meta-scan",
         [](auto& d) { sensor(d, "volume_sensor")["FirstMetaStep"] = "volume_scan"; },
         "refers to meta-scan 'volume_scan'"},
        {"sensor names an unknown check",
         [](auto& d) { sensor(d, "memory_sensor")["RequiredChecks"] = json::array({"ping"}); },
         "refers to check 'ping'"},
        {"unknown family",
         [](auto& d) { sensor(d, "memory_sensor")["Family"].push_back("FamilyKindRam"); },
         "family 'FamilyKindRam' is not a known value"},
        {"two kinds share a name",
         [](auto& d) { sensor(d, "memory_sensor")["Name"] = "wsman_check"; },
         "uses a name that another kind already has"},
        {"meta-scan fills an unknown section",
         [](auto& d) { d.metascans["MetaScans"][0]["Section"] = "missing_section"; },
         "meta-scan 'logical_disk_io_metascan': refers to section 'missing_section'"},
        {"section lists an unknown group",
         [](auto& d) { d.sections["Sections"][0]["Groups"].push_back("ghost_group"); },
         "refers to group 'ghost_group'"},
        {"integer default above its maximum",
         [](auto& d) {
             setting(d, "shared_windows_compatibility_group", "port")["Default"] = "65536";
         },
         "setting 'port': Default '65536' lies outside its limits"},
        {"integer default below its minimum",
         [](auto& d) { setting(d, "print_queue_group", "min_print_job_age")["Default"] = "-1"; },
         "lies outside its limits"},
        {"integer default is not a number",
         [](auto& d) {
             setting(d, "shared_windows_compatibility_group", "port")["Default"] = "59x";
         },
         "is not an integer"},
        {"required integer without a default",
         [](auto& d) { setting(d, "shared_windows_compatibility_group", "port")["Default"] = ""; },
         "is required but has an empty integer Default"},
        {"selection default is no option",
         [](auto& d) {
             setting(d, "shared_windows_credentials_group", "mode")["Default"] = "ntlm";
         },
         "Default 'ntlm' is not one of its options"},
        {"multi selection default names an unknown group",
         [](auto& d) {
             setting(d, "microsoft_sql_server_group", "performance_counters")["Default"] =
                 "general_statistics,latches";
         },
         "is not one of its options"},
        {"condition is no option of the controller",
         [](auto& d) { setting(d, "print_queue_group", "paused")["Condition"] = "custm"; },
         "Condition 'custm' is not an option of 'advanced_status_options'"},
        {"depends on a setting of another group",
         [](auto& d) { setting(d, "print_queue_group", "paused")["DependsOn"] = "mode"; },
         "DependsOn 'mode' is not an earlier setting of the group"},
        {"depends on a text setting",
         [](auto& d) {
             auto& age = setting(d, "print_queue_group", "min_print_job_age");
             age["DependsOn"] = "paused";
             age["Condition"] = "ignore";
             setting(d, "print_queue_group", "paused").erase("Selection");
             setting(d, "print_queue_group", "paused")["Text"] = json::object();
             setting(d, "print_queue_group", "paused")["Default"] = "";
         },
         "DependsOn 'paused' is not a selection"},
        {"condition without depends-on",
         [](auto& d) { setting(d, "print_queue_group", "paused").erase("DependsOn"); },
         "needs both DependsOn and Condition or neither"},
        {"setting with two kinds",
         [](auto& d) {
             setting(d, "shared_windows_credentials_group", "domain")["IntegerSigned"] =
                 json::object();
         },
         "must have exactly one of 'Text', 'IntegerSigned', 'Selection'"},
        {"unknown setting flag",
         [](auto& d) {
             setting(d, "service_group", "extended_monitoring")["Flags"].push_back(
                 "SettingFlagHidden");
         },
         "flag 'SettingFlagHidden' is not a known value"},
        {"setting name that cannot be a key component",
         [](auto& d) {
             setting(d, "service_group", "extended_monitoring")["Name"] = "extended.monitoring";
         },
         "must be lower_snake_case"},
        {"group that no section uses",
         [](auto& d) {
             auto group = d.groups["Groups"][0];
             group["Name"] = "orphan_group";
             d.groups["Groups"].push_back(group);
         },
         "group 'orphan_group': is in no section"},
        {"lookup value without a catalogue text",
         [](auto& d) {
             d.lookups["Lookups"][0]["LookupValues"].push_back(
                 {{"Value", 8}, {"Name", "crashed"}, {"State", "LookupValueStateError"}});
         },
         "has no catalogue text 'lookup.operating_state.8'"},
        {"catalogue key collides with a structure key",
         [](auto& d) {
             d.catalogue.push_back({"memory_sensor.display", "Memory"});
         },
         "defines text key 'memory_sensor.display' a second time"},
        {"translation lacks a key of its subset",
         [](auto& d) { d.translations["german.json"].erase("channel.total"); },
         "translations/german.json: lacks key 'channel.total'"},
        {"translation drops a placeholder",
         [](auto& d) { d.translations["german.json"]["channel.processor"] = "Prozessor"; },
         "key 'channel.processor': has other placeholders"},
        {"translation turns a literal percent into a lone one",
         [](auto& d) {
             d.translations["german.json"]["channel.free_space_percent"] = "Freier Speicherplatz %";
         },
         "has other placeholders"},
        {"translation adds a key outside its subset",
         [](auto& d) { d.translations["japanese.json"]["channel.total"] = "合計"; },
         "outside the 'core' subset"},
        {"translation of a key English does not have",
         [](auto& d) { d.translations["french.json"]["channel.bogus"] = "Faux"; },
         "is not an English key"},
        {"language without its file", [](auto& d) { d.translations.erase("dutch.json"); },
         "language 'Dutch': has no file translations/dutch.json"},
        {"translation file of no language",
         [](auto& d) { d.translations["klingon.json"] = json::object(); },
         "translations/klingon.json: belongs to no language"},
        {"subset pattern that matches nothing",
         [](auto& d) { d.languages["subsets"]["core"]["include"].push_back("lookup.typo.*"); },
         "pattern 'lookup.typo.*' matches no key"},
    };
    for (const auto& c : cases) {
        auto data = real_data();
        c.breaks(data);
        try {
            gen::build_document(data);
            ADD_FAILURE() << c.what << ": was accepted";
        } catch (const gen::data_error& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << c.what << ": got \"" << e.what() << "\"";
        }
    }
}

TEST(document_builder, placeholders_are_listed_as_written) {
    EXPECT_EQ(gen::placeholders_of("Could not find the %1:s product '%0:s'."),
              (std::vector<std::string>{"%1:s", "%0:s"}));
    EXPECT_EQ(gen::placeholders_of("Memory Used %%"), std::vector<std::string>{"%%"});
    EXPECT_EQ(gen::placeholders_of("100% of %12:s%"),
              (std::vector<std::string>{"%", "%12:s", "%"}));
    EXPECT_EQ(gen::placeholders_of("%0:x"), std::vector<std::string>{"%"});
    EXPECT_TRUE(gen::placeholders_of("No Toner").empty());
}

class json_file_test : public ::testing::Test {
protected:
    std::filesystem::path write(const std::string& content) {
        path_ = std::filesystem::temp_directory_path() /
                ("wmi_document_test_" +
                 std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".json");
        std::ofstream(path_, std::ios::binary) << content;
        return path_;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    std::filesystem::path path_;
};

TEST_F(json_file_test, repeated_member_is_an_error_at_any_depth) {
    const auto path = write(R"({"a": {"x": "1", "y": {"x": "inner is fine"}, "x": "2"}})");
    try {
        gen::load_json_file(path);
        ADD_FAILURE() << "duplicate accepted";
    } catch (const gen::data_error& e) {
        EXPECT_NE(std::string(e.what()).find("member 'x' appears twice"), std::string::npos)
            << e.what();
    }
    EXPECT_NO_THROW(
        gen::load_json_file(write(R"({"a": {"x": 1}, "b": {"x": 2}, "c": [{"x": 3}, {"x": 4}]})")));
}

TEST_F(json_file_test, malformed_or_missing_file_is_reported_with_its_path) {
    const auto path = write(R"({"channel.total": "Gesamt",)");
    EXPECT_THROW(
        {
            try {
                gen::load_json_file(path);
            } catch (const gen::data_error& e) {
                EXPECT_NE(std::string(e.what()).find(path.string() + ": not valid JSON"),
                          std::string::npos);
                throw;
            }
        },
        gen::data_error);
    EXPECT_THROW(gen::load_json_file(path.string() + ".absent"), gen::data_error);
}

TEST(document_builder, pieces_reassemble_to_the_document) {
    gen::built_document doc;
    doc.text = R"({"a":"\u00fc","b":[1,2,3],"c":"x"})";
    const auto source = gen::render_pieces_source(doc, 7);
    std::string joined;
    const std::regex literal(R"(R"wmidoc\(([\s\S]*?)\)wmidoc")");
    std::size_t pieces = 0;
    for (auto it = std::sregex_iterator(source.begin(), source.end(), literal);
         it != std::sregex_iterator(); ++it, ++pieces) {
        EXPECT_LE((*it)[1].length(), 7);
        joined += (*it)[1].str();
    }
    EXPECT_EQ(joined, doc.text);
    EXPECT_NE(source.find("document_piece_count = " + std::to_string(pieces) + ";"),
              std::string::npos);
    EXPECT_NE(source.find("document_size = " + std::to_string(doc.text.size()) + ";"),
              std::string::npos);

    doc.text = "{\"a\":\"x)wmidoc\"y\"}";
    EXPECT_THROW(gen::render_pieces_source(doc), gen::data_error);
}

}  // namespace
