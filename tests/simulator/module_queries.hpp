#pragma once

// Every query the module sends, per kind of machine, with the rows the module needs at least.
// Shared by the model tests (engine only) and the end-to-end tests (libwql over loopback), so
// the two check the same list.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace module_queries {

struct module_query {
    std::string ns;
    std::string wql;
    std::size_t min_rows;
};

inline const char* const logical_disk_fields =
    "Name, PercentFreeSpace, PercentFreeSpace_Base, FreeMegabytes, CurrentDiskQueueLength, "
    "PercentDiskTime, PercentDiskTime_Base, PercentDiskReadTime, PercentDiskReadTime_Base, "
    "PercentDiskWriteTime, PercentDiskWriteTime_Base, PercentIdleTime, PercentIdleTime_Base, "
    "AvgDiskBytesPerRead, AvgDiskBytesPerRead_Base, AvgDiskBytesPerWrite, "
    "AvgDiskBytesPerWrite_Base, AvgDiskBytesPerTransfer, AvgDiskBytesPerTransfer_Base, "
    "AvgDisksecPerRead, AvgDisksecPerRead_Base, AvgDisksecPerWrite, AvgDisksecPerWrite_Base, "
    "AvgDisksecPerTransfer, AvgDisksecPerTransfer_Base, AvgDiskQueueLength, "
    "AvgDiskReadQueueLength, AvgDiskWriteQueueLength, DiskBytesPersec, DiskReadBytesPersec, "
    "DiskWriteBytesPersec, DiskTransfersPersec, DiskReadsPersec, DiskWritesPersec, "
    "SplitIOPerSec, Timestamp_PerfTime, Frequency_PerfTime";
inline const char* const adapter_fields =
    "Name, BytesTotalPersec, BytesReceivedPersec, BytesSentPersec, PacketsPersec, "
    "PacketsReceivedPersec, PacketsSentPersec, PacketsReceivedUnicastPersec, "
    "PacketsSentUnicastPersec, PacketsReceivedNonUnicastPersec, PacketsSentNonUnicastPersec, "
    "PacketsReceivedErrors, PacketsOutboundErrors, PacketsReceivedDiscarded, "
    "PacketsOutboundDiscarded, PacketsReceivedUnknown";

inline std::vector<module_query> common_queries() {
    const std::string disk = logical_disk_fields;
    // The physical class has the same list without the three free-space fields.
    std::string physical = disk;
    for (const char* f : {" PercentFreeSpace,", " PercentFreeSpace_Base,", " FreeMegabytes,"}) {
        physical.erase(physical.find(f), std::string(f).size());
    }
    const std::vector<std::string> texts = {
        "SELECT " + disk + " FROM Win32_PerfRawData_PerfDisk_LogicalDisk",
        "SELECT " + disk + " FROM Win32_PerfRawData_PerfDisk_LogicalDisk WHERE Name = 'C:'",
        "SELECT " + physical + " FROM Win32_PerfRawData_PerfDisk_PhysicalDisk",
        "SELECT " + physical +
            " FROM Win32_PerfRawData_PerfDisk_PhysicalDisk WHERE Name = '_Total'",
        std::string("SELECT ") + adapter_fields + " FROM Win32_PerfRawData_Tcpip_NetworkAdapter"};
    return {
        {"root\\cimv2",
         "SELECT FreePhysicalMemory, TotalVisibleMemorySize FROM Win32_OperatingSystem", 1},
        {"root\\cimv2", "SELECT Caption FROM Win32_OperatingSystem", 1},
        {"root\\cimv2", "SELECT LastBootUpTime, LocalDateTime FROM Win32_OperatingSystem", 1},
        {"root\\cimv2",
         "SELECT PercentUsage, PercentUsage_Base FROM Win32_PerfRawData_PerfOS_PagingFile WHERE "
         "Name = '_Total'",
         1},
        {"root\\cimv2",
         "SELECT Name, PercentProcessorTime, Timestamp_Sys100NS FROM "
         "Win32_PerfRawData_PerfOS_Processor",
         3},
        {"root\\cimv2", "SELECT Name, State, DisplayName, Description FROM Win32_Service", 33},
        {"root\\cimv2", "SELECT Name, State, ProcessId FROM Win32_Service WHERE Name = 'Spooler'",
         1},
        {"root\\cimv2",
         "SELECT DeviceID, DriveLetter, Name, Label, DriveType, FileSystem FROM Win32_Volume", 2},
        {"root\\cimv2", "SELECT Name FROM Win32_Printer", 1},
        {"root\\cimv2",
         "SELECT Name, PrinterState FROM Win32_Printer WHERE Name = 'Microsoft Print to PDF'", 1},
        {"root\\cimv2", texts[0], 2},
        {"root\\cimv2", texts[1], 1},
        {"root\\cimv2", texts[2], 2},
        {"root\\cimv2", texts[3], 1},
        {"root\\cimv2", texts[4], 1},
    };
}

