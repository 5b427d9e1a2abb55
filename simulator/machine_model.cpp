#include "simulator/machine_model.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace winrm_simulator {
namespace {

using json = nlohmann::json;
// Counter arithmetic: rate × elapsed ticks overflows 64 bits for large rates.
__extension__ using int128 = __int128;

// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::int64_t file_time_epoch_offset_s = 11'644'473'600;
constexpr std::int64_t ticks_per_second = 10'000'000;

class parse_context {
public:
    explicit parse_context(std::string origin) : origin_(std::move(origin)) {}

    [[noreturn]] void fail(const std::string& path, const std::string& what) const {
        throw model_error(origin_ + ": " + path + ": " + what);
    }

private:
    std::string origin_;
};

std::int64_t get_int(const parse_context& ctx, const json& j, const std::string& path) {
    if (j.is_number_integer() && !j.is_number_unsigned()) return j.get<std::int64_t>();
    if (j.is_number_unsigned() &&
        j.get<std::uint64_t>() <=
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return static_cast<std::int64_t>(j.get<std::uint64_t>());
    }
    ctx.fail(path, "expected a signed 64-bit integer");
}

void reject_unknown_keys(const parse_context& ctx, const json& object, const std::string& path,
                         std::initializer_list<std::string_view> known) {
    for (const auto& item : object.items()) {
        if (std::find(known.begin(), known.end(), item.key()) == known.end()) {
            ctx.fail(path, "unknown key \"" + item.key() + "\"");
        }
    }
}

// Class and property names become XML element names and WQL identifiers.
bool valid_name(std::string_view name) {
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name.front()))) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return c == '_' || std::isalnum(static_cast<unsigned char>(c));
    });
}

// XML 1.0 cannot carry other control characters, not even escaped.
bool xml_text(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
    });
}

property_value scalar(const parse_context& ctx, const json& j, const std::string& path) {
    property_value v;
    if (j.is_null()) return v;
    if (j.is_string()) {
        v.kind = property_value::type::text;
        if (!xml_text(j.get_ref<const std::string&>())) {
            ctx.fail(path, "control characters cannot travel in XML");
        }
        v.items.push_back(j.get<std::string>());
    } else if (j.is_boolean()) {
        v.kind = property_value::type::boolean;
        v.items.emplace_back(j.get<bool>() ? "true" : "false");
    } else if (j.is_number_unsigned()) {
        v.kind = property_value::type::integer;
        v.items.push_back(std::to_string(j.get<std::uint64_t>()));
    } else if (j.is_number_integer()) {
        v.kind = property_value::type::integer;
        v.items.push_back(std::to_string(j.get<std::int64_t>()));
    } else if (j.is_number_float()) {
        ctx.fail(path, "fractional numbers are not supported; use integers");
    } else {
        ctx.fail(path, "expected a string, integer, boolean or null");
    }
    return v;
}

