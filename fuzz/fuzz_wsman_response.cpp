// Feeds arbitrary bytes to everything that reads a reply from the target: the sealed-body
// framing, the SOAP parser, and the value conversions the module applies to every field.
// Run: fuzz_wsman_response fuzz/corpus
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "libi18n/i18n.hpp"
#include "winrm_framing.hpp"
#include "wsman_envelope.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    try {
        (void)winrm_framing::parse_body(input);
    } catch (const winrm_framing::framing_error&) {
    }
    try {
        const auto response = libwql::detail::parse_response(input);
        if (response.fault) (void)libwql::detail::classify(*response.fault);
        for (const auto& row : response.rows) {
            for (const auto& [name, field] : row) {
                (void)field.str();
                (void)field.as_int64_t();
                try {
                    (void)field.as_uint64_t();
                } catch (const libi18n::i18n_exception&) {
                }
                try {
                    (void)field.as_timestamp_t();
                } catch (const libi18n::i18n_exception&) {
                }
                try {
                    (void)field.as_interval();
                } catch (const libi18n::i18n_exception&) {
                }
            }
        }
    } catch (const libi18n::i18n_exception&) {
    }
    return 0;
}
