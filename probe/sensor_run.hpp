#pragma once

#include <map>
#include <optional>
#include <string>

#include "scan_view.hpp"
#include "session.hpp"
#include "settings.hpp"
#include "state_file.hpp"
#include "verdicts.hpp"

namespace wmiprobe {

// One sensor from create to destroy; its channels, persistent data and counter baselines live
// in the caller's `state`, which must outlive it.
class sensor_run {
public:
    sensor_run(session& s, const kind_entry& kind, int sensor_id, sensor_state& state);
    ~sensor_run();
    sensor_run(const sensor_run&) = delete;
    sensor_run& operator=(const sensor_run&) = delete;

    // The exit code of a failed create, or nothing when the sensor exists.
    std::optional<int> create(const std::map<std::string, std::string>& settings);
    bool implemented() const { return implemented_; }
    // One scan shown under `title`; returns its exit code.
    int scan(const std::string& title);
    // What the last create or scan showed, and the report of the last scan's result (empty
    // when that scan sent none).
    const verdict& last_verdict() const { return last_verdict_; }
    const std::optional<scan_report>& last_report() const { return last_report_; }

private:
    session& s_;
    const kind_entry& kind_;
    int id_;
    sensor_state& state_;
    sensor_view view_;
    verdict last_verdict_;
    std::optional<scan_report> last_report_;
    bool created_ = false;
    bool implemented_ = true;
};

}  // namespace wmiprobe
