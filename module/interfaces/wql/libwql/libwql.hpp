#pragma once

// Everything the module uses from libwql.
#include "libwql/exceptions.hpp"
#include "libwql/wql_query.hpp"
#include "libwql/wsman_client.hpp"
