#include <gtest/gtest.h>

#include "nagios.hpp"
#include "probe_data.hpp"
#include "verdicts.hpp"

namespace {

using nlohmann::json;
using namespace wmiprobe;

// Each row of data/nagios.json: the channels a sensor announced and the results of its scans a
// second apart (the last one decides), or a run that failed with what the probe said; and the
// plugin line and exit code.
TEST(nagios, channel_values_against_limits_and_lookups_give_state_and_perfdata) {
    const json document = probe_data("document.json");
    const text_table texts(document, "English");
    for (const auto& row : probe_data("nagios.json")) {
        SCOPED_TRACE(row.at("name").get<std::string>());
        nagios_line got;
        if (row.contains("failure")) {
            got = nagios_failure_line(row.at("failure"), row.at("why"));
        } else {
            sensor_state state;
            sensor_view view(document.at("Lookups"), texts, state);
            for (const auto& channel : row.at("channels")) {
                view.take({{"type", "dynamic_channel"}, {"channel", channel}});
            }
            std::int64_t at_us = 0;
            for (const auto& result : row.at("scans")) {
                at_us += 1'000'000;
                got = nagios_scan_line("load_sensor on h", view.report(result, at_us),
                                       state.channels);
            }
        }
        EXPECT_EQ(got.text, row.at("line").get<std::string>());
        EXPECT_EQ(got.exit_code(), row.at("exit").get<int>());
    }
}

}  // namespace
