#include "sensors/cpu_load_sensor.hpp"

#include <cstdio>

#include "libi18n/catalogue.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

namespace {

const std::string total_name = "_Total";
const std::string next_channel_key = "next_channel_id";

const channel<>& total_channel = cpu_load_sensor::channels[0];

// Key "channel.<n>", named "Processor <name>".
libvexahelper::dynamic_channel_options processor_channel(int id, const std::string& name) {
    libvexahelper::dynamic_channel_options o;
    o.channel_id = id;
    o.key = "channel." + std::to_string(id);
    o.display_name = cat::channel_processor(name).key;
    o.value_type = 3;
    o.unit = 5;
    return o;
}

std::string percent_key(const std::string& name) {
    return "sample." + name + ".percent_processor_time";
}
std::string timestamp_key(const std::string& name) {
    return "sample." + name + ".timestamp_sys100ns";
}

// Absent key: no value; text without leading digits or out of range: -1, never a valid sample.
std::optional<std::int64_t> stored_counter(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return counters::parse_leading_int64(*text).value_or(-1);
}

std::optional<counters::processor_sample> sample_of(const std::string& name,
                                                    const libwql::wql_query_row& row) {
    const auto timestamp = access::optional_int64(row, "Timestamp_Sys100NS");
    const auto percent = access::optional_int64(row, "PercentProcessorTime");
    return counters::make_processor_sample(name, percent, timestamp);
}

std::string percent_text(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%f", value);
    return buffer;
}

}  // namespace

std::optional<counters::processor_sample> cpu_load_sensor::load_previous(const std::string& name) {
    auto& data = persistent();
    const auto timestamp = stored_counter(data.at_opt(timestamp_key(name)));
    const auto percent = stored_counter(data.at_opt(percent_key(name)));
    return counters::make_processor_sample(name, percent, timestamp);
}

void cpu_load_sensor::store_sample(const std::string& name,
                                   const std::optional<counters::processor_sample>& s) {
    // "0" for both keys leaves no valid previous sample for the next scan.
    set_persistent_data(percent_key(name), s ? std::to_string(s->percent_processor_time) : "0");
    set_persistent_data(timestamp_key(name), s ? std::to_string(s->timestamp_sys100ns) : "0");
}

int cpu_load_sensor::channel_id_of(const std::string& name) {
    // A stored id that is not a number ends the scan with std::stoi's error.
    if (const auto stored = persistent().at_opt(name)) return std::stoi(*stored);
    const auto next = persistent().at_opt(next_channel_key);
    const int id = next ? std::stoi(*next) : 1;
    set_persistent_data(name, std::to_string(id));
    set_persistent_data(next_channel_key, std::to_string(id + 1));
    return id;
}

void cpu_load_sensor::work() {
    const auto rows = open_session().required_rows(query_);
    auto r = result(ok_message(), libvexahelper::scan_response_codes::ok);
    bool any_value = false;
    for (const auto& row : rows) {
        const std::string name = access::selected_text(row, "Name");
        const auto previous = load_previous(name);
        const auto current = sample_of(name, row);
        const auto value = counters::cpu_load(previous, current);
        try {
            if (value) {
                log_debug(name + ": " + percent_text(*value) + "%");
                int id = total_channel.id;
                if (name != total_name) {
                    id = channel_id_of(name);
                    register_channel(processor_channel(id, name));
                }
                r.set_value(id, *value);
                any_value = true;
            }
        } catch (...) {
            // The reading is kept even when this row's channel fails, as for every row before.
            try {
                store_sample(name, current);
            } catch (...) {  // NOLINT(bugprone-empty-catch): the first failure is the one to report
            }
            throw;
        }
        store_sample(name, current);
    }
    if (!any_value) r.set_response_message(cat::message_collecting_initial_sample());
    send(r);
}

}  // namespace wmi
