#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "liblog/log.hpp"
#include "libwql/wql_query.hpp"
#include "libwql/wsman_client.hpp"

// The module's queries as data (namespace, class, field list) and one small routine per query.
namespace wmi::access {

inline constexpr std::string_view cimv2 = "root\\cimv2";

namespace classes {
inline constexpr const char* operating_system = "Win32_OperatingSystem";
inline constexpr const char* paging_file = "Win32_PerfRawData_PerfOS_PagingFile";
inline constexpr const char* processor = "Win32_PerfRawData_PerfOS_Processor";
}  // namespace classes

struct query_definition {
    std::string_view wmi_namespace;
    std::string_view wmi_class;
    std::span<const std::string_view> fields;
};

namespace fields {
inline constexpr std::array<std::string_view, 2> memory{"FreePhysicalMemory",
                                                        "TotalVisibleMemorySize"};
inline constexpr std::array<std::string_view, 1> caption{"Caption"};
inline constexpr std::array<std::string_view, 2> boot_times{"LastBootUpTime", "LocalDateTime"};
inline constexpr std::array<std::string_view, 2> paging_file{"PercentUsage", "PercentUsage_Base"};
inline constexpr std::array<std::string_view, 3> processor{"Name", "PercentProcessorTime",
                                                           "Timestamp_Sys100NS"};
}  // namespace fields

namespace queries {
inline constexpr query_definition memory{cimv2, classes::operating_system, fields::memory};
inline constexpr query_definition caption{cimv2, classes::operating_system, fields::caption};
inline constexpr query_definition boot_times{cimv2, classes::operating_system, fields::boot_times};
inline constexpr query_definition paging_file{cimv2, classes::paging_file, fields::paging_file};
inline constexpr query_definition processor{cimv2, classes::processor, fields::processor};
}  // namespace queries

// SELECT <fields> FROM <class>, the start every routine below builds on.
libwql::wql_query_builder::build_stage select_from(const query_definition& definition);

using session = libwql::wmi_session_interface;
using optional_row = std::optional<libwql::wql_query_row>;
using rows = std::vector<libwql::wql_query_row>;

// Win32_OperatingSystem: free and total visible memory (kilobytes); first row.
optional_row query_memory(session& s, liblog::log_interface& log);
// Win32_OperatingSystem: Caption, for the connectivity check; first row.
optional_row query_caption(session& s, liblog::log_interface& log);
// Win32_OperatingSystem: LastBootUpTime and LocalDateTime; first row.
optional_row query_boot_times(session& s, liblog::log_interface& log);
// The "_Total" instance of the raw paging file counters; first row.
optional_row query_paging_file(session& s, liblog::log_interface& log);
// Every raw processor counter row, "_Total" included; all rows.
rows query_processors(session& s, liblog::log_interface& log);

}  // namespace wmi::access
