#include "serve_host.hpp"

#include <cmath>
#include <cstdio>
#include <regex>
#include <set>
#include <tuple>

#include "scan_view.hpp"
#include "serve_metrics.hpp"
#include "state_file.hpp"

namespace wmiprobe {

namespace {

// Ids of meta-scan calls; kept apart from sensor ids so a log line names one thing.
constexpr int first_discovery_id = 1'000'000;

// A new sensor's first scan is spread like the others but never waits longer than this, so a
// sensor of a long interval shows values soon after the start.
constexpr double first_scan_spread_s = 10.0;

double unix_seconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t unix_us() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string seconds_text(double seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", seconds);
    return buffer;
}

// The first message of `type` an export call sent.
std::optional<nlohmann::json> first_of(const call_outcome& outcome, const std::string& type) {
    for (const auto& message : outcome.messages) {
        if (message.value("type", "") == type) return message;
    }
    return std::nullopt;
}

// A readable, stable file name for one sensor's state: the label values with everything but
// [a-z0-9_] folded, plus a hash of the exact values so two instances that fold alike stay apart.
std::string state_file_name(const std::string& target, const std::string& kind,
                            const std::string& instance) {
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a, 64 bit
    for (const char c : target + '\0' + kind + '\0' + instance) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "-%016llx.json", static_cast<unsigned long long>(hash));
    std::string name = metric_name(target) + "." + metric_name(kind);
    if (!instance.empty()) name += "." + metric_name(instance).substr(0, 64);
    return name + suffix;
}

// The instance an entry names: the one argument of its display name's key ("C:\" of "WMI
// Volume v2: C:\"), so the label carries what tells entries apart; else the whole text.
std::string instance_name(const nlohmann::json& display_name) {
    if (display_name.is_object()) {
        const auto decoded = decode_key(display_name.value("key", ""));
        if (decoded && decoded->arguments.size() == 1 && !decoded->arguments[0].empty()) {
            return decoded->arguments[0];
        }
        return display_name.value("text", "");
    }
    return display_name.is_string() ? display_name.get<std::string>() : "";
}

}  // namespace

struct serve_host::target_entry {
    std::string name;
    target_options options;
    std::string authentication;
};

struct channel_sample {
    std::string family;
    std::string help;
    label_set extra_labels;
    double value = 0;
};

struct serve_host::sensor_slot {
    int id = 0;
    const target_entry* target = nullptr;
    const kind_entry* kind = nullptr;
    std::string instance;
    std::map<std::string, std::string> settings;
    double interval_s = 60;
    std::filesystem::path state_path;

    // Owned by the worker that runs the slot's job (busy).
    sensor_state state;
    std::unique_ptr<sensor_view> view;
    bool created = false;

    // Under mutex_.
    clock::time_point base;
    clock::time_point due;
    bool busy = false;
    bool retired = false;
    bool in_module = false;  // `created` as last published
    bool scanned = false;
    bool up = false;
    int response_code = 0;
    std::string message;
    double duration_s = 0;
    std::optional<double> last_success;
    std::uint64_t scans = 0;
    std::uint64_t skipped = 0;
    std::vector<channel_sample> channels;
};

struct serve_host::discovery_slot {
    int id = 0;
    const target_entry* target = nullptr;
    const kind_entry* metascan = nullptr;
    const kind_entry* sensor = nullptr;
    std::regex pattern;
    std::map<std::string, std::string> settings;
    std::map<std::string, std::string> sensor_settings;
    double interval_s = 60;
    double rediscover_s = 3600;

    // Under mutex_.
    clock::time_point base;
    clock::time_point due;
    bool busy = false;
    bool ran = false;
    bool up = false;
    std::string message;
    std::map<std::string, sensor_slot*> children;
};