value_source parse_source(const parse_context& ctx, const json& j, const std::string& path) {
    if (j.is_array()) {
        literal_source out;
        out.value.is_array = true;
        if (j.empty()) ctx.fail(path, "an array needs at least one element; use null instead");
        for (std::size_t i = 0; i < j.size(); ++i) {
            const std::string item_path = path + "[" + std::to_string(i) + "]";
            if (j[i].is_null()) ctx.fail(item_path, "array elements cannot be null");
            property_value element = scalar(ctx, j[i], item_path);
            if (i > 0 && element.kind != out.value.kind) {
                ctx.fail(item_path, "array elements must all have the same type");
            }
            out.value.kind = element.kind;
            out.value.items.push_back(element.items.front());
        }
        return out;
    }
    if (!j.is_object()) return literal_source{scalar(ctx, j, path)};

    if (j.contains("counter")) {
        reject_unknown_keys(ctx, j, path, {"counter"});
        const json& c = j["counter"];
        if (!c.is_object()) ctx.fail(path + ".counter", "expected an object");
        reject_unknown_keys(ctx, c, path + ".counter",
                            {"start", "per_second", "reset_after_seconds"});
        counter_source out;
        if (c.contains("start")) out.start = get_int(ctx, c["start"], path + ".counter.start");
        if (!c.contains("per_second")) ctx.fail(path + ".counter", "missing \"per_second\"");
        out.per_second = get_int(ctx, c["per_second"], path + ".counter.per_second");
        if (c.contains("reset_after_seconds")) {
            const std::string at = path + ".counter.reset_after_seconds";
            out.reset_after_seconds = get_int(ctx, c["reset_after_seconds"], at);
            if (*out.reset_after_seconds < 0) ctx.fail(at, "must not be negative");
        }
        return out;
    }
    if (j.contains("clock")) {
        reject_unknown_keys(ctx, j, path, {"clock", "offset_seconds"});
        clock_source out;
        const std::string base = j["clock"].is_string() ? j["clock"].get<std::string>() : "";
        if (base == "sys100ns") {
            out.from = clock_source::base::sys100ns;
        } else if (base == "boot_sys100ns") {
            out.from = clock_source::base::boot_sys100ns;
        } else if (base == "perf_time") {
            out.from = clock_source::base::perf_time;
        } else {
            ctx.fail(path + ".clock", "expected \"sys100ns\", \"boot_sys100ns\" or \"perf_time\"");
        }
        if (j.contains("offset_seconds")) {
            out.offset_seconds = get_int(ctx, j["offset_seconds"], path + ".offset_seconds");
        }
        return out;
    }
    if (j.contains("datetime")) {
        reject_unknown_keys(ctx, j, path, {"datetime", "offset_seconds"});
        datetime_source out;
        if (!j["datetime"].is_string()) ctx.fail(path + ".datetime", "expected a string");
        const std::string base = j["datetime"].get<std::string>();
        if (base == "now") {
            out.from = datetime_source::base::now;
        } else if (base == "boot") {
            out.from = datetime_source::base::boot;
        } else if (base.size() >= 19 && base[4] == '-' && base[10] == 'T') {
            out.from = datetime_source::base::fixed;
            out.fixed_text = base;
        } else {
            ctx.fail(path + ".datetime",
                     "expected \"now\", \"boot\" or an ISO 8601 text like 2026-01-02T03:04:05Z");
        }
        if (j.contains("offset_seconds")) {
            if (out.from == datetime_source::base::fixed) {
                ctx.fail(path + ".offset_seconds", "a fixed datetime takes no offset");
            }
            out.offset_seconds = get_int(ctx, j["offset_seconds"], path + ".offset_seconds");
        }
        return out;
    }
    ctx.fail(path, "an object value must be a \"counter\", \"clock\" or \"datetime\"");
}

model_class parse_class(const parse_context& ctx, const std::string& name, const json& j,
                        const std::string& path) {
    if (!j.is_object()) ctx.fail(path, "expected an object with \"instances\"");
    reject_unknown_keys(ctx, j, path, {"properties", "instances"});
    model_class cls;
    cls.name = name;
    std::set<std::string, iless> names;
    auto add_name = [&](const std::string& property, const std::string& where) {
        if (!valid_name(property)) {
            ctx.fail(where, "a property name is a letter or _ followed by letters, digits, _");
        }
        auto [it, inserted] = names.insert(property);
        if (!inserted && *it != property) {
            ctx.fail(where, "property \"" + property + "\" is also spelled \"" + *it + "\"");
        }
    };
    if (j.contains("properties")) {
        const json& props = j["properties"];
        if (!props.is_array()) ctx.fail(path + ".properties", "expected an array of names");
        for (std::size_t i = 0; i < props.size(); ++i) {
            const std::string where = path + ".properties[" + std::to_string(i) + "]";
            if (!props[i].is_string()) ctx.fail(where, "expected a property name");
            add_name(props[i].get<std::string>(), where);
        }
    }
    if (!j.contains("instances") || !j["instances"].is_array()) {
        ctx.fail(path, "missing \"instances\" array");
    }
    const json& instances = j["instances"];
    for (std::size_t i = 0; i < instances.size(); ++i) {
        const std::string ipath = path + ".instances[" + std::to_string(i) + "]";
        if (!instances[i].is_object()) ctx.fail(ipath, "expected an object");
        std::map<std::string, value_source, iless> values;
        for (const auto& item : instances[i].items()) {
            const std::string ppath = ipath + "." + item.key();
            add_name(item.key(), ppath);
            if (!values.emplace(item.key(), parse_source(ctx, item.value(), ppath)).second) {
                ctx.fail(ppath, "duplicate property");
            }
        }
        cls.instances.push_back(std::move(values));
    }
    cls.properties.assign(names.begin(), names.end());
    if (cls.properties.empty()) ctx.fail(path, "a class needs at least one property");
    return cls;
}

