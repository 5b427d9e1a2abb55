#pragma once

#include <cstddef>

// Defined in the source that document_generator writes at build time. Plain pointers and
// sizes, so that they are constant-initialised and usable by other static initialisers.
namespace wmi::document::detail {

extern const char* const document_pieces[];
extern const std::size_t document_piece_sizes[];
extern const std::size_t document_piece_count;
extern const std::size_t document_size;

}  // namespace wmi::document::detail