serve_host::serve_host(session& s, const serve_config& config, std::filesystem::path state_dir,
                       serve_log& log)
    : s_(s),
      log_(log),
      state_dir_(std::move(state_dir)),
      workers_wanted_(config.workers),
      jitter_(config.jitter),
      lookups_(s.lookups()),
      random_(std::random_device{}()) {
    const auto& catalogue = s_.catalogue();
    const auto at = [&](int line, const std::string& what) {
        return config_error(config.origin + ":" + std::to_string(line) + ": " + what);
    };
    const auto find = [&](kind_role role, const std::string& name, int line) -> const kind_entry& {
        try {
            return catalogue.find(role, name);
        } catch (const usage_error& e) {
            throw at(line, e.what());
        }
    };
    const auto settings_of = [&](const kind_entry& kind, const target_entry& target,
                                 const std::map<std::string, std::string>& extra, int line) {
        std::vector<std::string> assignments{std::string(credentials_prefix) +
                                             "mode=" + target.authentication};
        for (const auto& [key, value] : extra) assignments.push_back(key + "=" + value);
        try {
            return build_settings(catalogue, kind, target.options, assignments);
        } catch (const usage_error& e) {
            throw at(line, e.what());
        }
    };

    const auto now = clock::now();
    std::set<std::tuple<std::string, std::string, std::string>> seen;
    for (const auto& target_config : config.targets) {
        auto& target = targets_.emplace_back();
        target.name = target_config.name;
        target.options.host = target_config.host;
        target.options.port = target_config.port;
        target.options.https = target_config.https;
        target.options.domain = target_config.domain;
        target.options.user = target_config.user;
        try {
            target.options.password = target_password(target_config);
        } catch (const config_error& e) {
            throw at(target_config.line, e.what());
        }
        target.authentication = target_config.authentication;

        for (const auto& sensor : target_config.sensors) {
            const auto& kind = find(kind_role::sensor, sensor.kind, sensor.line);
            if (!seen.emplace(target.name, kind.name, sensor.instance).second) {
                throw at(sensor.line, "a second " + kind.name + " on target '" + target.name +
                                          "' with the same instance; give each an instance");
            }
            auto settings = settings_of(kind, target, sensor.settings, sensor.line);
            settings["interval"] = std::to_string(std::max(1L, std::lround(sensor.interval_s)));
            add_sensor(target, kind, sensor.instance, std::move(settings), sensor.interval_s,
                       jittered(now, sensor.interval_s, first_scan_spread_s));
        }
        for (const auto& discovery : target_config.discoveries) {
            const auto& sensor = find(kind_role::sensor, discovery.sensor, discovery.line);
            if (!sensor.first_meta_step || !sensor.discovered_section) {
                throw at(discovery.line,
                         sensor.name + " needs no discovery; list it as [[target.sensor]]");
            }
            auto& slot = discoveries_.emplace_back();
            slot.id = first_discovery_id + static_cast<int>(discoveries_.size());
            slot.target = &target;
            slot.metascan = &find(kind_role::metascan, *sensor.first_meta_step, discovery.line);
            slot.sensor = &sensor;
            slot.pattern = std::regex(discovery.match);
            slot.settings = settings_of(*slot.metascan, target, {}, discovery.line);
            slot.sensor_settings = settings_of(sensor, target, discovery.settings, discovery.line);
            slot.sensor_settings["interval"] =
                std::to_string(std::max(1L, std::lround(discovery.interval_s)));
            slot.interval_s = discovery.interval_s;
            slot.rediscover_s = discovery.rediscover_s;
            slot.base = slot.due = now;
        }
    }
}

serve_host::~serve_host() { stop(); }

serve_host::clock::time_point serve_host::jittered(clock::time_point base, double interval_s,
                                                   double most_s) {
    std::uniform_real_distribution<double> late(0.0, std::min(jitter_ * interval_s, most_s));
    return base + std::chrono::duration_cast<clock::duration>(
                      std::chrono::duration<double>(late(random_)));
}

