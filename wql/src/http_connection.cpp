#include "http_connection.hpp"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <memory>
#include <optional>

#include "wsman_wire/channel_binding.hpp"

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
        ec == asio::error::not_connected || ec == asio::ssl::error::stream_truncated) {
        return {net_failure::closed, where + ": the connection was closed (" + ec.message() + ")"};
    }
    if (ec.category() == beast::error_code(http::error::bad_version).category()) {
        return {net_failure::protocol, where + ": not an HTTP reply (" + ec.message() + ")"};
    }
    return {net_failure::closed, where + ": " + ec.message()};
}

// One client context for the process: loading the trust store is costly, and it is the
// same for every connection. OpenSSL's default paths honour SSL_CERT_FILE and SSL_CERT_DIR.
asio::ssl::context& client_tls_context() {
    static asio::ssl::context context = [] {
        asio::ssl::context c(asio::ssl::context::tls_client);
        SSL_CTX_set_min_proto_version(c.native_handle(), TLS1_2_VERSION);
        c.set_default_verify_paths();
        c.set_verify_mode(asio::ssl::verify_peer);
        return c;
    }();
    return context;
}

net_error tls_failure(const beast::error_code& ec, long verify_result, const std::string& where) {
    switch (verify_result) {
        case X509_V_OK:
            break;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
            return {net_failure::tls_unknown_issuer,
                    where + ": " + X509_verify_cert_error_string(verify_result)};
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return {net_failure::tls_expired,
                    where + ": " + X509_verify_cert_error_string(verify_result)};
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return {net_failure::tls_host_name,
                    where + ": " + X509_verify_cert_error_string(verify_result)};
        default:
            return {net_failure::tls_handshake,
                    where + ": " + X509_verify_cert_error_string(verify_result)};
    }
    // An HTTP status line read as a TLS record header has a version no TLS ever had.
    if (ec.category() == asio::error::get_ssl_category() &&
        ERR_GET_REASON(static_cast<unsigned long>(ec.value())) == SSL_R_WRONG_VERSION_NUMBER) {
        return {net_failure::tls_plain_http, where + ": the port answered in plain HTTP"};
    }
    return {net_failure::tls_handshake, where + ": " + ec.message()};
}

std::string end_point_binding(SSL* ssl) {
    std::unique_ptr<X509, decltype(&X509_free)> cert(SSL_get1_peer_certificate(ssl), &X509_free);
    return wsman_wire::tls_server_end_point(cert.get());
}

}  // namespace

http_connection::http_connection(std::string host, std::uint16_t port, std::size_t max_reply_bytes,
                                 bool tls, address_family family)
    : host_(std::move(host)),
      port_(port),
      max_reply_bytes_(max_reply_bytes),
      use_tls_(tls),
      family_(family),
      tcp_(io_) {}

