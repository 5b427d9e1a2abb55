#include "nagios.hpp"

#include <cmath>
#include <cstdio>
#include <optional>
#include <sstream>
#include <vector>

#include "verdicts.hpp"

namespace wmiprobe {

namespace {

using nlohmann::json;

// dynamic_channel value types.
constexpr unsigned int value_type_counter = 2;

const char* state_name(nagios_state state) {
    switch (state) {
        case nagios_state::ok:
            return "OK";
        case nagios_state::warning:
            return "WARNING";
        case nagios_state::critical:
            return "CRITICAL";
        default:
            return "UNKNOWN";
    }
}

// Which of two states a combined result takes: a measured problem outweighs not knowing.
int severity(nagios_state state) {
    switch (state) {
        case nagios_state::ok:
            return 0;
        case nagios_state::unknown:
            return 1;
        case nagios_state::warning:
            return 2;
        default:
            return 3;
    }
}

nagios_state worse(nagios_state a, nagios_state b) { return severity(b) > severity(a) ? b : a; }

nagios_state state_of_response(int response_code) {
    switch (response_code) {
        case 0:
            return nagios_state::ok;
        case 1:
            return nagios_state::warning;
        case 2:  // down
        case 3:  // error
            return nagios_state::critical;
        default:
            return nagios_state::unknown;
    }
}

nagios_state state_of_mark(level mark) {
    return mark == level::error     ? nagios_state::critical
           : mark == level::warning ? nagios_state::warning
                                    : nagios_state::ok;
}

// The plugin output ends at the first line break, and its first `|` starts the perfdata.
std::string plain_text(std::string text) {
    for (auto& c : text) {
        if (c == '|') c = '/';
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    }
    return text;
}

// Perfdata numbers are plain decimals: no exponent, no trailing zeros.
std::string decimal(double value) {
    char buffer[64];
    if (std::fabs(value) < 1.0e15 && value == std::round(value)) {
        std::snprintf(buffer, sizeof buffer, "%.0f", value);
        return buffer;
    }
    std::snprintf(buffer, sizeof buffer, "%.6f", value);
    std::string text = buffer;
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

std::optional<double> limit(const json& definition, const char* name) {
    const auto it = definition.find(name);
    if (it == definition.end() || !it->is_number()) return std::nullopt;
    return it->get<double>();
}

// A limit pair in the plugin range syntax: "L:U" alerts outside [L, U], "L:" below L, "~:U"
// above U; exactly the module's rule that a value beyond a limit crosses it.
std::string range(const json& definition, const char* lower, const char* upper, double factor) {
    const auto low = limit(definition, lower);
    const auto high = limit(definition, upper);
    if (!low && !high) return "";
    return (low ? decimal(*low * factor) : "~") + ":" + (high ? decimal(*high * factor) : "");
}

// 'label' with an embedded quote doubled; `=` is the one character a label may not hold.
std::string label(const std::string& name) {
    std::string quoted = "'";
    for (const char c : name) {
        quoted += c == '\'' ? std::string("''") : std::string(1, c == '=' ? '_' : c);
    }
    return quoted + "'";
}

// 'label'=value[UOM];[warn];[crit];[min];[max], trailing empty fields left out. A cumulative
// counter is given as its reading with UOM `c`, so the grapher forms the rate and the first scan
// of a run already has a value; its limits apply to the rate and are not repeated here.
std::string perfdata(const channel_row& row, const json& definition) {
    const double factor = limit(definition, "factor").value_or(1.0);
    const bool counter = definition.value("value_type", 1u) == value_type_counter;
    const bool lookup = !definition.value("lookup_name", "").empty();
    std::string uom;
    std::vector<std::string> fields;
    if (counter) {
        uom = "c";
    } else if (!lookup && !definition.empty()) {  // no unit for a channel never announced
        switch (definition.value("unit", 7u)) {
            case 2:   // memory
            case 3:   // disk space
            case 12:  // bytes per operation
                uom = "B";
                break;
            case 5:
                fields = {"", "", "0", "100"};
                [[fallthrough]];
            case 11:  // a process's CPU share, above 100 on several cores
                uom = "%";
                break;
            case 6:
                uom = "ms";
                break;
            case 7:
                uom = "s";
                break;
            default:
                break;
        }
        if (definition.value("limits_enabled", false)) {
            fields.resize(std::max<std::size_t>(fields.size(), 2));
            fields[0] = range(definition, "lower_warning_limit", "upper_warning_limit", factor);
            fields[1] = range(definition, "lower_error_limit", "upper_error_limit", factor);
        }
    }
    std::string text =
        label(row.name) + "=" + decimal(*row.raw * (counter || lookup ? 1.0 : factor)) + uom;
    while (!fields.empty() && fields.back().empty()) fields.pop_back();
    for (const auto& field : fields) text += ";" + field;
    return text;
}

}  // namespace

nagios_line nagios_scan_line(const std::string& subject, const scan_report& report,
                             const std::map<int, json>& channels) {
    const nagios_state reported = state_of_response(report.response_code);
    nagios_state marked = nagios_state::ok;
    for (const auto& row : report.rows) {
        marked = worse(marked, state_of_mark(row.mark));
    }
    nagios_line line;
    line.state = worse(reported, marked);

    std::vector<std::string> parts;
    if (reported != nagios_state::ok) {
        parts.push_back(response_code_name(report.response_code) +
                        (report.message.empty() ? "" : ": " + report.message));
    }
    if (marked != nagios_state::ok && marked == line.state) {
        std::string named;
        for (const auto& row : report.rows) {
            if (state_of_mark(row.mark) != marked) continue;
            named += (named.empty() ? "" : ", ") + row.name + " " + row.value +
                     (row.note.empty() ? "" : " (" + row.note + ")");
        }
        parts.push_back(named);
    }
    if (line.state == nagios_state::ok) {
        const auto count = report.rows.size();
        parts.push_back(std::to_string(count) + (count == 1 ? " channel ok" : " channels ok"));
        // Most sensors say just "OK" when all is well, which the state already says.
        if (!report.message.empty() && report.message != "OK") parts.push_back(report.message);
    }
    std::string message = subject + ":";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        message += (i == 0 ? " " : "; ") + parts[i];
    }

    std::string performance;
    static const json no_definition = json::object();
    for (const auto& row : report.rows) {
        if (!row.raw) continue;
        const auto known = channels.find(row.id);
        performance += (performance.empty() ? "" : " ") +
                       perfdata(row, known != channels.end() ? known->second : no_definition);
    }
    line.text = std::string(state_name(line.state)) + " - " + plain_text(message) +
                (performance.empty() ? "" : " | " + performance);
    return line;
}

nagios_line nagios_failure_line(int probe_exit, const std::string& why) {
    nagios_line line;
    line.state = probe_exit == exit_sensor_error ? nagios_state::critical : nagios_state::unknown;
    // The probe's lines (a list of settings, indented) as one.
    std::string message;
    std::istringstream lines(why);
    for (std::string part; std::getline(lines, part);) {
        const auto begin = part.find_first_not_of(" \t\r");
        if (begin == std::string::npos) continue;
        message += (message.empty() ? "" : "; ") + part.substr(begin);
    }
    line.text = std::string(state_name(line.state)) + " - " + plain_text(message);
    return line;
}

}  // namespace wmiprobe
