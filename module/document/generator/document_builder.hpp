#pragma once

// Build-time only: turns the declarative data under module/document/data plus the message
// catalogue into the module information document. Never linked into the module.

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace wmi::document::generator {

// Raised for every inconsistency in the data; the text names the file and the entry.
class data_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct catalogue_entry {
    std::string key;
    std::string text;
};

// The parsed data files, keyed like the files they come from so that tests can load the real
// data, break one thing and check that the builder names it.
struct source_data {
    nlohmann::json metadata;
    nlohmann::json sensors;
    nlohmann::json metascans;
    nlohmann::json checks;
    nlohmann::json sections;
    nlohmann::json groups;
    nlohmann::json shared_texts;
    nlohmann::json lookups;
    nlohmann::json languages;
    std::map<std::string, nlohmann::json> translations;  // by file name under translations/
    std::vector<catalogue_entry> catalogue;
};

struct built_document {
    // The serialised document (ASCII only: every other character is a \u escape).
    std::string text;
    std::vector<std::string> sensor_kinds;
    std::vector<std::string> sensor_displays;  // parallel to sensor_kinds
    std::vector<std::string> metascan_kinds;
    std::vector<std::string> check_kinds;
};

// Parses one JSON file; duplicate member names are an error (a second definition of a
// translation key would otherwise silently win).
nlohmann::json load_json_file(const std::filesystem::path& path);

source_data load_source_data(const std::filesystem::path& data_dir,
                             std::vector<catalogue_entry> catalogue);

// Validates everything and assembles the document; throws data_error on the first problem.
built_document build_document(const source_data& data);

// The English table alone (key -> text), as the document carries it.
std::map<std::string, std::string> english_texts(const source_data& data);

// Keys of a text with placeholders, in order of appearance: "%0:s", "%%", and "%" for a lone
// percent sign that starts no placeholder.
std::vector<std::string> placeholders_of(const std::string& text);

// C++ source holding the document as raw string literal pieces of at most max_piece bytes.
std::string render_pieces_source(const built_document& doc, std::size_t max_piece = 12000);

// Header listing the kind names the document declares, for cross-checks by other components.
std::string render_kinds_header(const built_document& doc);

}  // namespace wmi::document::generator
