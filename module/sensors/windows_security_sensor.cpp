#include "sensors/windows_security_sensor.hpp"

#include "framework/exceptions.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

namespace {

// Only the low 32 bits of productState count: bit 12 set = running, bit 4 set = signatures out
// of date.
windows_security_sensor::figures decode(std::int64_t product_state) {
    const auto word = static_cast<std::uint32_t>(product_state);
    return {.running = (word & 0x1000U) != 0 ? 2 : 1, .signatures = (word & 0x10U) != 0 ? 1 : 2};
}

}  // namespace

void windows_security_sensor::work() {
    const auto row = open_session().first_row(query_);
    if (!row)
        throw exceptions::windows_security_product_not_found(settings().name, settings().type);
    // Products that leave productState out report nothing: not running, signatures current.
    send_values(decode(access::optional_int64(*row, "productState").value_or(0)));
}

}  // namespace wmi
