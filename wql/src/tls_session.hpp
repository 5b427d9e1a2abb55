#pragma once

// TLS client over a connected socket_stream. The header names no TLS library: one
// implementation is compiled in, chosen by the build (tls_openssl.cpp; another platform's
// native one beside it).

#include <boost/asio/buffer.hpp>
#include <boost/system/error_code.hpp>

#include <cstddef>
#include <memory>
#include <string>

namespace libwql::detail {

class socket_stream;

class tls_session {
public:
    virtual ~tls_session() = default;

    // A handshake with `host` (a name, sent as SNI, or an IP address) over `socket`, bounded
    // by the socket's deadline. The chain must lead to a trusted CA and the certificate must
    // name `host` (no partial wildcards); on failure nothing else is sent. Throws net_error:
    // a tls_* kind, or timeout. `where` ("host:port") goes into the messages.
    static std::unique_ptr<tls_session> handshake(socket_stream& socket, const std::string& host,
                                                  const std::string& where);

    // Plaintext received, at most `size` bytes; at the peer's close asio::error::eof, past the
    // socket's deadline asio::error::timed_out.
    virtual std::size_t read_some(void* data, std::size_t size, boost::system::error_code& ec) = 0;
    // Sends all `count` parts, in as few records as they fit.
    virtual std::size_t write(const boost::asio::const_buffer* parts, std::size_t count,
                              boost::system::error_code& ec) = 0;
    // RFC 5929 tls-server-end-point channel binding data ("tls-server-end-point:" + the
    // certificate's hash).
    virtual const std::string& channel_binding() const = 0;
};

}  // namespace libwql::detail