void http_connection::run(duration timeout, const bool& done, net_failure on_timeout,
                          const char* step, const std::function<void()>& cancel) {
    io_.restart();
    if (timeout > duration::zero()) io_.run_for(timeout);
    if (done) return;
    // Cancel whatever is pending and let its handler run, so nothing refers to us later.
    beast::error_code ignored;
    if (cancel) cancel();
    tcp_.socket().close(ignored);
    io_.restart();
    io_.run();
    close();
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
    auto resolved = [&](const beast::error_code& ec, auto found) {
        result = ec;
        endpoints = std::move(found);
        done = true;
    };
    const std::string service = std::to_string(port_);
    if (family_ == address_family::ipv4) {
        resolver.async_resolve(asio::ip::tcp::v4(), host_, service, resolved);
    } else if (family_ == address_family::ipv6) {
        resolver.async_resolve(asio::ip::tcp::v6(), host_, service, resolved);
    } else {
        resolver.async_resolve(host_, service, resolved);
    }
    // A lookup or connect that never finishes means an unreachable target, not a slow one.
    run(timeout, done, net_failure::resolve, "name lookup", [&] { resolver.cancel(); });
    if (result) {
        throw net_error(net_failure::resolve,
                        "cannot resolve '" + host_ + "': " + result.message());
    }
    done = false;
    tcp_.async_connect(endpoints, [&](const beast::error_code& ec, const auto&) {
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
    tcp_.socket().set_option(asio::ip::tcp::no_delay(true), ignored);
    if (use_tls_) handshake(timeout);
    open_ = true;
    replies_ = 0;
}

void http_connection::handshake(duration timeout) {
    tls_.emplace(tcp_, client_tls_context());
    SSL* ssl = tls_->native_handle();
    beast::error_code not_an_address;
    asio::ip::make_address(host_, not_an_address);
    X509_VERIFY_PARAM* verify = SSL_get0_param(ssl);
    X509_VERIFY_PARAM_set_hostflags(verify, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (!not_an_address) {
        X509_VERIFY_PARAM_set1_ip_asc(verify, host_.c_str());
    } else {
        SSL_set1_host(ssl, host_.c_str());
        // SSL_set_tlsext_host_name without the macro's C cast.
        SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                 const_cast<char*>(host_.c_str()));
    }
    bool done = false;
    beast::error_code result;
    tls_->async_handshake(asio::ssl::stream_base::client, [&](const beast::error_code& ec) {
        result = ec;
        done = true;
    });
    run(timeout, done, net_failure::timeout, "TLS handshake", {});
    const std::string where = "TLS handshake with " + host_ + ":" + std::to_string(port_);
    if (result || SSL_get_verify_result(ssl) != X509_V_OK) {
        const long verify_result = SSL_get_verify_result(ssl);
        close();
        throw tls_failure(result, verify_result, where);
    }
    channel_binding_ = end_point_binding(ssl);
}

http_connection::response http_connection::round_trip(request& req, duration timeout) {
    if (!open_) throw net_error(net_failure::closed, "the connection is not open");
    req.prepare_payload();
    bool done = false;
    beast::error_code result;
    std::optional<http::response_parser<http::string_body>> parser(std::in_place);
    parser->body_limit(max_reply_bytes_);
    parser->header_limit(64 * 1024);
    with_stream([&](auto& stream) {
        http::async_write(stream, req, [&](const beast::error_code& ec, std::size_t) {
            if (ec) {
                result = ec;
                done = true;
                return;
            }
            // Beast (1.74) checks body_limit against chunks but not against a Content-Length,
            // so the announced length is checked here before any of the body is read.
            http::async_read_header(
                stream, buffer_, *parser, [&](const beast::error_code& header_ec, std::size_t) {
                    if (header_ec) {
                        result = header_ec;
                    } else if (parser->content_length().value_or(0) > max_reply_bytes_) {
                        result = http::error::body_limit;
                    }
                    if (result || parser->is_done()) {
                        done = true;
                        return;
                    }
                    http::async_read(stream, buffer_, *parser,
                                     [&](const beast::error_code& read_ec, std::size_t) {
                                         result = read_ec;
                                         done = true;
                                     });
                });
        });
    });
    run(timeout, done, net_failure::timeout, "reply", {});
    if (result) {
        close();
        throw classify(result, "HTTP exchange with " + host_ + ":" + std::to_string(port_));
    }
    response reply = parser->release();
    ++replies_;
    if (!reply.keep_alive()) close();
    return reply;
}

bool http_connection::still_usable() const {
    if (!open_) return false;
    // A peek that would block means nothing arrived: no close, no reset, no stray bytes.
    auto& socket = const_cast<beast::tcp_stream&>(tcp_).socket();
    beast::error_code ec;
    socket.non_blocking(true, ec);
    if (ec) return false;
    char byte = 0;
    socket.receive(asio::buffer(&byte, 1), asio::socket_base::message_peek, ec);
    beast::error_code ignored;
    socket.non_blocking(false, ignored);
    return ec == asio::error::would_block && buffer_.size() == 0;
}

void http_connection::close() noexcept {
    beast::error_code ignored;
    tcp_.socket().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    tcp_.socket().close(ignored);
    tls_.reset();
    buffer_.clear();
    channel_binding_.clear();
    open_ = false;
}

}  // namespace libwql::detail
