#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <limits>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "serve_config.hpp"
#include "serve_http.hpp"
#include "serve_log.hpp"
#include "session.hpp"

namespace wmiprobe {

// The long-running host: scans every configured and discovered sensor at its interval on a
// bounded pool of threads, keeps each sensor's channels, persistent data and counter baselines
// in a state file of its own, and shows the latest results as metrics and a status page.
class serve_host {
public:
    // Resolves every kind and setting of `config` against the module's catalogue and reads the
    // passwords; throws config_error naming the line of a mistake. Nothing runs yet.
    serve_host(session& s, const serve_config& config, std::filesystem::path state_dir,
               serve_log& log);
    ~serve_host();
    serve_host(const serve_host&) = delete;
    serve_host& operator=(const serve_host&) = delete;

    void start();
    // Stops scheduling, waits for the scans in flight, destroys every sensor and saves its
    // state. Idempotent; the destructor calls it.
    void stop();

    // GET /metrics, GET / and 404 for anything else.
    http_answer answer(const std::string& method, const std::string& target);
    std::string metrics();
    std::string status_page();

private:
    using clock = std::chrono::steady_clock;
    struct target_entry;
    struct sensor_slot;
    struct discovery_slot;
    struct job {
        sensor_slot* sensor = nullptr;
        discovery_slot* discovery = nullptr;
        bool destroy = false;
    };

    sensor_slot& add_sensor(const target_entry& target, const kind_entry& kind,
                            const std::string& instance,
                            std::map<std::string, std::string> settings, double interval_s,
                            clock::time_point first);
    // `base` plus a random delay of up to `jitter` of the interval, and at most `most_s`.
    clock::time_point jittered(clock::time_point base, double interval_s,
                               double most_s = std::numeric_limits<double>::infinity());
    void schedule_loop();
    void work_loop();
    void run_sensor(sensor_slot& slot);
    void run_discovery(discovery_slot& slot);
    void destroy_sensor(sensor_slot& slot);
    void save(sensor_slot& slot);

    session& s_;
    serve_log& log_;
    std::filesystem::path state_dir_;
    int workers_wanted_;
    double jitter_;
    nlohmann::json lookups_;

    std::list<target_entry> targets_;
    std::list<discovery_slot> discoveries_;
    std::list<std::unique_ptr<sensor_slot>> sensors_;

    std::mutex mutex_;
    std::condition_variable schedule_cv_;
    std::condition_variable work_cv_;
    std::deque<job> queue_;
    bool stopping_ = false;
    bool started_ = false;
    bool stopped_ = false;
    int next_sensor_id_ = 1;
    unsigned int next_request_ = 1;
    std::atomic<int> in_flight_{0};
    std::mt19937 random_;
    std::thread scheduler_;
    std::vector<std::thread> workers_;
};

}  // namespace wmiprobe
