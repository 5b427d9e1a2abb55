#pragma once

// The multipart/encrypted body that carries a sealed SOAP message over plain HTTP.
// Self-contained (no GSSAPI, no HTTP library); both ends write and read this layout:
//
//   --Encrypted Boundary\r\n
//   \tContent-Type: application/HTTP-SPNEGO-session-encrypted\r\n
//   \tOriginalContent: type=application/soap+xml;charset=UTF-8;Length=<plaintext bytes>\r\n
//   --Encrypted Boundary\r\n
//   \tContent-Type: application/octet-stream\r\n
//   <uint32 LE header length><header><sealed data>--Encrypted Boundary--\r\n

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace wsman_wire {

inline constexpr std::string_view spnego_protocol = "application/HTTP-SPNEGO-session-encrypted";
inline constexpr std::string_view kerberos_protocol = "application/HTTP-Kerberos-session-encrypted";
inline constexpr std::string_view soap_content_type = "application/soap+xml;charset=UTF-8";

// A body that does not follow the layout above.
class framing_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Views: into the body parse_body read, or into what the caller of build_body holds.
struct sealed_message {
    std::string_view protocol;       // one of the protocols above
    std::string_view original_type;  // e.g. "application/soap+xml;charset=UTF-8"
    std::size_t original_length = 0;
    std::string_view header;  // signature / token header produced by the wrap
    std::string_view data;    // the sealed bytes
};

// The HTTP Content-Type for a sealed body of `protocol`.
std::string content_type(std::string_view protocol);
// True when an HTTP Content-Type announces a sealed body.
bool is_sealed_content_type(std::string_view content_type);

inline constexpr std::string_view default_boundary = "Encrypted Boundary";

// The boundary a sealed Content-Type names (quoted or not), a view into it; default_boundary
// when it names none. Throws framing_error for an unterminated quoted boundary.
std::string_view boundary_of(std::string_view content_type);

// Replaces what `body` held (a caller that keeps it reuses its capacity).
void build_body(const sealed_message& message, std::string& body);
std::string build_body(const sealed_message& message);
// Lenient as Windows is: the tab before part headers is optional, header names are
// case-insensitive, and a CRLF before the closing boundary is tolerated. Throws framing_error.
sealed_message parse_body(std::string_view body, std::string_view boundary = default_boundary);

}  // namespace wsman_wire
