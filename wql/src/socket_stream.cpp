#include "socket_stream.hpp"

#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>

#include <algorithm>

// ---- Platform: the only socket calls that do not go through Asio. Asio's synchronous
// operations wait without a time limit once a call would block, so the kernel time-outs,
// the readiness waits and the gathered send are made here, for POSIX and for Winsock.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#endif

namespace libwql::detail {

namespace asio = boost::asio;
using error_code = socket_stream::error_code;
using std::chrono::milliseconds;

namespace {

namespace platform {

using native = asio::ip::tcp::socket::native_handle_type;

error_code last_error() {
#ifdef _WIN32
    return {WSAGetLastError(), asio::error::get_system_category()};
#else
    return {errno, asio::error::get_system_category()};
#endif
}

bool interrupted(const error_code& ec) { return ec == asio::error::interrupted; }

// What a blocking call returns when its kernel time-out ran out.
bool timed_out(const error_code& ec) {
    return ec == asio::error::would_block || ec == asio::error::try_again ||
           ec == asio::error::timed_out;
}

error_code set_timeout(native s, bool receive, milliseconds timeout) {
    const int option = receive ? SO_RCVTIMEO : SO_SNDTIMEO;
#ifdef _WIN32
    const DWORD ms = static_cast<DWORD>(timeout.count());
    if (::setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&ms), sizeof ms) != 0)
        return last_error();
#else
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    if (::setsockopt(s, SOL_SOCKET, option, &tv, sizeof tv) != 0) return last_error();
#endif
    return {};
}

// Bytes received, 0 at the peer's orderly close, -1 with `ec` set.
long receive(native s, void* data, std::size_t size, error_code& ec) {
#ifdef _WIN32
    const int n = ::recv(s, static_cast<char*>(data),
                         static_cast<int>(std::min<std::size_t>(size, 1u << 30)), 0);
#else
    const ssize_t n = ::recv(s, data, size, 0);
#endif
    if (n < 0) ec = last_error();
    return static_cast<long>(n);
}

// One gathered send of up to 16 parts; bytes sent or -1 with `ec` set.
long send(native s, const asio::const_buffer* parts, std::size_t count, error_code& ec) {
#ifdef _WIN32
    WSABUF buffers[16];
    for (std::size_t i = 0; i < count; ++i) {
        buffers[i].buf = static_cast<char*>(const_cast<void*>(parts[i].data()));
        buffers[i].len = static_cast<ULONG>(parts[i].size());
    }
    DWORD sent = 0;
    if (::WSASend(s, buffers, static_cast<DWORD>(count), &sent, 0, nullptr, nullptr) != 0) {
        ec = last_error();
        return -1;
    }
    return static_cast<long>(sent);
#else
    iovec buffers[16];
    for (std::size_t i = 0; i < count; ++i) {
        buffers[i].iov_base = const_cast<void*>(parts[i].data());
        buffers[i].iov_len = parts[i].size();
    }
    msghdr message{};
    message.msg_iov = buffers;
    message.msg_iovlen = count;
    // A peer that went away must give an error, not SIGPIPE to the host process.
    const ssize_t n = ::sendmsg(s, &message, MSG_NOSIGNAL);
    if (n < 0) ec = last_error();
    return static_cast<long>(n);
#endif
}

// 1 ready, 0 time-out, -1 with `ec` set. `write`: wait for writability, else readability.
int wait(native s, bool write, milliseconds timeout, error_code& ec) {
#ifdef _WIN32
    WSAPOLLFD entry{s, static_cast<SHORT>(write ? POLLWRNORM : POLLRDNORM), 0};
    const int n = ::WSAPoll(&entry, 1, static_cast<INT>(timeout.count()));
#else
    pollfd entry{s, static_cast<short>(write ? POLLOUT : POLLIN), 0};
    const int n = ::poll(&entry, 1, static_cast<int>(timeout.count()));
#endif
    if (n < 0) ec = last_error();
    return n;
}

error_code start_connect(native s, const asio::ip::tcp::endpoint& endpoint) {
    if (::connect(s, endpoint.data(), static_cast<int>(endpoint.size())) == 0) return {};
    const error_code ec = last_error();
    if (ec == asio::error::in_progress || ec == asio::error::would_block) {
        return asio::error::in_progress;
    }
    return ec;
}

error_code connect_result(native s) {
    int value = 0;
#ifdef _WIN32
    int size = sizeof value;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&value), &size) != 0)
        return last_error();
#else
    socklen_t size = sizeof value;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &value, &size) != 0) return last_error();
#endif
    return {value, asio::error::get_system_category()};
}

}  // namespace platform

// Socket objects need an execution context; this one is never run (no event loop, no thread)
// and is shared by every connection of the process. Never destroyed: pooled sockets may
// outlive static destruction.
asio::io_context& socket_context() {
    static auto* context = new asio::io_context;
    return *context;
}

milliseconds until(socket_stream::clock::time_point deadline) {
    return std::chrono::ceil<milliseconds>(deadline - socket_stream::clock::now());
}

}  // namespace

socket_stream::socket_stream() : socket_(socket_context()) {}

socket_stream::~socket_stream() { close(); }

void socket_stream::close() noexcept {
    error_code ignored;
    if (socket_.is_open()) socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    recv_armed_ = send_armed_ = {};
}

