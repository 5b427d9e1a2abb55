#pragma once

#include <memory>
#include <string>
#include <utility>

#include "framework/version.hpp"
#include "liblog/log.hpp"
#include "libvexahelper/logging.hpp"
#include "libvexahelper/message_service.hpp"
#include "libvexahelper/messages.hpp"
#include "libvexahelper/service_container.hpp"

namespace libvexahelper {

// What a check and a meta-scan share: each lives for one request, logs to the sensor log of the
// request's id whatever its settings say, and names its kind and the module version there first.
// Settings must provide kind_name.
template <typename Interface, typename Settings>
class request_base : public Interface {
public:
    using settings_type = Settings;

    request_base(std::shared_ptr<service_container> container, int id, Settings settings)
        : container_(std::move(container)),
          id_(id),
          settings_(std::move(settings)),
          log_(container_->create<logging::sensor_log>(id_)) {
        log_debug(std::string("Initialize: ") + Settings::kind_name +
                  " version is: " + wmi::module_version);
    }

    int get_id() const override { return id_; }
    void log_debug(const std::string& message) override { log_->log(7, message); }
    void log(const std::string& message, int level) override { log_->log(level, message); }

protected:
    void send(const vexa_message& message) {
        container_->create<message_service_interface>()->send(message);
    }

    const Settings& settings() const { return settings_; }
    const std::shared_ptr<service_container>& container() const { return container_; }
    const std::shared_ptr<liblog::log_interface>& logger() const { return log_; }

private:
    std::shared_ptr<service_container> container_;
    int id_;
    Settings settings_;
    std::shared_ptr<liblog::log_interface> log_;
};

}  // namespace libvexahelper
