#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "liblog/log.hpp"
#include "libvexahelper/logging.hpp"
#include "libvexahelper/service_container.hpp"

namespace {

namespace fs = std::filesystem;
using namespace libvexahelper;

std::vector<std::string> lines_of(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class logging_test : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vexahelper_logging_" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        logging::set_log_directory(dir_);
    }
    void TearDown() override {
        logging::set_log_directory({});
        fs::remove_all(dir_);
    }
    fs::path dir_;
};

TEST_F(logging_test, runtime_and_sensor_logs_write_one_file_each) {
    service_container c;
    register_runtime_log(c);
    register_sensor_log(c);
    c.get_instance<liblog::log_interface>()->log(7, "module started");
    c.create<logging::sensor_log>(12)->log(0, "sensor twelve");
    c.create<logging::sensor_log>(-4)->log(7, "first line\n  second part");

    const auto runtime = lines_of(dir_ / "runtime.log");
    ASSERT_EQ(runtime.size(), 1u);
    EXPECT_NE(runtime[0].find(" [7] module started"), std::string::npos) << runtime[0];
    const auto twelve = lines_of(dir_ / "sensors" / "sensor_12.log");
    ASSERT_EQ(twelve.size(), 1u);
    EXPECT_NE(twelve[0].find(" [0] sensor twelve"), std::string::npos);
    const auto negative = lines_of(dir_ / "sensors" / "sensor_-4.log");
    ASSERT_EQ(negative.size(), 2u);
    EXPECT_EQ(negative[1], "  second part");
}

TEST_F(logging_test, concurrent_writers_to_one_sensor_file_never_interleave) {
    constexpr int writers = 6;
    constexpr int lines = 200;
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            logging::sensor_log log(dir_, 3);
            for (int i = 0; i < lines; ++i) {
                log.log(7, "writer " + std::to_string(w) + " line " + std::to_string(i) + " end");
            }
        });
    }
    for (auto& t : threads) t.join();
    const auto written = lines_of(dir_ / "sensors" / "sensor_3.log");
    ASSERT_EQ(written.size(), static_cast<std::size_t>(writers * lines));
    for (const auto& line : written) {
        ASSERT_EQ(line.substr(line.size() - 4), " end") << line;
        ASSERT_EQ(line.find("writer", line.find("writer") + 1), std::string::npos) << line;
    }
}

TEST_F(logging_test, without_a_directory_nothing_is_written_and_nothing_fails) {
    logging::set_log_directory({});
    service_container c;
    register_runtime_log(c);
    register_sensor_log(c);
    c.get_instance<liblog::log_interface>()->log(7, "dropped");
    c.create<logging::sensor_log>(1)->log(7, "dropped");
    EXPECT_FALSE(fs::exists(dir_));
    // An unwritable place only loses lines.
    logging::file_log blocked(dir_ / "file_in_the_way" / "x.log");
    fs::create_directories(dir_);
    std::ofstream(dir_ / "file_in_the_way") << "x";
    blocked.log(7, "lost");
    EXPECT_TRUE(fs::is_regular_file(dir_ / "file_in_the_way"));
}

}  // namespace
