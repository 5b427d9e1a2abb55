#pragma once

// One HTTP/1.1 keep-alive connection with deadlines on every step. Blocking for the caller;
// internally asynchronous so that a deadline can cancel a stuck resolve, connect or read.
// HTTPS slots in here: the stream type is the only thing that changes for TLS.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
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

    http_connection(std::string host, std::uint16_t port, std::size_t max_reply_bytes);

    // Resolves and connects within `timeout`. Throws net_error.
    void connect(duration timeout);
    // Writes `req` and reads one reply, all within `timeout`. Throws net_error; after any
    // failure the connection is closed.
    response round_trip(request& req, duration timeout);
    bool is_open() const { return open_; }
    void close() noexcept;
    // How many replies this socket has carried.
    std::size_t replies() const { return replies_; }

private:
    // Runs the queued operation until `done` or the deadline; on the deadline cancels it and
    // throws net_error of kind `on_timeout`.
    void run(duration timeout, const bool& done, net_failure on_timeout, const char* step,
             const std::function<void()>& cancel);

    std::string host_;
    std::uint16_t port_;
    std::size_t max_reply_bytes_;
    boost::asio::io_context io_;
    boost::beast::tcp_stream stream_;
    boost::beast::flat_buffer buffer_;
    bool open_ = false;
    std::size_t replies_ = 0;
};

}  // namespace libwql::detail
