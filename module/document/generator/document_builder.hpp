#pragma once

// Build-time only: turns the declarative data under module/document/data plus the message
// catalogue into the module information document. Never linked into the module.

#include <filesystem>
#include <map>
#include <optional>
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

// What the module's settings records are generated from: the document's groups, their
// selections and each kind's groups in parsing order.
struct setting_field {
    enum class value_kind { text, secret, integer, selection, multi_selection };
    std::string name;
    value_kind kind = value_kind::text;
    bool required = false;
    std::string default_value;
    std::optional<long long> minimum;
    std::optional<long long> maximum;
    std::string selection;            // the enumeration of a single or multiple selection
    std::vector<std::string> chosen;  // a multiple selection's default options, in order
};

struct settings_group {
    std::string name;
    std::string section;
    std::vector<setting_field> fields;
};

// A single selection's enumeration: named after its option set, or after the setting when the
// options are its own; the values in option order.
struct selection_type {
    std::string name;
    std::vector<std::string> values;
};

struct settings_kind {
    std::string name;
    std::string display;              // sensors only
    std::vector<std::string> groups;  // shared credentials, shared protocol, then the kind's own
};

struct built_document {
    // The serialised document (ASCII only: every other character is a \u escape).
    std::string text;
    std::vector<std::string> sensor_kinds;
    std::vector<std::string> sensor_displays;  // parallel to sensor_kinds
    std::vector<std::string> metascan_kinds;
    std::vector<std::string> check_kinds;

    std::vector<selection_type> selections;
    std::vector<settings_group> groups;
    std::vector<settings_kind> kinds;  // sensors, meta-scans, checks
};

// Parses one JSON file; duplicate member names are an error (a second definition of a
// translation key would otherwise silently win).
nlohmann::json load_json_file(const std::filesystem::path& path);

source_data load_source_data(const std::filesystem::path& data_dir,
                             std::vector<catalogue_entry> catalogue);

// Validates everything and assembles the document; throws data_error on the first problem.
built_document build_document(const source_data& data);

// C++ source holding the document as raw string literal pieces of at most max_piece bytes.
std::string render_pieces_source(const built_document& doc, std::size_t max_piece = 12000);

// Header listing the kind names the document declares, for cross-checks by other components.
std::string render_kinds_header(const built_document& doc);

// Header with the settings records of every kind and the enumerations of their selections.
std::string render_settings_header(const built_document& doc);

}  // namespace wmi::document::generator
