#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "libvexahelper/logging.hpp"
#include "recording_log.hpp"

namespace test_support {

// Reads "<time> [<level>] <message>" lines; a message spanning lines continues the last one.
inline std::vector<log_line> read_log(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<log_line> lines;
    for (std::string line; std::getline(in, line);) {
        const auto open = line.find(" [");
        const auto close = line.find("] ");
        if (open != std::string::npos && close != std::string::npos && close > open &&
            close - open <= 4) {
            lines.push_back(
                {std::stoi(line.substr(open + 2, close - open - 2)), line.substr(close + 2)});
        } else if (!lines.empty()) {
            lines.back().text += "\n" + line;
        }
    }
    return lines;
}

// A private log folder for the running test: the host helper's logs go there while it lives,
// and it is removed afterwards.
class log_folder {
public:
    log_folder()
        : dir_(std::filesystem::temp_directory_path() /
               ("wmi_logs_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        std::filesystem::remove_all(dir_);
        libvexahelper::logging::set_log_directory(dir_);
    }
    ~log_folder() {
        libvexahelper::logging::set_log_directory({});
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    log_folder(const log_folder&) = delete;
    log_folder& operator=(const log_folder&) = delete;

    const std::filesystem::path& path() const { return dir_; }
    std::vector<log_line> sensor_log(int id) const {
        return read_log(dir_ / "sensors" / ("sensor_" + std::to_string(id) + ".log"));
    }

private:
    std::filesystem::path dir_;
};

}  // namespace test_support
