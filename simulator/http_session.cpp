// One client connection: HTTP keep-alive, the Negotiate logon, sealed SOAP and the scripted
// misbehaviour of each request.
#include <boost/asio/ssl/stream.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <optional>
#include <sstream>

#include "simulator/simulator_impl.hpp"
#include "wsman_wire/auth.hpp"
#include "wsman_wire/sealing.hpp"

namespace winrm_simulator {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

// 0x80041001, WBEM_E_FAILED: what an overloaded or broken WMI service reports.
constexpr std::uint32_t wbem_e_failed = 0x80041001;
constexpr std::uint32_t error_access_denied = 5;
// Room for the multipart framing around a sealed envelope of the maximum size.
constexpr std::size_t framing_allowance = 1024;

std::string_view view(beast::string_view text) { return {text.data(), text.size()}; }

// "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Pull" -> "Pull".
std::string short_action(const std::string& action) { return action.substr(action.rfind('/') + 1); }

}  // namespace

class session : public std::enable_shared_from_this<session> {
public:
    session(tcp::socket socket, simulator::impl& owner)
        : stream_(std::move(socket)), timer_(stream_.get_executor()), owner_(owner) {
        if (owner_.tls_) tls_.emplace(stream_, *owner_.tls_);
    }

    void run() {
        if (!tls_) {
            read();
            return;
        }
        stream_.expires_after(owner_.options_.idle_timeout);
        tls_->async_handshake(asio::ssl::stream_base::server,
                              [self = shared_from_this()](beast::error_code ec) {
                                  if (ec) {
                                      self->owner_.log("TLS handshake failed: " + ec.message());
                                      self->close();
                                      return;
                                  }
                                  self->read();
                              });
    }

    void close() {
        beast::error_code ignored;
        timer_.cancel();
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.socket().close(ignored);
    }

private:
    using response = http::response<http::string_body>;

    // Runs `operation` on the TLS stream when there is one, else on the TCP stream.
    template <typename Operation>
    void with_stream(Operation&& operation) {
        if (tls_) {
            operation(*tls_);
        } else {
            operation(stream_);
        }
    }

    void read() {
        parser_.emplace();
        parser_->body_limit(owner_.options_.max_envelope_size + framing_allowance);
        stream_.expires_after(owner_.options_.idle_timeout);
        with_stream([this](auto& stream) {
            http::async_read(stream, buffer_, *parser_,
                             [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                 self->on_read(ec);
                             });
        });
    }

    void on_read(beast::error_code ec) {
        if (ec == http::error::body_limit) {
            response res{http::status::payload_too_large, 11};
            res.keep_alive(false);
            send(std::move(res), true);
            return;
        }
        // Like HTTP.sys, a request that is not HTTP (a TLS hello, say) gets a 400.
        if (ec.category() == beast::error_code(http::error::bad_method).category() &&
            ec != http::error::end_of_stream && ec != http::error::partial_message) {
            response res{http::status::bad_request, 11};
            res.keep_alive(false);
            send(std::move(res), true);
            return;
        }
        if (ec) {
            close();
            return;
        }
        ++owner_.http_requests_;
        handle(parser_->release());
    }

    void handle(http::request<http::string_body> req) {
        keep_alive_ = req.keep_alive();
        const std::string_view target = view(req.target());
        if (!iequals(target.substr(0, target.find('?')), "/wsman")) {
            send(response{http::status::not_found, 11}, false);
            return;
        }
        if (req.method() != http::verb::post) {
            send(response{http::status::method_not_allowed, 11}, false);
            return;
        }
        const auto authorization = req.find(http::field::authorization);
        if (authorization != req.end()) {
            authenticate(req, view(authorization->value()));
            return;
        }
        if (!gss_ || !gss_->established()) {
            send(challenge(""), false);
            return;
        }
        serve_sealed(req, {});
    }

    void refuse_logon() {
        gss_.reset();
        ++owner_.failed_logons_;
        send(challenge(""), false);
    }

    void authenticate(const http::request<http::string_body>& req, std::string_view header) {
        // Windows takes Kerberos alone under its own scheme name as well as inside SPNEGO.
        std::optional<std::string> token = wsman_wire::auth_token(header, "Negotiate");
        scheme_ = "Negotiate";
        if (!token && (token = wsman_wire::auth_token(header, "Kerberos"))) scheme_ = "Kerberos";
        if (!token || token->empty()) {
            gss_.reset();
            send(challenge(""), false);
            return;
        }
        if (!gss_ || gss_->established()) {
            gss_ = std::make_unique<wsman_wire::gss_context>(
                wsman_wire::gss_context::acceptor(owner_.channel_binding_));
        }
        const reply_fault logon_fault = owner_.script({"logon", {}, {}, {}}).fault;
        if (logon_fault == reply_fault::refuse_logon) {
            refuse_logon();
            return;
        }
        if (logon_fault == reply_fault::silent) {
            read();  // keeps the connection open; the client gives up on its own
            return;
        }
        std::string output_token;
        try {
            output_token = gss_->step(*token);
        } catch (const wsman_wire::gss_error& e) {
            owner_.log(std::string("logon failed: ") + e.what());
            refuse_logon();
            return;
        }
        if (!gss_->established()) {
            send(challenge(output_token), false);
            return;
        }
        if (!owner_.channel_binding_.empty() && !gss_->channel_bound()) {
            owner_.log("logon without the TLS channel binding refused");
            refuse_logon();
            return;
        }
        ++owner_.handshakes_;
        owner_.log("logon: " + gss_->peer_name());
        const std::string final_token =
            output_token.empty() ? "" : wsman_wire::auth_header(scheme_, output_token);
        if (req.body().empty()) {
            response res{http::status::ok, 11};
            if (!final_token.empty()) res.set(http::field::www_authenticate, final_token);
            send(std::move(res), false);
            return;
        }
        // A sealed envelope may ride the last leg of the handshake.
        serve_sealed(req, final_token);
    }

