#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "liblog/log.hpp"
#include "libwql/wql_query.hpp"
#include "libwql/wsman_client.hpp"

namespace wmi::access {

// "\n  " + str() per field, in the row's (ascending name) order; "" for an empty row.
std::string render_row(const libwql::wql_query_row& row);

// Both log the query at level 7 before running it, then the row(s) they return; nothing more
// when there is no row. Client exceptions pass through unchanged.
std::optional<libwql::wql_query_row> execute_first_row(const libwql::wql_query& query,
                                                       const std::string& wmi_namespace,
                                                       libwql::wmi_session_interface& session,
                                                       liblog::log_interface& log);
std::vector<libwql::wql_query_row> execute_all_rows(const libwql::wql_query& query,
                                                    const std::string& wmi_namespace,
                                                    libwql::wmi_session_interface& session,
                                                    liblog::log_interface& log);

}  // namespace wmi::access