serve_host::sensor_slot& serve_host::add_sensor(const target_entry& target, const kind_entry& kind,
                                                const std::string& instance,
                                                std::map<std::string, std::string> settings,
                                                double interval_s, clock::time_point first) {
    auto slot = std::make_unique<sensor_slot>();
    slot->id = next_sensor_id_++;
    slot->target = &target;
    slot->kind = &kind;
    slot->instance = instance;
    slot->settings = std::move(settings);
    slot->interval_s = interval_s;
    slot->state_path = state_dir_ / state_file_name(target.name, kind.name, instance);
    slot->base = first;
    slot->due = first;
    sensors_.push_back(std::move(slot));
    return *sensors_.back();
}

void serve_host::start() {
    std::lock_guard lock(mutex_);
    if (started_) return;
    started_ = true;
    std::filesystem::create_directories(state_dir_);
    for (int i = 0; i < workers_wanted_; ++i) {
        workers_.emplace_back([this] { work_loop(); });
    }
    scheduler_ = std::thread([this] { schedule_loop(); });
    log_.info("scheduling " + std::to_string(sensors_.size()) + " sensors and " +
              std::to_string(discoveries_.size()) + " discoveries on " +
              std::to_string(workers_wanted_) + " workers");
}

void serve_host::schedule_loop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const auto now = clock::now();
        auto next = now + std::chrono::seconds(1);
        for (auto& slot : sensors_) {
            if (slot->retired && !slot->busy) {
                slot->busy = true;
                queue_.push_back({slot.get(), nullptr, true});
                continue;
            }
            if (slot->retired) continue;
            if (slot->due <= now) {
                if (slot->busy) {
                    // The previous scan still runs or waits: never queue a second one.
                    ++slot->skipped;
                    log_.debug("skipping a scan of " + slot->kind->name + " on " +
                               slot->target->name + ": the previous one has not finished");
                } else {
                    slot->busy = true;
                    queue_.push_back({slot.get(), nullptr, false});
                }
                const auto interval = std::chrono::duration_cast<clock::duration>(
                    std::chrono::duration<double>(slot->interval_s));
                while (slot->base <= now) slot->base += interval;
                slot->due = jittered(slot->base, slot->interval_s);
            }
            next = std::min(next, slot->due);
        }
        for (auto& slot : discoveries_) {
            if (slot.due <= now) {
                // A discovery still running when the next is due simply runs once.
                if (!slot.busy) {
                    slot.busy = true;
                    queue_.push_back({nullptr, &slot, false});
                }
                const auto interval = std::chrono::duration_cast<clock::duration>(
                    std::chrono::duration<double>(slot.rediscover_s));
                while (slot.base <= now) slot.base += interval;
                slot.due = slot.base;
            }
            next = std::min(next, slot.due);
        }
        if (!queue_.empty()) work_cv_.notify_all();
        schedule_cv_.wait_until(lock, next);
    }
}

void serve_host::work_loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        const job next = queue_.front();
        queue_.pop_front();
        lock.unlock();
        ++in_flight_;
        try {
            if (next.discovery != nullptr) {
                run_discovery(*next.discovery);
            } else if (next.destroy) {
                destroy_sensor(*next.sensor);
            } else {
                run_sensor(*next.sensor);
            }
        } catch (const std::exception& e) {
            log_.error(std::string("a scan job failed unexpectedly: ") + e.what());
        }
        --in_flight_;
        lock.lock();
        if (next.discovery != nullptr) {
            next.discovery->busy = false;
        } else if (next.destroy) {
            sensors_.remove_if([&](const auto& slot) { return slot.get() == next.sensor; });
        } else {
            next.sensor->busy = false;
        }
    }
}

