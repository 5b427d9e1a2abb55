#pragma once

#include <string>

namespace wmi::document {

// The module information document: one JSON text, assembled once when the library is loaded
// and never changed afterwards, so every caller sees the same bytes.
const std::string& module_information();

}  // namespace wmi::document
