#include "serve_metrics.hpp"

#include <charconv>
#include <cmath>

#include "texts.hpp"

namespace wmiprobe {

namespace {

std::string number_text(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

std::string escape_help(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string metric_name(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == ':';
        if (word) {
            out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        } else if (!out.empty() && out.back() != '_') {
            out += '_';
        }
    }
    while (!out.empty() && out.back() == '_') out.pop_back();
    if (out.empty() || (out[0] >= '0' && out[0] <= '9')) out.insert(0, "_");
    return out;
}

std::string escape_label_value(std::string_view value) {
    std::string out;
    for (const char c : value) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string escape_html(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

base_unit channel_base_unit(unsigned int unit, const std::string& custom_unit, bool rate) {
    base_unit out;
    switch (unit) {
        case 1:   // bandwidth: a byte counter, so per second
        case 13:  // disk throughput
            return {"bytes_per_second", 1.0};
        case 2:   // memory
        case 3:   // disk space
        case 12:  // bytes per operation
            out.suffix = "bytes";
            break;
        case 5:   // percent
        case 11:  // CPU percent of a process
            out.suffix = "percent";
            break;
        case 6:
            out = {"seconds", 0.001};
            break;
        case 7:
            out.suffix = "seconds";
            break;
        case 8:
            out.suffix = custom_unit.empty() ? "" : metric_name(custom_unit);
            break;
        default:  // 0 lookups, 10 counts: no unit
            break;
    }
    if (rate) out.suffix += out.suffix.empty() ? "per_second" : "_per_second";
    return out;
}

std::string channel_family(const std::string& kind, const nlohmann::json& definition, bool rate) {
    std::string kind_base = kind;
    if (kind_base.ends_with("_sensor")) kind_base.resize(kind_base.size() - 7);
    std::string key = definition.value("key", "");
    const std::string display = definition.value("display_name", "");
    if (!display.empty()) {
        if (const auto decoded = decode_key(display)) key = decoded->key;
    }
    if (key.starts_with("channel.")) key.erase(0, 8);
    const auto unit =
        channel_base_unit(definition.value("unit", 7u), definition.value("custom_unit", ""), rate);
    std::string name = metric_name("wmi_" + kind_base + "_" + key);
    // "…_percent" channels keep one "_percent".
    if (!unit.suffix.empty() && !name.ends_with("_" + unit.suffix)) name += "_" + unit.suffix;
    return name;
}

void exposition::add(const std::string& family, const std::string& help, const std::string& type,
                     const label_set& labels, double value) {
    auto& entry = families_[family];
    if (entry.type.empty()) {
        entry.help = help;
        entry.type = type;
    }
    entry.samples.emplace_back(labels, value);
}

std::string exposition::text() const {
    std::string out;
    for (const auto& [name, family] : families_) {
        out += "# HELP " + name + " " + escape_help(family.help) + "\n";
        out += "# TYPE " + name + " " + family.type + "\n";
        for (const auto& [labels, value] : family.samples) {
            out += name;
            if (!labels.empty()) {
                out += "{";
                for (std::size_t i = 0; i < labels.size(); ++i) {
                    out += (i == 0 ? "" : ",") + labels[i].first + "=\"" +
                           escape_label_value(labels[i].second) + "\"";
                }
                out += "}";
            }
            out += " " + number_text(value) + "\n";
        }
    }
    return out;
}

}  // namespace wmiprobe
