#pragma once

// Marks what libwql exports. Symbols are hidden by default, so every class whose type
// identity crosses the library boundary (thrown exceptions, polymorphic interfaces) needs it.
#if defined(_WIN32)
#if defined(WQL_BUILDING_LIBRARY)
#define WQL_API __declspec(dllexport)
#else
#define WQL_API __declspec(dllimport)
#endif
#else
#define WQL_API __attribute__((visibility("default")))
#endif
