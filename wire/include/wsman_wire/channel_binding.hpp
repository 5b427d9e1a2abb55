#pragma once

#include <string>

#if defined(_WIN32)
struct _CERT_CONTEXT;
#else
#include <openssl/x509.h>
#endif

namespace wsman_wire {

// RFC 5929 tls-server-end-point binding data of a server certificate, as both ends of a TLS
// logon compute it: "tls-server-end-point:" + the certificate's hash by its signature's digest
// (SHA-256 for MD5, SHA-1 or an unknown one). Empty when there is no certificate to hash.
#if defined(_WIN32)
std::string tls_server_end_point(const _CERT_CONTEXT* certificate);
#else
std::string tls_server_end_point(X509* certificate);
#endif

}  // namespace wsman_wire
