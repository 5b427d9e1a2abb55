#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "libvexahelper/message_service.hpp"
#include "libvexahelper/sensor_data_wrapper.hpp"
#include "libvexahelper/service_container.hpp"

namespace test_support {

// Keeps every message the module sends, parsed, for inspection.
class message_recorder {
public:
    void deliver(void* data, unsigned int size) {
        const auto* bytes = static_cast<const char*>(data);
        auto parsed = nlohmann::json::parse(bytes, bytes + size);
        std::lock_guard lock(mutex_);
        messages_.push_back(std::move(parsed));
    }
    std::vector<nlohmann::json> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::vector<nlohmann::json> of_type(const std::string& type) const {
        std::vector<nlohmann::json> found;
        for (const auto& m : messages()) {
            if (m.at("type") == type) found.push_back(m);
        }
        return found;
    }

private:
    mutable std::mutex mutex_;
    std::vector<nlohmann::json> messages_;
};

inline void register_recorder(libvexahelper::service_container& container,
                              const std::shared_ptr<message_recorder>& recorder) {
    container.register_factory<libvexahelper::message_service_interface>([recorder] {
        return std::make_unique<libvexahelper::message_service>(
            [recorder](void* data, unsigned int size) { recorder->deliver(data, size); });
    });
}

inline std::string settings_document(const std::string& kind, const nlohmann::json& settings,
                                     const nlohmann::json& channels = nlohmann::json::object(),
                                     const nlohmann::json& persistent = nlohmann::json::object()) {
    return nlohmann::json{{"kind", kind},
                          {"settings", settings},
                          {"channels", channels},
                          {"persistent_data", persistent}}
        .dump();
}

inline libvexahelper::sensor_data_wrapper wrap(const std::string& text) {
    return {text.data(), static_cast<unsigned int>(text.size())};
}

}  // namespace test_support
