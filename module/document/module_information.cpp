#include "module_information.hpp"

#include "document_pieces.hpp"

namespace wmi::document {

namespace {

std::string assemble() {
    std::string document;
    document.reserve(detail::document_size);
    for (std::size_t i = 0; i < detail::document_piece_count; ++i) {
        document.append(detail::document_pieces[i], detail::document_piece_sizes[i]);
    }
    return document;
}

// Builds the document during library load rather than on the host's first request. The
// pieces are constant-initialised, so this does not depend on initialisation order.
[[maybe_unused]] const std::string& document_at_load = module_information();

}  // namespace

const std::string& module_information() {
    static const std::string document = assemble();
    return document;
}

}  // namespace wmi::document
