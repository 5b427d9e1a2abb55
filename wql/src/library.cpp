// libwql.so: the exported API comes from wql_core, whose public symbols carry WQL_API.
// This unit only anchors the shared library.
#include "libwql/libwql.hpp"
