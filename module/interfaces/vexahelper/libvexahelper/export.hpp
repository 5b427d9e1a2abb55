#pragma once

// Marks the public API of the host helper library. The library is built with hidden default
// visibility, so only what carries this macro is reachable from the module.
#if defined(_WIN32)
// On Windows the library is linked into the module's one DLL: nothing crosses a DLL boundary.
#define VEXAHELPER_API
#else
#define VEXAHELPER_API __attribute__((visibility("default")))
#endif
