#pragma once

#include <cstdint>
#include <string_view>

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"

namespace wmi {

// Where Windows Security registers products; client systems only.
inline constexpr std::string_view security_center = "root\\SecurityCenter2";

// Whether one product registered with Windows Security (antivirus, antispyware or firewall)
// runs and has current signatures, decoded from its productState word.
class windows_security_sensor
    : public wmi_sensor<windows_security_sensor, settings::windows_security_sensor> {
public:
    using wmi_sensor::wmi_sensor;
    void work() override;

    // Lookup values: 1 not running / out of date, 2 running / up to date.
    struct figures {
        std::int64_t running;
        std::int64_t signatures;
    };

    // clang-format off
    static constexpr channel<figures> channels[] = {
        {.id = 0, .name = &cat::channel_status, .unit = 0, .lookup = "windows_security_running_status", .value = &figures::running},
        {.id = 1, .name = &cat::channel_signatures, .unit = 0, .lookup = "windows_security_signature_status", .value = &figures::signatures}};
    // clang-format on

private:
    // The product class is the type word ("Antivirus", "AntiSpyware", "Firewall") + "Product";
    // a type that is no WQL name fails the sensor's creation.
    const access::query query_ = access::select(
        settings().type + "Product", {"displayName", "pathToSignedProductExe", "productState"},
        access::equals{"displayName", settings().name}, security_center);
};

}  // namespace wmi
