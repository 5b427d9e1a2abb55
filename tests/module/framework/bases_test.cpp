#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "libvexahelper/logging.hpp"
#include "test_kinds.hpp"
#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::vector<std::string> log_lines(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        const auto start = line.find("] ");
        lines.push_back(start == std::string::npos ? line : line.substr(start + 2));
    }
    return lines;
}

class bases_test : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("wmi_bases_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        libvexahelper::logging::set_log_directory(dir_);
        test_support::register_recorder(*container_, recorder_);
        libvexahelper::register_sensor_log(*container_);
    }
    void TearDown() override {
        libvexahelper::logging::set_log_directory({});
        fs::remove_all(dir_);
    }

    test_kinds::probe_settings settings(const std::string& host, bool logging = true) const {
        test_kinds::probe_settings s;
        s.host = host;
        s.logging = logging ? wmi::settings::logging::enabled : wmi::settings::logging::disabled;
        return s;
    }
    std::unique_ptr<test_kinds::probe_sensor> sensor(const std::string& host,
                                                     std::map<int, std::string> known = {},
                                                     std::map<std::string, std::string> data = {}) {
        return std::make_unique<test_kinds::probe_sensor>(container_, 4, settings(host), known,
                                                          data);
    }
    std::vector<std::string> sensor_log(int id = 4) const {
        return log_lines(dir_ / "sensors" / ("sensor_" + std::to_string(id) + ".log"));
    }

    fs::path dir_;
    std::shared_ptr<libvexahelper::service_container> container_ =
        std::make_shared<libvexahelper::service_container>();
    std::shared_ptr<test_support::message_recorder> recorder_ =
        std::make_shared<test_support::message_recorder>();
};

const std::string initializing = "#################### Initializing ####################";
const std::string enter = "#################### Enter sensor scan ####################";
const std::string exit_line = "#################### Exit sensor scan  ####################";

TEST_F(bases_test, construction_logs_two_lines_and_announces_channels) {
    auto s = sensor("ok", {{1, "known to host"}});
    EXPECT_EQ(initializing.size(), 54u);
    EXPECT_EQ(sensor_log(),
              (std::vector<std::string>{initializing, "Test Probe v1 version is: 1.21.0.22799"}));
    // Channel 1 is known to the host: registered locally, never announced.
    const auto announced = recorder_->of_type("dynamic_channel");
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced[0].at("channel").at("channel_id"), 0);
    EXPECT_EQ(announced[0].at("sensor_id"), 4);
}

TEST_F(bases_test, registering_again_announces_at_most_once) {
    auto s = sensor("channels");
    s->scan();
    s->scan();
    std::vector<int> ids;
    for (const auto& m : recorder_->of_type("dynamic_channel")) {
        ids.push_back(m.at("channel").at("channel_id"));
    }
    EXPECT_EQ(ids, (std::vector<int>{0, 1, 2}));
}

TEST_F(bases_test, logging_disabled_writes_nothing) {
    test_kinds::probe_sensor s(container_, 9, settings("ok", false), {}, {});
    s.scan();
    EXPECT_FALSE(fs::exists(dir_ / "sensors" / "sensor_9.log"));
    // Without a sensor-log factory, enabled logging cannot be set up.
    auto bare = std::make_shared<libvexahelper::service_container>();
    test_support::register_recorder(*bare, recorder_);
    EXPECT_THROW(test_kinds::probe_sensor(bare, 9, settings("ok"), {}, {}),
                 libvexahelper::utils::exceptions::factory_not_available);
}

// The scan wrapper's single-result rule, per kind of failure.
TEST_F(bases_test, scan_wrapper_sends_exactly_one_result_per_failure) {
    struct row {
        std::string mode;
        std::size_t results;
        int last_code;
        std::string last_text;
    };
    const row rows[] = {
        {"ok", 1, 0, ""},
        {"i18n", 1, 3, "Probe of 'target' failed."},
        {"std", 1, 3, "plain failure"},
        {"send_then_throw", 2, 3, "after sending"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.mode);
        auto recorder = std::make_shared<test_support::message_recorder>();
        auto container = std::make_shared<libvexahelper::service_container>();
        test_support::register_recorder(*container, recorder);
        libvexahelper::register_sensor_log(*container);
        test_kinds::probe_sensor s(container, 5, settings(r.mode), {}, {});
        s.scan();
        const auto results = recorder->of_type("sensor_scan_result");
        ASSERT_EQ(results.size(), r.results);
        EXPECT_EQ(results.back().at("response_code"), r.last_code);
        EXPECT_EQ(results.back().at("error_code"), 0);
        if (!r.last_text.empty()) {
            EXPECT_EQ(results.back().at("message").at("text"), r.last_text);
        }
    }
    const auto lines = sensor_log(5);
    // Every scan is framed, also the failing ones.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), enter), 4);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), exit_line), 4);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Probe of 'target' failed."), lines.end());
}

TEST_F(bases_test, other_exceptions_leave_the_wrapper_without_a_result) {
    auto s = sensor("other");
    EXPECT_THROW(s->scan(), int);
    EXPECT_TRUE(recorder_->of_type("sensor_scan_result").empty());
    const auto lines = sensor_log();
    EXPECT_EQ(lines.back(), enter);
}

TEST_F(bases_test, translatable_errors_keep_their_key) {
    auto s = sensor("i18n");
    s->scan();
    const auto r = recorder_->of_type("sensor_scan_result").at(0);
    EXPECT_EQ(r.at("message").at("key"), "#:error.test_probe_failed[target]");
}

TEST_F(bases_test, persistent_data_is_sent_only_when_it_changes) {
    auto s = sensor("ok", {}, {{"scans", "1"}});
    s->scan();  // stores "1": unchanged, nothing sent
    EXPECT_TRUE(recorder_->of_type("persistent_data").empty());
    s->scan();  // "2"
    const auto sent = recorder_->of_type("persistent_data");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(
        sent[0],
        (json{{"type", "persistent_data"}, {"sensor_id", 4}, {"key", "scans"}, {"value", "2"}}));
    EXPECT_EQ(s->persistent().at("scans"), "2");
}

TEST_F(bases_test, metascan_wrapper_answers_failures_with_code_5) {
    test_kinds::probe_meta_settings ok;
    ok.host = "win-01";
    test_kinds::probe_metascan(container_, 12, 6, ok).scan();
    test_kinds::probe_meta_settings failing;
    failing.host = "i18n";
    test_kinds::probe_metascan(container_, 13, 6, failing).scan();

    const auto results = recorder_->of_type("meta_scan_result");
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].at("response_code"), 0);
    EXPECT_EQ(results[0].at("entries").at(0).at("values").at("name"), "win-01");
    EXPECT_EQ(results[1].at("response_code"), 5);
    EXPECT_EQ(results[1].at("request"), 13);
    EXPECT_EQ(results[1].at("message").at("key"), "#:error.test_probe_failed[meta]");
    EXPECT_EQ(recorder_->of_type("metascan_progress").size(), 1u);
    // Each of the two objects logged its own construction line.
    const auto lines = sensor_log(6);
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "Initialize: test_probe_metascan version is: 1.21.0.22799"),
              2);
}

TEST_F(bases_test, check_logs_its_initialize_line) {
    test_kinds::probe_check_settings s;
    s.host = "ok";
    test_kinds::probe_check check(container_, 8, s);
    check.work();
    EXPECT_EQ(sensor_log(8),
              (std::vector<std::string>{"Initialize: test_probe_check version is: 1.21.0.22799"}));
    EXPECT_EQ(recorder_->of_type("check_result").at(0).at("success"), true);
}

}  // namespace
