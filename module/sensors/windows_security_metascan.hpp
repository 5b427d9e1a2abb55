#pragma once

#include <array>
#include <optional>
#include <string>

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"
#include "sensors/windows_security_sensor.hpp"

namespace wmi {

// Lists the products registered with Windows Security, each once even when it is registered
// under several types.
class windows_security_metascan : public wmi_metascan<settings::windows_security_metascan> {
public:
    using wmi_kind::wmi_kind;
    void work() override;

    // In the order the meta-scan visits them; the first type a product appears under wins.
    static constexpr std::array<const char*, 3> types = {"Antivirus", "AntiSpyware", "Firewall"};

private:
    static access::query query_of(const char* type) {
        return access::select(std::string(type) + "Product",
                              {"displayName", "pathToSignedProductExe"}, std::nullopt,
                              security_center);
    }
    const std::array<access::query, 3> queries_ = {query_of(types[0]), query_of(types[1]),
                                                   query_of(types[2])};
};

}  // namespace wmi
