// A scripted module for the probe's tests: the ten exports of the host protocol with one check,
// one meta-scan and one sensor whose answers the settings choose. It lets the tests reach
// the probe's exit codes, counters and state file before the real sensors exist.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using json = nlohmann::ordered_json;
using callback_t = void (*)(std::uint64_t, void*, unsigned int);

struct fake_state {
    std::uint64_t context = 0;
    callback_t callback = nullptr;
    // sensor id -> scans so far and the outcome chosen at create
    std::map<int, std::pair<long long, int>> sensors;
};
std::mutex state_mutex;
fake_state* module = nullptr;

const char* const group_prefix = "fake_section.fake_group.";

json setting(const char* name, const char* fallback) {
    return {{"Setting",
             {{"Name", name},
              {"Display", name},
              {"Help", ""},
              {"Default", fallback},
              {"Text", json::object()},
              {"Flags", json::array()}}}};
}

json document() {
    json text_english = {
        {"fake_sensor.display", {{"Display", "Fake Sensor"}}},
        {"fake_sensor.description", {{"Display", "Counts its scans"}}},
        {"channel.traffic", {{"Display", "Traffic"}}},
        {"channel.state", {{"Display", "State"}}},
        {"channel.load", {{"Display", "Load %%"}}},
        {"lookup.fake_state.1", {{"Display", "Running"}}},
        {"lookup.fake_state.2", {{"Display", "Stopped"}}},
        {"error.fake", {{"Display", "Target %0:s refused"}}},
    };
    json text_german = {
        {"fake_sensor.display", {{"Display", "Attrappensensor"}}},
        {"channel.traffic", {{"Display", "Datenverkehr"}}},
        {"lookup.fake_state.1", {{"Display", "Wird ausgeführt"}}},
        {"error.fake", {{"Display", "Ziel %0:s hat abgelehnt"}}},
    };
    return {
        {"MetaData", {{"Name", "fake"}, {"Display", "Fake"}, {"Version", "0.0.0.1"}}},
        {"Sensors",
         {{"fake_sensor",
           {{"Name", "fake_sensor"},
            {"Display", "Fake Sensor"},
            {"Description", "Counts its scans"},
            {"FirstMetaStep", "fake_metascan"},
            {"Settings", {{"Sections", {"fake_section"}}}}}},
          {"absent_sensor",
           {{"Name", "absent_sensor"},
            {"Display", "Absent"},
            {"Settings", {{"Sections", {"fake_section"}}}}}}}},
        {"Sections",
         {{"fake_section",
           {{"Name", "fake_section"}, {"Display", "Fake"}, {"Groups", {"fake_group"}}}},
          {"found_section",
           {{"Name", "found_section"}, {"Display", "Found"}, {"Groups", {"found_group"}}}}}},
        {"Groups",
         {{"fake_group",
           {{"Name", "fake_group"}, {"Items", {setting("outcome", "0"), setting("password", "")}}}},
          {"found_group", {{"Name", "found_group"}, {"Items", {setting("name", "")}}}}}},
        {"Revision", 1},
        {"MetaScans",
         {{"fake_metascan",
           {{"Name", "fake_metascan"},
            {"Section", "found_section"},
            {"Sections", {"fake_section"}}}}}},
        {"Checks", {{"fake_check", {{"Name", "fake_check"}, {"Sections", {"fake_section"}}}}}},
        {"Lookups",
         {{"fake_state",
           {{"Name", "fake_state"},
            {"LookupValues",
             {{{"Name", "running"},
               {"Display", "Running"},
               {"Value", 1},
               {"State", "LookupValueStateOk"}},
              {{"Name", "stopped"},
               {"Display", "Stopped"},
               {"Value", 2},
               {"State", "LookupValueStateError"}}}}}}}},
        {"Text",
         {{"English", {{"Translation", text_english}}},
          {"German", {{"Translation", text_german}}}}},
    };
}

void send(const json& message) {
    const std::string bytes = message.dump();
    module->callback(module->context, const_cast<char*>(bytes.data()),
                     static_cast<unsigned int>(bytes.size()));
}

json text(const std::string& key, const std::string& english) {
    return {{"key", key}, {"text", english}};
}

json channel(int id, const std::string& key, unsigned value_type, unsigned unit,
             const std::string& lookup, bool limits) {
    json c = {{"channel_id", id},
              {"key", key},
              {"display_name", ""},
              {"value_type", value_type},
              {"unit", unit},
              {"custom_unit", ""},
              {"limits_enabled", limits},
              {"lower_warning_limit", nullptr},
              {"upper_warning_limit", limits ? json(50.0) : json()},
              {"lower_error_limit", nullptr},
              {"upper_error_limit", limits ? json(90.0) : json()},
              {"lookup_name", lookup},
              {"factor", 1.0}};
    return c;
}

std::string setting_of(const json& document, const std::string& name) {
    const auto& settings = document.value("settings", json::object());
    return settings.value(std::string(group_prefix) + name, std::string());
}

}  // namespace

FAKE_EXPORT int GetApiLevel() { return 6; }

FAKE_EXPORT int InitializeModule(std::uint64_t context, callback_t callback) {
    if (module != nullptr || callback == nullptr) return 1;
    module = new fake_state{context, callback, {}};
    return 0;
}

