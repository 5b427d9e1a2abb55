#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_target.hpp"
#include "framework/exceptions.hpp"
#include "libi18n/i18n.hpp"
#include "wmi_access/accessors.hpp"
#include "wmi_access/connection.hpp"
#include "wmi_access/queries.hpp"
#include "wmi_access/query_execution.hpp"

namespace {

using fake::row;
namespace access = wmi::access;

class recording_log : public liblog::log_interface {
public:
    void log(int level, const std::string& message) override { lines.push_back({level, message}); }
    std::vector<fake::log_line> lines;
};

struct session_fixture : ::testing::Test {
    std::shared_ptr<fake::target> target = std::make_shared<fake::target>();
    fake::session session{target};
    recording_log log;
};

TEST(wmi_access, renders_fields_in_name_order_with_newline_and_two_blanks) {
    EXPECT_EQ(access::render_row(row({{"b", "2"}, {"a", "1"}})), "\n  a=1\n  b=2");
    EXPECT_EQ(access::render_row(libwql::wql_query_row{}), "");
}

TEST_F(session_fixture, first_row_logs_the_query_and_only_the_first_of_three_rows) {
    target->answer = [](const std::string&) {
        return fake::rows{row({{"Name", "a"}}), row({{"Name", "b"}}), row({{"Name", "c"}})};
    };
    const auto first = access::execute_first_row(libwql::wql_query("SELECT Name FROM X"),
                                                 "root\\cimv2", session, log);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->at("Name").as_string(), "a");
    EXPECT_EQ(log.lines, (std::vector<fake::log_line>{
                             {7, "Executing WQL query on root\\cimv2: SELECT Name FROM X"},
                             {7, "Result:\n  Name=a"}}));
}

TEST_F(session_fixture, all_rows_logs_each_row_and_nothing_after_an_empty_result) {
    target->answer = [](const std::string&) {
        return fake::rows{row({{"Name", "a"}}), row({{"Name", "b"}})};
    };
    const auto rows = access::execute_all_rows(libwql::wql_query("Q"), "ns", session, log);
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(log.lines, (std::vector<fake::log_line>{{7, "Executing WQL query on ns: Q"},
                                                      {7, "Results:"},
                                                      {7, "\n  Name=a"},
                                                      {7, "\n  Name=b"}}));
    log.lines.clear();
    target->answer = [](const std::string&) { return fake::rows{}; };
    EXPECT_TRUE(access::execute_all_rows(libwql::wql_query("Q"), "ns", session, log).empty());
    EXPECT_FALSE(access::execute_first_row(libwql::wql_query("Q"), "ns", session, log));
    EXPECT_EQ(log.lines, (std::vector<fake::log_line>{{7, "Executing WQL query on ns: Q"},
                                                      {7, "Executing WQL query on ns: Q"}}));
}

TEST_F(session_fixture, each_query_routine_asks_its_class_fields_and_namespace) {
    access::query_memory(session, log);
    access::query_caption(session, log);
    access::query_boot_times(session, log);
    access::query_paging_file(session, log);
    access::query_processors(session, log);
    ASSERT_EQ(target->queries.size(), 5u);
    for (const auto& [wql, ns] : target->queries) EXPECT_EQ(ns, "root\\cimv2");
    const std::vector<std::vector<std::string>> expected_parts{
        {"FreePhysicalMemory", "TotalVisibleMemorySize", "FROM Win32_OperatingSystem"},
        {"Caption", "FROM Win32_OperatingSystem"},
        {"LastBootUpTime", "LocalDateTime", "FROM Win32_OperatingSystem"},
        {"PercentUsage", "PercentUsage_Base", "FROM Win32_PerfRawData_PerfOS_PagingFile",
         "WHERE Name = '_Total'"},
        {"Name", "PercentProcessorTime", "Timestamp_Sys100NS",
         "FROM Win32_PerfRawData_PerfOS_Processor"},
    };
    for (std::size_t i = 0; i < expected_parts.size(); ++i) {
        const auto& wql = target->queries[i].first;
        EXPECT_EQ(wql.rfind("SELECT ", 0), 0u) << wql;
        for (const auto& part : expected_parts[i]) {
            EXPECT_NE(wql.find(part), std::string::npos) << wql << " lacks " << part;
        }
        if (i != 3) {
            EXPECT_EQ(wql.find("WHERE"), std::string::npos) << wql;
        }
    }
}

TEST(wmi_access, accessors_apply_their_presence_rules) {
    libwql::wql_query_row r =
        row({{"Text", "x"}, {"Empty", ""}, {"Number", "42"}, {"Boot", "2026-01-01T00:00:01Z"}});
    r.set(libwql::wql_query_field::null("Nothing"));
    EXPECT_EQ(access::optional_text(r, "Text"), "x");
    EXPECT_EQ(access::optional_text(r, "Empty"), std::nullopt);
    EXPECT_EQ(access::optional_text(r, "Nothing"), std::nullopt);
    EXPECT_EQ(access::optional_text(r, "Absent"), std::nullopt);
    EXPECT_EQ(access::optional_int64(r, "Number"), 42);
    EXPECT_EQ(access::optional_int64(r, "Text"), std::nullopt);
    EXPECT_EQ(access::selected_uint64(r, "Number"), 42u);
    EXPECT_EQ(access::selected_text(r, "Text"), "x");
    EXPECT_THROW(access::selected_text(r, "Absent"), libi18n::i18n_exception);
    EXPECT_EQ(access::required_timestamp(r, "C", "Boot").time_since_epoch(),
              std::chrono::seconds(1767225601));
    try {
        access::required_timestamp(r, "Win32_OperatingSystem", "Nothing");
        FAIL() << "a NULL timestamp must not be read";
    } catch (const wmi::exceptions::required_field_unavailable& e) {
        EXPECT_EQ(e.get_i18n_msg().key,
                  "#:error.required_field_unavailable[Win32_OperatingSystem,Nothing]");
    }
    EXPECT_THROW(access::required_int64(r, "C", "Text"),
                 wmi::exceptions::required_field_unavailable);
}

TEST(wmi_access, connection_parameters_follow_the_settings) {
    wmi::settings::memory_sensor s{};
    s.host = "10.0.0.1";
    s.domain = "LAB";
    s.username = "u";
    s.password = "p";
    s.port = 5986;
    auto p = access::connection_parameters(s);
    EXPECT_EQ(p.host, "10.0.0.1");
    EXPECT_EQ(p.domain, "LAB");
    EXPECT_EQ(p.username, "u");
    EXPECT_EQ(p.password, "p");
    EXPECT_EQ(p.authentication_mode, 0);
    EXPECT_EQ(p.port, 5986);
    EXPECT_FALSE(p.use_https);
    s.mode = wmi::settings::mode::kerberos_only;
    s.protocol = wmi::settings::protocol::https;
    p = access::connection_parameters(s);
    EXPECT_EQ(p.authentication_mode, 1);
    EXPECT_TRUE(p.use_https);
}

}  // namespace
