#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "libvexahelper/logging.hpp"
#include "log_folder.hpp"
#include "test_kinds.hpp"
#include "test_support.hpp"

namespace {

using nlohmann::json;

class bases_test : public ::testing::Test {
protected:
    void SetUp() override {
        test_support::register_recorder(*container_, recorder_);
        libvexahelper::register_sensor_log(*container_);
    }
    // A probe sensor; `mode` picks what its scan does (see test_kinds).
    std::unique_ptr<test_kinds::probe_sensor> sensor(int id, const std::string& mode,
                                                     bool logging = true) {
        test_kinds::probe_settings s;
        s.host = mode;
        s.logging = logging ? wmi::settings::logging::enabled : wmi::settings::logging::disabled;
        return std::make_unique<test_kinds::probe_sensor>(
            container_, id, s, std::map<int, std::string>{}, std::map<std::string, std::string>{});
    }
    std::vector<json> of(const std::string& type, int id) const {
        std::vector<json> found;
        for (const auto& m : recorder_->of_type(type)) {
            if (m.at("sensor_id") == id) found.push_back(m);
        }
        return found;
    }
    std::vector<std::string> log_texts(int id) const {
        std::vector<std::string> texts;
        for (const auto& l : logs_.sensor_log(id)) texts.push_back(l.text);
        return texts;
    }

    test_support::log_folder logs_;
    std::shared_ptr<libvexahelper::service_container> container_ =
        std::make_shared<libvexahelper::service_container>();
    std::shared_ptr<test_support::message_recorder> recorder_ =
        std::make_shared<test_support::message_recorder>();
};

const std::string enter = "#################### Enter sensor scan ####################";

// The scan wrapper is the barrier between a sensor and the host: exactly one result per scan
// for any translatable or standard exception, framed in the log; anything else passes on.
TEST_F(bases_test, scan_wrapper_sends_exactly_one_result_per_failure) {
    const std::vector<std::tuple<std::string, std::size_t, int, json>> rows{
        // mode, results, last response code, the key of a translatable error or the text
        {"ok", 1, 0, nullptr},
        {"i18n", 1, 3, "#:error.test_probe_failed[target]"},
        {"std", 1, 3, "plain failure"},
        {"send_then_throw", 2, 3, "after sending"},
    };
    int id = 10;
    for (const auto& [mode, count, code, message] : rows) {
        SCOPED_TRACE(mode);
        sensor(++id, mode)->scan();
        const auto results = of("sensor_scan_result", id);
        ASSERT_EQ(results.size(), count);
        EXPECT_EQ(results.back().at("response_code"), code);
        EXPECT_EQ(results.back().at("error_code"), 0);
        const auto& m = results.back().at("message");
        EXPECT_EQ(m.is_object() ? m.at(mode == "i18n" ? "key" : "text") : json(), message);
        const auto lines = log_texts(id);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), enter), 1);
        EXPECT_EQ(lines.back(), "#################### Exit sensor scan  ####################");
    }
    EXPECT_THROW(sensor(20, "other")->scan(), int);
    EXPECT_TRUE(of("sensor_scan_result", 20).empty());
    EXPECT_EQ(log_texts(20).back(), enter);

    sensor(21, "ok", false)->scan();  // logging off: no log file at all
    EXPECT_FALSE(std::filesystem::exists(logs_.path() / "sensors" / "sensor_21.log"));
}

}  // namespace