    void serve_sealed(const http::request<http::string_body>& req, const std::string& final_token) {
        const auto type = req.find(http::field::content_type);
        const bool sealed =
            type != req.end() && wsman_wire::is_sealed_content_type(view(type->value()));
        // TLS protects the channel; HTTPS listeners take (and answer) plain SOAP.
        reply_sealed_ = sealed || !tls_;
        if (!sealed && !tls_) {
            refuse_unencrypted();
            return;
        }
        std::string plain_xml = sealed ? std::string() : req.body();
        try {
            if (sealed)
                plain_xml = wsman_wire::unseal_message(*gss_, view(type->value()), req.body());
        } catch (const std::exception& e) {
            owner_.log(std::string("unusable sealed request, closing: ") + e.what());
            // A broken frame or seal desynchronises the RC4 stream: the connection is lost.
            response res{http::status::bad_request, 11};
            res.keep_alive(false);
            send(std::move(res), true);
            return;
        }
        ++owner_.soap_requests_;
        const std::string user = gss_->peer_name();
        std::optional<wsman_wire::request> request;
        soap_reply reply;
        try {
            request = wsman_wire::parse_request(plain_xml);
        } catch (const wsman_wire::fault_error& e) {
            reply = owner_.fault_reply({}, e.fault());
        }
        request_info info{request ? short_action(request->action) : "",
                          request ? request->enumeration_context : "",
                          request ? request->filter.value_or("") : "", user};
        const scripted_reply script = owner_.script(info);
        if (script.fault == reply_fault::refuse_logon) {
            // The target forgot the context: the client must authenticate again.
            refuse_logon();
            return;
        }
        if (script.fault == reply_fault::drop) {
            owner_.log("fault: dropping the connection");
            close();
            return;
        }
        if (script.fault == reply_fault::silent) {
            owner_.log("fault: no answer");
            read();  // keeps the connection open; the client gives up on its own
            return;
        }
        if (script.body) {
            reply = {static_cast<http::status>(script.status), *script.body};
        } else if (script.fault == reply_fault::http_error) {
            reply = owner_.fault_reply(
                {}, {"s:Receiver",
                     "w:InternalError",
                     "The WS-Management service cannot process the request. The WMI service "
                     "reported a failure.",
                     wbem_e_failed,
                     {}});
            reply.status = static_cast<http::status>(script.status);
        } else if (request) {
            reply = owner_.answer(*request, user);
        }
        deliver(std::move(reply), script, final_token);
    }

    // Sends a reply as the script says: cut, padded, unsealed, corrupted, truncated or late.
    void deliver(soap_reply reply, const scripted_reply& script, const std::string& final_token) {
        if (script.fault == reply_fault::malformed_xml) reply.body.resize(reply.body.size() / 2);
        if (script.fault == reply_fault::oversized && script.size > reply.body.size()) {
            reply.body.append(script.size - reply.body.size(), ' ');
        }
        response res{reply.status, 11};
        if (!final_token.empty()) res.set(http::field::www_authenticate, final_token);
        if (script.fault == reply_fault::plaintext || !reply_sealed_) {
            res.set(http::field::content_type, std::string(wsman_wire::soap_content_type));
            res.body() = std::move(reply.body);
        } else {
            try {
                auto sealed =
                    wsman_wire::seal_message(*gss_, reply.body, wsman_wire::protocol_of(*gss_));
                res.set(http::field::content_type, sealed.content_type);
                res.body() = std::move(sealed.body);
            } catch (const wsman_wire::gss_error&) {
                response failed{http::status::internal_server_error, 11};
                failed.keep_alive(false);
                send(std::move(failed), true);
                return;
            }
            if (script.fault == reply_fault::bad_seal) corrupt_sealed_data(res.body());
        }
        if (script.fault == reply_fault::truncate || script.fault == reply_fault::reset) {
            send_truncated(std::move(res), script.fault == reply_fault::reset);
            return;
        }
        if (script.fault == reply_fault::drip) {
            send_dripping(std::move(res), std::max<std::size_t>(1, script.size), script.delay);
            return;
        }
        if (script.fault == reply_fault::slow && script.delay.count() > 0) {
            auto pending = std::make_shared<response>(std::move(res));
            timer_.expires_after(script.delay);
            timer_.async_wait([self = shared_from_this(), pending](beast::error_code ec) {
                if (ec) return;
                self->send(std::move(*pending), false);
            });
            return;
        }
        send(std::move(res), false);
    }

