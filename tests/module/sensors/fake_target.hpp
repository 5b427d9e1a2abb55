#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "framework/settings.hpp"
#include "libvexahelper/logging.hpp"
#include "libvexahelper/service_container.hpp"
#include "libwql/wsman_client.hpp"
#include "test_support.hpp"

// An in-process stand-in for the target: rows in, queries and connections recorded.
namespace fake {

using rows = std::vector<libwql::wql_query_row>;

struct target {
    // Rows for a query text; by default nothing.
    std::function<rows(const std::string& wql)> answer = [](const std::string&) { return rows{}; };
    // When set, opening a session fails with this text (e.g. wrong credentials).
    std::string refuse;
    int clients_made = 0;
    int sessions_opened = 0;
    std::vector<std::pair<std::string, std::string>> queries;  // (wql, namespace)
    libwql::wsman_connection_parameters last_parameters;
};

class session : public libwql::wmi_session_interface {
public:
    explicit session(std::shared_ptr<target> t) : target_(std::move(t)) {}
    std::unique_ptr<libwql::wql_query_result_interface> query(const std::string& wql,
                                                              const std::string& ns) override {
        target_->queries.emplace_back(wql, ns);
        return std::make_unique<result>(target_->answer(wql));
    }

private:
    struct result : libwql::wql_query_result_interface {
        explicit result(rows r) : rows_(std::move(r)) {}
        const rows& get_rows() const override { return rows_; }
        rows rows_;
    };
    std::shared_ptr<target> target_;
};

class client : public libwql::wsman_client_interface {
public:
    explicit client(std::shared_ptr<target> t) : target_(std::move(t)) {}
    std::unique_ptr<libwql::wmi_session_interface> open_session(
        const libwql::wsman_connection_parameters& p) override {
        target_->last_parameters = p;
        if (!target_->refuse.empty()) throw std::runtime_error(target_->refuse);
        ++target_->sessions_opened;
        return std::make_unique<session>(target_);
    }

private:
    std::shared_ptr<target> target_;
};

// A row of scalar fields; values of fields named "*Time" that look like datetimes are
// datetimes.
inline libwql::wql_query_row row(const std::map<std::string, std::string>& fields) {
    libwql::wql_query_row r;
    for (const auto& [name, value] : fields) {
        const bool datetime =
            value.find('T') != std::string::npos && value.size() > 10 && value.find('-') == 4;
        r.set(libwql::wql_query_field(name, {value},
                                      datetime ? libwql::wql_query_field::kind::datetime
                                               : libwql::wql_query_field::kind::scalar));
    }
    return r;
}

struct log_line {
    int level;
    std::string text;
    bool operator==(const log_line&) const = default;
};

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

// A container with a message recorder, file sensor logs in a private folder and the fake
// client factory.
class fixture : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("wmi_sensors_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir_);
        libvexahelper::logging::set_log_directory(dir_);
        test_support::register_recorder(*container_, recorder_);
        libvexahelper::register_sensor_log(*container_);
        container_->register_factory<libwql::wsman_client_interface>([t = target_] {
            ++t->clients_made;
            return std::make_unique<client>(t);
        });
    }
    void TearDown() override {
        libvexahelper::logging::set_log_directory({});
        std::filesystem::remove_all(dir_);
    }

    template <typename Record>
    Record settings() const {
        Record s{};
        s.host = "target.example";
        s.logging = wmi::settings::logging::enabled;
        s.domain = "LAB";
        s.username = "monitor";
        s.password = "Secret-1";
        return s;
    }

    std::vector<log_line> sensor_log(int id) const {
        return read_log(dir_ / "sensors" / ("sensor_" + std::to_string(id) + ".log"));
    }
    std::vector<std::string> sensor_log_texts(int id) const {
        std::vector<std::string> texts;
        for (const auto& l : sensor_log(id)) texts.push_back(l.text);
        return texts;
    }

    std::filesystem::path dir_;
    std::shared_ptr<libvexahelper::service_container> container_ =
        std::make_shared<libvexahelper::service_container>();
    std::shared_ptr<test_support::message_recorder> recorder_ =
        std::make_shared<test_support::message_recorder>();
    std::shared_ptr<target> target_ = std::make_shared<target>();
};

}  // namespace fake
