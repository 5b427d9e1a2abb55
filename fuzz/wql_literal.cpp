// Arbitrary bytes as the value of where_equals: whatever the value, the query must read back
// (through the simulated target's WQL parser) as one comparison of Name with exactly that
// value, so no value can end the literal early or widen the condition.
#include <cstddef>
#include <cstdint>
#include <string>

#include "libwql/wql_query.hpp"
#include "simulator/wql_select.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string value(reinterpret_cast<const char*>(data), size);
    const auto query = libwql::wql_query_builder::select({"Name"})
                           .from("Win32_Service")
                           .where_equals("Name", value)
                           .build();
    const auto parsed = winrm_simulator::parse_wql_select(query.get());
    if (!parsed.where || parsed.where->field != "Name" || parsed.class_name != "Win32_Service" ||
        parsed.where->value != winrm_simulator::wql_literal(value)) {
        __builtin_trap();
    }
    return 0;
}
