#include "libvexahelper/sensor_data_wrapper.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>

#include <nlohmann/json.hpp>

#include "libvexahelper/exceptions.hpp"

namespace libvexahelper {

namespace {

using json = nlohmann::ordered_json;

constexpr const char* mask = "********";

struct malformed {
    std::string reason;
};

std::map<std::string, std::string> string_map(const json& document, const char* member) {
    std::map<std::string, std::string> values;
    const auto it = document.find(member);
    if (it == document.end()) return values;
    if (!it->is_object()) throw malformed{std::string("\"") + member + "\" is not an object"};
    for (const auto& [key, value] : it->items()) {
        if (!value.is_string()) {
            throw malformed{std::string("value of \"") + key + "\" in \"" + member +
                            "\" is not a string"};
        }
        values.emplace(key, value.get<std::string>());
    }
    return values;
}

std::map<int, std::string> channel_map_of(const json& document) {
    std::map<int, std::string> channels;
    for (const auto& [key, name] : string_map(document, "channels")) {
        int id = 0;
        const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), id, 10);
        if (key.empty() || error != std::errc{} || end != key.data() + key.size()) {
            throw malformed{"channel id \"" + key + "\" is not a decimal 32-bit integer"};
        }
        channels.emplace(id, name);
    }
    return channels;
}

bool ends_with(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

sensor_data_wrapper::sensor_data_wrapper(const void* data, unsigned int size) {
    if (data == nullptr || size == 0) {
        error_ = "the settings document is empty";
        return;
    }
    const char* begin = static_cast<const char*>(data);
    json document;
    try {
        document = json::parse(begin, begin + size);
    } catch (const json::parse_error& e) {
        // The parser's own text quotes the input near the error, which may be a password.
        error_ = "the settings document is not valid UTF-8 JSON (error at byte " +
                 std::to_string(e.byte) + ")";
        return;
    } catch (const json::out_of_range&) {
        // A number too large for any type, e.g. 1e400: well-formed, still unusable.
        error_ = "the settings document is not valid UTF-8 JSON (a number is out of range)";
        return;
    }
    try {
        if (!document.is_object()) throw malformed{"the settings document is not a JSON object"};
        const auto kind = document.find("kind");
        if (kind == document.end() || !kind->is_string() || kind->get<std::string>().empty()) {
            throw malformed{"\"kind\" is missing or not a non-empty string"};
        }
        kind_ = kind->get<std::string>();
        settings_ = string_map(document, "settings");
        channels_ = channel_map_of(document);
        persistent_data_ = string_map(document, "persistent_data");
    } catch (const malformed& m) {
        error_ = m.reason;
        kind_.clear();
        settings_.clear();
        channels_.clear();
        persistent_data_.clear();
    }
}

sensor_data_wrapper::~sensor_data_wrapper() = default;

std::string sensor_data_wrapper::get_value(const std::string& key) const {
    const auto it = settings_.find(key);
    if (it == settings_.end()) throw utils::exceptions::setting_not_available(key);
    return it->second;
}

std::string sensor_data_wrapper::get_secure_value(const std::string& key) const {
    const auto it = settings_.find(key);
    return it == settings_.end() ? std::string() : it->second;
}

bool sensor_data_wrapper::has_value(const std::string& key) const {
    return settings_.contains(key);
}

bool sensor_data_wrapper::is_secret_key(const std::string& key) {
    const auto dot = key.rfind('.');
    std::string last = dot == std::string::npos ? key : key.substr(dot + 1);
    // Hosts spell keys as they like ("ProxyPassword"): a secret must not escape by its case.
    std::transform(last.begin(), last.end(), last.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return last == "zarvelcloudapikey" || ends_with(last, "password") ||
           ends_with(last, "secret") || ends_with(last, "apikey") || ends_with(last, "token");
}

std::string sensor_data_wrapper::to_json() const {
    if (error_) {
        return json{{"error", *error_}}.dump(-1, ' ', false, json::error_handler_t::replace);
    }
    json settings = json::object();
    for (const auto& [key, value] : settings_) {
        settings[key] = is_secret_key(key) ? std::string(mask) : value;
    }
    json channels = json::object();
    for (const auto& [id, name] : channels_) channels[std::to_string(id)] = name;
    json persistent = json::object();
    for (const auto& [key, value] : persistent_data_) persistent[key] = value;
    return json{{"kind", kind_},
                {"settings", std::move(settings)},
                {"channels", std::move(channels)},
                {"persistent_data", std::move(persistent)}}
        .dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace libvexahelper
