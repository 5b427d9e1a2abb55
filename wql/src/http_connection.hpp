#pragma once

// One HTTP/1.1 keep-alive connection, plain or TLS, with a deadline on every step. Blocking
// for the caller; internally asynchronous so that a deadline can cancel a stuck resolve,
// connect, handshake or read.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "libwql/wsman_client.hpp"

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

class http_connection {
public:
    using request = boost::beast::http::request<boost::beast::http::string_body>;
    using response = boost::beast::http::response<boost::beast::http::string_body>;
    using duration = std::chrono::steady_clock::duration;

    http_connection(std::string host, std::uint16_t port, std::size_t max_reply_bytes, bool tls,
                    address_family family);

    // Resolves, connects and (for TLS) completes a verified handshake, each step within
    // `timeout`. Nothing is ever sent on a connection whose certificate failed. Throws
    // net_error.
    void connect(duration timeout);
    // Writes `req` and reads one reply, all within `timeout`. Throws net_error; after any
    // failure the connection is closed.
    response round_trip(request& req, duration timeout);
    bool is_open() const { return open_; }
    // False when the peer has closed an idle connection or sent something unasked; checked
    // before a pooled connection is reused, without blocking.
    bool still_usable() const;
    void close() noexcept;
    // How many replies this socket has carried.
    std::size_t replies() const { return replies_; }
    // RFC 5929 tls-server-end-point channel binding data ("tls-server-end-point:" + the
    // certificate's hash) of the open TLS connection; empty for plain HTTP.
    const std::string& channel_binding() const { return channel_binding_; }

private:
    using tls_stream = boost::asio::ssl::stream<boost::beast::tcp_stream&>;

    // Runs the queued operation until `done` or the deadline; on the deadline cancels it and
    // throws net_error of kind `on_timeout`.
    void run(duration timeout, const bool& done, net_failure on_timeout, const char* step,
             const std::function<void()>& cancel);
    void handshake(duration timeout);
    template <typename Operation>
    void with_stream(Operation&& operation) {
        if (tls_) {
            operation(*tls_);
        } else {
            operation(tcp_);
        }
    }

    std::string host_;
    std::uint16_t port_;
    std::size_t max_reply_bytes_;
    bool use_tls_;
    address_family family_;
    boost::asio::io_context io_;
    boost::beast::tcp_stream tcp_;
    std::optional<tls_stream> tls_;
    boost::beast::flat_buffer buffer_;
    bool open_ = false;
    std::size_t replies_ = 0;
    std::string channel_binding_;
};

}  // namespace libwql::detail
