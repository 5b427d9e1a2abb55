#include "wsman_wire/sealing.hpp"

namespace wsman_wire {

void seal_body(gss_context& context, std::string_view soap, std::string_view protocol,
               seal_buffers& buffers) {
    context.seal(soap, buffers.header, buffers.data);
    build_body({protocol, soap_content_type, soap.size(), buffers.header, buffers.data},
               buffers.body);
}

http_body seal_message(gss_context& context, std::string_view soap, std::string_view protocol) {
    seal_buffers buffers;
    seal_body(context, soap, protocol, buffers);
    return {content_type(protocol), std::move(buffers.body)};
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
