#pragma once

#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "framework/version.hpp"
#include "libi18n/i18n.hpp"
#include "liblog/log.hpp"
#include "libvexahelper/logging.hpp"
#include "libvexahelper/message_service.hpp"
#include "libvexahelper/messages.hpp"
#include "libvexahelper/sensor_interface.hpp"
#include "libvexahelper/service_container.hpp"

namespace libvexahelper::metascans {

// A meta-scan lives for one ExecuteMetaScan: built, scanned once, destroyed. work() sends one
// meta_scan_result; the wrapper turns a translatable or standard exception into an error
// result with response code 5. Settings must provide kind_name.
template <typename Settings>
class metascan_base : public metascan_interface {
public:
    using settings_type = Settings;

    metascan_base(std::shared_ptr<service_container> container, unsigned int request, int id,
                  Settings settings)
        : container_(std::move(container)),
          request_(request),
          id_(id),
          settings_(std::move(settings)),
          log_(container_->create<logging::sensor_log>(id_)) {
        log_debug(std::string("Initialize: ") + Settings::kind_name +
                  " version is: " + wmi::module_version);
    }

    int get_id() const override { return id_; }
    unsigned int get_request() const override { return request_; }
    void log_debug(const std::string& message) override { log_->log(7, message); }
    void log(const std::string& message, int level) override { log_->log(level, message); }

    void scan() override {
        try {
            work();
        } catch (const libi18n::i18n_exception& e) {
            log_debug(e.what());
            send(meta_scan_result(id_, request_, e).response(scan_response_codes::metascan_error));
        } catch (const std::exception& e) {
            log_debug(e.what());
            send(meta_scan_result(id_, request_, e).response(scan_response_codes::metascan_error));
        }
    }

    virtual void work() = 0;

protected:
    void send(const vexa_message& message) {
        container_->create<message_service_interface>()->send(message);
    }
    meta_scan_result result() const { return meta_scan_result(id_, request_); }
    void progress(int value, const std::string& text) {
        send(metascan_progress(id_, request_, value, text));
    }

    const Settings& settings() const { return settings_; }
    const std::shared_ptr<service_container>& container() const { return container_; }
    const std::shared_ptr<liblog::log_interface>& logger() const { return log_; }

private:
    std::shared_ptr<service_container> container_;
    unsigned int request_;
    int id_;
    Settings settings_;
    std::shared_ptr<liblog::log_interface> log_;
};

}  // namespace libvexahelper::metascans
