#pragma once

#include <memory>
#include <string>
#include <utility>

#include "framework/version.hpp"
#include "liblog/log.hpp"
#include "libvexahelper/logging.hpp"
#include "libvexahelper/message_service.hpp"
#include "libvexahelper/messages.hpp"
#include "libvexahelper/sensor_interface.hpp"
#include "libvexahelper/service_container.hpp"

namespace libvexahelper::checks {

// A check lives for one ExecuteCheck; the dispatcher calls work() once, which sends one
// check_result. There is no wrapper: an exception from work() is the dispatcher's to report.
template <typename Settings>
class check_base : public check_interface {
public:
    using settings_type = Settings;

    check_base(std::shared_ptr<service_container> container, int id, Settings settings)
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

}  // namespace libvexahelper::checks
