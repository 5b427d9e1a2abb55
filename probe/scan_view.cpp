#include "scan_view.hpp"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace wmiprobe {

namespace {

// dynamic_channel value types.
constexpr unsigned int value_type_counter = 2;

std::string fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::string number(double value, bool integer) {
    if (integer && std::fabs(value) < 9.0e15) {
        return fixed(std::round(value), 0);
    }
    return fixed(value, 2);
}

std::string bytes(double value, const char* suffix) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    int index = 0;
    double scaled = value;
    while (std::fabs(scaled) >= 1024.0 && index < 5) {
        scaled /= 1024.0;
        ++index;
    }
    return (index == 0 ? fixed(scaled, 0) : fixed(scaled, 2)) + " " + units[index] + suffix;
}

std::string duration(double seconds) {
    if (!(seconds >= 0) || seconds > 1.0e12) {
        return fixed(seconds, 0) + " s";
    }
    auto rest = static_cast<long long>(seconds);
    const long long days = rest / 86400;
    rest %= 86400;
    const long long hours = rest / 3600;
    rest %= 3600;
    const long long minutes = rest / 60;
    const long long secs = rest % 60;
    std::ostringstream out;
    if (days > 0) {
        out << days << "d ";
    }
    out << hours << "h " << minutes << "m " << secs << "s";
    return out.str();
}

std::optional<double> number_member(const nlohmann::json& object, const char* name) {
    const auto it = object.find(name);
    if (it == object.end() || !it->is_number()) {
        return std::nullopt;
    }
    return it->get<double>();
}

// The display width of UTF-8 text: one column per code point.
std::size_t width(const std::string& text) {
    std::size_t columns = 0;
    for (const unsigned char c : text) {
        columns += (c & 0xC0) != 0x80 ? 1 : 0;
    }
    return columns;
}

std::string pad(const std::string& text, std::size_t columns) {
    const std::size_t used = width(text);
    return text + std::string(used < columns ? columns - used : 0, ' ');
}

const char* level_name(level mark) {
    switch (mark) {
        case level::warning:
            return "WARNING";
        case level::error:
            return "ERROR";
        default:
            return "";
    }
}

}  // namespace

std::string response_code_name(int response_code) {
    switch (response_code) {
        case 0:
            return "ok";
        case 1:
            return "warning";
        case 2:
            return "down";
        case 3:
            return "error";
        case 4:
            return "no data";
        case 5:
            return "meta-scan error";
        default:
            return "response code " + std::to_string(response_code);
    }
}

std::string format_value(double value, unsigned int unit, const std::string& custom_unit,
                         bool per_second, bool integer) {
    const char* rate = per_second ? "/s" : "";
    switch (unit) {
        case 1:  // bandwidth: bytes, shown per second
            return bytes(value, "/s");
        case 2:   // memory
        case 3:   // disk space
        case 12:  // bytes per operation
            return bytes(value, rate);
        case 13:  // disk throughput
            return bytes(value, "/s");
        case 5:   // percent
        case 11:  // CPU percent
            return fixed(value, 2) + " %";
        case 6:  // milliseconds
            return fixed(value, 2) + " ms";
        case 7:  // seconds
            return per_second ? number(value, false) + " /s" : duration(value);
        case 8:  // custom
            return number(value, integer && !per_second) +
                   (custom_unit.empty() ? std::string(rate) : " " + custom_unit);
        case 10:  // count
            return number(value, integer && !per_second) + (per_second ? " #/s" : " #");
        default:
            return number(value, integer && !per_second) +
                   (custom_unit.empty() ? std::string(per_second ? " /s" : "") : " " + custom_unit);
    }
}

sensor_view::sensor_view(nlohmann::json lookups, const text_table& texts, sensor_state& state)
    : lookups_(std::move(lookups)), texts_(texts), state_(state) {}

void sensor_view::take(const nlohmann::json& message) {
    const std::string type = message.value("type", "");
    if (type == "dynamic_channel") {
        const auto& channel = message.at("channel");
        const int id = channel.at("channel_id").get<int>();
        state_.channels[id] = channel;
        // A new definition under an old id starts its counter afresh.
        state_.counters.erase(id);
    } else if (type == "persistent_data") {
        state_.persistent_data[message.at("key").get<std::string>()] =
            message.at("value").get<std::string>();
    }
}

std::string sensor_view::channel_name(const nlohmann::json& definition) const {
    const std::string display = definition.value("display_name", "");
    const std::string key = definition.value("key", "");
    if (!display.empty()) {
        if (auto shown = texts_.render(display)) {
            return *shown;
        }
        return display;
    }
    if (auto shown = texts_.render(key)) {
        return *shown;
    }
    return key;
}

