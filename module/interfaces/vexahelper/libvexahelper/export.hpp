#pragma once

// Marks the public API of the host helper library. The library is built with hidden default
// visibility, so only what carries this macro is reachable from the module.
#if defined(_WIN32)
#if defined(VEXAHELPER_BUILDING)
#define VEXAHELPER_API __declspec(dllexport)
#else
#define VEXAHELPER_API __declspec(dllimport)
#endif
#else
#define VEXAHELPER_API __attribute__((visibility("default")))
#endif
