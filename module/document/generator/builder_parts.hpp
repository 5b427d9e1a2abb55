#pragma once

// The stages of build_document, one source file each, working on one shared set of parts.

#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "document_builder.hpp"
#include "json_checks.hpp"

namespace wmi::document::generator {

using text_table = std::map<std::string, std::string>;

struct document_parts {
    nlohmann::ordered_json sensors = nlohmann::ordered_json::object();
    nlohmann::ordered_json sections = nlohmann::ordered_json::object();
    nlohmann::ordered_json groups = nlohmann::ordered_json::object();
    nlohmann::ordered_json metascans = nlohmann::ordered_json::object();
    nlohmann::ordered_json checks = nlohmann::ordered_json::object();
    nlohmann::ordered_json lookups = nlohmann::ordered_json::object();
    text_table english;
    built_document kinds;
};

// translations.cpp: the English table and the translated ones.
// Inserts a text key; two sources defining the same key is always a mistake.
void add_text(text_table& table, const std::string& key, const std::string& text, const where& at);
nlohmann::ordered_json build_text(const source_data& data, const text_table& english);

// settings_groups.cpp: groups.json, the shared texts and sections.json.
void build_groups_and_sections(const source_data& data, document_parts& parts);

// kinds.cpp: checks, meta-scans, sensors and their settings groups; then the lookups.
void build_kinds(const source_data& data, document_parts& parts);
void build_lookups(const source_data& data, document_parts& parts);

}  // namespace wmi::document::generator