void serve_host::run_sensor(sensor_slot& slot) {
    const std::string what = slot.kind->name + " on " + slot.target->name +
                             (slot.instance.empty() ? "" : " (" + slot.instance + ")");
    if (!slot.view) {
        try {
            slot.state = load_state(slot.state_path);
        } catch (const state_error& e) {
            log_.warn(std::string(e.what()) + "; starting " + what + " afresh");
        }
        if (slot.state.kind != slot.kind->name || slot.state.host != slot.target->options.host) {
            slot.state = {slot.kind->name, slot.target->options.host, {}, {}, {}};
        }
        slot.view = std::make_unique<sensor_view>(lookups_, s_.texts(), slot.state);
    }
    const auto started = clock::now();
    std::optional<std::string> failure;
    scan_report report;
    if (!slot.created) {
        std::map<int, std::string> channels;
        for (const auto& [id, definition] : slot.state.channels) {
            channels[id] = definition.value("key", "");
        }
        const auto outcome = s_.host().create_sensor(
            slot.id, settings_document(slot.kind->name, slot.settings, channels,
                                       slot.state.persistent_data));
        for (const auto& message : outcome.messages) slot.view->take(message);
        if (outcome.code == 0) {
            slot.created = true;
        } else {
            const auto error = first_of(outcome, "sensor_create_error");
            failure = "the sensor could not be created: " +
                      (error ? s_.texts().render_message(error->value("message", nlohmann::json()))
                             : "the module answered " + std::to_string(outcome.code));
        }
    }
    if (slot.created) {
        const auto outcome = s_.host().scan_sensor(slot.id);
        const auto arrived = unix_us();
        for (const auto& message : outcome.messages) slot.view->take(message);
        const auto result = first_of(outcome, "sensor_scan_result");
        if (outcome.code == code_unknown_sensor_id) slot.created = false;
        if (outcome.code != 0 || !result) {
            failure = "the module answered the scan with " + std::to_string(outcome.code) +
                      " and no result";
        } else {
            report = slot.view->report(*result, arrived);
        }
    }
    const double duration = std::chrono::duration<double>(clock::now() - started).count();

    std::vector<channel_sample> channels;
    for (const auto& row : report.rows) {
        const auto known = slot.state.channels.find(row.id);
        if (!row.number || known == slot.state.channels.end()) continue;
        const auto& definition = known->second;
        channel_sample sample;
        sample.family = channel_family(slot.kind->name, definition, row.rate);
        const auto unit = channel_base_unit(definition.value("unit", 7u),
                                            definition.value("custom_unit", ""), row.rate);
        const double factor = definition.value("factor", 1.0);
        sample.value = *row.number * factor * unit.scale;
        sample.help = slot.kind->name + " channel " + definition.value("key", "") +
                      (unit.suffix.empty() ? "" : ", in " + unit.suffix);
        // Channels named with arguments ("Processor 1") share a family and differ by name.
        const auto display = decode_key(definition.value("display_name", ""));
        if (display && !display->arguments.empty()) {
            sample.extra_labels.emplace_back("channel", row.name);
        }
        const std::string lookup = definition.value("lookup_name", "");
        if (!lookup.empty()) {
            const auto state = slot.view->lookup_state(lookup, std::llround(*row.number));
            sample.extra_labels.emplace_back("state", state ? state->first : "unknown");
        }
        channels.push_back(std::move(sample));
    }
    // A result with values (ok, warning or down) is a scan that worked.
    const bool up = !failure && report.response_code <= 2;
    const std::string message = failure ? *failure : report.message;
    try {
        save_state(slot.state_path, slot.state);
    } catch (const state_error& e) {
        log_.error(e.what());
    }

    std::lock_guard lock(mutex_);
    if (up != slot.up || !slot.scanned) {
        if (up) {
            log_.info(what + ": scanning");
        } else {
            log_.warn(what + ": " + message);
        }
    }
    slot.in_module = slot.created;
    slot.scanned = true;
    slot.up = up;
    slot.response_code = failure ? 3 : report.response_code;
    slot.message = message;
    slot.duration_s = duration;
    ++slot.scans;
    if (up) slot.last_success = unix_seconds();
    slot.channels = std::move(channels);
}

