#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "liblog/log.hpp"
#include "libvexahelper/logging.hpp"
#include "libvexahelper/service_container.hpp"
#include "log_folder.hpp"

namespace {

namespace fs = std::filesystem;
using namespace libvexahelper;
using test_support::read_log;

void log_through_a_container(int sensor_id) {
    service_container c;
    register_runtime_log(c);
    register_sensor_log(c);
    c.get_instance<liblog::log_interface>()->log(7, "module started");
    c.create<logging::sensor_log>(sensor_id)->log(0, "first line\n  second part");
}

TEST(logging, runtime_and_sensor_logs_write_one_file_each) {
    const test_support::log_folder folder;
    log_through_a_container(-4);
    using lines = std::vector<test_support::log_line>;
    EXPECT_EQ(read_log(folder.path() / "runtime.log"), (lines{{7, "module started"}}));
    EXPECT_EQ(folder.sensor_log(-4), (lines{{0, "first line\n  second part"}}));
}

TEST(logging, concurrent_writers_to_one_sensor_file_never_interleave) {
    const test_support::log_folder folder;
    constexpr int writers = 6;
    constexpr int lines = 200;
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            logging::sensor_log log(folder.path(), 3);
            for (int i = 0; i < lines; ++i) log.log(7, "writer " + std::to_string(w) + " end");
        });
    }
    for (auto& t : threads) t.join();
    const auto written = folder.sensor_log(3);
    ASSERT_EQ(written.size(), static_cast<std::size_t>(writers * lines));
    for (const auto& l : written) {
        ASSERT_EQ(l.text.size(), 12u) << l.text;  // "writer N end": nothing spliced in
    }
}

TEST(logging, without_a_usable_directory_lines_are_lost_and_nothing_fails) {
    const test_support::log_folder folder;
    logging::set_log_directory({});
    log_through_a_container(1);
    EXPECT_FALSE(fs::exists(folder.path()));
    fs::create_directories(folder.path());
    std::ofstream(folder.path() / "file_in_the_way") << "x";
    logging::file_log blocked(folder.path() / "file_in_the_way" / "x.log");
    blocked.log(7, "lost");
    EXPECT_TRUE(fs::is_regular_file(folder.path() / "file_in_the_way"));
}

}  // namespace
