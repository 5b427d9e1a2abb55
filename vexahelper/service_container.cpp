#include "libvexahelper/service_container.hpp"

#include <cstdlib>
#include <functional>

#include "libvexahelper/exceptions.hpp"

#if defined(__GNUG__)
#include <cxxabi.h>
#endif

namespace libvexahelper {

namespace ex = utils::exceptions;

std::string type_name_of(const std::type_info& type) {
#if defined(__GNUG__)
    int status = 0;
    char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    if (status == 0 && demangled != nullptr) {
        std::string name(demangled);
        std::free(demangled);
        return name;
    }
    std::free(demangled);
#endif
    return type.name();
}

service_container::~service_container() = default;

std::size_t service_container::instance_key_hash::operator()(const instance_key& k) const {
    const std::size_t h = std::hash<std::type_index>{}(k.first);
    return h ^ (std::hash<std::optional<std::string>>{}(k.second) + 0x9e3779b97f4a7c15ULL +
                (h << 6) + (h >> 2));
}

void service_container::add_factory(std::type_index type, const std::type_info& named,
                                    std::shared_ptr<void> f) {
    std::lock_guard lock(mutex_);
    if (!factories_.emplace(type, std::move(f)).second) {
        throw ex::already_contains_factory(type_name_of(named));
    }
}

std::shared_ptr<void> service_container::find_factory(std::type_index type,
                                                      const std::type_info& named) const {
    std::lock_guard lock(mutex_);
    const auto it = factories_.find(type);
    if (it == factories_.end()) throw ex::factory_not_available(type_name_of(named));
    return it->second;
}

bool service_container::contains_factory(std::type_index type) const {
    std::lock_guard lock(mutex_);
    return factories_.contains(type);
}

void service_container::add_instance(const std::type_info& type,
                                     const std::optional<std::string>& key,
                                     std::shared_ptr<void> instance) {
    std::lock_guard lock(mutex_);
    if (!instances_.emplace(instance_key{type, key}, std::move(instance)).second) {
        if (key) throw ex::already_contains_instance(type_name_of(type), *key);
        throw ex::already_contains_instance(type_name_of(type));
    }
}

std::shared_ptr<void> service_container::find_instance(
    const std::type_info& type, const std::optional<std::string>& key) const {
    std::lock_guard lock(mutex_);
    const auto it = instances_.find(instance_key{type, key});
    if (it == instances_.end()) {
        if (key) throw ex::instance_not_available(type_name_of(type), *key);
        throw ex::instance_not_available(type_name_of(type));
    }
    return it->second;
}

bool service_container::contains_instance(std::type_index type,
                                          const std::optional<std::string>& key) const {
    std::lock_guard lock(mutex_);
    return instances_.contains(instance_key{type, key});
}

}  // namespace libvexahelper