    // Flips the last sealed byte, just before the closing boundary line.
    static void corrupt_sealed_data(std::string& body) {
        const std::size_t closing = body.rfind("--" + std::string(wsman_wire::default_boundary));
        if (closing != std::string::npos && closing > 0) body[closing - 1] ^= 0x55;
    }

    // Windows refuses SOAP in clear on HTTP once encryption is required.
    void refuse_unencrypted() {
        owner_.log("refused unencrypted SOAP");
        soap_reply reply = owner_.fault_reply(
            {}, {"s:Sender",
                 "w:AccessDenied",
                 "Access is denied. The service accepts only encrypted messages over HTTP.",
                 error_access_denied,
                 {}});
        response res{reply.status, 11};
        res.set(http::field::content_type, std::string(wsman_wire::soap_content_type));
        res.body() = std::move(reply.body);
        send(std::move(res), false);
    }

    // A bare challenge offers both schemes; a handshake continues in the client's.
    response challenge(const std::string& token) const {
        response res{http::status::unauthorized, 11};
        if (token.empty()) {
            res.insert(http::field::www_authenticate, "Negotiate");
            res.insert(http::field::www_authenticate, "Kerberos");
        } else {
            res.set(http::field::www_authenticate, wsman_wire::auth_header(scheme_, token));
        }
        return res;
    }

    static std::string serialized(response& res) {
        res.prepare_payload();
        std::ostringstream out;
        out << res;
        return out.str();
    }

    // The headers announce the whole body; half of it goes out, then the socket closes (with
    // a TCP reset when `reset`).
    void send_truncated(response res, bool reset) {
        res.keep_alive(true);
        auto raw = std::make_shared<std::string>(serialized(res));
        raw->resize(raw->size() - res.body().size() / 2);
        stream_.expires_never();
        with_stream([&](auto& stream) {
            asio::async_write(
                stream, asio::buffer(*raw),
                [self = shared_from_this(), raw, reset](beast::error_code, std::size_t) {
                    beast::error_code ignored;
                    if (reset)
                        self->stream_.socket().set_option(asio::socket_base::linger(true, 0),
                                                          ignored);
                    self->close();
                });
        });
    }

    // The whole reply, `piece` bytes every `pause`; then the connection serves on.
    void send_dripping(response res, std::size_t piece, std::chrono::milliseconds pause) {
        res.keep_alive(keep_alive_);
        auto raw = std::make_shared<std::string>(serialized(res));
        stream_.expires_never();
        drip(raw, 0, piece, pause);
    }

    void drip(std::shared_ptr<std::string> raw, std::size_t sent, std::size_t piece,
              std::chrono::milliseconds pause) {
        const std::size_t count = std::min(piece, raw->size() - sent);
        with_stream([&](auto& stream) {
            asio::async_write(stream, asio::buffer(raw->data() + sent, count),
                              [self = shared_from_this(), raw, sent, count, piece, pause](
                                  beast::error_code ec, std::size_t) {
                                  if (ec) {
                                      self->close();
                                  } else if (sent + count == raw->size()) {
                                      self->read();
                                  } else {
                                      self->timer_.expires_after(pause);
                                      self->timer_.async_wait([self, raw, sent, count, piece,
                                                               pause](beast::error_code timer_ec) {
                                          if (!timer_ec)
                                              self->drip(raw, sent + count, piece, pause);
                                      });
                                  }
                              });
        });
    }

    void send(response res, bool close_after) {
        res.keep_alive(keep_alive_ && !close_after && res.keep_alive());
        res.prepare_payload();
        stream_.expires_never();
        auto message = std::make_shared<response>(std::move(res));
        with_stream([&](auto& stream) {
            http::async_write(
                stream, *message,
                [self = shared_from_this(), message](beast::error_code ec, std::size_t) {
                    if (ec || !message->keep_alive()) {
                        self->close();
                        return;
                    }
                    self->read();
                });
        });
    }

    beast::tcp_stream stream_;
    std::optional<asio::ssl::stream<beast::tcp_stream&>> tls_;
    bool reply_sealed_ = true;
    asio::steady_timer timer_;
    simulator::impl& owner_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::unique_ptr<wsman_wire::gss_context> gss_;
    std::string scheme_ = "Negotiate";
    bool keep_alive_ = true;
};

std::shared_ptr<session> make_session(tcp::socket socket, simulator::impl& owner) {
    return std::make_shared<session>(std::move(socket), owner);
}

void serve_connection(std::shared_ptr<session> s) { s->run(); }

void close_session(session& s) { s.close(); }

}  // namespace winrm_simulator