void serve_host::run_discovery(discovery_slot& slot) {
    unsigned int request = 0;
    {
        std::lock_guard lock(mutex_);
        request = next_request_++;
    }
    const auto outcome = s_.host().meta_scan(slot.id, request,
                                             settings_document(slot.metascan->name, slot.settings));
    const auto result = first_of(outcome, "meta_scan_result");
    std::string failure;
    if (outcome.code != 0 || !result) {
        failure = "the module answered " + std::to_string(outcome.code);
    } else if (result->value("response_code", 5) != 0) {
        failure = s_.texts().render_message(result->value("message", nlohmann::json()));
    }
    std::map<std::string, std::map<std::string, std::string>> found;
    if (failure.empty()) {
        for (const auto& entry : result->value("entries", nlohmann::json::array())) {
            const auto name = instance_name(entry.value("display_name", nlohmann::json()));
            if (!std::regex_search(name, slot.pattern) || found.count(name) != 0) continue;
            auto settings = slot.sensor_settings;
            for (auto& [key, value] :
                 s_.catalogue().entry_settings(*slot.sensor->discovered_section,
                                               entry.value("values", nlohmann::json::object()))) {
                settings[key] = value;
            }
            found.emplace(name, std::move(settings));
        }
    }

    std::lock_guard lock(mutex_);
    slot.ran = true;
    slot.up = failure.empty();
    slot.message = failure;
    const std::string what = slot.metascan->name + " on " + slot.target->name;
    if (!failure.empty()) {
        // Keep the sensors found before: a target that is briefly away has not lost them.
        log_.warn(what + ": " + failure);
        return;
    }
    const auto now = clock::now();
    for (auto& [name, settings] : found) {
        if (slot.children.count(name) == 0) {
            slot.children[name] =
                &add_sensor(*slot.target, *slot.sensor, name, std::move(settings), slot.interval_s,
                            jittered(now, slot.interval_s, first_scan_spread_s));
        }
    }
    for (auto it = slot.children.begin(); it != slot.children.end();) {
        if (found.count(it->first) == 0) {
            log_.info(what + ": " + it->first + " is gone; its sensor is removed");
            it->second->retired = true;
            it = slot.children.erase(it);
        } else {
            ++it;
        }
    }
    log_.debug(what + ": " + std::to_string(slot.children.size()) + " sensors");
    schedule_cv_.notify_all();
}

void serve_host::destroy_sensor(sensor_slot& slot) {
    if (slot.created) {
        const auto outcome = s_.host().destroy_sensor(slot.id);
        if (outcome.code != 0) {
            log_.warn("destroying " + slot.kind->name + " on " + slot.target->name + " answered " +
                      std::to_string(outcome.code));
        }
        slot.created = false;
        std::lock_guard lock(mutex_);
        slot.in_module = false;
    }
    if (slot.view) save(slot);
}

void serve_host::save(sensor_slot& slot) {
    try {
        save_state(slot.state_path, slot.state);
    } catch (const state_error& e) {
        log_.error(e.what());
    }
}

void serve_host::stop() {
    {
        std::lock_guard lock(mutex_);
        if (!started_ || stopped_) return;
        stopped_ = true;
        stopping_ = true;
        // Scans that have not started never will.
        for (const auto& waiting : queue_) {
            if (waiting.sensor != nullptr) waiting.sensor->busy = false;
            if (waiting.discovery != nullptr) waiting.discovery->busy = false;
        }
        queue_.clear();
    }
    schedule_cv_.notify_all();
    work_cv_.notify_all();
    scheduler_.join();
    for (auto& worker : workers_) worker.join();
    for (auto& slot : sensors_) destroy_sensor(*slot);
    log_.info("stopped: " + std::to_string(sensors_.size()) +
              " sensors destroyed and their state saved");
}

http_answer serve_host::answer(const std::string& method, const std::string& target) {
    const std::string path = target.substr(0, target.find('?'));
    if (method != "GET") {
        return {405, "text/plain; charset=utf-8", "only GET\n"};
    }
    if (path == "/metrics") {
        return {200, "text/plain; version=0.0.4; charset=utf-8", metrics()};
    }
    if (path == "/") {
        return {200, "text/html; charset=utf-8", status_page()};
    }
    return {404, "text/plain; charset=utf-8", "not found\n"};
}

