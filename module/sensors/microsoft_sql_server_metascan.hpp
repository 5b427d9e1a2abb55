#pragma once

#include <string>

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"

namespace wmi {

// Lists the SQL Server database engine instances that the SQL Server WMI providers (one
// "ComputerManagement<version>" namespace per installed version) know, each instance once.
class microsoft_sql_server_metascan : public wmi_metascan<settings::microsoft_sql_server_metascan> {
public:
    using wmi_kind::wmi_kind;
    void work() override;

private:
    const access::query namespaces_ =
        access::select("__NAMESPACE", {"Name"}, std::nullopt, "root\\Microsoft\\SqlServer");
};

// The instance as users name it: the service name without a leading "MSSQL$" (exact case), so
// the default instance stays "MSSQLSERVER".
std::string sql_server_instance_name(const std::string& service_name);

}  // namespace wmi
