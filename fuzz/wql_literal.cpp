// Arbitrary bytes as the value of where_equals: whatever the value, the query must read back
// (through the simulated target's WQL parser) as one comparison with exactly that value, so
// no value can end the literal early or widen the condition.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <variant>

#include "libwql/wql_query.hpp"
#include "simulator/wql_select.hpp"

namespace {

winrm_simulator::wql_literal literal_of(const libwql::wql_query& query) {
    const auto parsed = winrm_simulator::parse_wql_select(query.get());
    if (!parsed.where || parsed.where->field != "Name" || parsed.class_name != "Win32_Service") {
        __builtin_trap();
    }
    return parsed.where->value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto from = libwql::wql_query_builder::select({"Name"}).from("Win32_Service");
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (literal_of(from.where_equals("Name", text).build()) != winrm_simulator::wql_literal(text)) {
        __builtin_trap();
    }
    std::int64_t number = 0;
    std::memcpy(&number, data, std::min(size, sizeof number));
    if (literal_of(from.where_equals("Name", number).build()) !=
        winrm_simulator::wql_literal(number)) {
        __builtin_trap();
    }
    return 0;
}
