#include <gtest/gtest.h>

#include "probe_data.hpp"
#include "verdicts.hpp"

namespace {

using nlohmann::json;
using namespace wmiprobe;

std::string lines(const json& row, const char* member) {
    std::string text;
    for (const auto& line : row.value(member, json::array())) {
        text += line.get<std::string>() + "\n";
    }
    return text;
}

call_outcome outcome_of(const json& row) {
    return {row.at("code").get<int>(), row.at("messages").get<std::vector<json>>(), {}};
}

// Each row of data/verdicts.json: what the module answered, and the exit code and text the
// probe must make of it.
verdict decide(const json& row, const json& document) {
    const text_table texts(document, row.value("language", "English"));
    const std::string family = row.at("family");
    if (family == "check") return check_verdict("a_check", "h", outcome_of(row), texts);
    if (family == "discover") return discover_verdict("disk_metascan", outcome_of(row), texts);
    if (family == "create") return create_verdict("load_sensor", outcome_of(row), texts);
    if (family == "info")
        return {exit_ok, true, render_info(module_catalogue(document), texts, 6), ""};
    if (family == "summary") {
        return {exit_ok, true,
                render_demo_summary(row.at("ran"), row.at("missing"), row.at("skipped")), ""};
    }
    sensor_state state;
    sensor_view view(document.at("Lookups"), texts, state);
    verdict all;
    for (const auto& round : row.at("rounds")) {
        const auto one = scan_verdict("load_sensor", 1, "Scan 1/1 of load_sensor",
                                      outcome_of(round), view, round.value("at", 1));
        all.exit_code = std::max(all.exit_code, one.exit_code);
        all.out += one.out;
        all.err += one.err;
    }
    return all;
}

TEST(verdicts, module_answers_become_exit_codes_and_text) {
    const json document = probe_data("document.json");
    for (const auto& row : probe_data("verdicts.json")) {
        SCOPED_TRACE(row.at("name").get<std::string>());
        const auto got = decide(row, document);
        EXPECT_EQ(got.exit_code, row.at("exit").get<int>());
        EXPECT_EQ(got.implemented, row.value("implemented", true));
        EXPECT_EQ(got.out, lines(row, "out"));
        EXPECT_EQ(got.err, lines(row, "err"));
    }
}

}  // namespace
