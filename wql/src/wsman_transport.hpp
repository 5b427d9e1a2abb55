#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http_connection.hpp"
#include "liblog/log.hpp"
#include "libwql/wsman_client.hpp"
#include "wsman_wire/gss_context.hpp"
#include "wsman_wire/sealing.hpp"

namespace libwql::detail {

// One authenticated WinRM connection: HTTP keep-alive socket (plain or TLS) + GSSAPI context
// bound to it. On plain HTTP every request after the handshake is sealed; inside TLS the
// SOAP travels as it is and the context is bound to the TLS channel. Not thread-safe: one
// request at a time.
class wsman_transport {
public:
    using time_point = std::chrono::steady_clock::time_point;

    struct reply {
        unsigned status = 0;
        std::string body;  // plaintext SOAP (unsealed), may be empty
    };

    wsman_transport(const wsman_connection_parameters& parameters,
                    const wsman_client_settings& settings,
                    std::shared_ptr<liblog::log_interface> log);

    // Sends one SOAP request, connecting and authenticating first when needed; a 401 on an
    // established context re-authenticates once on a fresh socket. No step runs past
    // `deadline`. Throws net_error for network failures and i18n_exception
    // "libwql.error.access_denied" for rejected credentials.
    reply exchange(const std::string& soap, const char* action_name,
                   time_point deadline = time_point::max());

    const std::string& endpoint() const { return endpoint_; }
    bool is_open() const { return connection_.is_open() && context_ && context_->established(); }
    // Open, and the peer has neither closed it nor sent anything since the last reply.
    bool still_usable() const { return is_open() && connection_.still_usable(); }
    void close() noexcept;
    // Handshakes completed by this transport (diagnostics and benchmarks).
    std::size_t handshakes() const { return handshakes_; }
    // Replies received on the current socket.
    std::size_t replies() const { return connection_.replies(); }

private:
    void authenticate(time_point deadline);
    // Host, User-Agent and Connection: what every request of this transport carries.
    http_connection::request_fields common_fields() const;
    // The head of every SOAP request after the handshake, rendered at the first.
    const http_connection::request_head& soap_head();
    http_connection::response send(const http_connection::request_head& head, std::string_view body,
                                   std::string_view what,
                                   std::chrono::steady_clock::duration timeout);
    // `step`, cut to what is left before `deadline`; throws net_error timeout when nothing is.
    std::chrono::steady_clock::duration within(std::chrono::steady_clock::duration step,
                                               time_point deadline) const;

    std::string host_;
    std::string user_;
    std::string password_;
    bool kerberos_only_;
    bool tls_;
    std::string scheme_;
    std::string endpoint_;
    std::string host_header_;
    std::chrono::seconds connect_timeout_;
    std::chrono::seconds reply_timeout_;
    std::shared_ptr<liblog::log_interface> log_;
    http_connection connection_;
    std::optional<wsman_wire::gss_context> context_;
    std::optional<http_connection::request_head> soap_head_;
    // Reused by every sealed request of this transport.
    wsman_wire::seal_buffers sealing_;
    std::size_t handshakes_ = 0;
};

}  // namespace libwql::detail
