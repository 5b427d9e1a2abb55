#pragma once

#include <array>
#include <string>
#include <vector>

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"

namespace wmi {

// How a SQL Server channel's value comes from its group's row and the previous sample.
enum class sql_formula {
    raw,        // the field as read
    kilobytes,  // the field in KB, shown in bytes
    rate,       // per second over Timestamp_PerfTime / Frequency_PerfTime
    ratio,      // percent of the base's growth (field, base)
    average,    // growth of the field per growth of the base
};

struct sql_counter {
    settings::performance_counters group;
    channel<> shown;
    sql_formula how;
    const char* field;
    const char* base = nullptr;
};

// A counter group: the option that chooses it, its performance class suffix and the prefix of
// its persistent keys.
struct sql_counter_group {
    settings::performance_counters option;
    const char* class_suffix;
    const char* key_prefix;
};

// Performance counters of one SQL Server instance from its raw performance classes, in the
// counter groups the user chose. Rates, the buffer cache hit ratio and the average lock wait
// compare two samples one scan apart, kept in persistent data.
class microsoft_sql_server_sensor
    : public wmi_sensor<microsoft_sql_server_sensor, settings::microsoft_sql_server_sensor> {
public:
    using wmi_sensor::wmi_sensor;
    void work() override;

    // A channel is announced just before its first value, so a group the user never chose
    // leaves no empty channels behind: none at creation.
    static constexpr std::array<channel<>, 0> channels{};

    using group_option = settings::performance_counters;
    using formula = sql_formula;
    using counter = sql_counter;
    using counter_group = sql_counter_group;

    // Value type 1 integer / 3 float; unit 10 count, 2 bytes (size unit 7), 5 percent, 6 ms.
    // clang-format off
    static constexpr counter counters[] = {
        {group_option::general_statistics, {.id = 0, .name = &cat::channel_user_connections, .unit = 10}, formula::raw, "UserConnections"},
        {group_option::general_statistics, {.id = 1, .name = &cat::channel_logins_per_sec, .value_type = 3, .unit = 10}, formula::rate, "LoginsPersec"},
        {group_option::general_statistics, {.id = 2, .name = &cat::channel_logouts_per_sec, .value_type = 3, .unit = 10}, formula::rate, "LogoutsPersec"},
        {group_option::access_methods, {.id = 3, .name = &cat::channel_full_scans_per_sec, .value_type = 3, .unit = 10}, formula::rate, "FullScansPersec"},
        {group_option::access_methods, {.id = 4, .name = &cat::channel_page_splits_per_sec, .value_type = 3, .unit = 10}, formula::rate, "PageSplitsPersec"},
        {group_option::access_methods, {.id = 5, .name = &cat::channel_table_lock_escalations_per_sec, .value_type = 3, .unit = 10}, formula::rate, "TableLockEscalationsPersec"},
        {group_option::buffer_manager, {.id = 6, .name = &cat::channel_buffer_cache_hit_ratio, .value_type = 3, .unit = 5}, formula::ratio, "Buffercachehitratio", "Buffercachehitratio_Base"},
        {group_option::buffer_manager, {.id = 7, .name = &cat::channel_database_pages, .unit = 10}, formula::raw, "Databasepages"},
        {group_option::buffer_manager, {.id = 8, .name = &cat::channel_page_life_expectancy, .unit = 10}, formula::raw, "Pagelifeexpectancy"},
        {group_option::memory_manager, {.id = 9, .name = &cat::channel_connection_memory_kb, .unit = 2, .size_unit = 7}, formula::kilobytes, "ConnectionMemoryKB"},
        {group_option::memory_manager, {.id = 10, .name = &cat::channel_optimizer_memory_kb, .unit = 2, .size_unit = 7}, formula::kilobytes, "OptimizerMemoryKB"},
        {group_option::memory_manager, {.id = 11, .name = &cat::channel_total_server_memory_kb, .unit = 2, .size_unit = 7}, formula::kilobytes, "TotalServerMemoryKB"},
        {group_option::memory_manager, {.id = 12, .name = &cat::channel_target_server_memory_kb, .unit = 2, .size_unit = 7}, formula::kilobytes, "TargetServerMemoryKB"},
        {group_option::memory_manager, {.id = 13, .name = &cat::channel_sql_cache_memory_kb, .unit = 2, .size_unit = 7}, formula::kilobytes, "SQLCacheMemoryKB"},
        {group_option::locks, {.id = 14, .name = &cat::channel_lock_requests_per_sec, .value_type = 3, .unit = 10}, formula::rate, "LockRequestsPersec"},
        {group_option::locks, {.id = 15, .name = &cat::channel_average_wait_time_ms, .value_type = 3, .unit = 6}, formula::average, "AverageWaitTimems", "AverageWaitTimems_Base"},
        {group_option::locks, {.id = 16, .name = &cat::channel_number_of_deadlocks_per_sec, .value_type = 3, .unit = 10}, formula::rate, "NumberofDeadlocksPersec"},
        {group_option::sql_statistics, {.id = 17, .name = &cat::channel_batch_requests_per_sec, .value_type = 3, .unit = 10}, formula::rate, "BatchRequestsPersec"},
        {group_option::sql_statistics, {.id = 18, .name = &cat::channel_sql_compilations_per_sec, .value_type = 3, .unit = 10}, formula::rate, "SQLCompilationsPersec"},
        {group_option::sql_statistics, {.id = 19, .name = &cat::channel_sql_recompilations_per_sec, .value_type = 3, .unit = 10}, formula::rate, "SQLReCompilationsPersec"}};
    // clang-format on

    // The groups in scan order.
    // clang-format off
    static constexpr counter_group groups[] = {
        {group_option::general_statistics, "GeneralStatistics", "general_statistics"},
        {group_option::access_methods, "AccessMethods", "access_methods"},
        {group_option::buffer_manager, "BufferManager", "buffer_manager"},
        {group_option::memory_manager, "MemoryManager", "memory_manager"},
        {group_option::locks, "Locks", "locks"},
        {group_option::sql_statistics, "SQLStatistics", "sql_statistics"}};
    // clang-format on

    struct group_query {
        const counter_group* group;
        access::query query;
    };

private:
    void scan_group(access::scan_session& session, const group_query& q,
                    libvexahelper::sensor_scan_result& r);

    // One query per chosen group, in scan order, built at creation: a service name that cannot
    // be part of a class name fails the creation.
    const std::vector<group_query> queries_ = make_queries(settings());
    static std::vector<group_query> make_queries(const settings_type& s);
};

// The performance class of a group for a service name: "MSSQLSERVER" (the default instance)
// gives Win32_PerfRawData_MSSQLSERVER_SQLServer<suffix>, a named instance "MSSQL$X" gives
// Win32_PerfRawData_MSSQLX_MSSQLX<suffix>.
std::string sql_server_class(const std::string& service_name, const std::string& suffix);

}  // namespace wmi
