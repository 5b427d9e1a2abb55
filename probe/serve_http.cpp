#include "serve_http.hpp"

#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace wmiprobe {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// A scrape takes milliseconds; anything slower is a stuck or hostile client.
constexpr std::chrono::seconds client_timeout{10};
constexpr std::uint32_t header_limit = 8 * 1024;

tcp::endpoint parse_listen(const std::string& listen) {
    const auto colon = listen.rfind(':');
    if (colon == std::string::npos || colon + 1 == listen.size()) {
        throw std::invalid_argument("the listen address '" + listen + "' is not ADDRESS:PORT");
    }
    std::string address = listen.substr(0, colon);
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
        address = address.substr(1, address.size() - 2);
    }
    const std::string port_text = listen.substr(colon + 1);
    unsigned long port = 0;
    std::size_t used = 0;
    try {
        port = std::stoul(port_text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != port_text.size() || port > 65535) {
        throw std::invalid_argument("the listen port '" + port_text + "' must be 0 to 65535");
    }
    boost::system::error_code error;
    const auto ip = asio::ip::make_address(address, error);
    if (error) {
        throw std::invalid_argument("the listen address '" + address + "' is not an IP address");
    }
    return {ip, static_cast<unsigned short>(port)};
}

class connection : public std::enable_shared_from_this<connection> {
public:
    connection(tcp::socket socket, const http_handler& handler)
        : stream_(std::move(socket)), handler_(handler) {}

    void start() {
        parser_.header_limit(header_limit);
        parser_.body_limit(0);
        stream_.expires_after(client_timeout);
        http::async_read(stream_, buffer_, parser_,
                         [self = shared_from_this()](beast::error_code error, std::size_t) {
                             self->answer(error);
                         });
    }

private:
    void answer(beast::error_code error) {
        if (error == http::error::end_of_stream || error == asio::error::operation_aborted ||
            error == beast::error::timeout) {
            return;
        }
        http_answer out;
        if (error) {
            out = {400, "text/plain; charset=utf-8", "bad request\n"};
        } else {
            const auto& request = parser_.get();
            try {
                out = handler_(std::string(request.method_string()), std::string(request.target()));
            } catch (const std::exception&) {
                out = {500, "text/plain; charset=utf-8", "internal error\n"};
            }
        }
        response_.result(out.status);
        response_.set(http::field::content_type, out.content_type);
        response_.set(http::field::connection, "close");
        response_.body() = std::move(out.body);
        response_.prepare_payload();
        stream_.expires_after(client_timeout);
        http::async_write(stream_, response_,
                          [self = shared_from_this()](beast::error_code, std::size_t) {
                              beast::error_code ignored;
                              self->stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
                          });
    }

    beast::tcp_stream stream_;
    const http_handler& handler_;
    beast::flat_buffer buffer_;
    http::request_parser<http::empty_body> parser_;
    http::response<http::string_body> response_;
};

}  // namespace

struct http_server::impl {
    asio::io_context io;
    tcp::acceptor acceptor{io};
    http_handler handler;
    std::thread thread;

    void accept() {
        acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
            if (error == asio::error::operation_aborted) return;
            if (!error) std::make_shared<connection>(std::move(socket), handler)->start();
            accept();
        });
    }
};

http_server::http_server(const std::string& listen, http_handler handler)
    : impl_(std::make_unique<impl>()) {
    impl_->handler = std::move(handler);
    const auto endpoint = parse_listen(listen);
    try {
        impl_->acceptor.open(endpoint.protocol());
        impl_->acceptor.set_option(asio::socket_base::reuse_address(true));
        impl_->acceptor.bind(endpoint);
        impl_->acceptor.listen();
    } catch (const boost::system::system_error& e) {
        throw std::runtime_error("cannot listen on " + listen + ": " + e.code().message());
    }
    impl_->accept();
    impl_->thread = std::thread([this] { impl_->io.run(); });
}

http_server::~http_server() { stop(); }

std::uint16_t http_server::port() const { return impl_->acceptor.local_endpoint().port(); }

void http_server::stop() {
    if (!impl_->thread.joinable()) return;
    // Stopping the context drops every pending operation, so open connections close too.
    impl_->io.stop();
    impl_->thread.join();
}

}  // namespace wmiprobe
