#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "state_file.hpp"

namespace {

using namespace wmiprobe;
namespace fs = std::filesystem;

// A fresh directory per test, removed afterwards.
class state_file : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }
    const fs::path dir_ = fs::path(::testing::TempDir()) /
                          ("wmiprobe_state_" + std::to_string(getpid()) + "_" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    const fs::path path_ = dir_ / "s.json";
};

sensor_state sample() {
    sensor_state state;
    state.kind = "cpu_load_sensor";
    state.host = "192.0.2.1";
    state.channels[0] = {{"channel_id", 0}, {"key", "channel.total"}, {"unit", 5}};
    state.channels[-7] = {{"channel_id", -7}, {"key", "channel.ünïcode"}};
    state.persistent_data = {{"prev_sample", "123;456"}, {"empty", ""}};
    state.counters[3] = {1.5e12, 1'700'000'000'123'456};
    return state;
}

TEST_F(state_file, round_trip_replaces_the_old_state_without_leftovers) {
    EXPECT_EQ(load_state(path_), sensor_state{});  // no file yet
    save_state(path_, sample());
    EXPECT_EQ(load_state(path_), sample());
    auto changed = sample();
    changed.persistent_data["prev_sample"] = "789;1011";
    save_state(path_, changed);
    EXPECT_EQ(load_state(path_), changed);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(state_file, foreign_or_damaged_files_are_refused) {
    const std::string bad[] = {
        "",
        "{",
        "[]",
        R"({"format":2,"kind":"k","host":"h","channels":{},"persistent_data":{},"counters":{}})",
        R"({"format":1,"kind":"k","host":"h","channels":{"x":{}},"persistent_data":{},"counters":{}})",
        R"({"format":1,"kind":"k","host":"h","channels":{"1":5},"persistent_data":{},"counters":{}})",
        R"({"format":1,"kind":"k","host":"h","channels":{},"persistent_data":{"a":1},"counters":{}})",
        R"({"format":1,"kind":"k","host":"h","channels":{},"persistent_data":{}})",
    };
    for (const auto& text : bad) {
        std::ofstream(path_, std::ios::trunc) << text;
        EXPECT_THROW(load_state(path_), state_error) << text;
    }
}

TEST_F(state_file, failed_write_keeps_the_old_state) {
    EXPECT_THROW(save_state(dir_ / "no" / "such" / "dir" / "s.json", sample()), state_error);
    if (geteuid() == 0) {
        GTEST_SKIP() << "root ignores directory permissions";
    }
    save_state(path_, sample());
    fs::permissions(dir_, fs::perms::owner_write, fs::perm_options::remove);
    auto changed = sample();
    changed.kind = "other";
    EXPECT_THROW(save_state(path_, changed), state_error);
    fs::permissions(dir_, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(load_state(path_), sample());
}

}  // namespace
