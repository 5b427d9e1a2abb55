#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "libwql/wql_query.hpp"

// Typed reads of one field of a row, each with the presence rule of its kind.
namespace wmi::access {

// Throws required_field_unavailable(wmi_class, field) when the field is absent or NULL.
std::chrono::system_clock::time_point required_timestamp(const libwql::wql_query_row& row,
                                                         const std::string& wmi_class,
                                                         const std::string& field);

// No value when the field is absent, NULL or the empty text.
std::optional<std::string> optional_text(const libwql::wql_query_row& row,
                                         const std::string& field);

// For fields the query itself selected; a missing field throws the client's error.
std::string selected_text(const libwql::wql_query_row& row, const std::string& field);
std::uint64_t selected_uint64(const libwql::wql_query_row& row, const std::string& field);

// No value when absent, NULL or not an integer; the caller decides whether that is an error.
std::optional<std::int64_t> optional_int64(const libwql::wql_query_row& row,
                                           const std::string& field);

// optional_int64 that throws required_field_unavailable(wmi_class, field) for no value.
std::int64_t required_int64(const libwql::wql_query_row& row, const std::string& wmi_class,
                            const std::string& field);

}  // namespace wmi::access
