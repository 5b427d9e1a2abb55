#include "verdicts.hpp"

#include <algorithm>
#include <optional>
#include <sstream>

namespace wmiprobe {

namespace {

using nlohmann::json;

// The WQL client's error for a namespace the target does not have.
constexpr std::string_view missing_namespace_key = "#:libwql.error.invalid_namespace[";

// A failure the export reported besides the operation's own codes; nothing for other codes.
std::optional<std::string> export_failure(int code) {
    if (code == export_exception) {
        return "the module failed unexpectedly (an exception escaped it)";
    }
    if (code == export_no_module) {
        return "the module is not initialised";
    }
    return std::nullopt;
}

std::string not_implemented(const std::string& kind) {
    return kind + ": not implemented by this module build";
}

// The first message of `type`, or null.
json first_of(const call_outcome& outcome, const std::string& type) {
    for (const auto& message : outcome.messages) {
        if (message.value("type", "") == type) {
            return message;
        }
    }
    return nullptr;
}

std::string message_text(const text_table& texts, const json& message) {
    return message.is_object() ? texts.render_message(message.value("message", json()))
                               : std::string();
}

verdict failed(const std::string& error) { return {exit_failure, true, "", error + "\n"}; }

}  // namespace

int exit_for_failure(int code) {
    return code == 0 || code == code_creation_failed ? exit_sensor_error : exit_failure;
}

int exit_for_scan(int response_code) {
    return response_code == 2 || response_code == 3 ? exit_sensor_error : exit_ok;
}

verdict check_verdict(const std::string& kind, const std::string& host, const call_outcome& outcome,
                      const text_table& texts) {
    if (auto failure = export_failure(outcome.code)) {
        return failed("check " + kind + ": " + *failure);
    }
    if (outcome.code == code_unknown_kind) {
        return {exit_ok, false, "Check " + not_implemented(kind) + "\n", ""};
    }
    const json result = first_of(outcome, "check_result");
    if (!result.is_object()) {
        return failed("check " + kind + ": the module sent no check_result (code " +
                      std::to_string(outcome.code) + ")");
    }
    const bool passed = outcome.code == 0 && result.value("success", false);
    std::string line = "Check " + kind + " on " + host + ": " + (passed ? "passed" : "FAILED");
    const std::string why = message_text(texts, result);
    if (!why.empty()) {
        line += ": " + why;
    }
    return {passed ? exit_ok : exit_for_failure(outcome.code), true, line + "\n", ""};
}

discovery discover_verdict(const std::string& kind, const call_outcome& outcome,
                           const text_table& texts) {
    discovery found;
    if (auto failure = export_failure(outcome.code)) {
        found.exit_code = exit_failure;
        found.err = kind + ": " + *failure + "\n";
        return found;
    }
    if (outcome.code == code_unknown_kind) {
        found.implemented = false;
        found.out = "  " + not_implemented(kind) + "\n";
        return found;
    }
    const json result = first_of(outcome, "meta_scan_result");
    if (!result.is_object()) {
        found.exit_code = exit_failure;
        found.err = kind + ": the module sent no meta_scan_result (code " +
                    std::to_string(outcome.code) + ")\n";
        return found;
    }
    if (outcome.code != 0 || result.value("response_code", 5) != 0) {
        const std::string why = message_text(texts, result);
        found.exit_code = exit_for_failure(outcome.code);
        found.out = "  FAILED: " + (why.empty() ? "no reason given" : why) + "\n";
        const json message = result.value("message", json());
        found.target_lacks_namespace =
            message.is_object() && message.value("key", "").rfind(missing_namespace_key, 0) == 0;
        return found;
    }
    found.entries = result.value("entries", json::array());
    std::ostringstream out;
    out << "  " << found.entries.size() << " found\n";
    int index = 0;
    for (const auto& entry : found.entries) {
        out << "  " << ++index << ". " << texts.render_message(entry.value("display_name", json()))
            << "\n";
        const json values = entry.value("values", json::object());
        for (const auto& [name, value] : values.items()) {
            out << "       " << name << " = "
                << (value.is_string() ? value.get<std::string>() : value.dump()) << "\n";
        }
    }
    found.out = out.str();
    return found;
}

verdict create_verdict(const std::string& kind, const call_outcome& outcome,
                       const text_table& texts) {
    if (auto failure = export_failure(outcome.code)) {
        return failed(kind + ": " + *failure);
    }
    if (outcome.code == code_unknown_kind) {
        return {exit_ok, false, not_implemented(kind) + "\n", ""};
    }
    if (outcome.code != 0) {
        const std::string why = message_text(texts, first_of(outcome, "sensor_create_error"));
        return {exit_for_failure(outcome.code), true,
                kind + ": the sensor could not be created: " +
                    (why.empty() ? "code " + std::to_string(outcome.code) : why) + "\n",
                ""};
    }
    return {};
}

verdict scan_verdict(const std::string& kind, int sensor_id, const std::string& title,
                     const call_outcome& outcome, sensor_view& view, std::int64_t arrived_us,
                     scan_report* last) {
    if (auto failure = export_failure(outcome.code)) {
        return failed(kind + ": " + *failure);
    }
    if (outcome.code == code_unknown_sensor_id) {
        return failed(kind + ": the module lost sensor " + std::to_string(sensor_id));
    }
    verdict scanned;
    bool reported = false;
    for (const auto& message : outcome.messages) {
        view.take(message);
        if (message.value("type", "") != "sensor_scan_result") {
            continue;
        }
        reported = true;
        const auto report = view.report(message, arrived_us);
        scanned.out += title + "\n" + format_report(report);
        scanned.exit_code = std::max(scanned.exit_code, exit_for_scan(report.response_code));
        if (last) *last = report;
    }
    if (!reported) {
        return failed(kind + ": the scan sent no result");
    }
    return scanned;
}

std::string render_info(const module_catalogue& catalogue, const text_table& texts, int api_level) {
    const auto& document = catalogue.document();
    const auto& meta = document.value("MetaData", json::object());
    const auto text = [&](const std::string& key, const std::string& fallback) {
        return texts.render(key).value_or(fallback);
    };
    std::ostringstream out;
    out << text("module.display", meta.value("Display", "")) << " (" << meta.value("Name", "")
        << ") version " << meta.value("Version", "") << ", " << meta.value("Vendor", "") << ", "
        << meta.value("Contact", "") << "\n"
        << text("module.description", meta.value("Description", "")) << "\n"
        << "API level " << api_level << ", document revision " << document.value("Revision", 0)
        << ", texts in " << texts.language() << "\n";

    const auto& sensors = document.value("Sensors", json::object());
    out << "\nSensors:\n";
    for (const auto* kind : catalogue.kinds_of(kind_role::sensor)) {
        const auto& entry = sensors.value(kind->name, json::object());
        out << "  " << kind->name << ": "
            << text(kind->name + ".display", entry.value("Display", "")) << "\n      "
            << text(kind->name + ".description", entry.value("Description", "")) << "\n";
        if (kind->first_meta_step) {
            out << "      discover first with: " << *kind->first_meta_step << "\n";
        }
    }
    out << "\nMeta-scans:\n";
    for (const auto* kind : catalogue.kinds_of(kind_role::metascan)) {
        std::string users;
        for (const auto* sensor : catalogue.kinds_of(kind_role::sensor)) {
            if (sensor->first_meta_step == kind->name) {
                const auto& entry = sensors.value(sensor->name, json::object());
                users += (users.empty() ? "" : ", ") +
                         text(sensor->name + ".display", entry.value("Display", sensor->name));
            }
        }
        out << "  " << kind->name << (users.empty() ? "" : ": finds instances for " + users)
            << "\n";
    }
    out << "\nChecks:\n";
    for (const auto* kind : catalogue.kinds_of(kind_role::check)) {
        out << "  " << kind->name << "\n";
    }
    out << "\nLanguages:";
    for (const auto& language : text_table::languages(document)) {
        out << " " << language;
    }
    out << "\n";
    return out.str();
}

std::string render_demo_summary(const std::vector<std::string>& ran,
                                const std::vector<std::string>& missing,
                                const std::vector<std::string>& skipped,
                                const std::vector<std::string>& unavailable) {
    // Comma-separated; the first line starts after its label, continuation lines are indented.
    const auto list = [](const std::vector<std::string>& names) {
        std::string text;
        std::size_t line = 20;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string item = names[i] + (i + 1 < names.size() ? "," : "");
            if (i > 0 && line + 1 + item.size() > 100) {
                text += "\n   ";
                line = 3;
            }
            text += (i > 0 ? " " : "") + item;
            line += item.size() + 1;
        }
        return text;
    };
    std::string out = "\nDemo finished: " + std::to_string(ran.size()) + " kinds ran, " +
                      std::to_string(missing.size()) + " not implemented by this module build, " +
                      std::to_string(skipped.size()) + " skipped" +
                      (unavailable.empty() ? std::string()
                                           : ", " + std::to_string(unavailable.size()) +
                                                 " not available on this target") +
                      "\n";
    if (!missing.empty()) out += "  not implemented: " + list(missing) + "\n";
    if (!skipped.empty()) out += "  skipped: " + list(skipped) + "\n";
    if (!unavailable.empty()) out += "  not available on this target: " + list(unavailable) + "\n";
    return out;
}

}  // namespace wmiprobe
