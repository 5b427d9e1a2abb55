#pragma once

// NTLM session security (sign and seal with extended session security, MS-NLMP 3.4.4.2 and
// 3.4.5) computed here from the exported session key: the signing and sealing keys, the
// HMAC-MD5 pads and the RC4 stream of each direction are set up once per connection, where
// the GSSAPI mechanism re-keys an HMAC for every message.
//
// What the arithmetic depends on besides the session key (key exchange, the sealing key's
// strength, where each sequence starts after SPNEGO's mechListMIC) is not exported by the
// mechanism; each direction learns it from its first message, which the mechanism seals or
// unseals, by finding the state that reproduces that message byte for byte. A direction whose
// first message matches no state (NTLMv1 without extended session security, datagram mode)
// stays with the mechanism.

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace wsman_wire::detail {

// Every NTLM signature: version 1, 8 checksum bytes, the 4-byte sequence number (LE).
constexpr std::size_t ntlm_signature_size = 16;

using ntlm_session_key = std::array<unsigned char, 16>;

struct ntlm_options {
    bool key_exchange = true;         // the checksum is RC4-encrypted too
    std::size_t seal_key_bytes = 16;  // of the session key: 16 (128-bit), 7 (56), 5 (40)
};

// One direction of an established connection: the sealing key's RC4 stream and the signing
// key's HMAC, carried from message to message, and the sequence number.
class ntlm_direction {
public:
    ntlm_direction(const ntlm_session_key& session_key, bool client_to_server, ntlm_options options,
                   std::uint32_t sequence);
    ntlm_direction(ntlm_direction&&) noexcept;
    ntlm_direction& operator=(ntlm_direction&&) noexcept;
    ~ntlm_direction();

    // `signature` receives 16 bytes, `sealed` plain.size() bytes.
    void seal(std::string_view plain, char* signature, char* sealed);
    // Decrypts into `plain`; false when the signature does not verify (tampered, replayed or
    // out of order). Stream and sequence move on either way, as gss-ntlmssp's do: a tampered
    // message costs only itself, a replayed or reordered one every message after it too.
    bool unseal(std::string_view signature, std::string_view sealed, std::string& plain);

private:
    struct rc4_state;
    void checksum(std::string_view plain, unsigned char* signature);

    std::unique_ptr<rc4_state> rc4_;
    std::unique_ptr<EVP_MAC_CTX, void (*)(EVP_MAC_CTX*)> mac_;
    std::uint32_t sequence_;
    bool key_exchange_;
};

// The state that continues a direction after `signature` + `sealed`, the first message the
// mechanism sealed or unsealed that way with plaintext `plain`; nullopt when none of the
// option sets the mechanisms negotiate reproduces it.
std::optional<ntlm_direction> learn_direction(const ntlm_session_key& session_key,
                                              bool client_to_server, std::string_view plain,
                                              std::string_view signature, std::string_view sealed);

}  // namespace wsman_wire::detail
