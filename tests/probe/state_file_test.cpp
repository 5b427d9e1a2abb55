#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "state_file.hpp"

namespace {

using namespace wmiprobe;
namespace fs = std::filesystem;

// A fresh directory of its own for the test that calls it.
fs::path fresh_directory() {
    const auto dir = fs::path(::testing::TempDir()) /
                     ("wmiprobe_state_" + std::to_string(getpid()) + "_" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

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

TEST(state_file, round_trip_replaces_the_old_state_and_a_failed_write_keeps_it) {
    const auto dir = fresh_directory();
    const auto path = dir / "s.json";
    EXPECT_EQ(load_state(path), sensor_state{});  // no file yet
    save_state(path, sample());
    EXPECT_EQ(load_state(path), sample());
    auto changed = sample();
    changed.persistent_data["prev_sample"] = "789;1011";
    save_state(path, changed);
    EXPECT_EQ(load_state(path), changed);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    EXPECT_THROW(save_state(dir / "no" / "such" / "dir" / "s.json", sample()), state_error);
    if (geteuid() != 0) {  // root ignores directory permissions
        fs::permissions(dir, fs::perms::owner_write, fs::perm_options::remove);
        EXPECT_THROW(save_state(path, sample()), state_error);
        fs::permissions(dir, fs::perms::owner_write, fs::perm_options::add);
        EXPECT_EQ(load_state(path), changed);
    }
    fs::remove_all(dir);
}

TEST(state_file, foreign_or_damaged_files_are_refused) {
    const auto path = fresh_directory() / "bad.json";
    for (
        const std::string text : {
            "",
            "{",
            "[]",
            R"({"format":2,"kind":"k","host":"h","channels":{},"persistent_data":{},"counters":{}})",
            R"({"format":1,"kind":"k","host":"h","channels":{"x":{}},"persistent_data":{},"counters":{}})",
            R"({"format":1,"kind":"k","host":"h","channels":{"1":5},"persistent_data":{},"counters":{}})",
            R"({"format":1,"kind":"k","host":"h","channels":{},"persistent_data":{"a":1},"counters":{}})",
            R"({"format":1,"kind":"k","host":"h","channels":{},"persistent_data":{}})",
        }) {
        std::ofstream(path, std::ios::trunc) << text;
        EXPECT_THROW(load_state(path), state_error) << text;
    }
    fs::remove_all(path.parent_path());
}

}  // namespace
