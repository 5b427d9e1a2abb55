#include "simulator/query_engine.hpp"

#include <gtest/gtest.h>

namespace winrm_simulator {
namespace {

using namespace std::chrono_literals;

const model_time at_start{sim_clock::time_point(1796486400s), sim_clock::time_point(1796486400s)};

machine_model small_model() {
    return machine_model::parse(R"({"namespaces": {"root\\cimv2": {
        "Win32_Service": {"instances": [
            {"Name": "Spooler", "State": "Running", "ProcessId": 2312, "Description": ""},
            {"Name": "wuauserv", "State": "Stopped", "ProcessId": 0, "Description": null},
            {"Name": "Label's \\ svc", "State": "Running", "ProcessId": 7}]},
        "Win32_NetworkAdapterConfiguration": {"instances": [
            {"Index": 1, "IPAddress": ["192.168.20.15", "fe80::1"], "IPEnabled": true,
             "Big": 18446744073709551615},
            {"Index": 7, "IPAddress": null, "IPEnabled": false, "Big": 5}]}},
        "root\\Microsoft\\SqlServer\\ComputerManagement16": {},
        "root\\Microsoft\\SqlServer\\ServerEvents\\MSSQLSERVER": {}}})",
                                "small");
}

std::vector<std::string> column(const query_result& r, const std::string& name) {
    std::vector<std::string> out;
    for (const rendered_instance& row : r.rows) {
        for (const auto& [property, value] : row) {
            if (property == name) out.push_back(value.items.empty() ? "<nil>" : value.items[0]);
        }
    }
    return out;
}

TEST(query_engine, selects_rows_by_condition) {
    const machine_model model = small_model();
    struct where_case {
        const char* wql;
        std::vector<std::string> names;
    };
    const std::vector<where_case> cases = {
        {"SELECT Name FROM Win32_Service", {"Spooler", "wuauserv", "Label's \\ svc"}},
        {"SELECT Name FROM win32_service WHERE name = 'SPOOLER'", {"Spooler"}},
        {"SELECT Name FROM Win32_Service WHERE State = 'Running'", {"Spooler", "Label's \\ svc"}},
        {R"(SELECT Name FROM Win32_Service WHERE Name = 'Label\'s \\ svc')", {"Label's \\ svc"}},
        {"SELECT Name FROM Win32_Service WHERE Name = 'Label'", {}},
        {"SELECT Name FROM Win32_Service WHERE ProcessId = 2312", {"Spooler"}},
        {"SELECT Name FROM Win32_Service WHERE ProcessId = '7'", {"Label's \\ svc"}},
        {"SELECT Name FROM Win32_Service WHERE ProcessId = 99", {}},
        {"SELECT Name FROM Win32_Service WHERE Name LIKE 'wu%'", {"wuauserv"}},
        {"SELECT Name FROM Win32_Service WHERE Description = ''", {"Spooler"}},
        {"SELECT Name FROM Win32_Service WHERE Description LIKE '%'", {"Spooler"}},
    };
    for (const where_case& c : cases) {
        SCOPED_TRACE(c.wql);
        EXPECT_EQ(column(run_query(model, "root\\cimv2", c.wql, at_start), "Name"), c.names);
    }
}

TEST(query_engine, returns_only_selected_properties_alphabetically) {
    const query_result r = run_query(small_model(), "ROOT\\CIMV2",
                                     "SELECT State, name, State FROM Win32_Service", at_start);
    EXPECT_TRUE(r.fragment);
    EXPECT_EQ(r.class_name, "Win32_Service");
    ASSERT_EQ(r.rows.size(), 3u);
    ASSERT_EQ(r.rows[0].size(), 2u);
    EXPECT_EQ(r.rows[0][0].first, "Name");
    EXPECT_EQ(r.rows[0][1].first, "State");

    const query_result all =
        run_query(small_model(), "root\\cimv2", "SELECT * FROM Win32_Service", at_start);
    EXPECT_FALSE(all.fragment);
    ASSERT_EQ(all.rows[2].size(), 4u);
    // Declared but absent in an instance: NULL, not an empty text.
    EXPECT_EQ(all.rows[2][0].first, "Description");
    EXPECT_EQ(all.rows[2][0].second.kind, property_value::type::null);
    EXPECT_EQ(all.rows[0][0].second.kind, property_value::type::text);
}

