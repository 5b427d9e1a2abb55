#include "http_connection.hpp"

#include <boost/asio/error.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <array>
#include <charconv>
#include <limits>
#include <sstream>
#include <tuple>

namespace libwql::detail {

namespace beast = boost::beast;
namespace asio = boost::asio;
namespace http = beast::http;
using clock_type = std::chrono::steady_clock;

namespace {

// Large reads: a typical reply arrives in one receive.
constexpr std::size_t read_buffer_bytes = 64 * 1024;

net_error classify(const beast::error_code& ec, const std::string& where) {
    if (ec == http::error::body_limit || ec == http::error::header_limit ||
        ec == http::error::buffer_overflow) {
        return {net_failure::too_large, where + ": the reply is too large"};
    }
    if (ec == http::error::end_of_stream || ec == http::error::partial_message ||
        ec == asio::error::eof || ec == asio::error::connection_reset ||
        ec == asio::error::connection_aborted || ec == asio::error::broken_pipe ||
        ec == asio::error::not_connected) {
        return {net_failure::closed, where + ": the connection was closed (" + ec.message() + ")"};
    }
    if (ec.category() == beast::error_code(http::error::bad_version).category()) {
        return {net_failure::protocol, where + ": not an HTTP reply (" + ec.message() + ")"};
    }
    return {net_failure::closed, where + ": " + ec.message()};
}

std::string no_answer(const char* step, http_connection::duration timeout) {
    return std::string(step) + ": no answer within " +
           std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count()) +
           " ms";
}

// Beast's SyncReadStream/SyncWriteStream over the socket, through TLS when there is a session.
class message_stream {
public:
    message_stream(socket_stream& socket, tls_session* tls) : socket_(socket), tls_(tls) {}

    template <typename MutableBuffers>
    std::size_t read_some(const MutableBuffers& buffers, beast::error_code& ec) {
        if (!tls_) return socket_.read_some(buffers, ec);
        for (auto it = asio::buffer_sequence_begin(buffers);
             it != asio::buffer_sequence_end(buffers); ++it) {
            const asio::mutable_buffer b = *it;
            if (b.size() > 0) return tls_->read_some(b.data(), b.size(), ec);
        }
        ec = {};
        return 0;
    }
    template <typename MutableBuffers>
    std::size_t read_some(const MutableBuffers& buffers) {
        beast::error_code ec;
        const auto n = read_some(buffers, ec);
        if (ec) throw boost::system::system_error(ec);
        return n;
    }
    template <typename ConstBuffers>
    std::size_t write_some(const ConstBuffers& buffers, beast::error_code& ec) {
        if (!tls_) return socket_.write_some(buffers, ec);
        std::array<asio::const_buffer, 32> parts;
        std::size_t count = 0;
        for (auto it = asio::buffer_sequence_begin(buffers);
             it != asio::buffer_sequence_end(buffers) && count < parts.size(); ++it) {
            const asio::const_buffer b = *it;
            if (b.size() > 0) parts[count++] = b;
        }
        return tls_->write(parts.data(), count, ec);
    }
    template <typename ConstBuffers>
    std::size_t write_some(const ConstBuffers& buffers) {
        beast::error_code ec;
        const auto n = write_some(buffers, ec);
        if (ec) throw boost::system::system_error(ec);
        return n;
    }

private:
    socket_stream& socket_;
    tls_session* tls_;
};

}  // namespace

http_connection::request_head::request_head(request_fields fields) {
    // A whole line is unique in a head: no field value holds a line break.
    constexpr auto marker = std::numeric_limits<std::uint64_t>::max();
    const std::string digits = std::to_string(marker);
    const std::string line = "\r\nContent-Length: " + digits + "\r\n";
    http::request<http::empty_body> message(std::move(fields));
    message.content_length(marker);
    std::ostringstream text;
    text << message;
    const std::string rendered = std::move(text).str();
    const auto at = rendered.find(line);
    if (at == std::string::npos) throw std::logic_error("a request head without Content-Length");
    const auto digits_at = at + line.size() - 2 - digits.size();
    before_length_ = rendered.substr(0, digits_at);
    after_length_ = rendered.substr(digits_at + digits.size());
}

