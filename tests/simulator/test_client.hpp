#pragma once

// A minimal WinRM client for tests: Beast HTTP, GSSAPI initiator (raw NTLM or SPNEGO over
// NTLM) and the sealed framing; enough to drive the simulator the way real clients do.
#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>

#include <utility>  // before Asio, which uses std::exchange without it

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/core/detail/base64.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>

#include "winrm_framing.hpp"

namespace winrm_simulator::testing {

namespace http = boost::beast::http;

inline gss_OID_desc ntlm_mech{10, const_cast<char*>("\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a")};
inline gss_OID_desc spnego_mech{6, const_cast<char*>("\x2b\x06\x01\x05\x05\x02")};

struct http_reply {
    http::status status = http::status::unknown;
    std::string www_authenticate;
    std::string content_type;
    std::string body;
    bool keep_alive = true;
};

class test_client {
public:
    enum class mechanism { ntlm, spnego };

    test_client(std::uint16_t port, std::string user, std::string password, mechanism mech)
        : port_(port), user_(std::move(user)), password_(std::move(password)), mech_(mech) {}

    ~test_client() { reset_context(); }

    // Runs the Negotiate handshake on a fresh connection. Returns the final HTTP status
    // (200 on success, 401 when refused).
    http::status authenticate() {
        reconnect();
        reset_context();
        acquire();
        std::string input;
        for (int leg = 0; leg < 4; ++leg) {
            const std::string token = step(input);
            http::request<http::string_body> req = request("");
            req.set(http::field::authorization, "Negotiate " + encode(token));
            const http_reply reply = exchange(req);
            input = challenge_token(reply.www_authenticate);
            if (reply.status != http::status::unauthorized) {
                if (!complete_ && !input.empty()) step(input);
                if (reply.status == http::status::ok && !complete_) {
                    throw std::runtime_error("the server accepted an incomplete context");
                }
                return reply.status;
            }
            if (input.empty()) return reply.status;
        }
        throw std::runtime_error("the handshake did not finish");
    }

    // Seals the envelope, posts it on the authenticated connection and unseals the reply.
    http_reply send_sealed(const std::string& soap) {
        http::request<http::string_body> req = request(sealed_body(wrap(soap), soap.size()));
        req.set(http::field::content_type, sealed_content_type());
        http_reply reply = exchange(req);
        if (winrm_framing::is_sealed_content_type(reply.content_type)) {
            const auto m = winrm_framing::parse_body(
                reply.body, winrm_framing::boundary_of(reply.content_type));
            reply.body = unwrap(m.header + m.data);
        }
        return reply;
    }

    // The body for `wrapped` (16-byte NTLM signature followed by the sealed data).
    static std::string sealed_body(const std::string& wrapped, std::size_t plain_length) {
        winrm_framing::sealed_message m;
        m.protocol = winrm_framing::spnego_protocol;
        m.original_type = winrm_framing::soap_content_type;
        m.original_length = plain_length;
        m.header = wrapped.substr(0, 16);
        m.data = wrapped.substr(16);
        return winrm_framing::build_body(m);
    }
    static std::string sealed_content_type() {
        return winrm_framing::content_type(winrm_framing::spnego_protocol);
    }

    http_reply send_raw(http::request<http::string_body> req) { return exchange(req); }

    http::request<http::string_body> request(std::string body, http::verb verb = http::verb::post,
                                             const char* target = "/wsman") const {
        http::request<http::string_body> req{verb, target, 11};
        req.set(http::field::host, "127.0.0.1:" + std::to_string(port_));
        req.keep_alive(true);
        req.body() = std::move(body);
        req.prepare_payload();
        return req;
    }

    std::string wrap(const std::string& plain) {
        gss_buffer_desc in{plain.size(), const_cast<char*>(plain.data())};
        gss_buffer_desc out = GSS_C_EMPTY_BUFFER;
        OM_uint32 minor = 0;
        if (GSS_ERROR(gss_wrap(&minor, context_, 1, GSS_C_QOP_DEFAULT, &in, nullptr, &out))) {
            throw std::runtime_error("gss_wrap failed");
        }
        return take(out);
    }

    std::string unwrap(const std::string& sealed) {
        gss_buffer_desc in{sealed.size(), const_cast<char*>(sealed.data())};
        gss_buffer_desc out = GSS_C_EMPTY_BUFFER;
        OM_uint32 minor = 0;
        if (GSS_ERROR(gss_unwrap(&minor, context_, &in, &out, nullptr, nullptr))) {
            throw std::runtime_error("gss_unwrap failed");
        }
        return take(out);
    }

    void reconnect() {
        boost::system::error_code ignored;
        socket_.close(ignored);
        socket_ = boost::asio::ip::tcp::socket(io_);
        socket_.connect({boost::asio::ip::make_address("127.0.0.1"), port_});
        buffer_.clear();
    }

private:
    static std::string encode(const std::string& raw) {
        namespace b64 = boost::beast::detail::base64;
        std::string out(b64::encoded_size(raw.size()), '\0');
        out.resize(b64::encode(out.data(), raw.data(), raw.size()));
        return out;
    }