const property_value& field(const rendered_instance& row, const std::string& name) {
    for (const auto& [property, value] : row) {
        if (property == name) return value;
    }
    throw std::out_of_range("no property " + name);
}

TEST(query_engine, keeps_arrays_nulls_and_64_bit_values) {
    const query_result r =
        run_query(small_model(), "root\\cimv2",
                  "SELECT Index, IPAddress, Big FROM Win32_NetworkAdapterConfiguration", at_start);
    ASSERT_EQ(r.rows.size(), 2u);
    ASSERT_EQ(r.rows[0].size(), 3u);
    EXPECT_EQ(r.rows[0][0].first, "Big");
    const property_value& addresses = field(r.rows[0], "IPAddress");
    EXPECT_TRUE(addresses.is_array);
    EXPECT_EQ(addresses.items, (std::vector<std::string>{"192.168.20.15", "fe80::1"}));
    EXPECT_EQ(field(r.rows[1], "IPAddress").kind, property_value::type::null);
    EXPECT_EQ(field(r.rows[0], "Big").items[0], "18446744073709551615");
    // The unsigned maximum never equals a signed literal.
    EXPECT_TRUE(run_query(small_model(), "root\\cimv2",
                          "SELECT Index FROM Win32_NetworkAdapterConfiguration WHERE Big = -1",
                          at_start)
                    .rows.empty());
    EXPECT_EQ(column(run_query(small_model(), "root\\cimv2",
                               "SELECT Index FROM Win32_NetworkAdapterConfiguration "
                               "WHERE IPEnabled = TRUE",
                               at_start),
                     "Index"),
              std::vector<std::string>{"1"});
}

TEST(query_engine, lists_child_namespaces) {
    const query_result r = run_query(small_model(), "root\\Microsoft\\SqlServer",
                                     "SELECT Name FROM __NAMESPACE", at_start);
    EXPECT_EQ(column(r, "Name"),
              (std::vector<std::string>{"ComputerManagement16", "ServerEvents"}));
    EXPECT_TRUE(run_query(small_model(), "root\\cimv2", "SELECT Name FROM __NAMESPACE", at_start)
                    .rows.empty());
}

TEST(query_engine, refuses_with_the_wmi_error_windows_reports) {
    struct refusal {
        const char* ns;
        const char* wql;
        std::uint32_t hresult;
    };
    const std::vector<refusal> cases = {
        {"root\\SecurityCenter2", "SELECT * FROM AntiVirusProduct", wbem_e_invalid_namespace},
        {"root\\Microsoft\\SqlServer\\ComputerManagement15", "SELECT * FROM SqlService",
         wbem_e_invalid_namespace},
        // The namespace is checked before the query text.
        {"root\\nowhere", "garbage", wbem_e_invalid_namespace},
        {"root\\cimv2", "SELECT * FROM Win32_PerfRawData_MSSQLSERVER_SQLServerLocks",
         wbem_e_invalid_class},
        {"root\\Microsoft\\SqlServer", "SELECT * FROM SqlService", wbem_e_invalid_class},
        {"root\\cimv2", "SELECT Name FROM", wbem_e_invalid_query},
        {"root\\cimv2", "SELECT Nme FROM Win32_Service", wbem_e_invalid_query},
        {"root\\cimv2", "SELECT Name FROM Win32_Service WHERE Colour = 'red'",
         wbem_e_invalid_query},
        {"root\\cimv2",
         "SELECT Index FROM Win32_NetworkAdapterConfiguration WHERE IPAddress = '1.2.3.4'",
         wbem_e_invalid_query},
    };
    for (const refusal& c : cases) {
        SCOPED_TRACE(c.wql);
        try {
            run_query(small_model(), c.ns, c.wql, at_start);
            ADD_FAILURE() << "answered";
        } catch (const wmi_error& e) {
            EXPECT_EQ(e.hresult(), c.hresult);
        }
    }
}

}  // namespace
}  // namespace winrm_simulator
