#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "framework/sensor_base.hpp"
#include "framework/settings.hpp"
#include "libwql/wql_query.hpp"
#include "libwql/wsman_client.hpp"
#include "sensors/counter_arithmetic.hpp"

namespace wmi {

// Load of one processor row over the interval since the previous scan. Lives for the handling
// of one row: built with the previous sample, updated once, then finished, which hands the
// current sample (or none) to the store callback.
class processor_cpu_load {
public:
    using sample = counters::processor_sample;
    using store_callback = std::function<void(const std::optional<sample>&)>;

    processor_cpu_load(store_callback store, std::optional<sample> previous);
    processor_cpu_load(const processor_cpu_load&) = delete;
    processor_cpu_load& operator=(const processor_cpu_load&) = delete;
    // Stores once if finish() did not; a failure to store is swallowed here, so call finish()
    // on the normal path to see it.
    ~processor_cpu_load();

    // Load in percent [0, 100], or none when this row cannot be compared with the previous.
    std::optional<double> update(const libwql::wql_query_row& row);
    // Stores the current sample exactly once.
    void finish();

    // The sample a row carries, if valid; "Name" must be present (the query selects it).
    static std::optional<sample> sample_of(const libwql::wql_query_row& row);

private:
    store_callback store_;
    std::optional<sample> previous_;
    std::optional<sample> current_;
    bool stored_ = false;
};

// Load of every processor of the target in percent: channel 0 the "_Total" row, one channel
// per processor, numbered from 1 in the order processors first yield a value.
class cpu_load_sensor : public libvexahelper::sensors::sensor_base<settings::cpu_load_sensor> {
public:
    cpu_load_sensor(std::shared_ptr<libvexahelper::service_container> container, int id,
                    settings::cpu_load_sensor settings, std::map<int, std::string> channels,
                    std::map<std::string, std::string> persistent);
    void work() override;

    // Persistent data keys of a processor's sample.
    static std::string percent_key(const std::string& name);
    static std::string timestamp_key(const std::string& name);

private:
    std::optional<counters::processor_sample> load_previous(const std::string& name);
    void store_sample(const std::string& name, const std::optional<counters::processor_sample>& s);
    int channel_id_of(const std::string& name);

    std::shared_ptr<libwql::wsman_client_interface> client_;
};

}  // namespace wmi
