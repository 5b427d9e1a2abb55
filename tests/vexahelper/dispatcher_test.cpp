#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "libvexahelper/exceptions.hpp"
#include "libvexahelper/kinds.hpp"
#include "libvexahelper/message_service.hpp"
#include "libvexahelper/messages.hpp"
#include "libvexahelper/sensor_dispatcher.hpp"
#include "test_support.hpp"

// A small kind family used only here: one settings record, a sensor, a meta-scan and a check,
// instrumented so tests can see object lifetimes and overlapping scans.
namespace test_kinds {

struct settings {
    std::string mode;
    long long port = 0;
};

settings parse_settings(const libvexahelper::sensor_data_wrapper& data,
                        std::type_identity<settings>) {
    return {libvexahelper::kind_string::parse_and_validate(data.get_value("mode"), {"mode"}),
            libvexahelper::kind_integer::parse_and_validate(data.get_value("port"),
                                                            {"port", 1, 65535, std::nullopt})
                .value()};
}

struct tracker {
    std::atomic<int> live{0};
    std::array<std::atomic<int>, 16> scans_in_flight{};  // by sensor id
    std::atomic<int> overlapping{0};
    std::atomic<bool> destroyed_during_scan{false};
    std::mutex mutex;
    std::vector<std::string> debug_lines;
    // Scans of mode "block" wait here until `open`.
    std::condition_variable gate;
    bool open = true;
    bool scan_waiting = false;
};
inline tracker* the_tracker = nullptr;

// What every test kind shares: the container, its id and settings, and being counted.
struct counted {
    counted(std::shared_ptr<libvexahelper::service_container> c, int id, settings s)
        : container_(std::move(c)), id_(id), settings_(std::move(s)) {
        if (settings_.mode == "fail_build") throw std::runtime_error("cannot build");
        ++the_tracker->live;
    }
    ~counted() { --the_tracker->live; }
    counted(const counted&) = delete;
    counted& operator=(const counted&) = delete;
    void send(const libvexahelper::vexa_message& m) const {
        container_->create<libvexahelper::message_service_interface>()->send(m);
    }
    std::shared_ptr<libvexahelper::service_container> container_;
    int id_;
    settings settings_;
};

class test_sensor : public libvexahelper::sensors::sensor_interface, counted {
public:
    using settings_type = settings;
    test_sensor(std::shared_ptr<libvexahelper::service_container> c, int id, settings s,
                std::map<int, std::string> channels, std::map<std::string, std::string> persistent)
        : counted(std::move(c), id, std::move(s)),
          known_(static_cast<long long>(channels.size() * 100 + persistent.size())) {}
    ~test_sensor() override {
        if (scanning_) the_tracker->destroyed_during_scan = true;
    }
    int get_id() const override { return id_; }
    void log(const std::string& message, int) override { log_debug(message); }
    void log_debug(const std::string& message) override {
        std::lock_guard lock(the_tracker->mutex);
        the_tracker->debug_lines.push_back(message);
    }
    void scan() override {
        scanning_ = true;
        if (++the_tracker->scans_in_flight.at(id_) > 1) ++the_tracker->overlapping;
        if (settings_.mode == "block") {
            std::unique_lock lock(the_tracker->mutex);
            the_tracker->scan_waiting = true;
            the_tracker->gate.notify_all();
            the_tracker->gate.wait(lock, [] { return the_tracker->open; });
        }
        send(libvexahelper::sensor_scan_result(id_, nullptr)
                 .set_value(0, ++scans_)
                 .set_value(1, known_));
        --the_tracker->scans_in_flight.at(id_);
        scanning_ = false;
        if (settings_.mode == "throw_other") throw 42;
    }

private:
    long long known_;  // channels * 100 + persistent entries the host passed in
    long long scans_ = 0;
    bool scanning_ = false;
};

class test_metascan : public libvexahelper::metascans::metascan_interface, counted {
public:
    using settings_type = settings;
    test_metascan(std::shared_ptr<libvexahelper::service_container> c, unsigned int request, int id,
                  settings s)
        : counted(std::move(c), id, std::move(s)), request_(request) {}
    int get_id() const override { return id_; }
    unsigned int get_request() const override { return request_; }
    void log_debug(const std::string&) override {}
    void log(const std::string&, int) override {}
    void scan() override {
        libvexahelper::meta_scan_result result(id_, request_);
        result.add_entry({"k", "live " + std::to_string(the_tracker->live.load())},
                         {{"port", std::to_string(settings_.port)}});
        send(result);
    }

private:
    unsigned int request_;
};

class test_check : public libvexahelper::checks::check_interface, counted {
public:
    using settings_type = settings;
    test_check(std::shared_ptr<libvexahelper::service_container> c, int id, settings s)
        : counted(std::move(c), id, std::move(s)) {}
    int get_id() const override { return id_; }
    void log_debug(const std::string&) override {}
    void log(const std::string&, int) override {}
    void work() override {
        if (settings_.mode == "fail_work") {
            throw libvexahelper::utils::exceptions::channel_map_not_initialized();
        }
        send(libvexahelper::check_result(id_).set_success(true));
    }
};

}  // namespace test_kinds