// root, then backslash-separated names: root\Microsoft\SqlServer.
bool valid_namespace_name(std::string_view name) {
    if (!iequals(name.substr(0, 4), "root") || (name.size() > 4 && name[4] != '\\')) return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('\\', start), name.size());
        if (!valid_name(name.substr(start, end - start))) return false;
        start = end + 1;
    }
    return true;
}

std::string two_digits(int v) {
    return std::string(1, static_cast<char>('0' + v / 10)) + static_cast<char>('0' + v % 10);
}

}  // namespace

machine_model machine_model::load_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw model_error(path.string() + ": cannot open the model file");
    std::ostringstream text;
    text << in.rdbuf();
    return parse(text.str(), path.string());
}

machine_model machine_model::parse(std::string_view json_text, std::string_view origin) {
    const parse_context ctx{std::string(origin)};
    json doc;
    try {
        doc = json::parse(json_text);
    } catch (const json::parse_error& e) {
        ctx.fail("(document)", std::string("not valid JSON: ") + e.what());
    }
    if (!doc.is_object()) ctx.fail("(document)", "expected an object");
    reject_unknown_keys(ctx, doc, "(document)",
                        {"machine_name", "utc_offset_minutes", "uptime_seconds", "perf_frequency",
                         "description", "namespaces", "denied_namespaces"});
    machine_model model;
    if (doc.contains("machine_name")) {
        if (!doc["machine_name"].is_string() || doc["machine_name"].get<std::string>().empty()) {
            ctx.fail("machine_name", "expected a non-empty string");
        }
        model.machine_name_ = doc["machine_name"].get<std::string>();
    }
    if (doc.contains("utc_offset_minutes")) {
        const std::int64_t offset = get_int(ctx, doc["utc_offset_minutes"], "utc_offset_minutes");
        if (offset < -14 * 60 || offset > 14 * 60) {
            ctx.fail("utc_offset_minutes", "must lie between -840 and 840");
        }
        model.utc_offset_minutes_ = static_cast<int>(offset);
    }
    if (doc.contains("uptime_seconds")) {
        model.uptime_seconds_ = get_int(ctx, doc["uptime_seconds"], "uptime_seconds");
        if (model.uptime_seconds_ < 0) ctx.fail("uptime_seconds", "must not be negative");
    }
    if (doc.contains("perf_frequency")) {
        model.perf_frequency_ = get_int(ctx, doc["perf_frequency"], "perf_frequency");
        if (model.perf_frequency_ <= 0) ctx.fail("perf_frequency", "must be positive");
    }
    if (!doc.contains("namespaces") || !doc["namespaces"].is_object()) {
        ctx.fail("(document)", "missing \"namespaces\" object");
    }
    for (const auto& ns_item : doc["namespaces"].items()) {
        const std::string path = "namespaces[\"" + ns_item.key() + "\"]";
        if (!valid_namespace_name(ns_item.key())) {
            ctx.fail(path, "a namespace is a backslash path below root, e.g. root\\cimv2");
        }
        if (!ns_item.value().is_object()) ctx.fail(path, "expected an object of classes");
        model_namespace ns;
        ns.name = ns_item.key();
        for (const auto& cls_item : ns_item.value().items()) {
            const std::string cpath = path + "." + cls_item.key();
            if (!valid_name(cls_item.key())) {
                ctx.fail(cpath, "a class name is a letter or _ followed by letters, digits, _");
            }
            if (iequals(cls_item.key(), "__NAMESPACE")) {
                ctx.fail(cpath, "__NAMESPACE is derived from the declared namespaces");
            }
            if (!ns.classes
                     .emplace(cls_item.key(),
                              parse_class(ctx, cls_item.key(), cls_item.value(), cpath))
                     .second) {
                ctx.fail(cpath, "class declared twice (names are case-insensitive)");
            }
        }
        if (!model.namespaces_.emplace(ns.name, std::move(ns)).second) {
            ctx.fail(path, "namespace declared twice (names are case-insensitive)");
        }
    }
    if (doc.contains("denied_namespaces")) {
        const json& denied = doc["denied_namespaces"];
        if (!denied.is_array()) ctx.fail("denied_namespaces", "expected an array of namespaces");
        for (std::size_t i = 0; i < denied.size(); ++i) {
            const std::string path = "denied_namespaces[" + std::to_string(i) + "]";
            if (!denied[i].is_string() || !model.has_namespace(denied[i].get<std::string>())) {
                ctx.fail(path, "expected a namespace the model declares");
            }
            model.denied_namespaces_.push_back(denied[i].get<std::string>());
        }
    }
    return model;
}

