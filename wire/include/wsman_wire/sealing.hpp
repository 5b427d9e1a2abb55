#pragma once

// A SOAP message sealed with an established GSSAPI context and framed as a WinRM
// multipart/encrypted HTTP body, and back.

#include <string>
#include <string_view>

#include "wsman_wire/framing.hpp"
#include "wsman_wire/gss_context.hpp"

namespace wsman_wire {

struct http_body {
    std::string content_type;
    std::string body;
};

// What sealing one message writes, kept by a connection from one request to the next so that
// a warm request allocates nothing for it.
struct seal_buffers {
    std::string header;
    std::string data;
    std::string body;
};

// `protocol` is spnego_protocol or kerberos_protocol; the body is left in `buffers.body`.
// Throws gss_error.
void seal_body(gss_context& context, std::string_view soap, std::string_view protocol,
               seal_buffers& buffers);
// The body and the Content-Type that announces it.
http_body seal_message(gss_context& context, std::string_view soap, std::string_view protocol);

// The protocol a sealed reply announces for what `context` negotiated.
std::string_view protocol_of(const gss_context& context);

// The plaintext of a sealed body; throws framing_error for a broken frame or a length that
// differs from the announced one, gss_error for a seal that does not verify.
std::string unseal_message(gss_context& context, std::string_view content_type,
                           std::string_view body);

}  // namespace wsman_wire
