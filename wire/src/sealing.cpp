#include "wsman_wire/sealing.hpp"

#include <tuple>

namespace wsman_wire {

http_body seal_message(gss_context& context, std::string_view soap, std::string_view protocol) {
    sealed_message message;
    message.protocol = std::string(protocol);
    message.original_type = std::string(soap_content_type);
    message.original_length = soap.size();
    std::tie(message.header, message.data) = context.seal(soap);
    return {content_type(protocol), build_body(message)};
}

std::string_view protocol_of(const gss_context& context) {
    return context.uses_kerberos() ? kerberos_protocol : spnego_protocol;
}

std::string unseal_message(gss_context& context, std::string_view type, std::string_view body) {
    const sealed_message sealed = parse_body(body, boundary_of(type));
    std::string plain = context.unseal(sealed.header, sealed.data);
    if (plain.size() != sealed.original_length) {
        throw framing_error("encrypted body: the unsealed length differs from Length");
    }
    return plain;
}

}  // namespace wsman_wire
