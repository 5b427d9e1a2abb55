#pragma once

// Marks what libwql exports. Symbols are hidden by default, so every class whose type
// identity crosses the library boundary (thrown exceptions, polymorphic interfaces) needs it.
#if defined(_WIN32)
// On Windows the library is linked into the module's one DLL: nothing crosses a DLL boundary.
#define WQL_API
#else
#define WQL_API __attribute__((visibility("default")))
#endif
