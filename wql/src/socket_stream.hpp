#pragma once

// A connected TCP socket with synchronous, deadline-bounded I/O and no event loop: blocking
// calls whose kernel time-outs never reach past the deadline, so a round trip costs one send
// and one receive in the steady state, and a peer that trickles bytes cannot hold the caller
// past the deadline. Meets Beast's SyncReadStream and SyncWriteStream.

#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "libwql/wsman_client.hpp"

namespace libwql::detail {

class socket_stream {
public:
    using clock = std::chrono::steady_clock;
    using error_code = boost::system::error_code;

    socket_stream();
    socket_stream(const socket_stream&) = delete;
    socket_stream& operator=(const socket_stream&) = delete;
    ~socket_stream();

    // Synchronous name lookup (getaddrinfo in the calling thread: no resolver thread; it is
    // bounded by the system resolver's own time-outs, not by `deadline`), then a connect to
    // each address in turn until one answers, each wait ending at `deadline`. Returns an empty
    // error_code or the failure; `resolve_failed` tells which step failed.
    error_code connect(const std::string& host, std::uint16_t port, address_family family,
                       clock::time_point deadline, bool& resolve_failed);
    // Every later read and write ends by this time (asio::error::timed_out).
    void set_deadline(clock::time_point deadline) { deadline_ = deadline; }
    clock::time_point deadline() const { return deadline_; }

    template <typename MutableBuffers>
    std::size_t read_some(const MutableBuffers& buffers, error_code& ec) {
        for (auto it = boost::asio::buffer_sequence_begin(buffers);
             it != boost::asio::buffer_sequence_end(buffers); ++it) {
            const boost::asio::mutable_buffer b = *it;
            if (b.size() > 0) return receive(b.data(), b.size(), ec);
        }
        ec = {};
        return 0;
    }
    template <typename MutableBuffers>
    std::size_t read_some(const MutableBuffers& buffers) {
        error_code ec;
        const auto n = read_some(buffers, ec);
        if (ec) throw boost::system::system_error(ec);
        return n;
    }
    // Gathers the buffers into one send (writes everything unless it fails).
    template <typename ConstBuffers>
    std::size_t write_some(const ConstBuffers& buffers, error_code& ec) {
        std::array<boost::asio::const_buffer, 16> parts;
        std::size_t count = 0;
        for (auto it = boost::asio::buffer_sequence_begin(buffers);
             it != boost::asio::buffer_sequence_end(buffers) && count < parts.size(); ++it) {
            const boost::asio::const_buffer b = *it;
            if (b.size() > 0) parts[count++] = b;
        }
        return send(parts.data(), count, ec);
    }
    template <typename ConstBuffers>
    std::size_t write_some(const ConstBuffers& buffers) {
        error_code ec;
        const auto n = write_some(buffers, ec);
        if (ec) throw boost::system::system_error(ec);
        return n;
    }

    // True when nothing has arrived and the peer has not closed: one non-blocking poll.
    bool quiet() const;
    bool is_open() const { return socket_.is_open(); }
    void close() noexcept;

private:
    std::size_t receive(void* data, std::size_t size, error_code& ec);
    std::size_t send(const boost::asio::const_buffer* parts, std::size_t count, error_code& ec);
    error_code connect_one(const boost::asio::ip::tcp::endpoint& endpoint);
    // Lowers (or, after an early wake-up, raises) the kernel time-out of one direction so it
    // ends by the deadline; false when the deadline has passed.
    bool arm(bool receive, clock::duration& armed, error_code& ec);

    boost::asio::ip::tcp::socket socket_;
    clock::time_point deadline_ = clock::time_point::max();
    // The receive and send time-outs the kernel holds now (zero: none set yet).
    clock::duration recv_armed_{};
    clock::duration send_armed_{};
};

}  // namespace libwql::detail