namespace {

using namespace libvexahelper;
using test_support::settings_document;

class dispatcher_test : public ::testing::Test {
protected:
    void SetUp() override {
        test_kinds::the_tracker = &tracker_;
        test_support::register_recorder(*container_, recorder_);
        dispatcher_ = std::make_unique<sensor_dispatcher>(container_);
        dispatcher_->register_sensor_as<test_kinds::test_sensor>("test_sensor");
        dispatcher_->register_meta_as<test_kinds::test_metascan>("test_metascan");
        dispatcher_->register_check_as<test_kinds::test_check>("test_check");
    }
    void TearDown() override {
        dispatcher_.reset();
        EXPECT_EQ(tracker_.live, 0) << "objects outlived the dispatcher";
        test_kinds::the_tracker = nullptr;
    }

    static std::string doc(const std::string& kind, const std::string& mode = "ok",
                           const std::string& port = "5985") {
        return settings_document(kind, {{"mode", mode}, {"port", port}},
                                 {{"1", "one"}, {"2", "two"}}, {{"p", "v"}});
    }
    sensor_create_response_code create(int id, const std::string& text) {
        return dispatcher_->create_sensor_instance(id, test_support::wrap(text));
    }

    test_kinds::tracker tracker_;
    std::shared_ptr<service_container> container_ = std::make_shared<service_container>();
    std::shared_ptr<test_support::message_recorder> recorder_ =
        std::make_shared<test_support::message_recorder>();
    std::unique_ptr<sensor_dispatcher> dispatcher_;
};

TEST_F(dispatcher_test, sensor_lifecycle_passes_channels_and_persistent_data) {
    ASSERT_EQ(create(1, doc("test_sensor")), sensor_create_response_code::ok);
    EXPECT_EQ(dispatcher_->execute_sensor_scan(1), sensor_scan_response_code::ok);
    EXPECT_EQ(dispatcher_->execute_sensor_scan(1), sensor_scan_response_code::ok);
    const auto results = recorder_->of_type("sensor_scan_result");
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[1].at("channels").at(0).at("value"), 2);    // second scan of one object
    EXPECT_EQ(results[1].at("channels").at(1).at("value"), 201);  // two channels, one pair
    // The factory logged the settings through the new sensor's debug log.
    ASSERT_EQ(tracker_.debug_lines.size(), 1u);
    EXPECT_NE(tracker_.debug_lines[0].find("\"kind\":\"test_sensor\""), std::string::npos);

    EXPECT_EQ(dispatcher_->destroy_sensor_instance(1), sensor_destroy_response_code::ok);
    EXPECT_EQ(tracker_.live, 0);
    EXPECT_EQ(dispatcher_->execute_sensor_scan(1), sensor_scan_response_code::unknown_sensor_id);
    EXPECT_EQ(dispatcher_->destroy_sensor_instance(1),
              sensor_destroy_response_code::unknown_sensor_id);
    // The id is free again.
    EXPECT_EQ(create(1, doc("test_sensor")), sensor_create_response_code::ok);
}

