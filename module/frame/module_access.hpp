#pragma once

#include "frame/module_instance.hpp"

namespace wmi::frame {

// The module the exports currently drive, or null. Not exported from libwmi.so: it lets
// in-process tests add test-only kinds to a module and then use the exports alone.
libvexahelper::module::module_instance_adapter* current_module();

}  // namespace wmi::frame