bool machine_model::is_denied(std::string_view name) const {
    return std::any_of(denied_namespaces_.begin(), denied_namespaces_.end(),
                       [&](const std::string& denied) {
                           return iequals(name.substr(0, denied.size()), denied) &&
                                  (name.size() == denied.size() || name[denied.size()] == '\\');
                       });
}

const model_namespace* machine_model::find_namespace(std::string_view name) const {
    const auto it = namespaces_.find(name);
    return it == namespaces_.end() ? nullptr : &it->second;
}

bool machine_model::has_namespace(std::string_view name) const {
    if (iequals(name, "root")) return true;
    for (const auto& [declared, ns] : namespaces_) {
        if (iequals(declared, name)) return true;
        if (declared.size() > name.size() && declared[name.size()] == '\\' &&
            iequals(std::string_view(declared).substr(0, name.size()), name)) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> machine_model::child_namespaces(std::string_view name) const {
    std::set<std::string, iless> children;
    for (const auto& [declared, ns] : namespaces_) {
        if (declared.size() > name.size() + 1 && declared[name.size()] == '\\' &&
            iequals(std::string_view(declared).substr(0, name.size()), name)) {
            const std::string rest = declared.substr(name.size() + 1);
            children.insert(rest.substr(0, rest.find('\\')));
        }
    }
    return {children.begin(), children.end()};
}

property_value machine_model::evaluate(const value_source& source, const model_time& time) const {
    const std::int64_t elapsed_ticks = std::max<std::int64_t>(
        0, std::chrono::duration_cast<std::chrono::nanoseconds>(time.now - time.started).count() /
               100);
    const sim_clock::time_point boot = time.started - std::chrono::seconds(uptime_seconds_);
    auto integer = [](int128 v) {
        property_value out;
        out.kind = property_value::type::integer;
        if (v < 0) v = 0;
        const int128 max = std::numeric_limits<std::uint64_t>::max();
        out.items.push_back(std::to_string(static_cast<std::uint64_t>(v > max ? max : v)));
        return out;
    };
    return std::visit(
        [&](const auto& s) -> property_value {
            using type = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<type, literal_source>) {
                return s.value;
            } else if constexpr (std::is_same_v<type, counter_source>) {
                if (s.reset_after_seconds) {
                    const int128 since_reset =
                        static_cast<int128>(elapsed_ticks) -
                        static_cast<int128>(*s.reset_after_seconds) * ticks_per_second;
                    if (since_reset >= 0) {
                        return integer(static_cast<int128>(s.per_second) * since_reset /
                                       ticks_per_second);
                    }
                }
                return integer(static_cast<int128>(s.start) + static_cast<int128>(s.per_second) *
                                                                  elapsed_ticks / ticks_per_second);
            } else if constexpr (std::is_same_v<type, clock_source>) {
                const int128 offset = static_cast<int128>(s.offset_seconds) * ticks_per_second;
                switch (s.from) {
                    case clock_source::base::sys100ns:
                        return integer(static_cast<int128>(to_file_time(time.now)) + offset);
                    case clock_source::base::boot_sys100ns:
                        return integer(static_cast<int128>(to_file_time(boot)) + offset);
                    case clock_source::base::perf_time:
                        break;
                }
                // The performance counter runs from boot at perf_frequency ticks per second.
                const int128 since_boot_ticks =
                    static_cast<int128>(uptime_seconds_) * ticks_per_second + elapsed_ticks +
                    offset;
                return integer(since_boot_ticks * perf_frequency_ / ticks_per_second);
            } else {
                property_value out;
                out.kind = property_value::type::datetime;
                if (s.from == datetime_source::base::fixed) {
                    out.items.push_back(s.fixed_text);
                } else {
                    const auto base = s.from == datetime_source::base::now ? time.now : boot;
                    out.items.push_back(format_cim_datetime(
                        base + std::chrono::seconds(s.offset_seconds), utc_offset_minutes_));
                }
                return out;
            }
        },
        source);
}

rendered_instance machine_model::evaluate(const model_class& cls, std::size_t index,
                                          const model_time& time) const {
    rendered_instance out;
    const auto& values = cls.instances.at(index);
    out.reserve(cls.properties.size());
    for (const std::string& property : cls.properties) {
        const auto it = values.find(property);
        out.emplace_back(property,
                         it == values.end() ? property_value{} : evaluate(it->second, time));
    }
    return out;
}

std::int64_t to_file_time(sim_clock::time_point at) {
    const auto since_unix =
        std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
    return since_unix / 100 + file_time_epoch_offset_s * ticks_per_second;
}

std::string format_cim_datetime(sim_clock::time_point at, int utc_offset_minutes) {
    const auto local = at + std::chrono::minutes(utc_offset_minutes);
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(local.time_since_epoch()).count();
    const auto day_point = std::chrono::floor<std::chrono::days>(
        sim_clock::time_point(std::chrono::microseconds(micros)));
    const std::chrono::year_month_day ymd{day_point};
    std::int64_t in_day =
        micros -
        std::chrono::duration_cast<std::chrono::microseconds>(day_point.time_since_epoch()).count();
    const int hours = static_cast<int>(in_day / 3'600'000'000LL);
    in_day %= 3'600'000'000LL;
    const int minutes = static_cast<int>(in_day / 60'000'000LL);
    in_day %= 60'000'000LL;
    const int seconds = static_cast<int>(in_day / 1'000'000LL);
    std::string fraction = std::to_string(1'000'000 + in_day % 1'000'000).substr(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();

    std::string text = std::to_string(static_cast<int>(ymd.year())) + "-" +
                       two_digits(static_cast<int>(static_cast<unsigned>(ymd.month()))) + "-" +
                       two_digits(static_cast<int>(static_cast<unsigned>(ymd.day()))) + "T" +
                       two_digits(hours) + ":" + two_digits(minutes) + ":" + two_digits(seconds);
    if (!fraction.empty()) text += "." + fraction;
    if (utc_offset_minutes == 0) return text + "Z";
    const int magnitude = utc_offset_minutes < 0 ? -utc_offset_minutes : utc_offset_minutes;
    return text + (utc_offset_minutes < 0 ? "-" : "+") + two_digits(magnitude / 60) + ":" +
           two_digits(magnitude % 60);
}

}  // namespace winrm_simulator