std::string serve_host::metrics() {
    exposition out;
    std::lock_guard lock(mutex_);
    int created = 0;
    for (const auto& slot : sensors_) {
        if (slot->retired) continue;
        const label_set labels{{"target", slot->target->name},
                               {"kind", slot->kind->name},
                               {"instance", slot->instance}};
        created += slot->in_module ? 1 : 0;
        out.add("wmi_sensor_up", "1 when the last scan gave values, 0 when it failed", "gauge",
                labels, slot->up ? 1 : 0);
        out.add("wmi_sensor_skipped_scans_total",
                "scans left out because the previous one had not finished", "counter", labels,
                static_cast<double>(slot->skipped));
        out.add("wmi_sensor_scans_total", "scans run", "counter", labels,
                static_cast<double>(slot->scans));
        if (!slot->scanned) continue;
        out.add("wmi_sensor_response_code",
                "response code of the last scan: 0 ok, 1 warning, 2 down, 3 error", "gauge", labels,
                slot->response_code);
        out.add("wmi_sensor_scan_duration_seconds", "duration of the last scan", "gauge", labels,
                slot->duration_s);
        if (slot->last_success) {
            out.add("wmi_sensor_last_success_timestamp_seconds",
                    "when a scan last gave values, seconds since the Unix epoch", "gauge", labels,
                    *slot->last_success);
        }
        for (const auto& channel : slot->channels) {
            label_set with = labels;
            with.insert(with.end(), channel.extra_labels.begin(), channel.extra_labels.end());
            out.add(channel.family, channel.help, "gauge", with, channel.value);
        }
    }
    for (const auto& slot : discoveries_) {
        const label_set labels{{"target", slot.target->name}, {"kind", slot.metascan->name}};
        if (slot.ran) {
            out.add("wmi_discovery_up", "1 when the last discovery worked", "gauge", labels,
                    slot.up ? 1 : 0);
        }
        out.add("wmi_discovery_sensors", "sensors made from the discovered entries", "gauge",
                labels, static_cast<double>(slot.children.size()));
    }
    out.add("wmi_module_loaded", "1 while the module is loaded and initialized", "gauge", {}, 1);
    out.add("wmi_module_api_level", "the module's API level", "gauge", {}, s_.host().api_level());
    out.add("wmi_module_sensors", "sensors created in the module", "gauge", {}, created);
    out.add("wmi_module_scans_in_flight", "scans and discoveries running now", "gauge", {},
            in_flight_.load());
    out.add("wmi_module_scans_queued", "scans waiting for a worker", "gauge", {},
            static_cast<double>(queue_.size()));
    return out.text();
}

std::string serve_host::status_page() {
    std::string rows;
    int up = 0;
    int total = 0;
    {
        std::lock_guard lock(mutex_);
        for (const auto& slot : sensors_) {
            if (slot->retired) continue;
            ++total;
            up += slot->up ? 1 : 0;
            const std::string status = !slot->scanned ? "waiting" : slot->up ? "up" : "DOWN";
            rows += "<tr><td>" + escape_html(slot->target->name) + "</td><td>" +
                    escape_html(slot->kind->name) + "</td><td>" + escape_html(slot->instance) +
                    "</td><td>" + status + "</td><td>" + seconds_text(slot->duration_s) +
                    "</td><td>" + std::to_string(slot->skipped) + "</td><td>" +
                    escape_html(slot->message) + "</td></tr>\n";
        }
    }
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>wmiprobe serve</title>"
           "</head><body>\n<h1>wmiprobe serve</h1>\n<p>" +
           std::to_string(up) + " of " + std::to_string(total) +
           " sensors up. Metrics: <a href=\"/metrics\">/metrics</a></p>\n"
           "<table border=\"1\">\n<tr><th>target</th><th>kind</th><th>instance</th>"
           "<th>status</th><th>last scan (s)</th><th>skipped</th><th>message</th></tr>\n" +
           rows + "</table>\n</body></html>\n";
}

}  // namespace wmiprobe
