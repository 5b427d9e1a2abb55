#include "simulator/wql_select.hpp"

#include <gtest/gtest.h>

namespace winrm_simulator {
namespace {

struct parse_case {
    const char* text;
    std::vector<std::string> fields;
    std::string class_name;
    std::optional<wql_condition> where;
};

bool same_condition(const std::optional<wql_condition>& a, const std::optional<wql_condition>& b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || (a->field == b->field && a->op == b->op && a->value == b->value);
}

TEST(wql_select, parses_the_supported_forms) {
    using op = wql_operator;
    const std::vector<parse_case> cases = {
        {"SELECT * FROM Win32_Service", {}, "Win32_Service", std::nullopt},
        {"select Name,State from win32_service", {"Name", "State"}, "win32_service", std::nullopt},
        {"  SELECT  Name ,  State\tFROM\nWin32_Service  ",
         {"Name", "State"},
         "Win32_Service",
         std::nullopt},
        {"SELECT Name FROM __NAMESPACE", {"Name"}, "__NAMESPACE", std::nullopt},
        {"SELECT Name FROM Win32_Service WHERE Name = 'Spooler'",
         {"Name"},
         "Win32_Service",
         wql_condition{"Name", op::equals, std::string("Spooler")}},
        {"SELECT Name FROM Win32_Service WHERE Name = \"Spooler\"",
         {"Name"},
         "Win32_Service",
         wql_condition{"Name", op::equals, std::string("Spooler")}},
        {R"(SELECT * FROM Win32_Printer WHERE Name = 'Label\'s \\ "x"')",
         {},
         "Win32_Printer",
         wql_condition{"Name", op::equals, std::string(R"(Label's \ "x")")}},
        {R"(SELECT * FROM C WHERE Name = "a\"b")",
         {},
         "C",
         wql_condition{"Name", op::equals, std::string("a\"b")}},
        {"SELECT * FROM C WHERE IDProcess = 2948",
         {},
         "C",
         wql_condition{"IDProcess", op::equals, std::int64_t{2948}}},
        {"SELECT * FROM C WHERE Offset = -12",
         {},
         "C",
         wql_condition{"Offset", op::equals, std::int64_t{-12}}},
        {"SELECT * FROM C WHERE Big = 9223372036854775807",
         {},
         "C",
         wql_condition{"Big", op::equals, std::int64_t{9223372036854775807}}},
        {"SELECT * FROM C WHERE IPEnabled = TRUE",
         {},
         "C",
         wql_condition{"IPEnabled", op::equals, true}},
        {"SELECT JobId FROM Win32_PrintJob WHERE Name like 'HP LaserJet%'",
         {"JobId"},
         "Win32_PrintJob",
         wql_condition{"Name", op::like, std::string("HP LaserJet%")}},
        {"SELECT * FROM C WHERE Name = ''",
         {},
         "C",
         wql_condition{"Name", op::equals, std::string()}},
    };
    for (const parse_case& c : cases) {
        SCOPED_TRACE(c.text);
        const wql_select parsed = parse_wql_select(c.text);
        EXPECT_EQ(parsed.fields, c.fields);
        EXPECT_EQ(parsed.class_name, c.class_name);
        EXPECT_TRUE(same_condition(parsed.where, c.where));
    }
}

TEST(wql_select, rejects_everything_outside_the_subset) {
    const std::vector<const char*> malformed = {
        "",
        "SELECT",
        "SELECT * Win32_Service",
        "SELECT FROM Win32_Service",
        "SELECT Name, FROM Win32_Service",
        "SELECT Name State FROM Win32_Service",
        "SELECT * FROM",
        "SELECT * FROM WHERE",
        "SELECT * FROM C WHERE",
        "SELECT * FROM C WHERE Name",
        "SELECT * FROM C WHERE Name =",
        "SELECT * FROM C WHERE Name = 'open",
        "SELECT * FROM C WHERE Name = 'a' AND State = 'b'",
        "SELECT * FROM C WHERE Name = 'a' OR 1 = 1",
        "SELECT * FROM C WHERE Name = 'a'' OR Name = ''",
        "SELECT * FROM C WHERE Name = 'a\\n'",
        "SELECT * FROM C WHERE Name = 'a\\",
        "SELECT * FROM C WHERE Id = 99999999999999999999",
        "SELECT * FROM C WHERE Id = 12abc",
        "SELECT * FROM C WHERE Id LIKE 5",
        "SELECT * FROM C WHERE Name <> 'x'",
        "SELECT * FROM C; DROP",
        "DELETE FROM C",
        "SELECT * FROM C extra",
        "SELECT * FROM select",
    };
    for (const char* text : malformed) {
        SCOPED_TRACE(text);
        EXPECT_THROW(parse_wql_select(text), wql_syntax_error);
    }
}

TEST(wql_select, like_follows_wql_wildcards_case_insensitively) {
    struct like_case {
        const char* pattern;
        const char* value;
        bool matches;
    };
    const std::vector<like_case> cases = {
        {"HP LaserJet%", "HP LaserJet 4250 PCL6, 12", true},
        {"hp laserjet%", "HP LaserJet 4250 PCL6, 12", true},
        {"HP LaserJet%", "Accounting Printer, 4", false},
        {"Accounting Printer%", "Accounting Printer, 4", true},
        {"%", "", true},
        {"abc", "abc", true},
        {"abc", "abcd", false},
        {"a_c", "abc", true},
        {"a_c", "ac", false},
        {"%PCL6%", "HP LaserJet 4250 PCL6, 12", true},
        {"[a-c]x", "bx", true},
        {"[a-c]x", "dx", false},
        {"[^a-c]x", "dx", true},
        {"Warehouse Label's [Zebra]%", "Warehouse Label's Z, 3", true},
        {"Warehouse Label's [Zebra]%", "Warehouse Label's [Zebra], 3", false},
        {"[unclosed%", "[unclosed, 1", true},
    };
    for (const like_case& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.value);
        EXPECT_EQ(wql_like_matches(c.pattern, c.value), c.matches);
    }
}

}  // namespace
}  // namespace winrm_simulator

namespace winrm_simulator {
namespace {

TEST(wql_select, every_prefix_parses_or_is_a_syntax_error) {
    const std::string full = R"(SELECT Name, State FROM Win32_Service WHERE Name = 'a\'b\\c')";
    for (std::size_t n = 0; n <= full.size(); ++n) {
        try {
            parse_wql_select(std::string_view(full).substr(0, n));
        } catch (const wql_syntax_error&) {
        }
    }
    EXPECT_EQ(std::get<std::string>(parse_wql_select(full).where->value), "a'b\\c");
}

}  // namespace
}  // namespace winrm_simulator
