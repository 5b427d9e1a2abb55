// Feeds arbitrary bytes to everything that reads what arrives over the wire: the sealed-body
// framing, the reply and request parsers, and the value conversions the module applies to
// every field. Run: fuzz_wsman_response fuzz/corpus
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "libi18n/i18n.hpp"
#include "libwql/wql_query.hpp"
#include "wsman_wire/envelope.hpp"
#include "wsman_wire/framing.hpp"

namespace {

template <typename F>
void ignoring_i18n(F&& conversion) {
    try {
        (void)conversion();
    } catch (const libi18n::i18n_exception&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    try {
        (void)wsman_wire::parse_body(input);
    } catch (const wsman_wire::framing_error&) {
    }
    try {
        (void)wsman_wire::parse_request(input);
    } catch (const wsman_wire::fault_error&) {
    }
    try {
        const auto response = wsman_wire::parse_response(input);
        if (response.fault) (void)response.fault->code();
        for (const auto& item : response.items) {
            for (const auto& p : item) {
                const libwql::wql_query_field field(p.name, p.values);
                (void)field.str();
                (void)field.as_int64_t();
                ignoring_i18n([&] { return field.as_uint64_t(); });
                ignoring_i18n([&] { return field.as_timestamp_t(); });
                ignoring_i18n([&] { return field.as_interval(); });
            }
        }
    } catch (const wsman_wire::malformed_reply&) {
    }
    return 0;
}
