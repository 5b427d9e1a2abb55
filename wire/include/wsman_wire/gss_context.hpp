#pragma once

// One security context (Negotiate, Kerberos or NTLM) and the WinRM way of sealing messages
// with it. Both ends use it: a client as initiator, a service as acceptor. The interface names
// no platform type: the implementation behind it (GSSAPI here) is chosen at build time.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace wsman_wire {

// A security failure with the mechanism's own text; never contains credentials. `status` is
// the implementation's major status code (0 when there is none).
class gss_error : public std::runtime_error {
public:
    explicit gss_error(const std::string& what, std::uint32_t status = 0)
        : std::runtime_error(what), status_(status) {}
    std::uint32_t status() const { return status_; }

private:
    std::uint32_t status_;
};

enum class gss_mechanism {
    negotiate,  // SPNEGO: Kerberos when a KDC answers, else NTLM
    kerberos,
    ntlm,
};

class gss_context {
public:
    // `user` is "DOMAIN\name", "name@REALM" or "name"; `target_host` becomes "HTTP@host".
    // `channel_binding` is the TLS channel's binding data (RFC 5929 "tls-server-end-point:"
    // + hash) sent with the authentication; empty outside TLS.
    static gss_context initiator(const std::string& user, const std::string& password,
                                 const std::string& target_host, gss_mechanism mechanism,
                                 std::string channel_binding = {});
    // Accepts any mechanism the library knows (credentials from the environment, e.g. an
    // NTLM user file or a keytab). With `channel_binding`, the initiator must send the same.
    static gss_context acceptor(std::string channel_binding = {});

    gss_context(gss_context&& other) noexcept;
    gss_context& operator=(gss_context&& other) noexcept;
    gss_context(const gss_context&) = delete;
    gss_context& operator=(const gss_context&) = delete;
    ~gss_context();

    // Feeds the peer's token (empty for the initiator's first leg) and returns the token to
    // send, which may be empty. Throws gss_error when authentication fails.
    std::string step(std::string_view input);
    bool established() const;
    // True when the negotiated mechanism is Kerberos (decides the sealing layout).
    bool uses_kerberos() const;
    // Acceptor: the initiator proved the channel binding (mechanisms accept a logon that
    // carries none).
    bool channel_bound() const;
    // The authenticated peer, e.g. "TESTDOM\testuser" (acceptor side).
    std::string peer_name() const;

    // Seals `plain` into {header, sealed data} as WinRM frames them, replacing what the two
    // strings held (a caller that keeps them reuses their capacity).
    void seal(std::string_view plain, std::string& header, std::string& data);
    std::pair<std::string, std::string> seal(std::string_view plain) {
        std::pair<std::string, std::string> sealed;
        seal(plain, sealed.first, sealed.second);
        return sealed;
    }
    // Verifies and decrypts; throws gss_error on a bad signature or an unencrypted message.
    std::string unseal(std::string_view header, std::string_view data);

private:
    struct state;
    explicit gss_context(std::unique_ptr<state> state);
    // The state of a context that was not moved from; throws gss_error otherwise.
    state& live();

    std::unique_ptr<state> state_;
};

// The principal GSSAPI is given for a user: "DOMAIN\\name" and "name@REALM" as entered; a
// bare name with a DNS domain (or any domain when only Kerberos is allowed) becomes
// "name@DOMAIN" in upper case, with a NetBIOS domain "DOMAIN\\name", without one "name".
std::string principal_name(const std::string& user, const std::string& domain, bool kerberos_only);

}  // namespace wsman_wire
