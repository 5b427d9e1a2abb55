#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "libvexahelper/export.hpp"
#include "libvexahelper/sensor_interface.hpp"

namespace libvexahelper {

// The live sensors by id. Each id has a slot whose mutex serialises every call for that id;
// the stock's own mutex is held only to find, reserve or drop a slot, never while a sensor
// runs, so different ids work in parallel.
class VEXAHELPER_API sensor_stock {
public:
    struct slot {
        std::mutex mutex;
        // Null while the sensor is being built, after a failed build and after destroy.
        std::shared_ptr<sensors::sensor_interface> sensor;
    };

    sensor_stock() = default;
    sensor_stock(const sensor_stock&) = delete;
    sensor_stock& operator=(const sensor_stock&) = delete;
    ~sensor_stock();

    // Fills the slot reserved for id, or makes one. Throws sensor_already_registered when the
    // id already holds a sensor.
    void add_sensor(int id, const std::shared_ptr<sensors::sensor_interface>& sensor);

    // A new, locked slot for id (the caller owns the lock), or null when the id is taken.
    std::shared_ptr<slot> reserve(int id, std::unique_lock<std::mutex>& lock);
    // The slot of id, or null.
    std::shared_ptr<slot> find(int id) const;
    // Drops the slot if it is still the one stored for id.
    void release(int id, const std::shared_ptr<slot>& s);

    std::size_t size() const;
    std::vector<int> ids() const;

private:
    mutable std::mutex mutex_;
    std::map<int, std::shared_ptr<slot>> slots_;
};

}  // namespace libvexahelper
