#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>
#include <utility>

#include "libvexahelper/export.hpp"

namespace libvexahelper {

// Readable name of a type for error messages ("liblog::log_interface").
VEXAHELPER_API std::string type_name_of(const std::type_info& type);

// Where the module's shared services live: a factory store and an instance store, both keyed
// by type (instances optionally also by a text key). One mutex guards both stores and is held
// only for the lookup itself: factories run and instances are used outside it, kept alive by
// shared pointers, so a factory may itself use the container.
class VEXAHELPER_API service_container {
public:
    template <typename T, typename... Args>
    using factory_type = std::function<std::unique_ptr<T>(Args...)>;

    service_container() = default;
    service_container(const service_container&) = delete;
    service_container& operator=(const service_container&) = delete;
    ~service_container();

    // Throws already_contains_factory when a factory for T with these arguments exists.
    template <typename T, typename... Args>
    void register_factory(std::type_identity_t<factory_type<T, Args...>> factory) {
        add_factory(typeid(factory_type<T, Args...>), typeid(T),
                    std::make_shared<factory_type<T, Args...>>(std::move(factory)));
    }

    // Throws factory_not_available.
    template <typename T, typename... Args>
    std::shared_ptr<const factory_type<T, Args...>> get_factory() const {
        return std::static_pointer_cast<const factory_type<T, Args...>>(
            find_factory(typeid(factory_type<T, Args...>), typeid(T)));
    }

    template <typename T, typename... Args>
    bool has_factory() const {
        return contains_factory(typeid(factory_type<T, Args...>));
    }

    // Runs the factory registered for T and these argument types.
    template <typename T, typename... Args>
    std::unique_ptr<T> create(Args... args) const {
        return (*get_factory<T, Args...>())(std::forward<Args>(args)...);
    }

    // Throws already_contains_instance.
    template <typename T>
    void register_instance(std::shared_ptr<T> instance) {
        add_instance(typeid(T), std::nullopt, std::move(instance));
    }
    template <typename T>
    void register_instance(const std::string& key, std::shared_ptr<T> instance) {
        add_instance(typeid(T), key, std::move(instance));
    }

    // Throws instance_not_available.
    template <typename T>
    std::shared_ptr<T> get_instance() const {
        return std::static_pointer_cast<T>(find_instance(typeid(T), std::nullopt));
    }
    template <typename T>
    std::shared_ptr<T> get_instance(const std::string& key) const {
        return std::static_pointer_cast<T>(find_instance(typeid(T), key));
    }

    template <typename T>
    bool has_instance() const {
        return contains_instance(typeid(T), std::nullopt);
    }

private:
    // No key and the empty key are different entries.
    using instance_key = std::pair<std::type_index, std::optional<std::string>>;
    struct instance_key_hash {
        std::size_t operator()(const instance_key& k) const;
    };

    // `named` is the type error texts name; it is only demangled when an error is raised.
    void add_factory(std::type_index type, const std::type_info& named, std::shared_ptr<void> f);
    std::shared_ptr<void> find_factory(std::type_index type, const std::type_info& named) const;
    bool contains_factory(std::type_index type) const;
    void add_instance(const std::type_info& type, const std::optional<std::string>& key,
                      std::shared_ptr<void> instance);
    std::shared_ptr<void> find_instance(const std::type_info& type,
                                        const std::optional<std::string>& key) const;
    bool contains_instance(std::type_index type, const std::optional<std::string>& key) const;

    mutable std::mutex mutex_;
    std::unordered_map<std::type_index, std::shared_ptr<void>> factories_;
    std::unordered_map<instance_key, std::shared_ptr<void>, instance_key_hash> instances_;
};

}  // namespace libvexahelper
