#pragma once

#include <stdexcept>
#include <string>

namespace libwql::detail {

enum class net_failure {
    resolve,    // the name does not resolve
    connect,    // refused or unreachable
    timeout,    // a deadline passed
    closed,     // the peer closed or reset the connection, or the reply was cut short
    too_large,  // the reply exceeds the size limit
    protocol,   // not HTTP
    // TLS: the certificate chain does not lead to a trusted issuer
    tls_unknown_issuer,
    tls_expired,     // a certificate of the chain is expired or not valid yet
    tls_host_name,   // the certificate names another host
    tls_plain_http,  // the port answered the handshake with plain HTTP
    tls_handshake,   // any other handshake failure (versions, ciphers, a broken peer)
};

class net_error : public std::runtime_error {
public:
    net_error(net_failure kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
    net_failure kind() const { return kind_; }

private:
    net_failure kind_;
};

}  // namespace libwql::detail
