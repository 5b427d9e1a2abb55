#include "sensors/service_sensor.hpp"

#include <array>
#include <string_view>

#include "framework/exceptions.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

namespace {

// Win32_Service State texts, indexed by their operating_state value; each is also the
// lookup's display text.
constexpr std::array<std::string_view, 8> state_texts = {
    "Unknown", "Stopped",          "Start Pending", "Stop Pending",
    "Running", "Continue Pending", "Pause Pending", "Paused"};

const channel<>& cpu_usage_channel = service_sensor::process_channels[4];

// Persistent keys of the process sample, in the order they are stored.
const std::string process_id_key = "process_id";
const std::string percent_key = "percent_processor_time";
const std::string timestamp_key = "timestamp_sys100ns";
const std::string elapsed_key = "elapsed_time";

// Absent: no value. Text that is not a number throws std::stoll's own error and fails the scan.
std::optional<std::int64_t> stored_value(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return std::stoll(*text);
}

// The process counters with the log label of each, 16 characters wide.
struct process_counter {
    int channel;
    const char* field;
    const char* label;
};
constexpr process_counter process_counters[] = {
    {1, "WorkingSet", "Working Set:    "},
    {2, "PageFileBytes", "Pagefile Usage: "},
    {3, "ThreadCount", "Threads:        "},
    {4, "HandleCount", "Handles:        "},
};

}  // namespace

operating_state operating_state_of(const std::optional<std::string>& state_text) {
    for (std::size_t value = 0; value < state_texts.size(); ++value) {
        if (state_text && *state_text == state_texts[value]) return operating_state(value);
    }
    return operating_state(0);
}

process_cpu_usage::~process_cpu_usage() {
    try {
        store_(current_);
    } catch (...) {  // NOLINT(bugprone-empty-catch): a destructor cannot report; the next scan
                     // then finds the older sample and yields no value
    }
}

std::optional<double> process_cpu_usage::sample(const libwql::wql_query_row& row) {
    current_ = counters::make_process_sample(access::optional_int64(row, "IDProcess"),
                                             access::optional_int64(row, "PercentProcessorTime"),
                                             access::optional_int64(row, "Timestamp_Sys100NS"),
                                             access::optional_int64(row, "ElapsedTime"));
    return counters::process_cpu_percent(previous_, current_);
}

service_sensor::service_sensor(std::shared_ptr<libvexahelper::service_container> container, int id,
                               settings::service_sensor settings,
                               std::map<int, std::string> known_channels,
                               std::map<std::string, std::string> stored)
    : wmi_sensor(std::move(container), id, std::move(settings), std::move(known_channels),
                 std::move(stored)) {
    if (!extended()) return;
    for (const auto& c : process_channels) register_channel(channel_options(c));
}

bool service_sensor::extended() const {
    return settings().extended_monitoring == settings::extended_monitoring::enabled;
}

process_cpu_usage::sample_type service_sensor::load_previous() {
    auto& data = persistent();
    return counters::make_process_sample(
        stored_value(data.at_opt(process_id_key)), stored_value(data.at_opt(percent_key)),
        stored_value(data.at_opt(timestamp_key)), stored_value(data.at_opt(elapsed_key)));
}

void service_sensor::store_sample(const process_cpu_usage::sample_type& s) {
    // "0" everywhere leaves no valid previous sample for the next scan.
    const auto text = [&](std::int64_t counters::process_sample::*field) {
        return s ? std::to_string((*s).*field) : std::string("0");
    };
    set_persistent_data(process_id_key, text(&counters::process_sample::process_id));
    set_persistent_data(percent_key, text(&counters::process_sample::percent_processor_time));
    set_persistent_data(timestamp_key, text(&counters::process_sample::timestamp_sys100ns));
    set_persistent_data(elapsed_key, text(&counters::process_sample::elapsed_time));
}

void service_sensor::process_metrics(access::scan_session& session,
                                     const libwql::wql_query_row& service,
                                     libvexahelper::sensor_scan_result& result) {
    process_cpu_usage cpu(load_previous(), [this](const auto& s) { store_sample(s); });
    const auto process_id = access::optional_int64(service, "ProcessId");
    if (!process_id || *process_id == 0) {
        log_debug("No process id. Process might be stopped. Reset CPU usage");
        cpu.reset();
        return;
    }
    log_debug("Process Id: " + std::to_string(*process_id));
    const auto row = session.first_row(
        access::select("Win32_PerfRawData_PerfProc_Process",
                       {"IDProcess", "WorkingSet", "PageFileBytes", "ThreadCount", "HandleCount",
                        "PercentProcessorTime", "Timestamp_Sys100NS", "ElapsedTime"},
                       access::equals{"IDProcess", *process_id}));
    if (!row) {
        log_debug("No performance row. Reset CPU usage");
        cpu.reset();
        return;
    }
    for (const auto& counter : process_counters) {
        const auto value = access::optional_int64(*row, counter.field);
        if (!value) continue;
        log_debug(counter.label + std::to_string(*value));
        result.set_value(counter.channel, static_cast<long long>(*value));
    }
    if (const auto usage = cpu.sample(*row)) {
        log_debug("CPU Usage:      " + std::to_string(*usage));
        result.set_value(cpu_usage_channel.id, *usage);
    }
}

void service_sensor::work() {
    auto result = this->result(ok_message(), libvexahelper::scan_response_codes::ok);
    auto session = open_session();
    const auto service = session.first_row(query_);
    if (!service) throw exceptions::service_not_found(settings().name);
    const auto state = operating_state_of(access::optional_text(*service, "State"));
    log_debug("Operating State: " + std::string(state_texts[state.value()]));
    result.set_value(channels[0].id, static_cast<long long>(state.value()));
    if (extended()) process_metrics(session, *service, result);
    send(result);
}

}  // namespace wmi
