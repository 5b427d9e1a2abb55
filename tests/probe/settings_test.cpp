#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "probe_data.hpp"
#include "settings.hpp"

namespace {

using nlohmann::json;
using namespace wmiprobe;

target_options target_of(const json& given) {
    return {given.value("host", ""),
            given.contains("port") ? std::optional<int>(given["port"].get<int>()) : std::nullopt,
            given.value("https", false),
            given.value("domain", ""),
            given.value("user", ""),
            given.value("password", "")};
}

// Each row of data/settings.json: a kind, the target options and --set assignments, and the
// settings they must give or the reason they are refused; or keys and whether the masking rule
// calls them secret.
TEST(build_settings, fills_defaults_then_target_then_assignments_or_refuses) {
    const module_catalogue catalogue(probe_data("document.json"));
    for (const auto& row : probe_data("settings.json")) {
        SCOPED_TRACE(row.at("name").get<std::string>());
        if (row.contains("secrets")) {
            for (const auto& [key, secret] : row.at("secrets").items()) {
                EXPECT_EQ(is_secret_key(key), secret.get<bool>()) << key;
            }
            continue;
        }
        const std::string name = row.at("kind");
        const auto& kind = *std::find_if(catalogue.kinds().begin(), catalogue.kinds().end(),
                                         [&](const kind_entry& k) { return k.name == name; });
        const auto target = target_of(row.value("target", json::object()));
        const auto assignments = row.value("set", std::vector<std::string>{});
        if (row.contains("refused")) {
            try {
                build_settings(catalogue, kind, target, assignments);
                ADD_FAILURE() << "accepted";
            } catch (const usage_error& e) {
                EXPECT_NE(std::string(e.what()).find(row.at("refused")), std::string::npos)
                    << e.what();
                // A refused secret is never repeated back.
                EXPECT_EQ(std::string(e.what()).find("hunter2"), std::string::npos);
            }
            continue;
        }
        const json settings = build_settings(catalogue, kind, target, assignments);
        if (row.value("exact", false)) {
            EXPECT_EQ(settings, row.at("expect"));
        }
        const json expected = row.value("expect", json::object());
        for (const auto& [key, value] : expected.items()) {
            EXPECT_EQ(settings.value(key, "(missing)"), value) << key;
        }
        for (const auto& key : row.value("absent", json::array())) {
            EXPECT_FALSE(settings.contains(key)) << key;
        }
    }
}

TEST(read_password, file_first_line_then_environment) {
    const auto file = std::filesystem::path(::testing::TempDir()) / "wmiprobe_password_test";
    std::ofstream(file) << "pa ss\r\nsecond line\n";
    setenv("WMIPROBE_PASSWORD", "from-env", 1);
    EXPECT_EQ(read_password(file.string()), "pa ss");
    EXPECT_EQ(read_password(std::nullopt), "from-env");
    unsetenv("WMIPROBE_PASSWORD");
    EXPECT_EQ(read_password(std::nullopt), "");
    std::filesystem::remove(file);
    EXPECT_THROW(read_password(file.string()), usage_error);
}

}  // namespace
