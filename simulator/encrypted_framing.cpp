#include "simulator/encrypted_framing.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>

namespace winrm_simulator {
namespace {

std::string lowercase(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string boundary_of(std::string_view content_type) {
    const std::string lower = lowercase(content_type);
    const auto at = lower.find("boundary=");
    if (at == std::string::npos) return "Encrypted Boundary";
    std::string_view value = content_type.substr(at + 9);
    if (!value.empty() && value.front() == '"') {
        value.remove_prefix(1);
        const auto end = value.find('"');
        if (end == std::string_view::npos) throw framing_error("unterminated boundary parameter");
        return std::string(value.substr(0, end));
    }
    return std::string(value.substr(0, value.find(';')));
}

}  // namespace

bool is_encrypted_content_type(std::string_view content_type) {
    const std::string lower = lowercase(content_type);
    return lower.rfind("multipart/encrypted", 0) == 0 &&
           lower.find(lowercase(spnego_encrypted_protocol)) != std::string::npos;
}

sealed_message parse_encrypted_body(std::string_view content_type, std::string_view body) {
    const std::string marker = "--" + boundary_of(content_type);
    const auto first = body.find(marker);
    if (first == std::string_view::npos) throw framing_error("no encrypted boundary in the body");
    const auto second = body.find(marker, first + marker.size());
    if (second == std::string_view::npos) throw framing_error("the sealed part is missing");

    const std::string headers = lowercase(body.substr(first, second - first));
    const auto length_at = headers.find("length=");
    if (length_at == std::string::npos) throw framing_error("OriginalContent has no Length");
    sealed_message message;
    const char* digits = headers.data() + length_at + 7;
    const auto [end, ec] =
        std::from_chars(digits, headers.data() + headers.size(), message.original_length);
    if (ec != std::errc{} || end == digits) throw framing_error("OriginalContent Length is bad");

    // The binary part starts after its own header lines: the line naming the octet stream.
    const std::string tail_lower = lowercase(body.substr(second));
    const auto stream = tail_lower.find("application/octet-stream");
    if (stream == std::string::npos) throw framing_error("the octet-stream part is missing");
    const auto line_end = tail_lower.find("\r\n", stream);
    if (line_end == std::string::npos) throw framing_error("the octet-stream part is truncated");
    const std::size_t payload = second + line_end + 2;

    const auto closing = body.rfind(marker + "--");
    if (closing == std::string_view::npos || closing < payload + 4) {
        throw framing_error("the closing boundary is missing");
    }
    const std::string_view binary = body.substr(payload, closing - payload);
    std::uint32_t header_length = 0;
    for (int i = 3; i >= 0; --i) {
        header_length = (header_length << 8) | static_cast<unsigned char>(binary[i]);
    }
    if (header_length > binary.size() - 4) {
        throw framing_error("the signature length runs past the sealed part");
    }
    message.header_length = header_length;
    message.header_and_data = std::string(binary.substr(4));
    if (message.header_and_data.size() - header_length != message.original_length) {
        throw framing_error("the sealed data does not match OriginalContent Length");
    }
    return message;
}

std::string build_encrypted_body(std::string_view wrapped, std::size_t plain_length,
                                 std::size_t header_length) {
    std::string body;
    body.reserve(wrapped.size() + 256);
    body += "--Encrypted Boundary\r\n";
    body += "\tContent-Type: ";
    body += spnego_encrypted_protocol;
    body += "\r\n\tOriginalContent: type=application/soap+xml;charset=UTF-8;Length=";
    body += std::to_string(plain_length);
    body += "\r\n--Encrypted Boundary\r\n\tContent-Type: application/octet-stream\r\n";
    for (int i = 0; i < 4; ++i) {
        body += static_cast<char>((header_length >> (8 * i)) & 0xff);
    }
    body += wrapped;
    body += "--Encrypted Boundary--\r\n";
    return body;
}

}  // namespace winrm_simulator
