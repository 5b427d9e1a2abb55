#include "libvexahelper/messages.hpp"

#include <cmath>
#include <map>

#include <nlohmann/json.hpp>

#include "libvexahelper/exceptions.hpp"

namespace libvexahelper {

namespace {

using json = nlohmann::ordered_json;

std::vector<char> to_bytes(const json& message) {
    // Texts from the target or the host may hold invalid UTF-8; replacing it keeps the message
    // deliverable.
    const std::string text = message.dump(-1, ' ', false, json::error_handler_t::replace);
    return {text.begin(), text.end()};
}

json text_json(const std::optional<libi18n::i18n_msg>& message) {
    if (!message) return nullptr;
    return json{{"key", message->key}, {"text", message->text}};
}

// A plain std::exception has no translation key: the host shows the text as it is.
libi18n::i18n_msg untranslated(const std::exception& error) { return {"", error.what()}; }

// JSON has no NaN or infinity; such a value travels as null.
json number_json(double value) {
    if (!std::isfinite(value)) return nullptr;
    return value;
}

json limit_json(const std::optional<double>& limit) {
    if (!limit) return nullptr;
    return number_json(*limit);
}

}  // namespace

vexa_message::~vexa_message() = default;

sensor_scan_result::sensor_scan_result(int sensor_id, std::shared_ptr<channel_map> channels)
    : sensor_id_(sensor_id), channels_(std::move(channels)) {}

sensor_scan_result::sensor_scan_result(int sensor_id, const libi18n::i18n_exception& error)
    : sensor_id_(sensor_id),
      message_(error.get_i18n_msg()),
      response_code_(scan_response_codes::error) {}

sensor_scan_result::sensor_scan_result(int sensor_id, const std::exception& error)
    : sensor_id_(sensor_id),
      message_(untranslated(error)),
      response_code_(scan_response_codes::error) {}

void sensor_scan_result::put(int channel_id, channel_value value) {
    if (channels_ && !channels_->is_defined(channel_id)) {
        throw utils::exceptions::channel_not_defined(channel_id);
    }
    for (auto& entry : values_) {
        if (entry.first == channel_id) {
            entry.second = value;
            return;
        }
    }
    values_.emplace_back(channel_id, value);
}

sensor_scan_result& sensor_scan_result::set_value(int channel_id, double value) {
    put(channel_id, value);
    return *this;
}

sensor_scan_result& sensor_scan_result::set_value(int channel_id, long long value) {
    put(channel_id, value);
    return *this;
}

sensor_scan_result& sensor_scan_result::set_response_message(const libi18n::i18n_msg& message) {
    message_ = message;
    return *this;
}

sensor_scan_result& sensor_scan_result::set_response_code(scan_response_codes code) {
    response_code_ = code;
    return *this;
}

sensor_scan_result& sensor_scan_result::set_error_code(int code) {
    error_code_ = code;
    return *this;
}

sensor_scan_result& sensor_scan_result::set_system_reset(bool reset) {
    system_reset_ = reset;
    return *this;
}

std::vector<char> sensor_scan_result::serialize() const {
    json channels = json::array();
    for (const auto& [id, value] : values_) {
        json channel{{"id", id}};
        if (const auto* integer = std::get_if<long long>(&value)) {
            channel["kind"] = "integer";
            channel["value"] = *integer;
        } else {
            channel["kind"] = "float";
            channel["value"] = number_json(std::get<double>(value));
        }
        channels.push_back(std::move(channel));
    }
    return to_bytes(json{{"type", "sensor_scan_result"},
                         {"sensor_id", sensor_id_},
                         {"response_code", static_cast<int>(response_code_)},
                         {"error_code", error_code_},
                         {"message", text_json(message_)},
                         {"system_reset", system_reset_},
                         {"channels", std::move(channels)}});
}

meta_scan_result::meta_scan_result(int sensor_id, unsigned int request)
    : sensor_id_(sensor_id), request_(request) {}

meta_scan_result::meta_scan_result(int sensor_id, unsigned int request,
                                   const libi18n::i18n_exception& error)
    : sensor_id_(sensor_id),
      request_(request),
      message_(error.get_i18n_msg()),
      response_code_(scan_response_codes::metascan_error) {}

meta_scan_result::meta_scan_result(int sensor_id, unsigned int request, const std::exception& error)
    : sensor_id_(sensor_id),
      request_(request),
      message_(untranslated(error)),
      response_code_(scan_response_codes::metascan_error) {}

meta_scan_result& meta_scan_result::add_entry(
    const libi18n::i18n_msg& display_name,
    const std::unordered_map<std::string, std::string>& values) {
    entries_.push_back({display_name, values});
    return *this;
}

meta_scan_result& meta_scan_result::response(const scan_response_codes& code) {
    response_code_ = code;
    return *this;
}

std::vector<char> meta_scan_result::serialize() const {
    json entries = json::array();
    for (const auto& e : entries_) {
        // Sorted by setting name, so equal results serialise to equal bytes.
        json values = json::object();
        for (const auto& [name, value] :
             std::map<std::string, std::string>(e.values.begin(), e.values.end())) {
            values[name] = value;
        }
        entries.push_back(
            json{{"display_name", text_json(e.display_name)}, {"values", std::move(values)}});
    }
    return to_bytes(json{{"type", "meta_scan_result"},
                         {"sensor_id", sensor_id_},
                         {"request", request_},
                         {"response_code", static_cast<int>(response_code_)},
                         {"message", text_json(message_)},
                         {"entries", std::move(entries)}});
}

check_result::check_result(int sensor_id) : sensor_id_(sensor_id) {}

check_result& check_result::set_success(bool success) {
    success_ = success;
    return *this;
}

check_result& check_result::set_message(const libi18n::i18n_msg& message) {
    message_ = message;
    return *this;
}

std::vector<char> check_result::serialize() const {
    return to_bytes(json{{"type", "check_result"},
                         {"sensor_id", sensor_id_},
                         {"success", success_},
                         {"message", text_json(message_)}});
}

dynamic_channel::dynamic_channel(int sensor_id, dynamic_channel_options options)
    : sensor_id_(sensor_id), options_(std::move(options)) {}

std::vector<char> dynamic_channel::serialize() const {
    const auto& o = options_;
    json channel{{"channel_id", o.channel_id},
                 {"key", o.key},
                 {"display_name", o.display_name},
                 {"value_type", o.value_type},
                 {"unit", o.unit},
                 {"custom_unit", o.custom_unit},
                 {"reserved_1", o.reserved_1},
                 {"reserved_2", o.reserved_2},
                 {"size_unit", o.size_unit},
                 {"is_hidden", o.is_hidden},
                 {"show_chart", o.show_chart},
                 {"show_table", o.show_table},
                 {"reserved_3", o.reserved_3},
                 {"reserved_4", o.reserved_4},
                 {"limits_enabled", o.limits_enabled},
                 {"lower_warning_limit", limit_json(o.lower_warning_limit)},
                 {"upper_warning_limit", limit_json(o.upper_warning_limit)},
                 {"lower_error_limit", limit_json(o.lower_error_limit)},
                 {"upper_error_limit", limit_json(o.upper_error_limit)},
                 {"warning_limit_message", o.warning_limit_message},
                 {"error_limit_message", o.error_limit_message},
                 {"lookup_name", o.lookup_name},
                 {"notify_changed", o.notify_changed},
                 {"factor", number_json(o.factor)}};
    return to_bytes(json{
        {"type", "dynamic_channel"}, {"sensor_id", sensor_id_}, {"channel", std::move(channel)}});
}

persistent_data::persistent_data(int sensor_id, std::string key, std::string value)
    : sensor_id_(sensor_id), key_(std::move(key)), value_(std::move(value)) {}

std::vector<char> persistent_data::serialize() const {
    return to_bytes(json{
        {"type", "persistent_data"}, {"sensor_id", sensor_id_}, {"key", key_}, {"value", value_}});
}

metascan_progress::metascan_progress(int sensor_id, unsigned int request, int progress,
                                     const std::string& text)
    : sensor_id_(sensor_id), request_(request), progress_(progress), text_(text) {}

std::vector<char> metascan_progress::serialize() const {
    return to_bytes(json{{"type", "metascan_progress"},
                         {"sensor_id", sensor_id_},
                         {"request", request_},
                         {"progress", progress_},
                         {"text", text_}});
}

module_information_message::module_information_message(const std::string& document,
                                                       bool include_text)
    : document_(document), include_text_(include_text) {}

std::vector<char> module_information_message::serialize() const {
    json document = json::parse(document_, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        throw utils::exceptions::message_serialization_failed();
    }
    if (!include_text_) document.erase("Text");
    return to_bytes(json{{"type", "module_information"},
                         {"include_text", include_text_},
                         {"document", std::move(document)}});
}

sensor_create_error::sensor_create_error(int sensor_id, int response_code,
                                         const libi18n::i18n_msg& message)
    : sensor_id_(sensor_id), response_code_(response_code), message_(message) {}

std::vector<char> sensor_create_error::serialize() const {
    return to_bytes(json{{"type", "sensor_create_error"},
                         {"sensor_id", sensor_id_},
                         {"response_code", response_code_},
                         {"message", text_json(message_)}});
}

}  // namespace libvexahelper