    static std::string challenge_token(const std::string& header) {
        namespace b64 = boost::beast::detail::base64;
        if (header.size() <= 10) return {};
        const std::string text = header.substr(10);  // after "Negotiate "
        std::string out(b64::decoded_size(text.size()), '\0');
        out.resize(b64::decode(out.data(), text.data(), text.size()).first);
        return out;
    }

    static std::string take(gss_buffer_desc& buffer) {
        std::string out(static_cast<const char*>(buffer.value), buffer.length);
        OM_uint32 minor = 0;
        gss_release_buffer(&minor, &buffer);
        return out;
    }

    gss_OID mech() { return mech_ == mechanism::ntlm ? &ntlm_mech : &spnego_mech; }

    void acquire() {
        OM_uint32 minor = 0;
        gss_buffer_desc name{user_.size(), const_cast<char*>(user_.data())};
        gss_name_t user = GSS_C_NO_NAME;
        gss_import_name(&minor, &name, GSS_C_NT_USER_NAME, &user);
        gss_buffer_desc password{password_.size(), const_cast<char*>(password_.data())};
        gss_OID_set_desc mechs{1, mech()};
        const OM_uint32 major =
            gss_acquire_cred_with_password(&minor, user, &password, GSS_C_INDEFINITE, &mechs,
                                           GSS_C_INITIATE, &cred_, nullptr, nullptr);
        gss_release_name(&minor, &user);
        if (GSS_ERROR(major)) throw std::runtime_error("cannot acquire client credentials");
        const std::string host = "HTTP@localhost";
        gss_buffer_desc target_name{host.size(), const_cast<char*>(host.data())};
        gss_import_name(&minor, &target_name, GSS_C_NT_HOSTBASED_SERVICE, &target_);
    }

    std::string step(const std::string& input) {
        gss_buffer_desc in{input.size(), const_cast<char*>(input.data())};
        gss_buffer_desc out = GSS_C_EMPTY_BUFFER;
        OM_uint32 minor = 0;
        const OM_uint32 major = gss_init_sec_context(
            &minor, cred_, &context_, target_, mech(),
            GSS_C_MUTUAL_FLAG | GSS_C_INTEG_FLAG | GSS_C_CONF_FLAG | GSS_C_REPLAY_FLAG |
                GSS_C_SEQUENCE_FLAG,
            GSS_C_INDEFINITE, GSS_C_NO_CHANNEL_BINDINGS, input.empty() ? GSS_C_NO_BUFFER : &in,
            nullptr, &out, nullptr, nullptr);
        if (GSS_ERROR(major)) throw std::runtime_error("gss_init_sec_context failed");
        complete_ = !(major & GSS_S_CONTINUE_NEEDED);
        return take(out);
    }

    http_reply exchange(http::request<http::string_body>& req) {
        // Asynchronous under a deadline: a simulator that never answers fails the test
        // instead of hanging it.
        http::response_parser<http::string_body> parser;
        parser.body_limit(16 * 1024 * 1024);
        boost::system::error_code failure;
        http::async_write(socket_, req, [&](boost::system::error_code ec, std::size_t) {
            if (ec) {
                failure = ec;
                return;
            }
            http::async_read(socket_, buffer_, parser,
                             [&](boost::system::error_code read_ec, std::size_t) {
                                 failure = read_ec;
                             });
        });
        io_.restart();
        if (io_.run_for(std::chrono::seconds(30)), !io_.stopped()) {
            boost::system::error_code ignored;
            socket_.close(ignored);
            io_.restart();
            io_.run();
            throw std::runtime_error("no answer within 30 s");
        }
        if (failure) throw boost::system::system_error(failure);
        const auto& res = parser.get();
        http_reply reply;
        reply.status = res.result();
        reply.www_authenticate = std::string(res[http::field::www_authenticate]);
        reply.content_type = std::string(res[http::field::content_type]);
        reply.body = res.body();
        reply.keep_alive = res.keep_alive();
        return reply;
    }

    void reset_context() {
        OM_uint32 minor = 0;
        if (context_ != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &context_, nullptr);
        if (cred_ != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &cred_);
        if (target_ != GSS_C_NO_NAME) gss_release_name(&minor, &target_);
        complete_ = false;
    }

    std::uint16_t port_;
    std::string user_;
    std::string password_;
    mechanism mech_;
    boost::asio::io_context io_;
    boost::asio::ip::tcp::socket socket_{io_};
    boost::beast::flat_buffer buffer_;
    gss_cred_id_t cred_ = GSS_C_NO_CREDENTIAL;
    gss_name_t target_ = GSS_C_NO_NAME;
    gss_ctx_id_t context_ = GSS_C_NO_CONTEXT;
    bool complete_ = false;
};

}  // namespace winrm_simulator::testing