// Answers a query with the first row's value of `field`; the server list needs a few values
// (a process id, an adapter's name and index) to build the queries that depend on them.
using value_lookup = std::function<std::string(const std::string& ns, const std::string& wql,
                                               const std::string& field)>;

inline std::vector<module_query> server_queries(const value_lookup& lookup) {
    std::vector<module_query> queries = common_queries();
    const std::string pid =
        lookup("root\\cimv2", "SELECT ProcessId FROM Win32_Service WHERE Name = 'MSSQLSERVER'",
               "ProcessId");
    const std::string process =
        "SELECT IDProcess, WorkingSet, PageFileBytes, ThreadCount, HandleCount, "
        "PercentProcessorTime, Timestamp_Sys100NS, ElapsedTime FROM "
        "Win32_PerfRawData_PerfProc_Process WHERE IDProcess = " +
        pid;
    const std::string adapter_name =
        lookup("root\\cimv2", "SELECT Name FROM Win32_PerfRawData_Tcpip_NetworkAdapter", "Name");
    const std::string adapter =
        "SELECT Name, Index FROM Win32_NetworkAdapter WHERE Name = '" + adapter_name + "'";
    const std::string index = lookup("root\\cimv2", adapter, "Index");
    const std::string config =
        "SELECT IPAddress, MACAddress FROM Win32_NetworkAdapterConfiguration WHERE Index = " +
        index;
    std::vector<std::string> sql;
    for (const char* id : {"MSSQLSERVER_SQLServer", "MSSQLREPORTING_MSSQLREPORTING"}) {
        const std::string p = std::string("FROM Win32_PerfRawData_") + id;
        sql.push_back(
            "SELECT FullScansPersec, PageSplitsPersec, TableLockEscalationsPersec, "
            "Timestamp_PerfTime, Frequency_PerfTime " +
            p + "AccessMethods");
        sql.push_back(
            "SELECT Buffercachehitratio, Buffercachehitratio_Base, Databasepages, "
            "Pagelifeexpectancy " +
            p + "BufferManager");
        sql.push_back(
            "SELECT UserConnections, LoginsPersec, LogoutsPersec, Timestamp_PerfTime, "
            "Frequency_PerfTime " +
            p + "GeneralStatistics");
        sql.push_back(
            "SELECT LockRequestsPersec, NumberofDeadlocksPersec, AverageWaitTimems, "
            "AverageWaitTimems_Base, Timestamp_PerfTime, Frequency_PerfTime " +
            p + "Locks WHERE Name = '_Total'");
        sql.push_back(
            "SELECT ConnectionMemoryKB, OptimizerMemoryKB, TotalServerMemoryKB, "
            "TargetServerMemoryKB, SQLCacheMemoryKB " +
            p + "MemoryManager");
        sql.push_back(
            "SELECT BatchRequestsPersec, SQLCompilationsPersec, SQLReCompilationsPersec, "
            "Timestamp_PerfTime, Frequency_PerfTime " +
            p + "SQLStatistics");
    }
    queries.push_back({"root\\cimv2", process, 1});
    queries.push_back({"root\\cimv2", adapter, 1});
    queries.push_back({"root\\cimv2", config, 1});
    for (const std::string& q : sql) queries.push_back({"root\\cimv2", q, 1});
    queries.push_back(
        {"root\\PrintManagement",
         "SELECT Name, PrinterStatus FROM MSFT_Printer WHERE Name = 'HP LaserJet 4250 PCL6'", 1});
    queries.push_back(
        {"root\\cimv2",
         "SELECT JobId, TimeSubmitted FROM Win32_PrintJob WHERE Name LIKE 'HP LaserJet 4250 PCL6%'",
         3});
    queries.push_back({"root\\Microsoft\\SqlServer", "SELECT Name FROM __NAMESPACE", 2});
    queries.push_back({"root\\Microsoft\\SqlServer\\ComputerManagement16",
                       "SELECT ServiceName, DisplayName FROM SQLService WHERE SQLServiceType = 1",
                       2});
    return queries;
}

inline std::vector<module_query> client_queries() {
    std::vector<module_query> queries = common_queries();
    queries[5].min_rows = 30;
    for (const char* type : {"Antivirus", "AntiSpyware", "Firewall"}) {
        queries.push_back(
            {"root\\SecurityCenter2",
             std::string("SELECT displayName, pathToSignedProductExe FROM ") + type + "Product",
             0});
    }
    queries.push_back({"root\\SecurityCenter2",
                       "SELECT displayName, pathToSignedProductExe, productState FROM "
                       "AntivirusProduct WHERE displayName = 'Windows Defender'",
                       1});
    return queries;
}

}  // namespace module_queries
