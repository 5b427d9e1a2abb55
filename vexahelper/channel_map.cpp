#include "libvexahelper/channel_map.hpp"

#include <utility>

namespace libvexahelper {

channel_map::channel_map(std::map<int, std::string> known_to_runtime)
    : known_(std::move(known_to_runtime)) {}

bool channel_map::is_definition_registered(const dynamic_channel_options& options) const {
    std::lock_guard lock(mutex_);
    const auto it = definitions_.find(options.channel_id);
    return it != definitions_.end() && it->second == options;
}

void channel_map::register_definition(const dynamic_channel_options& options) {
    std::lock_guard lock(mutex_);
    definitions_.insert_or_assign(options.channel_id, options);
}

bool channel_map::is_known_to_runtime(const int& channel_id) const {
    std::lock_guard lock(mutex_);
    return known_.contains(channel_id);
}

bool channel_map::is_defined(int channel_id) const {
    std::lock_guard lock(mutex_);
    return known_.contains(channel_id) || definitions_.contains(channel_id);
}

std::optional<dynamic_channel_options> channel_map::definition(int channel_id) const {
    std::lock_guard lock(mutex_);
    const auto it = definitions_.find(channel_id);
    if (it == definitions_.end()) return std::nullopt;
    return it->second;
}

std::map<int, std::string> channel_map::known_to_runtime() const {
    std::lock_guard lock(mutex_);
    return known_;
}

}  // namespace libvexahelper
