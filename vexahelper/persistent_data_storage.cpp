#include "libvexahelper/persistent_data_storage.hpp"

#include <utility>

namespace libvexahelper {

persistent_data_storage::persistent_data_storage(std::map<std::string, std::string> values)
    : values_(std::move(values)) {}

bool persistent_data_storage::exists(const std::string& key) const { return values_.contains(key); }

const std::string& persistent_data_storage::at(const std::string& key) const {
    return values_.at(key);
}

std::optional<std::string> persistent_data_storage::at_opt(const std::string& key) const {
    const auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::string& persistent_data_storage::operator[](const std::string& key) { return values_[key]; }

}  // namespace libvexahelper
