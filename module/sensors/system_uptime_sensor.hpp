#pragma once

#include <map>
#include <memory>
#include <string>

#include "framework/sensor_base.hpp"
#include "framework/settings.hpp"
#include "libwql/wsman_client.hpp"

namespace wmi {

// Seconds since the target's last boot, from the target's own clock (channel 0).
class system_uptime_sensor
    : public libvexahelper::sensors::sensor_base<settings::system_uptime_sensor> {
public:
    system_uptime_sensor(std::shared_ptr<libvexahelper::service_container> container, int id,
                         settings::system_uptime_sensor settings,
                         std::map<int, std::string> channels,
                         std::map<std::string, std::string> persistent);
    void work() override;

private:
    std::shared_ptr<libwql::wsman_client_interface> client_;
};

}  // namespace wmi
