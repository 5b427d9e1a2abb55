#include "sensors/microsoft_sql_server_sensor.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "framework/exceptions.hpp"
#include "sensors/counter_arithmetic.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

namespace {

using sensor = microsoft_sql_server_sensor;
using formula = sensor::formula;

const std::string timestamp_field = "Timestamp_PerfTime";
const std::string frequency_field = "Frequency_PerfTime";

bool in_group(const sensor::counter& c, const sensor::counter_group& g) {
    return c.group == g.option;
}

bool has_rate(const sensor::counter_group& g) {
    for (const auto& c : sensor::counters) {
        if (in_group(c, g) && c.how == formula::rate) return true;
    }
    return false;
}

// "channel.logins_per_sec" -> "general_statistics.logins_per_sec"
std::string persistent_key(const sensor::counter_group& g, const sensor::counter& c) {
    const std::string key = c.shown.name->key;
    return std::string(g.key_prefix) + "." + key.substr(key.find('.') + 1);
}

// What a group keeps of one sample, in storing order: each rate's counter, then each ratio's or
// average's counter and base, then the timestamp. Field name -> persistent key.
std::vector<std::pair<std::string, std::string>> kept_fields(const sensor::counter_group& g) {
    std::vector<std::pair<std::string, std::string>> kept;
    for (const auto& c : sensor::counters) {
        if (in_group(c, g) && c.how == formula::rate)
            kept.emplace_back(c.field, persistent_key(g, c));
    }
    for (const auto& c : sensor::counters) {
        if (!in_group(c, g) || (c.how != formula::ratio && c.how != formula::average)) continue;
        kept.emplace_back(c.field, persistent_key(g, c));
        kept.emplace_back(c.base, persistent_key(g, c) + "_base");
    }
    if (has_rate(g))
        kept.emplace_back(timestamp_field, std::string(g.key_prefix) + ".timestamp_perftime");
    return kept;
}

std::vector<std::string> selected_fields(const sensor::counter_group& g) {
    std::vector<std::string> fields;
    for (const auto& c : sensor::counters) {
        if (!in_group(c, g)) continue;
        fields.emplace_back(c.field);
        if (c.base != nullptr) fields.emplace_back(c.base);
    }
    if (has_rate(g)) {
        fields.push_back(timestamp_field);
        fields.push_back(frequency_field);
    }
    return fields;
}

std::optional<std::int64_t> kilobytes_to_bytes(std::optional<std::int64_t> kb) {
    std::int64_t bytes = 0;
    if (!kb || __builtin_mul_overflow(*kb, std::int64_t{1024}, &bytes)) return std::nullopt;
    return bytes;
}

}  // namespace

std::string sql_server_class(const std::string& service_name, const std::string& suffix) {
    std::string id;
    for (const char ch : service_name) {
        if (ch != '$') id += ch;
    }
    if (id == "MSSQLSERVER") return "Win32_PerfRawData_MSSQLSERVER_SQLServer" + suffix;
    return "Win32_PerfRawData_" + id + "_" + id + suffix;
}

std::vector<sensor::group_query> sensor::make_queries(const settings_type& s) {
    std::vector<group_query> queries;
    for (const auto& g : groups) {
        if (!s.performance_counters.has(g.option)) continue;
        std::optional<access::equals> where;
        // Locks come per lock resource; the sensor shows the sum over all of them.
        if (g.option == group_option::locks) where = access::equals{"Name", "_Total"};
        queries.push_back({&g, access::select(sql_server_class(s.service_name, g.class_suffix),
                                              selected_fields(g), where)});
    }
    return queries;
}

void sensor::scan_group(access::scan_session& session, const group_query& q,
                        libvexahelper::sensor_scan_result& r) {
    const auto& g = *q.group;
    const auto row = session.required_first_row(q.query);
    std::map<std::string, std::optional<std::int64_t>> current;
    for (const auto& field : selected_fields(g))
        current[field] = access::optional_int64(row, field);

    // The new sample is stored before the old one is converted, so that a stored text that is no
    // number fails this scan only: the next one compares with this sample.
    std::map<std::string, std::optional<std::string>> previous_text;
    for (const auto& [field, key] : kept_fields(g)) previous_text[field] = persistent().at_opt(key);
    for (const auto& [field, key] : kept_fields(g)) {
        const auto value = current.at(field);
        set_persistent_data(key, value ? std::to_string(*value) : "0");
    }
    std::map<std::string, std::optional<std::int64_t>> previous;
    for (const auto& [field, text] : previous_text) {
        // std::stoll's own error ("stoll") ends the scan for text without leading digits.
        previous[field] = text ? std::optional<std::int64_t>(std::stoll(*text)) : std::nullopt;
    }

    for (const auto& c : counters) {
        if (!in_group(c, g)) continue;
        const std::string field = c.field;
        std::optional<double> real;
        std::optional<std::int64_t> whole;
        switch (c.how) {
            case formula::raw:
                whole = current.at(field);
                break;
            case formula::kilobytes:
                whole = kilobytes_to_bytes(current.at(field));
                break;
            case formula::rate:
                real = wmi::counters::counter_rate(current.at(field), current.at(timestamp_field),
                                                   current.at(frequency_field), previous.at(field),
                                                   previous.at(timestamp_field));
                break;
            case formula::ratio:
                real = wmi::counters::counter_ratio_percent(
                    current.at(field), current.at(c.base), previous.at(field), previous.at(c.base));
                break;
            case formula::average:
                real = wmi::counters::counter_average(current.at(field), current.at(c.base),
                                                      previous.at(field), previous.at(c.base));
                break;
        }
        if (!real && !whole) continue;
        register_channel(channel_options(c.shown));
        if (real) {
            r.set_value(c.shown.id, *real);
        } else {
            r.set_value(c.shown.id, static_cast<long long>(*whole));
        }
    }
}

void sensor::work() {
    auto r = result(ok_message(), libvexahelper::scan_response_codes::ok);
    if (settings().performance_counters.none())
        throw exceptions::no_performance_counters_selected();
    auto session = open_session();
    for (const auto& q : queries_) scan_group(session, q, r);
    send(r);
}

}  // namespace wmi
