#pragma once

#include <map>
#include <memory>
#include <string>

#include "framework/sensor_base.hpp"
#include "framework/settings.hpp"
#include "libwql/wsman_client.hpp"

namespace wmi {

// Available and used physical memory of the target, in bytes and percent of the total.
class memory_sensor : public libvexahelper::sensors::sensor_base<settings::memory_sensor> {
public:
    memory_sensor(std::shared_ptr<libvexahelper::service_container> container, int id,
                  settings::memory_sensor settings, std::map<int, std::string> channels,
                  std::map<std::string, std::string> persistent);
    void work() override;

private:
    std::shared_ptr<libwql::wsman_client_interface> client_;
};

}  // namespace wmi
