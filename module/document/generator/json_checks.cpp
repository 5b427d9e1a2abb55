#include "json_checks.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "document_builder.hpp"

namespace wmi::document::generator {

using nlohmann::json;

where::where(std::string file) : text_(std::move(file) + ":") {}

where::where(const where& parent, const std::string& what, const std::string& name)
    : text_(parent.text_ + (parent.nested_ ? ", " : " ") + what + " '" + name + "'"),
      nested_(true) {}

void where::fail(const std::string& problem) const {
    throw data_error(text_ + (nested_ ? ": " : " ") + problem);
}

const json& member(const json& object, const char* name, const where& at) {
    if (!object.is_object()) at.fail("must be a JSON object");
    const auto found = object.find(name);
    if (found == object.end()) at.fail(std::string("lacks member '") + name + "'");
    return *found;
}

std::string string_member(const json& object, const char* name, const where& at,
                          bool may_be_empty) {
    const json& value = member(object, name, at);
    if (!value.is_string()) at.fail(std::string("member '") + name + "' must be a string");
    auto text = value.get<std::string>();
    if (text.empty() && !may_be_empty) at.fail(std::string("member '") + name + "' is empty");
    return text;
}

std::vector<std::string> string_list(const json& object, const char* name, const where& at,
                                     bool may_be_empty) {
    const json& value = member(object, name, at);
    if (!value.is_array()) at.fail(std::string("member '") + name + "' must be an array");
    std::vector<std::string> items;
    for (const auto& item : value) {
        if (!item.is_string() || item.get<std::string>().empty()) {
            at.fail(std::string("member '") + name + "' must hold non-empty strings");
        }
        const auto text = item.get<std::string>();
        if (std::find(items.begin(), items.end(), text) != items.end()) {
            at.fail(std::string("member '") + name + "' lists '" + text + "' twice");
        }
        items.push_back(text);
    }
    if (items.empty() && !may_be_empty) at.fail(std::string("member '") + name + "' is empty");
    return items;
}

long long integer_member(const json& object, const char* name, const where& at) {
    const json& value = member(object, name, at);
    if (!value.is_number_integer())
        at.fail(std::string("member '") + name + "' must be an integer");
    return value.get<long long>();
}

const json& array_member(const json& object, const char* name, const where& at) {
    const json& value = member(object, name, at);
    if (!value.is_array() || value.empty()) {
        at.fail(std::string("member '") + name + "' must be a non-empty array");
    }
    return value;
}

void require_one_of(const std::string& value, const std::set<std::string>& allowed,
                    const std::string& what, const where& at) {
    if (allowed.count(value) == 0) at.fail(what + " '" + value + "' is not a known value");
}

void require_known(const std::string& name, const std::set<std::string>& known,
                   const std::string& what, const where& at) {
    if (known.count(name) == 0)
        at.fail("refers to " + what + " '" + name + "', which is not defined");
}

void require_identifier(const std::string& name, const where& at) {
    const bool ok = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    });
    if (!ok) at.fail("name '" + name + "' must be lower_snake_case");
}

named_entry entry_named(const json& entry, const where& file_at, const std::string& what,
                        const nlohmann::ordered_json& defined) {
    auto name = string_member(entry, "Name", file_at);
    where at(file_at, what, name);
    require_identifier(name, at);
    if (defined.contains(name)) at.fail("is defined twice");
    return {std::move(name), std::move(at)};
}

namespace {

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw data_error(path.string() + ": cannot be read");
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace

json load_json_file(const std::filesystem::path& path) {
    const auto content = read_file(path);
    // One set of member names per open object; a repeated name is reported, not overwritten.
    std::vector<std::set<std::string>> open_objects;
    std::string duplicate;
    json::parser_callback_t check = [&](int, json::parse_event_t event, json& parsed) {
        if (event == json::parse_event_t::object_start) {
            open_objects.emplace_back();
        } else if (event == json::parse_event_t::object_end && !open_objects.empty()) {
            open_objects.pop_back();
        } else if (event == json::parse_event_t::key && !open_objects.empty() &&
                   !open_objects.back().insert(parsed.get<std::string>()).second &&
                   duplicate.empty()) {
            duplicate = parsed.get<std::string>();
        }
        return true;
    };
    json parsed;
    try {
        parsed = json::parse(content, check);
    } catch (const json::exception& e) {
        throw data_error(path.string() + ": not valid JSON: " + e.what());
    }
    if (!duplicate.empty())
        throw data_error(path.string() + ": member '" + duplicate + "' appears twice");
    return parsed;
}

}  // namespace wmi::document::generator
