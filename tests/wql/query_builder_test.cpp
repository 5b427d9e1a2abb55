#include <gtest/gtest.h>

#include <stdexcept>

#include "libwql/wql_query.hpp"

namespace {

using libwql::wql_query_builder;

TEST(wql_query_builder, writes_select_from_and_where_forms) {
    struct {
        std::string expected;
        std::string actual;
    } cases[] = {
        {"SELECT FreePhysicalMemory, TotalVisibleMemorySize FROM Win32_OperatingSystem",
         wql_query_builder::select({"FreePhysicalMemory", "TotalVisibleMemorySize"})
             .from("Win32_OperatingSystem")
             .build()
             .get()},
        {"SELECT * FROM Win32_Service",
         wql_query_builder::select({"*"}).from("Win32_Service").build().get()},
        {"SELECT Name, State FROM Win32_Service WHERE Name = 'Spooler'",
         wql_query_builder::select({"Name", "State"})
             .from("Win32_Service")
             .where_equals("Name", std::string("Spooler"))
             .build()
             .get()},
        {"SELECT IDProcess FROM Win32_PerfRawData_PerfProc_Process WHERE IDProcess = -42",
         wql_query_builder::select({"IDProcess"})
             .from("Win32_PerfRawData_PerfProc_Process")
             .where_equals("IDProcess", std::int64_t{-42})
             .build()
             .get()},
        {"SELECT Index FROM X WHERE Index = 9223372036854775807",
         wql_query_builder::select({"Index"})
             .from("X")
             .where_equals("Index", std::int64_t{9223372036854775807})
             .build()
             .get()},
        {"SELECT JobId FROM Win32_PrintJob WHERE Name LIKE 'HP%'",
         wql_query_builder::select({"JobId"})
             .from("Win32_PrintJob")
             .where("Name LIKE 'HP%'")
             .build()
             .get()},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, c.actual);
}

TEST(wql_query_builder, a_where_value_cannot_leave_its_literal) {
    struct {
        std::string value;
        std::string literal;
    } cases[] = {
        {"plain", "'plain'"},
        {"O'Brien", "'O\\'Brien'"},
        {"x' OR Name <> '", "'x\\' OR Name <> \\''"},
        {"C:\\", "'C:\\\\'"},
        // A trailing backslash must not escape the closing quote.
        {"evil\\", "'evil\\\\'"},
        {"\\' OR 1=1 --", "'\\\\\\' OR 1=1 --'"},
        {"\"double\"", "'\"double\"'"},
        {"", "''"},
    };
    for (const auto& c : cases) {
        const auto text = wql_query_builder::select({"Name"})
                              .from("Win32_Service")
                              .where_equals("Name", c.value)
                              .build()
                              .get();
        EXPECT_EQ("SELECT Name FROM Win32_Service WHERE Name = " + c.literal, text) << c.value;
        // Reading the literal back the way a WQL parser does yields the value, and the
        // literal ends exactly at the end of the statement.
        const auto start = text.find('\'');
        std::string decoded;
        std::size_t i = start + 1;
        for (; i < text.size() && text[i] != '\''; ++i) {
            if (text[i] == '\\') ++i;
            decoded += text[i];
        }
        EXPECT_EQ(c.value, decoded);
        EXPECT_EQ(text.size() - 1, i) << "literal ends early for " << c.value;
    }
}

TEST(wql_query_builder, rejects_names_that_are_not_identifiers) {
    EXPECT_THROW(wql_query_builder::select({}), std::invalid_argument);
    EXPECT_THROW(wql_query_builder::select({"Name, Password"}), std::invalid_argument);
    EXPECT_THROW(wql_query_builder::select({"Name", "*"}), std::invalid_argument);
    EXPECT_THROW(wql_query_builder::select({"Name"}).from("Win32_Service WHERE 1=1"),
                 std::invalid_argument);
    EXPECT_THROW(wql_query_builder::select({"Name"}).from("X").where_equals("a=b OR c", "v"),
                 std::invalid_argument);
    EXPECT_NO_THROW(wql_query_builder::select({"Name"}).from("__NAMESPACE"));
}

}  // namespace
