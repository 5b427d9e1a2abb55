#include "http_connection.hpp"

#include <boost/asio/connect.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <optional>

namespace libwql::detail {

namespace beast = boost::beast;
namespace asio = boost::asio;
namespace http = beast::http;

namespace {

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

}  // namespace

http_connection::http_connection(std::string host, std::uint16_t port, std::size_t max_reply_bytes)
    : host_(std::move(host)), port_(port), max_reply_bytes_(max_reply_bytes), stream_(io_) {}

void http_connection::run(duration timeout, const bool& done, net_failure on_timeout,
                          const char* step, const std::function<void()>& cancel) {
    io_.restart();
    io_.run_for(timeout);
    if (done) return;
    // Cancel whatever is pending and let its handler run, so nothing refers to us later.
    beast::error_code ignored;
    if (cancel) cancel();
    stream_.socket().close(ignored);
    io_.restart();
    io_.run();
    open_ = false;
    throw net_error(
        on_timeout,
        std::string(step) + ": no answer within " +
            std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count()) +
            " ms");
}

void http_connection::connect(duration timeout) {
    close();
    asio::ip::tcp::resolver resolver(io_);
    bool done = false;
    beast::error_code result;
    asio::ip::tcp::resolver::results_type endpoints;
    resolver.async_resolve(host_, std::to_string(port_),
                           [&](const beast::error_code& ec, auto found) {
                               result = ec;
                               endpoints = std::move(found);
                               done = true;
                           });
    // A lookup or connect that never finishes means an unreachable target, not a slow one.
    run(timeout, done, net_failure::resolve, "name lookup", [&] { resolver.cancel(); });
    if (result) {
        throw net_error(net_failure::resolve,
                        "cannot resolve '" + host_ + "': " + result.message());
    }
    done = false;
    stream_.async_connect(endpoints, [&](const beast::error_code& ec, const auto&) {
        result = ec;
        done = true;
    });
    run(timeout, done, net_failure::connect, "connect", {});
    if (result) {
        close();
        throw net_error(net_failure::connect, "cannot connect to " + host_ + ":" +
                                                  std::to_string(port_) + ": " + result.message());
    }
    beast::error_code ignored;
    stream_.socket().set_option(asio::ip::tcp::no_delay(true), ignored);
    open_ = true;
    replies_ = 0;
}

http_connection::response http_connection::round_trip(request& req, duration timeout) {
    if (!open_) throw net_error(net_failure::closed, "the connection is not open");
    req.prepare_payload();
    bool done = false;
    beast::error_code result;
    std::optional<http::response_parser<http::string_body>> parser(std::in_place);
    parser->body_limit(max_reply_bytes_);
    parser->header_limit(64 * 1024);
    http::async_write(stream_, req, [&](const beast::error_code& ec, std::size_t) {
        if (ec) {
            result = ec;
            done = true;
            return;
        }
        // Beast (1.74) checks body_limit against chunks but not against a Content-Length, so
        // the announced length is checked here before any of the body is read.
        http::async_read_header(
            stream_, buffer_, *parser, [&](const beast::error_code& header_ec, std::size_t) {
                if (header_ec) {
                    result = header_ec;
                } else if (parser->content_length().value_or(0) > max_reply_bytes_) {
                    result = http::error::body_limit;
                }
                if (result || parser->is_done()) {
                    done = true;
                    return;
                }
                http::async_read(stream_, buffer_, *parser,
                                 [&](const beast::error_code& read_ec, std::size_t) {
                                     result = read_ec;
                                     done = true;
                                 });
            });
    });
    try {
        run(timeout, done, net_failure::timeout, "reply", {});
    } catch (const net_error&) {
        close();
        throw;
    }
    if (result) {
        close();
        throw classify(result, "HTTP exchange with " + host_ + ":" + std::to_string(port_));
    }
    response reply = parser->release();
    ++replies_;
    if (!reply.keep_alive()) close();
    return reply;
}

void http_connection::close() noexcept {
    beast::error_code ignored;
    stream_.socket().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    stream_.socket().close(ignored);
    buffer_.clear();
    open_ = false;
}

}  // namespace libwql::detail
