// Build-time tool: validates module/document/data against the message catalogue and writes the
// C++ source that holds the module information document, plus the headers of the declared kinds
// and of the settings records.
#include <fstream>
#include <iostream>

#include "document_builder.hpp"

namespace {

using wmi::document::generator::catalogue_entry;

std::vector<catalogue_entry> catalogue() {
    return {
#define I18N_MESSAGE(identifier, key, text) {key, text},
#include "libi18n/catalogue.def"
#undef I18N_MESSAGE
    };
}

void write_file(const std::filesystem::path& path, const std::string& content) {
    std::filesystem::create_directories(path.parent_path());
    // Write beside and rename, so an interrupted build never leaves half a source file.
    const auto temporary = path.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out) throw wmi::document::generator::data_error(temporary + ": cannot be written");
    }
    std::filesystem::rename(temporary, path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: document_generator <data-dir> <pieces.cpp> <declared_kinds.hpp> "
                     "<settings_records.hpp>\n";
        return 2;
    }
    try {
        namespace gen = wmi::document::generator;
        const auto data = gen::load_source_data(argv[1], catalogue());
        const auto document = gen::build_document(data);
        write_file(argv[2], gen::render_pieces_source(document));
        write_file(argv[3], gen::render_kinds_header(document));
        write_file(argv[4], gen::render_settings_header(document));
    } catch (const std::exception& e) {
        std::cerr << "document_generator: error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
