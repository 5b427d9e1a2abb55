#include "wsman_wire/framing.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace wsman_wire {

namespace {

constexpr std::string_view default_opening = "--Encrypted Boundary";
constexpr std::string_view default_closing = "--Encrypted Boundary--";

// HTTP names and parameters compare case-insensitively in ASCII, whatever the C locale says.
char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool iequals_prefix(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    if (text.starts_with(prefix)) return true;  // as written by both ends, in the common case
    return std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return ascii_lower(a) == ascii_lower(b); });
}

// Takes one CRLF-terminated line off the front of `text`, without the CRLF or a leading tab.
std::string_view take_line(std::string_view& text) {
    const auto end = text.find("\r\n");
    if (end == std::string_view::npos) throw framing_error("encrypted body: unterminated line");
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 2);
    while (!line.empty() && (line.front() == '\t' || line.front() == ' ')) line.remove_prefix(1);
    return line;
}

std::string_view header_value(std::string_view line, std::string_view name) {
    if (!iequals_prefix(line, name)) return {};
    line.remove_prefix(name.size());
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    return line;
}

// Where the last "--" name "--" starts.
std::size_t find_closing(std::string_view body, std::string_view name) {
    for (std::size_t at = body.size(); (at = body.rfind(name, at)) != std::string_view::npos;
         --at) {
        if (at >= 2 && body.substr(at - 2, 2) == "--" && body.substr(at + name.size(), 2) == "--")
            return at - 2;
        if (at == 0) break;
    }
    return std::string_view::npos;
}

}  // namespace

std::string content_type(std::string_view protocol) {
    return "multipart/encrypted;protocol=\"" + std::string(protocol) +
           "\";boundary=\"Encrypted Boundary\"";
}

bool is_sealed_content_type(std::string_view type) {
    return iequals_prefix(type, "multipart/encrypted");
}

std::string build_body(const sealed_message& m) {
    std::string body;
    build_body(m, body);
    return body;
}

void build_body(const sealed_message& m, std::string& body) {
    const auto header_length = static_cast<std::uint32_t>(m.header.size());
    body.clear();
    body.reserve(256 + m.header.size() + m.data.size());
    body.append(default_opening).append("\r\n");
    body.append("\tContent-Type: ").append(m.protocol).append("\r\n");
    body.append("\tOriginalContent: type=").append(m.original_type);
    body.append(";Length=").append(std::to_string(m.original_length)).append("\r\n");
    body.append(default_opening).append("\r\n");
    body.append("\tContent-Type: application/octet-stream\r\n");
    for (int shift = 0; shift < 32; shift += 8) {
        body.push_back(static_cast<char>((header_length >> shift) & 0xFF));
    }
    body.append(m.header).append(m.data).append(default_closing).append("\r\n");
}

std::string_view boundary_of(std::string_view type) {
    constexpr std::string_view parameter = "boundary=";
    for (std::size_t equals = type.find('='); equals != std::string_view::npos;
         equals = type.find('=', equals + 1)) {
        if (equals + 1 < parameter.size() ||
            !iequals_prefix(type.substr(equals + 1 - parameter.size()), parameter)) {
            continue;
        }
        std::string_view value = type.substr(equals + 1);
        if (!value.empty() && value.front() == '"') {
            value.remove_prefix(1);
            const auto end = value.find('"');
            if (end == std::string_view::npos) {
                throw framing_error("encrypted body: unterminated boundary parameter");
            }
            return value.substr(0, end);
        }
        return value.substr(0, value.find(';'));
    }
    return default_boundary;
}

sealed_message parse_body(std::string_view body, std::string_view boundary_name) {
    // A boundary line: "--", the name, nothing after it.
    const auto is_boundary = [boundary_name](std::string_view line) {
        return line.size() == boundary_name.size() + 2 && line.starts_with("--") &&
               line.substr(2) == boundary_name;
    };
    sealed_message m;
    if (!is_boundary(take_line(body))) throw framing_error("encrypted body: no opening boundary");
    m.protocol = header_value(take_line(body), "Content-Type:");
    if (m.protocol.empty()) throw framing_error("encrypted body: no protocol");
    std::string_view original = header_value(take_line(body), "OriginalContent:");
    if (!iequals_prefix(original, "type="))
        throw framing_error("encrypted body: no OriginalContent");
    original.remove_prefix(5);
    // Some clients write the parameter name in lower case.
    std::size_t length_at = std::string_view::npos;
    for (std::size_t at = original.size(); at-- > 0;) {
        if (iequals_prefix(original.substr(at), ";Length=")) {
            length_at = at;
            break;
        }
    }
    if (length_at == std::string_view::npos) throw framing_error("encrypted body: no Length");
    m.original_type = original.substr(0, length_at);
    const auto digits = original.substr(length_at + 8);
    const auto [end, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), m.original_length);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
        throw framing_error("encrypted body: bad Length");
    }
    if (!is_boundary(take_line(body))) throw framing_error("encrypted body: no second boundary");
    if (!iequals_prefix(header_value(take_line(body), "Content-Type:"),
                        "application/octet-stream")) {
        throw framing_error("encrypted body: payload is not application/octet-stream");
    }
    // The sealed bytes are binary and may contain anything, so the end is found from the back.
    const auto close_at = find_closing(body, boundary_name);
    if (close_at == std::string_view::npos)
        throw framing_error("encrypted body: no closing boundary");
    std::string_view payload = body.substr(0, close_at);
    if (payload.size() < 4) throw framing_error("encrypted body: truncated payload");
    std::uint32_t header_length = 0;
    for (int i = 3; i >= 0; --i) {
        header_length = (header_length << 8) | static_cast<unsigned char>(payload[i]);
    }
    payload.remove_prefix(4);
    if (header_length > payload.size()) throw framing_error("encrypted body: header past the end");
    m.header = payload.substr(0, header_length);
    payload.remove_prefix(header_length);
    if (payload.size() == m.original_length + 2 && payload.substr(payload.size() - 2) == "\r\n") {
        payload.remove_suffix(2);
    }
    if (payload.size() < m.original_length) {
        throw framing_error("encrypted body: sealed data shorter than Length");
    }
    m.data = payload;
    return m;
}

}  // namespace wsman_wire
