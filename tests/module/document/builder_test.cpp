// The build-time generator must refuse inconsistent data with a message that names the place,
// since a broken entry would otherwise ship as a broken settings page or settings record.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "document_builder.hpp"
#include "libi18n/catalogue.hpp"

namespace {

namespace gen = wmi::document::generator;
using nlohmann::json;

using source_file = json gen::source_data::*;
const std::map<std::string, source_file> files{
    {"metadata", &gen::source_data::metadata},   {"sensors", &gen::source_data::sensors},
    {"metascans", &gen::source_data::metascans}, {"checks", &gen::source_data::checks},
    {"sections", &gen::source_data::sections},   {"groups", &gen::source_data::groups},
    {"lookups", &gen::source_data::lookups},     {"shared_texts", &gen::source_data::shared_texts},
    {"languages", &gen::source_data::languages}};

// The real data as one JSON value, files by name and the catalogue as [key, text] pairs, so
// that a JSON patch can break any part of it.
json real_data() {
    std::vector<gen::catalogue_entry> entries;
    for (std::size_t i = 0; i < libi18n::catalogue::size; ++i) {
        entries.push_back(
            {libi18n::catalogue::entries[i].key, libi18n::catalogue::entries[i].text});
    }
    const auto d = gen::load_source_data(WMI_DOCUMENT_DATA_DIR, std::move(entries));
    json j = {{"translations", d.translations}, {"catalogue", json::array()}};
    for (const auto& [name, file] : files) j[name] = d.*file;
    for (const auto& e : d.catalogue) j["catalogue"].push_back({e.key, e.text});
    return j;
}

std::string build_error(const json& j) {
    gen::source_data d;
    for (const auto& [name, file] : files) d.*file = j[name];
    d.translations = j["translations"].get<std::map<std::string, json>>();
    for (const auto& e : j["catalogue"]) d.catalogue.push_back({e[0], e[1]});
    try {
        gen::build_document(d);
    } catch (const gen::data_error& e) {
        return e.what();
    }
    return "accepted";
}

TEST(document_builder, refuses_each_class_of_bad_data_and_names_the_place) {
    const auto data = real_data();
    ASSERT_EQ(build_error(data), "accepted");
    std::ifstream table_file(WMI_BROKEN_DATA_TABLE);
    const auto table = json::parse(table_file);
    for (const auto& row : table.at("rows")) {
        const auto error = build_error(data.patch(row.at("patch")));
        EXPECT_NE(error.find(row.at("message").get<std::string>()), std::string::npos)
            << row.at("case") << ": got \"" << error << "\"";
    }
}

TEST(document_builder, repeated_member_malformed_or_missing_file_is_reported_with_its_path) {
    const auto path = std::filesystem::path(::testing::TempDir()) / "wmi_document_test.json";
    const auto load_error = [&](const std::string& content) -> std::string {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        try {
            gen::load_json_file(path);
        } catch (const gen::data_error& e) {
            return e.what();
        }
        return "accepted";
    };
    EXPECT_EQ(load_error(R"({"a": {"x": "1", "y": {"x": "inner is fine"}, "x": "2"}})"),
              path.string() + ": member 'x' appears twice");
    EXPECT_EQ(load_error(R"({"a": {"x": 1}, "b": {"x": 2}, "c": [{"x": 3}, {"x": 4}]})"),
              "accepted");
    EXPECT_EQ(
        load_error(R"({"channel.total": "Gesamt",)").rfind(path.string() + ": not valid JSON", 0),
        0u);
    std::filesystem::remove(path);
    EXPECT_THROW(gen::load_json_file(path), gen::data_error);
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
