#pragma once

#include <stdexcept>
#include <string>

#include "framework/sensor_base.hpp"
#include "framework/settings.hpp"
#include "libi18n/i18n.hpp"
#include "valid_settings.hpp"

// Kinds that exist only in tests. The common `host` setting picks what work() does.
namespace test_kinds {

struct probe_settings : wmi::settings::target_record<> {
    static constexpr const char* kind_name = "test_probe_sensor";
    static constexpr const char* display = "Test Probe v1";
};
inline const libi18n::i18n_msg probe_failed{"error.test_probe_failed", "Probe of '%0:s' failed."};

// host: "ok" sends one result with channel 0; "i18n" / "std" / "other" throw that kind of
// exception; "send_then_throw" sends and then throws.
class probe_sensor : public libvexahelper::sensors::sensor_base<probe_settings> {
public:
    probe_sensor(std::shared_ptr<libvexahelper::service_container> container, int id,
                 probe_settings settings, std::map<int, std::string> channels,
                 std::map<std::string, std::string> persistent)
        : sensor_base(std::move(container), id, std::move(settings), std::move(channels),
                      std::move(persistent)) {
        libvexahelper::dynamic_channel_options o;
        o.channel_id = 0;
        o.key = "channel.test";
        register_channel(o);
    }

    void work() override {
        const std::string& mode = settings().host;
        if (mode == "i18n") throw libi18n::i18n_exception(probe_failed("target"));
        if (mode == "std") throw std::runtime_error("plain failure");
        if (mode == "other") throw 7;
        send(result().set_value(0, 1LL));
        if (mode == "send_then_throw") throw std::runtime_error("after sending");
    }
};

}  // namespace test_kinds
