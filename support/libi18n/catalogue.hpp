#pragma once

#include "libi18n/i18n.hpp"

// Every user-visible text of the product family, one constant per key. All constants are
// defined in one translation unit, so their initialisation order is fixed; code in other
// translation units may use them once the library is loaded.
namespace libi18n::catalogue {

#define I18N_MESSAGE(identifier, key, text) extern const i18n_msg identifier;
#include "libi18n/catalogue.def"
#undef I18N_MESSAGE

// Number of entries in catalogue.def.
extern const std::size_t size;

// The entries in file order, for checks and for tools that render the catalogue.
struct entry {
    const char* key;
    const char* text;
};
extern const entry entries[];

}  // namespace libi18n::catalogue