error_code socket_stream::connect(const std::string& host, std::uint16_t port,
                                  address_family family, clock::time_point deadline,
                                  bool& resolve_failed) {
    close();
    deadline_ = deadline;
    resolve_failed = false;
    asio::ip::tcp::resolver resolver(socket_context());
    error_code ec;
    const std::string service = std::to_string(port);
    asio::ip::tcp::resolver::results_type endpoints;
    if (family == address_family::ipv4) {
        endpoints = resolver.resolve(asio::ip::tcp::v4(), host, service, ec);
    } else if (family == address_family::ipv6) {
        endpoints = resolver.resolve(asio::ip::tcp::v6(), host, service, ec);
    } else {
        endpoints = resolver.resolve(host, service, ec);
    }
    if (!ec && endpoints.empty()) ec = asio::error::host_not_found;
    if (ec) {
        resolve_failed = true;
        return ec;
    }
    for (const auto& entry : endpoints) {
        ec = connect_one(entry.endpoint());
        if (!ec) return {};
        close();
        if (ec == asio::error::timed_out) break;
    }
    return ec;
}

error_code socket_stream::connect_one(const asio::ip::tcp::endpoint& endpoint) {
    error_code ec;
    socket_.open(endpoint.protocol(), ec);
    if (ec) return ec;
    socket_.non_blocking(true, ec);
    if (ec) return ec;
    ec = platform::start_connect(socket_.native_handle(), endpoint);
    while (ec == asio::error::in_progress) {
        const auto left = until(deadline_);
        if (left <= milliseconds::zero()) return asio::error::timed_out;
        error_code wait_ec;
        const int ready = platform::wait(socket_.native_handle(), true, left, wait_ec);
        if (ready < 0 && !platform::interrupted(wait_ec)) return wait_ec;
        if (ready > 0) ec = platform::connect_result(socket_.native_handle());
    }
    if (ec) return ec;
    // From here on blocking calls with kernel time-outs: one system call per read or write.
    socket_.non_blocking(false, ec);
    if (ec) return ec;
    socket_.set_option(asio::ip::tcp::no_delay(true), ec);
    return ec;
}

bool socket_stream::arm(bool receive, clock::duration& armed, error_code& ec) {
    if (deadline_ == clock::time_point::max()) {
        if (armed == clock::duration::zero()) return true;  // never set: none
        ec = platform::set_timeout(socket_.native_handle(), receive, milliseconds::zero());
        armed = {};
        return !ec;
    }
    const auto left = deadline_ - clock::now();
    if (left <= clock::duration::zero()) {
        ec = asio::error::timed_out;
        return false;
    }
    if (armed > clock::duration::zero() && armed <= left) return true;
    // Whole seconds leave the same time-out valid for the next steps of the same length, so
    // it is set once per connection in the steady state; near the deadline, milliseconds.
    const milliseconds want =
        left >= std::chrono::seconds(2)
            ? milliseconds(std::chrono::floor<std::chrono::seconds>(left))
            : std::max(std::chrono::floor<milliseconds>(left), milliseconds(1));
    ec = platform::set_timeout(socket_.native_handle(), receive, want);
    if (ec) return false;
    armed = want;
    return true;
}

std::size_t socket_stream::receive(void* data, std::size_t size, error_code& ec) {
    ec = {};
    if (!socket_.is_open()) {
        ec = asio::error::not_connected;
        return 0;
    }
    for (;;) {
        if (!arm(true, recv_armed_, ec)) return 0;
        const long n = platform::receive(socket_.native_handle(), data, size, ec);
        if (n > 0) return static_cast<std::size_t>(n);
        if (n == 0) {
            ec = asio::error::eof;
            return 0;
        }
        if (platform::interrupted(ec)) continue;
        if (!platform::timed_out(ec)) return 0;
        // The time-out ran out; the deadline may not have (a shorter time-out was armed).
        recv_armed_ = {};
    }
}

std::size_t socket_stream::send(const asio::const_buffer* parts, std::size_t count,
                                error_code& ec) {
    ec = {};
    if (!socket_.is_open()) {
        ec = asio::error::not_connected;
        return 0;
    }
    std::array<asio::const_buffer, 16> rest;
    std::copy(parts, parts + count, rest.begin());
    std::size_t first = 0;
    std::size_t total = 0;
    while (first < count) {
        if (!arm(false, send_armed_, ec)) return total;
        const long n =
            platform::send(socket_.native_handle(), rest.data() + first, count - first, ec);
        if (n < 0) {
            if (platform::interrupted(ec)) continue;
            if (!platform::timed_out(ec)) return total;
            send_armed_ = {};
            continue;
        }
        // A blocking send takes everything unless a time-out or signal cut it short.
        auto sent = static_cast<std::size_t>(n);
        total += sent;
        while (first < count && sent >= rest[first].size()) sent -= rest[first++].size();
        if (first < count) rest[first] += sent;
    }
    return total;
}

bool socket_stream::quiet() const {
    if (!socket_.is_open()) return false;
    error_code ec;
    // Readable means bytes nobody asked for or the peer's close: either way unusable.
    return platform::wait(const_cast<asio::ip::tcp::socket&>(socket_).native_handle(), false,
                          milliseconds::zero(), ec) == 0;
}

}  // namespace libwql::detail
