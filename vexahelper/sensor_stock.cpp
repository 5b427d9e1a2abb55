#include "libvexahelper/sensor_stock.hpp"

#include "libvexahelper/exceptions.hpp"

namespace libvexahelper {

namespace sensors {
sensor_interface::~sensor_interface() = default;
}
namespace metascans {
metascan_interface::~metascan_interface() = default;
}
namespace checks {
check_interface::~check_interface() = default;
}

sensor_stock::~sensor_stock() {
    // Sensors are destroyed outside the stock's mutex; their destructors may log or send.
    std::map<int, std::shared_ptr<slot>> slots;
    {
        std::lock_guard lock(mutex_);
        slots.swap(slots_);
    }
    for (auto& [id, s] : slots) {
        std::lock_guard slot_lock(s->mutex);
        s->sensor.reset();
    }
}

void sensor_stock::add_sensor(int id, const std::shared_ptr<sensors::sensor_interface>& sensor) {
    std::lock_guard lock(mutex_);
    auto& s = slots_[id];
    if (!s) s = std::make_shared<slot>();
    // A reserved slot is locked by the creating thread, which is the caller here.
    if (s->sensor) throw utils::exceptions::sensor_already_registered(id);
    s->sensor = sensor;
}

std::shared_ptr<sensor_stock::slot> sensor_stock::reserve(int id,
                                                          std::unique_lock<std::mutex>& lock) {
    // Locks are always taken slot first, stock second, so the slot is locked before the stock.
    auto s = std::make_shared<slot>();
    std::unique_lock slot_lock(s->mutex);
    {
        std::lock_guard stock_lock(mutex_);
        if (!slots_.emplace(id, s).second) return nullptr;
    }
    lock = std::move(slot_lock);
    return s;
}

std::shared_ptr<sensor_stock::slot> sensor_stock::find(int id) const {
    std::lock_guard lock(mutex_);
    const auto it = slots_.find(id);
    return it == slots_.end() ? nullptr : it->second;
}

void sensor_stock::release(int id, const std::shared_ptr<slot>& s) {
    std::lock_guard lock(mutex_);
    const auto it = slots_.find(id);
    if (it != slots_.end() && it->second == s) slots_.erase(it);
}

std::size_t sensor_stock::size() const {
    std::lock_guard lock(mutex_);
    return slots_.size();
}

std::vector<int> sensor_stock::ids() const {
    std::lock_guard lock(mutex_);
    std::vector<int> result;
    for (const auto& [id, s] : slots_) result.push_back(id);
    return result;
}

}  // namespace libvexahelper
