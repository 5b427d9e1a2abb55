#pragma once

#include <map>
#include <memory>
#include <string>

#include "framework/sensor_base.hpp"
#include "framework/settings.hpp"
#include "libwql/wsman_client.hpp"

namespace wmi {

// Usage of the target's paging files in percent of their size; not clamped at 100.
class pagefile_sensor : public libvexahelper::sensors::sensor_base<settings::pagefile_sensor> {
public:
    pagefile_sensor(std::shared_ptr<libvexahelper::service_container> container, int id,
                    settings::pagefile_sensor settings, std::map<int, std::string> channels,
                    std::map<std::string, std::string> persistent);
    void work() override;

private:
    std::shared_ptr<libwql::wsman_client_interface> client_;
};

}  // namespace wmi