http_connection::http_connection(std::string host, std::uint16_t port, std::size_t max_reply_bytes,
                                 bool tls, address_family family)
    : host_(std::move(host)),
      port_(port),
      max_reply_bytes_(max_reply_bytes),
      use_tls_(tls),
      family_(family) {}

const std::string& http_connection::channel_binding() const {
    static const std::string none;
    return tls_ ? tls_->channel_binding() : none;
}

void http_connection::connect(duration timeout) {
    close();
    const auto deadline = clock_type::now() + timeout;
    bool resolve_failed = false;
    const auto ec = socket_.connect(host_, port_, family_, deadline, resolve_failed);
    const std::string where = host_ + ":" + std::to_string(port_);
    if (ec) {
        close();
        if (resolve_failed) {
            throw net_error(net_failure::resolve,
                            "cannot resolve '" + host_ + "': " + ec.message());
        }
        // A connect that never finishes means an unreachable target, not a slow one.
        if (ec == asio::error::timed_out)
            throw net_error(net_failure::connect, no_answer("connect", timeout));
        throw net_error(net_failure::connect, "cannot connect to " + where + ": " + ec.message());
    }
    if (use_tls_) {
        try {
            tls_ = tls_session::handshake(socket_, host_, where);
        } catch (...) {
            close();
            throw;
        }
    }
    buffer_.reserve(read_buffer_bytes);
    open_ = true;
    replies_ = 0;
}

http_connection::response http_connection::round_trip(const request_head& head,
                                                      std::string_view body, duration timeout) {
    if (!open_) throw net_error(net_failure::closed, "the connection is not open");
    // One deadline for the whole exchange: a peer trickling bytes cannot stretch it.
    socket_.set_deadline(clock_type::now() + timeout);
    message_stream stream(socket_, tls_.get());
    beast::error_code ec;
    char length[std::numeric_limits<std::uint64_t>::digits10 + 1];
    const char* length_end = std::to_chars(length, length + sizeof length, body.size()).ptr;
    const std::array<asio::const_buffer, 4> message{
        asio::buffer(head.before_length_), asio::buffer(length, length_end - length),
        asio::buffer(head.after_length_), asio::buffer(body.data(), body.size())};
    asio::write(stream, message, ec);
    http::response_parser<http::string_body> parser(std::piecewise_construct,
                                                    std::make_tuple(std::move(spare_body_)));
    spare_body_ = {};
    parser.body_limit(max_reply_bytes_);
    parser.header_limit(64 * 1024);
    if (!ec) http::read_header(stream, buffer_, parser, ec);
    // Beast (1.74) checks body_limit against chunks but not against a Content-Length, so the
    // announced length is checked here before any of the body is read.
    if (!ec && parser.content_length().value_or(0) > max_reply_bytes_) ec = http::error::body_limit;
    if (!ec && !parser.is_done()) http::read(stream, buffer_, parser, ec);
    if (ec) {
        close();
        if (ec == asio::error::timed_out)
            throw net_error(net_failure::timeout, no_answer("reply", timeout));
        throw classify(ec, "HTTP exchange with " + host_ + ":" + std::to_string(port_));
    }
    response reply = parser.release();
    ++replies_;
    if (!reply.keep_alive()) close();
    return reply;
}

void http_connection::recycle(std::string body) noexcept {
    if (body.capacity() > read_buffer_bytes) return;
    body.clear();
    spare_body_ = std::move(body);
}

bool http_connection::still_usable() const {
    // Nothing readable: no close, no reset, no stray bytes (also none left in the buffer).
    return open_ && buffer_.size() == 0 && socket_.quiet();
}

void http_connection::close() noexcept {
    tls_.reset();
    socket_.close();
    buffer_.clear();
    open_ = false;
}

}  // namespace libwql::detail
