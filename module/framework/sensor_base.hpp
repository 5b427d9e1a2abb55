#pragma once

#include <exception>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "framework/selections.hpp"
#include "framework/version.hpp"
#include "libi18n/i18n.hpp"
#include "liblog/log.hpp"
#include "libvexahelper/channel_map.hpp"
#include "libvexahelper/exceptions.hpp"
#include "libvexahelper/logging.hpp"
#include "libvexahelper/message_service.hpp"
#include "libvexahelper/messages.hpp"
#include "libvexahelper/persistent_data_storage.hpp"
#include "libvexahelper/sensor_interface.hpp"
#include "libvexahelper/service_container.hpp"

namespace libvexahelper::sensors {

// The one logger that discards everything, shared by every sensor whose logging is off.
std::shared_ptr<liblog::log_interface> shared_null_logger();

// Everything sensors have in common. A sensor derives from sensor_base<its settings record>,
// supplies its constructor and work(), and reports through the result builders and send().
// Settings must provide kind_name, display and a `logging` member (the common group).
template <typename Settings>
class sensor_base : public sensor_interface {
public:
    using settings_type = Settings;

    sensor_base(std::shared_ptr<service_container> container, int id, Settings settings,
                std::map<int, std::string> channels, std::map<std::string, std::string> persistent)
        : container_(std::move(container)),
          id_(id),
          settings_(std::move(settings)),
          channels_(std::make_shared<channel_map>(std::move(channels))),
          persistent_(std::move(persistent)),
          log_(make_log()) {
        log_debug("#################### Initializing ####################");
        log_debug(std::string(Settings::display) + " version is: " + wmi::module_version);
    }

    int get_id() const override { return id_; }
    void log(const std::string& message, int level) override { log_->log(level, message); }
    void log_debug(const std::string& message) override { log_->log(7, message); }

    // Frames work() with log lines and turns a translatable or standard exception into one
    // error result (response code 3, error code 0). Other exceptions pass to the caller.
    void scan() override {
        log_debug("#################### Enter sensor scan ####################");
        try {
            work();
        } catch (const libi18n::i18n_exception& e) {
            log_debug(e.what());
            send(error_result(e, 0, scan_response_codes::error));
        } catch (const std::exception& e) {
            log_debug(e.what());
            send(error_result(e, 0, scan_response_codes::error));
        }
        log_debug("#################### Exit sensor scan  ####################");
    }

    virtual void work() = 0;

protected:
    // Announces a channel to the host unless it is registered already or the host knows it.
    void register_channel(const dynamic_channel_options& options) {
        if (!channels_) throw utils::exceptions::channel_map_not_initialized();
        if (channels_->is_definition_registered(options)) return;
        channels_->register_definition(options);
        if (!channels_->is_known_to_runtime(options.channel_id)) {
            send(dynamic_channel(id_, options));
        }
    }

    // Stores a value and tells the host, only when it changed.
    void set_persistent_data(const std::string& key, const std::string& value) {
        if (persistent_.exists(key) && persistent_.at(key) == value) return;
        persistent_[key] = value;
        send(persistent_data(id_, key, value));
    }

    void send(const vexa_message& message) {
        container_->create<message_service_interface>()->send(message);
    }

    sensor_scan_result result() const { return sensor_scan_result(id_, channels_); }
    sensor_scan_result result(const libi18n::i18n_msg& message, scan_response_codes code) const {
        auto r = result();
        r.set_response_message(message).set_response_code(code);
        return r;
    }
    sensor_scan_result error_result(const libi18n::i18n_exception& error, int error_code,
                                    scan_response_codes code) const {
        sensor_scan_result r(id_, error);
        r.set_error_code(error_code).set_response_code(code);
        return r;
    }
    sensor_scan_result error_result(const std::exception& error, int error_code,
                                    scan_response_codes code) const {
        sensor_scan_result r(id_, error);
        r.set_error_code(error_code).set_response_code(code);
        return r;
    }

    const Settings& settings() const { return settings_; }
    persistent_data_storage& persistent() { return persistent_; }
    const std::shared_ptr<channel_map>& channels() const { return channels_; }
    const std::shared_ptr<service_container>& container() const { return container_; }
    const std::shared_ptr<liblog::log_interface>& logger() const { return log_; }

private:
    std::shared_ptr<liblog::log_interface> make_log() const {
        if (settings_.logging != wmi::settings::logging::enabled) return shared_null_logger();
        return container_->create<logging::sensor_log>(id_);
    }

    std::shared_ptr<service_container> container_;
    int id_;
    Settings settings_;
    std::shared_ptr<channel_map> channels_;
    persistent_data_storage persistent_;
    std::shared_ptr<liblog::log_interface> log_;
};

}  // namespace libvexahelper::sensors