TEST_F(dispatcher_test, create_failures_answer_with_a_code_and_a_reason) {
    ASSERT_EQ(create(9, doc("test_sensor")), sensor_create_response_code::ok);
    struct row {
        const char* what;
        int id;
        std::string text;
        sensor_create_response_code code;
        const char* key_prefix;
    };
    const row rows[] = {
        {"malformed", 1, R"({"kind":"test_sensor",)",
         sensor_create_response_code::malformed_settings_document, "#:libjsonparser.error.parse["},
        {"unknown kind", 1, doc("nope"), sensor_create_response_code::unknown_kind,
         "#:libvexahelper.error.initialization["},
        {"meta kind as sensor", 1, doc("test_metascan"), sensor_create_response_code::unknown_kind,
         "#:libvexahelper.error.initialization["},
        {"duplicate id", 9, doc("test_sensor"), sensor_create_response_code::duplicate_sensor_id,
         "#:libvexahelper.error.sensor_already_registered[9]"},
        {"port above limit", 1, doc("test_sensor", "ok", "65536"),
         sensor_create_response_code::invalid_settings,
         "#:libvexahelper.error.setting_invalid_bigger_max[65536,65535]"},
        {"required key missing", 1, settings_document("test_sensor", {{"port", "1"}}),
         sensor_create_response_code::invalid_settings,
         "#:libvexahelper.error.setting_not_available[mode]"},
        {"required integer empty", 1, doc("test_sensor", "ok", ""),
         sensor_create_response_code::invalid_settings, ""},
        {"constructor throws", 1, doc("test_sensor", "fail_build"),
         sensor_create_response_code::creation_failed, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const auto before = recorder_->of_type("sensor_create_error").size();
        EXPECT_EQ(create(r.id, r.text), r.code);
        const auto errors = recorder_->of_type("sensor_create_error");
        ASSERT_EQ(errors.size(), before + 1);
        const auto& e = errors.back();
        EXPECT_EQ(e.at("sensor_id"), r.id);
        EXPECT_EQ(e.at("response_code"), static_cast<int>(r.code));
        const std::string key = e.at("message").at("key");
        EXPECT_EQ(key.rfind(r.key_prefix, 0), 0u) << key;
    }
    // Nothing half-built stayed behind; the good sensor is untouched.
    EXPECT_EQ(dispatcher_->stock().ids(), std::vector<int>{9});
    EXPECT_EQ(tracker_.live, 1);
    EXPECT_EQ(dispatcher_->execute_sensor_scan(1), sensor_scan_response_code::unknown_sensor_id);
}

TEST_F(dispatcher_test, non_standard_exception_from_a_scan_reaches_the_caller) {
    ASSERT_EQ(create(3, doc("test_sensor", "throw_other")), sensor_create_response_code::ok);
    EXPECT_THROW(dispatcher_->execute_sensor_scan(3), int);
    EXPECT_EQ(dispatcher_->destroy_sensor_instance(3), sensor_destroy_response_code::ok);
}

// Meta-scans and checks are built per call and gone afterwards; every failure still answers
// the request with a result of its own.
TEST_F(dispatcher_test, meta_scans_and_checks_live_for_one_call) {
    const auto meta = [&](unsigned int request, const std::string& text) {
        return dispatcher_->execute_meta_scan(4, request, test_support::wrap(text));
    };
    EXPECT_EQ(meta(1, doc("test_metascan")), meta_scan_response_code::ok);
    EXPECT_EQ(meta(2, doc("test_metascan")), meta_scan_response_code::ok);
    EXPECT_EQ(meta(3, "{"), meta_scan_response_code::malformed_settings_document);
    EXPECT_EQ(meta(4, doc("test_sensor")), meta_scan_response_code::unknown_kind);
    EXPECT_EQ(meta(5, doc("test_metascan", "ok", "0")), meta_scan_response_code::invalid_settings);
    const auto results = recorder_->of_type("meta_scan_result");
    ASSERT_EQ(results.size(), 5u);
    // Each run saw only itself alive: nothing of the first survives into the second.
    EXPECT_EQ(results[1].at("entries").at(0).at("display_name").at("text"), "live 1");
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].at("request"), i + 1);
        EXPECT_EQ(results[i].at("response_code"), i < 2 ? 0 : 5);
    }

    const auto check = [&](const std::string& text) {
        return dispatcher_->execute_check(6, test_support::wrap(text));
    };
    EXPECT_EQ(check(doc("test_check")), check_response_code::ok);
    EXPECT_EQ(check(doc("test_check", "fail_work")), check_response_code::check_failed);
    EXPECT_EQ(check(""), check_response_code::malformed_settings_document);
    const auto checks = recorder_->of_type("check_result");
    ASSERT_EQ(checks.size(), 3u);
    EXPECT_EQ(checks[0].at("success"), true);
    EXPECT_EQ(checks[1].at("message").at("key"),
              "#:libvexahelper.error.channel_map_not_initialized[]");
    EXPECT_EQ(checks[2].at("success"), false);
    EXPECT_EQ(tracker_.live, 0);
}

