#pragma once

#include <cstddef>
#include <string_view>

// Defined in the source that document_generator writes at build time.
namespace wmi::document::detail {

extern const std::string_view document_pieces[];
extern const std::size_t document_piece_count;
extern const std::size_t document_size;

}  // namespace wmi::document::detail
