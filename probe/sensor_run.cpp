#include "sensor_run.hpp"

#include <chrono>

namespace wmiprobe {

namespace {

std::int64_t now_us() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

sensor_run::sensor_run(session& s, const kind_entry& kind, int sensor_id, sensor_state& state)
    : s_(s), kind_(kind), id_(sensor_id), state_(state), view_(s.lookups(), s.texts(), state) {}

sensor_run::~sensor_run() {
    if (created_) {
        s_.print_raw(s_.host().destroy_sensor(id_));
    }
}

std::optional<int> sensor_run::create(const std::map<std::string, std::string>& settings) {
    std::map<int, std::string> channels;
    for (const auto& [id, definition] : state_.channels) {
        channels[id] = definition.value("key", "");
    }
    const auto outcome = s_.host().create_sensor(
        id_, settings_document(kind_.name, settings, channels, state_.persistent_data));
    s_.print_raw(outcome);
    // Channels and persistent data count even when the create fails.
    for (const auto& message : outcome.messages) {
        view_.take(message);
    }
    last_verdict_ = create_verdict(kind_.name, outcome, s_.texts());
    s_.print(last_verdict_);
    implemented_ = last_verdict_.implemented;
    if (outcome.code != 0) {
        return last_verdict_.exit_code;
    }
    created_ = true;
    return std::nullopt;
}

int sensor_run::scan(const std::string& title) {
    const auto outcome = s_.host().scan_sensor(id_);
    const std::int64_t arrived = now_us();
    s_.print_raw(outcome);
    scan_report report;
    last_verdict_ = scan_verdict(kind_.name, id_, title, outcome, view_, arrived, &report);
    s_.print(last_verdict_);
    last_report_.reset();
    if (last_verdict_.exit_code != exit_failure) {
        last_report_ = std::move(report);
    }
    return last_verdict_.exit_code;
}

}  // namespace wmiprobe
