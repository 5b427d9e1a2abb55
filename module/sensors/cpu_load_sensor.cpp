#include "sensors/cpu_load_sensor.hpp"

#include <cstdio>

#include "framework/exceptions.hpp"
#include "libi18n/catalogue.hpp"
#include "sensors/channel_definition.hpp"
#include "wmi_access/accessors.hpp"
#include "wmi_access/connection.hpp"
#include "wmi_access/queries.hpp"

namespace wmi {

namespace {

namespace cat = libi18n::catalogue;

const std::string total_name = "_Total";
const std::string next_channel_key = "next_channel_id";

// Channel 0 is named by the host's translation of "channel.total".
const channel_definition total_channel{0, &cat::channel_total, false, 3, 5, 0};

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

// Absent key: no value; text without leading digits or out of range: -1, never a valid sample.
std::optional<std::int64_t> stored_counter(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return counters::parse_leading_int64(*text).value_or(-1);
}

std::string percent_text(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%f", value);
    return buffer;
}

}  // namespace

processor_cpu_load::processor_cpu_load(store_callback store, std::optional<sample> previous)
    : store_(std::move(store)), previous_(std::move(previous)) {}

processor_cpu_load::~processor_cpu_load() {
    try {
        finish();
    } catch (...) {  // NOLINT(bugprone-empty-catch): a destructor must not throw
    }
}

std::optional<processor_cpu_load::sample> processor_cpu_load::sample_of(
    const libwql::wql_query_row& row) {
    const auto timestamp = access::optional_int64(row, "Timestamp_Sys100NS");
    const auto percent = access::optional_int64(row, "PercentProcessorTime");
    return counters::make_processor_sample(access::selected_text(row, "Name"), percent, timestamp);
}

std::optional<double> processor_cpu_load::update(const libwql::wql_query_row& row) {
    current_ = sample_of(row);
    return counters::cpu_load(previous_, current_);
}

void processor_cpu_load::finish() {
    if (stored_) return;
    stored_ = true;
    store_(current_);
}

cpu_load_sensor::cpu_load_sensor(std::shared_ptr<libvexahelper::service_container> container,
                                 int id, settings::cpu_load_sensor settings,
                                 std::map<int, std::string> channels,
                                 std::map<std::string, std::string> persistent)
    : sensor_base(std::move(container), id, std::move(settings), std::move(channels),
                  std::move(persistent)) {
    register_channel(channel_options(total_channel));
}

std::string cpu_load_sensor::percent_key(const std::string& name) {
    return "sample." + name + ".percent_processor_time";
}

std::string cpu_load_sensor::timestamp_key(const std::string& name) {
    return "sample." + name + ".timestamp_sys100ns";
}

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
    auto session = access::open_session(*container(), client_, settings());
    const auto rows = access::query_processors(*session, *logger());
    if (rows.empty()) throw exceptions::wmi_class_no_result(access::classes::processor);

    auto r = result(ok_message(), libvexahelper::scan_response_codes::ok);
    bool any_value = false;
    for (const auto& row : rows) {
        const std::string name = access::selected_text(row, "Name");
        processor_cpu_load sampler(
            [this, name](const std::optional<counters::processor_sample>& s) {
                store_sample(name, s);
            },
            load_previous(name));
        const auto value = sampler.update(row);
        if (value) {
            log_debug(name + ": " + percent_text(*value) + "%");
            if (name == total_name) {
                r.set_value(total_channel.id, *value);
            } else {
                const int id = channel_id_of(name);
                register_channel(processor_channel(id, name));
                r.set_value(id, *value);
            }
            any_value = true;
        }
        sampler.finish();
    }
    if (!any_value) r.set_response_message(cat::message_collecting_initial_sample);
    send(r);
}

}  // namespace wmi