std::optional<std::pair<std::string, level>> sensor_view::lookup_state(const std::string& lookup,
                                                                       long long value) const {
    const auto table = lookups_.find(lookup);
    if (table == lookups_.end()) {
        return std::nullopt;
    }
    for (const auto& entry : table->value("LookupValues", nlohmann::json::array())) {
        if (!entry.contains("Value") || !entry["Value"].is_number_integer() ||
            entry["Value"].get<long long>() != value) {
            continue;
        }
        const std::string state = entry.value("State", "");
        const level mark = state == "LookupValueStateOk"        ? level::ok
                           : state == "LookupValueStateWarning" ? level::warning
                           : state == "LookupValueStateError"   ? level::error
                                                                : level::none;
        const auto name = texts_.lookup("lookup." + lookup + "." + std::to_string(value));
        return std::make_pair(name ? *name : entry.value("Display", std::to_string(value)), mark);
    }
    return std::nullopt;
}

scan_report sensor_view::report(const nlohmann::json& result, std::int64_t now_us) {
    scan_report out;
    out.response_code = result.value("response_code", 3);
    out.message = texts_.render_message(result.value("message", nlohmann::json()));
    out.system_reset = result.value("system_reset", false);
    if (out.system_reset) {
        state_.counters.clear();
    }
    for (const auto& channel : result.value("channels", nlohmann::json::array())) {
        channel_row row;
        row.id = channel.value("id", -1);
        const auto known = state_.channels.find(row.id);
        const nlohmann::json definition =
            known != state_.channels.end() ? known->second : nlohmann::json::object();
        row.name = known != state_.channels.end() ? channel_name(definition)
                                                  : "channel " + std::to_string(row.id);
        const auto raw = number_member(channel, "value");
        if (!raw) {
            row.value = "no value";
            out.rows.push_back(std::move(row));
            continue;
        }
        row.raw = raw;
        const double factor = number_member(definition, "factor").value_or(1.0);
        const bool integer = channel.value("kind", "") == "integer";
        const auto unit = definition.value("unit", 7u);
        const std::string custom_unit = definition.value("custom_unit", "");
        double value = *raw;
        bool per_second = false;

        if (definition.value("value_type", 1u) == value_type_counter) {
            const auto previous = state_.counters.find(row.id);
            const counter_sample current{*raw, now_us};
            if (previous == state_.counters.end() || now_us <= previous->second.time_us ||
                *raw < previous->second.value) {
                state_.counters[row.id] = current;
                row.note = "first reading, rate on the next scan";
                out.rows.push_back(std::move(row));
                continue;
            }
            const double seconds =
                static_cast<double>(now_us - previous->second.time_us) / 1'000'000.0;
            value = (*raw - previous->second.value) / seconds;
            per_second = true;
            state_.counters[row.id] = current;
        }

        row.number = value;
        row.rate = per_second;
        const std::string lookup = definition.value("lookup_name", "");
        if (!lookup.empty()) {
            const auto state = lookup_state(lookup, std::llround(value));
            if (state) {
                row.value = state->first;
                row.mark = state->second;
            } else {
                row.value = number(value, true);
                row.note = "not in lookup " + lookup;
            }
        } else {
            row.value = format_value(value * factor, unit, custom_unit, per_second, integer);
        }

        if (definition.value("limits_enabled", false)) {
            const auto crossed = [&](const char* name, bool upper) {
                const auto limit = number_member(definition, name);
                return limit && (upper ? value > *limit : value < *limit);
            };
            if (crossed("upper_error_limit", true) || crossed("lower_error_limit", false)) {
                row.mark = level::error;
                row.note = definition.value("error_limit_message", "");
                if (row.note.empty()) {
                    row.note = "error limit crossed";
                }
            } else if (crossed("upper_warning_limit", true) ||
                       crossed("lower_warning_limit", false)) {
                row.mark = level::warning;
                row.note = definition.value("warning_limit_message", "");
                if (row.note.empty()) {
                    row.note = "warning limit crossed";
                }
            }
        }
        out.rows.push_back(std::move(row));
    }
    return out;
}

std::string format_report(const scan_report& report) {
    std::size_t name_width = width("Channel");
    std::size_t value_width = width("Value");
    for (const auto& row : report.rows) {
        name_width = std::max(name_width, width(row.name));
        value_width = std::max(value_width, width(row.value));
    }
    std::ostringstream out;
    out << "  " << pad("Channel", name_width) << "  " << pad("Value", value_width) << "  State\n";
    for (const auto& row : report.rows) {
        std::string state = level_name(row.mark);
        if (!row.note.empty()) {
            state += (state.empty() ? "" : ": ") + row.note;
        }
        std::string line = "  " + pad(row.name, name_width) + "  " + pad(row.value, value_width);
        if (!state.empty()) {
            line += "  " + state;
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        out << line << "\n";
    }
    out << "  Status: " << response_code_name(report.response_code);
    if (!report.message.empty()) {
        out << ": " << report.message;
    }
    if (report.system_reset) {
        out << " (counters restarted: the target's counters went backwards)";
    }
    out << "\n";
    return out.str();
}

}  // namespace wmiprobe
