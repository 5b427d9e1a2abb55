#include "libi18n/catalogue.hpp"

namespace libi18n::catalogue {

#define I18N_MESSAGE(identifier, key, text) const i18n_msg identifier{key, text};
#include "libi18n/catalogue.def"
#undef I18N_MESSAGE

const entry entries[] = {
#define I18N_MESSAGE(identifier, key, text) {key, text},
#include "libi18n/catalogue.def"
#undef I18N_MESSAGE
};

const std::size_t size = sizeof(entries) / sizeof(entries[0]);

}  // namespace libi18n::catalogue
