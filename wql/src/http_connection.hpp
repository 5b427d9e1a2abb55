#pragma once

// One HTTP/1.1 keep-alive connection, plain or TLS, with a deadline on every step: blocking
// calls on one socket, no event loop and no thread. Beast reads and writes the messages.

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "libwql/wsman_client.hpp"
#include "net_error.hpp"
#include "socket_stream.hpp"
#include "tls_session.hpp"

namespace libwql::detail {

class http_connection {
public:
    using request_fields = boost::beast::http::request_header<>;
    using response = boost::beast::http::response<boost::beast::http::string_body>;
    using duration = std::chrono::steady_clock::duration;

    // A POST head as Beast writes it from `fields` (everything but Content-Length), rendered
    // once and cut around the length: every warm request of a connection repeats the same
    // head, and only the body's length differs.
    class request_head {
    public:
        explicit request_head(request_fields fields);

    private:
        friend class http_connection;
        std::string before_length_;
        std::string after_length_;
    };

    http_connection(std::string host, std::uint16_t port, std::size_t max_reply_bytes, bool tls,
                    address_family family);

    // Resolves, connects and (for TLS) completes a verified handshake, each step within
    // `timeout`. Nothing is ever sent on a connection whose certificate failed. Throws
    // net_error.
    void connect(duration timeout);
    // Writes `head` with `body` in one send and reads one reply, all within `timeout`. Throws
    // net_error; after any failure the connection is closed.
    response round_trip(const request_head& head, std::string_view body, duration timeout);
    // Takes back a reply's body the caller is done with: the next reply is read into its
    // capacity, unless that is larger than a usual reply.
    void recycle(std::string body) noexcept;
    bool is_open() const { return open_; }
    // False when the peer has closed an idle connection or sent something unasked; checked
    // before a pooled connection is reused, without blocking.
    bool still_usable() const;
    void close() noexcept;
    // How many replies this socket has carried.
    std::size_t replies() const { return replies_; }
    // RFC 5929 tls-server-end-point channel binding data of the open TLS connection; empty for
    // plain HTTP.
    const std::string& channel_binding() const;

private:
    std::string host_;
    std::uint16_t port_;
    std::size_t max_reply_bytes_;
    bool use_tls_;
    address_family family_;
    socket_stream socket_;
    std::unique_ptr<tls_session> tls_;
    // Replies are read through this, in reads of up to its capacity; kept for the connection.
    boost::beast::flat_buffer buffer_;
    std::string spare_body_;
    bool open_ = false;
    std::size_t replies_ = 0;
};

}  // namespace libwql::detail
