#include "document_builder.hpp"

#include "builder_parts.hpp"

namespace wmi::document::generator {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// Texts come first so that the lookups can take theirs from the catalogue; groups and sections
// before the kinds that refer to them.
document_parts build_parts(const source_data& data) {
    document_parts parts;
    for (const auto& entry : data.catalogue) {
        add_text(parts.english, entry.key, entry.text, where("catalogue.def"));
    }
    const where meta_at("metadata.json");
    const json& meta = member(data.metadata, "MetaData", meta_at);
    add_text(parts.english, "module.display", string_member(meta, "Display", meta_at), meta_at);
    add_text(parts.english, "module.description", string_member(meta, "Description", meta_at),
             meta_at);

    build_groups_and_sections(data, parts);
    build_kinds(data, parts);
    build_lookups(data, parts);
    return parts;
}

}  // namespace

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

}  // namespace wmi::document::generator
