#include <gtest/gtest.h>

#include "scan_view.hpp"

namespace {

using wmiprobe::format_value;

// Channel tables as a whole are checked in data/verdicts.json; this is every unit's format.
TEST(format_value, shows_each_unit_readably) {
    struct row {
        double value;
        unsigned unit;
        std::string custom;
        bool per_second;
        bool integer;
        std::string expected;
    };
    const row rows[] = {
        {512, 2, "", false, true, "512 B"},
        {8589934592.0, 2, "", false, true, "8.00 GiB"},
        {1536, 12, "", true, false, "1.50 KiB/s"},
        {3 * 1048576.0, 13, "", false, false, "3.00 MiB/s"},
        {42.126, 5, "", false, false, "42.13 %"},
        {7.5, 11, "", false, false, "7.50 %"},
        {0.25, 6, "", false, false, "0.25 ms"},
        {90061, 7, "", false, true, "1d 1h 1m 1s"},
        {2.5, 7, "", true, false, "2.50 /s"},
        {12, 8, "#/s", false, false, "12.00 #/s"},
        {12, 8, "#/s", false, true, "12 #/s"},
        {17, 10, "", false, true, "17 #"},
        {2.5, 10, "", true, false, "2.50 #/s"},
        {3, 99, "widgets", false, true, "3 widgets"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(format_value(r.value, r.unit, r.custom, r.per_second, r.integer), r.expected)
            << r.value << " unit " << r.unit;
    }
}

}  // namespace
