#pragma once

#include <string>

namespace wmi::document {

// The module information document (JSON), built once when the library is loaded; every call
// returns the same string.
const std::string& module_information();

}  // namespace wmi::document