FAKE_EXPORT void GetModuleInformation(bool) {}

FAKE_EXPORT int GetModuleInformationSync(char* buffer, unsigned int* size, bool include_text) {
    if (size == nullptr) return 1;
    if (module == nullptr) return 2;
    const std::string bytes = json{
        {"type", "module_information"},
        {"include_text", include_text},
        {"document", document()}}.dump();
    const unsigned int capacity = *size;
    *size = static_cast<unsigned int>(bytes.size());
    if (buffer == nullptr) return 0;
    if (capacity < bytes.size()) return 1;
    bytes.copy(buffer, bytes.size());
    return 0;
}

FAKE_EXPORT int CreateSensorInstance(int id, const void* data, unsigned int size) {
    if (module == nullptr) return 3;
    const auto* bytes = static_cast<const char*>(data);
    const json doc = json::parse(bytes, bytes + size);
    if (doc.at("kind") != "fake_sensor") {
        send({{"type", "sensor_create_error"},
              {"sensor_id", id},
              {"response_code", 1},
              {"message", text("", "Unknown kind")}});
        return 1;
    }
    if (doc.at("settings").value("found_section.found_group.name", "").empty()) {
        send({{"type", "sensor_create_error"},
              {"sensor_id", id},
              {"response_code", 6},
              {"message", text("", "Setting name is required.")}});
        return 6;
    }
    std::lock_guard lock(state_mutex);
    const auto& persistent = doc.value("persistent_data", json::object());
    const long long scans = std::stoll(persistent.value("scans", std::string("0")));
    module->sensors[id] = {scans, std::stoi(setting_of(doc, "outcome"))};
    const auto& known = doc.value("channels", json::object());
    const json channels[] = {channel(0, "channel.traffic", 2, 1, "", false),
                             channel(1, "channel.state", 1, 0, "fake_state", false),
                             channel(2, "channel.load", 3, 5, "", true)};
    for (const auto& c : channels) {
        if (!known.contains(std::to_string(c.at("channel_id").get<int>()))) {
            send({{"type", "dynamic_channel"}, {"sensor_id", id}, {"channel", c}});
        }
    }
    return 0;
}

FAKE_EXPORT int DestroySensorInstance(int id) {
    if (module == nullptr) return 3;
    std::lock_guard lock(state_mutex);
    return module->sensors.erase(id) == 1 ? 0 : 8;
}

FAKE_EXPORT int ExecuteSensorScan(int id) {
    if (module == nullptr) return 3;
    std::lock_guard lock(state_mutex);
    const auto sensor = module->sensors.find(id);
    if (sensor == module->sensors.end()) return 8;
    const long long scans = ++sensor->second.first;
    send({{"type", "persistent_data"},
          {"sensor_id", id},
          {"key", "scans"},
          {"value", std::to_string(scans)}});
    const int outcome = sensor->second.second;
    json result = {{"type", "sensor_scan_result"}, {"sensor_id", id},
                   {"response_code", outcome},     {"error_code", 0},
                   {"message", nullptr},           {"system_reset", false},
                   {"channels", json::array()}};
    if (outcome == 3) {
        result["message"] = text("#:error.fake[10.0.0.1]", "Target 10.0.0.1 refused");
    } else {
        result["channels"] = {{{"id", 0}, {"kind", "integer"}, {"value", 1000 * scans}},
                              {{"id", 1}, {"kind", "integer"}, {"value", 1}},
                              {{"id", 2}, {"kind", "float"}, {"value", 95.5}}};
    }
    send(result);
    return 0;
}

FAKE_EXPORT int ExecuteMetaScan(int id, unsigned int request, const void* data, unsigned int size) {
    if (module == nullptr) return 3;
    const auto* bytes = static_cast<const char*>(data);
    const json doc = json::parse(bytes, bytes + size);
    if (doc.at("kind") != "fake_metascan") return 1;
    send({{"type", "metascan_progress"},
          {"sensor_id", id},
          {"request", request},
          {"progress", 50},
          {"text", "halfway"}});
    if (setting_of(doc, "outcome") == "3") {
        send({{"type", "meta_scan_result"},
              {"sensor_id", id},
              {"request", request},
              {"response_code", 5},
              {"message", text("", "Discovery refused")},
              {"entries", json::array()}});
        return 0;
    }
    send({{"type", "meta_scan_result"},
          {"sensor_id", id},
          {"request", request},
          {"response_code", 0},
          {"message", nullptr},
          {"entries", {{{"display_name", text("", "Disk C:")}, {"values", {{"name", "C:"}}}}}}});
    return 0;
}

FAKE_EXPORT int ExecuteCheck(int id, const void* data, unsigned int size) {
    if (module == nullptr) return 3;
    const auto* bytes = static_cast<const char*>(data);
    const json doc = json::parse(bytes, bytes + size);
    if (doc.at("kind") != "fake_check") return 1;
    const std::string host = doc.at("settings").value("host", "");
    if (host == "silent.example") return 0;  // claims to have run, sends nothing
    const bool ok = host == "good.example";
    send({{"type", "check_result"},
          {"sensor_id", id},
          {"success", ok},
          {"message", ok ? json() : text("", "The target did not answer")}});
    return ok ? 0 : 7;
}

FAKE_EXPORT int CleanupModule() {
    delete module;
    module = nullptr;
    return 0;
}
