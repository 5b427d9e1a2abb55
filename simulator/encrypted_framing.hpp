#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace winrm_simulator {

inline constexpr std::string_view spnego_encrypted_protocol =
    "application/HTTP-SPNEGO-session-encrypted";
inline constexpr std::string_view encrypted_content_type =
    "multipart/encrypted;protocol=\"application/HTTP-SPNEGO-session-encrypted\";"
    "boundary=\"Encrypted Boundary\"";

class framing_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The sealed message of one HTTP body: the security header (NTLM: 16-byte signature)
// followed by the sealed data, and the plaintext length the sender announced.
struct sealed_message {
    std::string header_and_data;
    std::size_t header_length = 0;
    std::size_t original_length = 0;
};

// True when the Content-Type announces a SPNEGO session-encrypted multipart body.
bool is_encrypted_content_type(std::string_view content_type);

// Lenient reader: the tab before the part headers is optional, the boundary comes from the
// Content-Type (default "Encrypted Boundary"). Throws framing_error for anything it cannot
// frame: a missing part, a header length past the end, no Length.
sealed_message parse_encrypted_body(std::string_view content_type, std::string_view body);

// Writes the body for a sealed reply; wrapped = 16-byte signature ‖ sealed data.
std::string build_encrypted_body(std::string_view wrapped, std::size_t plain_length,
                                 std::size_t header_length = 16);

}  // namespace winrm_simulator
