// The simulated target's model, clocks, WQL subset and query engine, one harness each; the
// cases are rows in simulator_cases.json.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "simulator/query_engine.hpp"
#include "simulator/wql_select.hpp"

namespace winrm_simulator {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const json& cases() {
    static const json all = json::parse(std::ifstream(WMI_SIMULATOR_CASES));
    return all;
}

// 2026-12-05T16:00:00Z
const sim_clock::time_point start = sim_clock::time_point(1796486400s);

TEST(machine_model, rejects_malformed_models_naming_the_file_and_the_place) {
    for (const json& c : cases()["bad_models"]) {
        std::string text =
            c.contains("text") ? c["text"].get<std::string>() : c.value("model", json()).dump();
        if (c.contains("class") || c.contains("value")) {
            const json cls =
                c.contains("class") ? c["class"] : json{{"instances", {{{"P", c["value"]}}}}};
            text = json{{"namespaces", {{"root\\cimv2", {{"C", cls}}}}}}.dump();
        }
        SCOPED_TRACE(text);
        try {
            machine_model::parse(text, "test.json");
            ADD_FAILURE() << "accepted";
        } catch (const model_error& e) {
            const std::string what = e.what();
            EXPECT_NE(std::string::npos, what.find(c["error"].get<std::string>())) << what;
            EXPECT_EQ(0u, what.rfind("test.json: ", 0)) << what;
        }
    }
    EXPECT_THROW(machine_model::load_file("/nonexistent/model.json"), model_error);
}

TEST(machine_model, counters_clocks_and_datetimes_follow_the_injected_time) {
    const machine_model model = machine_model::parse(cases()["counters"]["model"].dump(), "m");
    const model_class& cls = model.find_namespace("root\\cimv2")->classes.at("C");
    for (const json& row : cases()["counters"]["values"]) {
        const auto at = start + std::chrono::milliseconds(row[1].get<int>());
        SCOPED_TRACE(row.dump());
        std::string value = "<absent>";
        for (const auto& [name, v] : model.evaluate(cls, 0, {start, at})) {
            if (name == row[0]) value = v.items.at(0);
        }
        EXPECT_EQ(row[2].get<std::string>(), value);
    }
    EXPECT_EQ("2026-12-05T11:00:00.25-05:00", format_cim_datetime(start + 250ms, -300));
    EXPECT_EQ("2026-12-06T00:59:59+01:00",
              format_cim_datetime(sim_clock::time_point(1796515199s), 60));
}

TEST(wql_select, parses_the_subset_and_rejects_everything_else) {
    for (const json& c : cases()["wql_select"]["parses"]) {
        SCOPED_TRACE(c[0].get<std::string>());
        const wql_select parsed = parse_wql_select(c[0].get<std::string>());
        EXPECT_EQ(c[1].get<std::vector<std::string>>(), parsed.fields);
        EXPECT_EQ(c[2].get<std::string>(), parsed.class_name);
        ASSERT_EQ(!c[3].is_null(), parsed.where.has_value());
        if (!parsed.where) continue;
        EXPECT_EQ(c[3][0].get<std::string>(), parsed.where->field);
        EXPECT_EQ(c[3][1] == "LIKE", parsed.where->op == wql_operator::like);
        const json literal = std::visit([](const auto& v) { return json(v); }, parsed.where->value);
        EXPECT_EQ(c[3][2], literal);
    }
    for (const json& text : cases()["wql_select"]["rejects"]) {
        EXPECT_THROW(parse_wql_select(text.get<std::string>()), wql_syntax_error) << text;
    }
    // Every prefix of a query parses or is a syntax error; nothing else escapes.
    const std::string full = cases()["wql_select"]["parses"].back()[0];
    for (std::size_t n = 0; n < full.size(); ++n) {
        try {
            parse_wql_select(std::string_view(full).substr(0, n));
        } catch (const wql_syntax_error&) {
        }
    }
    for (const json& c : cases()["wql_select"]["like"]) {
        EXPECT_EQ(c[2].get<bool>(),
                  wql_like_matches(c[0].get<std::string>(), c[1].get<std::string>()))
            << c;
    }
}

class query_engine : public ::testing::Test {
protected:
    const machine_model model_ = machine_model::parse(cases()["engine"]["model"].dump(), "m");

    query_result run(const std::string& ns, const std::string& wql) const {
        return run_query(model_, ns, wql, {start, start});
    }
};

TEST_F(query_engine, selects_rows_by_condition_and_refuses_as_windows_does) {
    for (const json& c : cases()["engine"]["selects"]) {
        SCOPED_TRACE(c[1].get<std::string>());
        std::vector<std::string> column;
        for (const rendered_instance& row : run(c[0], c[1]).rows) {
            column.push_back(row.at(0).second.items.at(0));
        }
        EXPECT_EQ(c[2].get<std::vector<std::string>>(), column);
    }
    for (const json& c : cases()["engine"]["refusals"]) {
        SCOPED_TRACE(c[1].get<std::string>());
        try {
            run(c[0], c[1]);
            ADD_FAILURE() << "answered";
        } catch (const wmi_error& e) {
            EXPECT_EQ(c[2].get<std::uint32_t>(), e.hresult());
        }
    }
}

TEST_F(query_engine, returns_selected_properties_alphabetically_with_their_forms) {
    const query_result some = run("ROOT\\CIMV2", "SELECT State, name, State FROM Win32_Service");
    EXPECT_TRUE(some.fragment);
    EXPECT_EQ("Win32_Service", some.class_name);
    EXPECT_EQ("Name", some.rows.at(0).at(0).first);
    EXPECT_EQ("State", some.rows.at(0).at(1).first);
    EXPECT_EQ(2u, some.rows.at(0).size());

    const query_result all = run("root\\cimv2", "SELECT * FROM Win32_Service");
    EXPECT_FALSE(all.fragment);
    // Declared but absent in an instance: NULL, not an empty text.
    EXPECT_EQ("Description", all.rows.at(2).at(0).first);
    EXPECT_EQ(property_value::type::null, all.rows.at(2).at(0).second.kind);
    EXPECT_EQ(property_value::type::text, all.rows.at(0).at(0).second.kind);

    const query_result adapters =
        run("root\\cimv2", "SELECT IPAddress, Big FROM Win32_NetworkAdapterConfiguration");
    EXPECT_EQ("18446744073709551615", adapters.rows.at(0).at(0).second.items.at(0));
    EXPECT_TRUE(adapters.rows.at(0).at(1).second.is_array);
    EXPECT_EQ((std::vector<std::string>{"192.168.20.15", "fe80::1"}),
              adapters.rows.at(0).at(1).second.items);
    EXPECT_EQ(property_value::type::null, adapters.rows.at(1).at(1).second.kind);
}

}  // namespace
}  // namespace winrm_simulator