TEST_F(dispatcher_test, a_kind_name_is_registered_once_per_family) {
    EXPECT_THROW(dispatcher_->register_sensor_as<test_kinds::test_sensor>("test_sensor"),
                 std::invalid_argument);
    dispatcher_->register_check_as<test_kinds::test_check>("test_sensor");
    EXPECT_EQ(dispatcher_->check_kinds(), (std::vector<std::string>{"test_check", "test_sensor"}));
}

TEST_F(dispatcher_test, destroy_waits_for_the_scan_in_flight) {
    ASSERT_EQ(create(2, doc("test_sensor", "block")), sensor_create_response_code::ok);
    tracker_.open = false;
    std::thread scanner([&] { dispatcher_->execute_sensor_scan(2); });
    {
        std::unique_lock lock(tracker_.mutex);
        tracker_.gate.wait(lock, [&] { return tracker_.scan_waiting; });
    }
    std::atomic<bool> destroy_returned{false};
    std::thread destroyer([&] {
        dispatcher_->destroy_sensor_instance(2);
        destroy_returned = true;
    });
    // The scan is still parked, so destroy cannot have finished.
    EXPECT_FALSE(destroy_returned);
    EXPECT_EQ(tracker_.live, 1);
    {
        std::lock_guard lock(tracker_.mutex);
        tracker_.open = true;
    }
    tracker_.gate.notify_all();
    scanner.join();
    destroyer.join();
    EXPECT_TRUE(destroy_returned);
    EXPECT_FALSE(tracker_.destroyed_during_scan);
    EXPECT_EQ(tracker_.live, 0);
}

// Eight threads create, scan and destroy over a small set of ids, so ids collide constantly.
// Run under the tsan preset this shows any data race; everywhere it checks the bookkeeping.
TEST_F(dispatcher_test, hammering_from_eight_threads_keeps_ids_serialised) {
    constexpr int threads = 8;
    constexpr int rounds = 300;
    constexpr int ids = 5;
    std::atomic<int> created{0};
    std::atomic<int> destroyed{0};
    std::atomic<int> scanned{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            const std::string text = doc("test_sensor");
            for (int i = 0; i < rounds; ++i) {
                const int id = (t + i) % ids;
                switch ((t * 7 + i) % 3) {
                    case 0:
                        if (create(id, text) == sensor_create_response_code::ok) ++created;
                        break;
                    case 1:
                        if (dispatcher_->execute_sensor_scan(id) == sensor_scan_response_code::ok)
                            ++scanned;
                        break;
                    default:
                        if (dispatcher_->destroy_sensor_instance(id) ==
                            sensor_destroy_response_code::ok)
                            ++destroyed;
                }
                if (i % 50 == 0) {
                    dispatcher_->execute_meta_scan(id, i, test_support::wrap(doc("test_metascan")));
                }
            }
        });
    }
    for (auto& th : pool) th.join();
    // Scans of one id never overlapped, and every created sensor is either destroyed or alive.
    EXPECT_EQ(tracker_.overlapping, 0);
    EXPECT_EQ(created - destroyed, tracker_.live);
    EXPECT_EQ(static_cast<int>(dispatcher_->stock().size()), tracker_.live.load());
    EXPECT_EQ(static_cast<int>(recorder_->of_type("sensor_scan_result").size()), scanned.load());
    EXPECT_GT(created, 0);
}

}  // namespace
