#include "wsman_transport.hpp"

#include <boost/beast/http/field.hpp>
#include <boost/beast/http/status.hpp>

#include <algorithm>

#include "libi18n/catalogue.hpp"
#include "wsman_wire/auth.hpp"
#include "wsman_wire/sealing.hpp"

namespace libwql::detail {

namespace http = boost::beast::http;
namespace cat = libi18n::catalogue;

namespace {

constexpr int max_auth_legs = 6;

// The token of `scheme` among the WWW-Authenticate headers: nullopt when the scheme is not
// offered, "" when offered without a (usable) token.
std::optional<std::string> challenge(const http_connection::response& reply,
                                     const std::string& scheme) {
    for (auto it = reply.find(http::field::www_authenticate); it != reply.end(); ++it) {
        if (it->name() != http::field::www_authenticate) break;
        auto token = wsman_wire::auth_token(
            std::string_view(it->value().data(), it->value().size()), scheme);
        if (token) return token;
    }
    return std::nullopt;
}

[[noreturn]] void denied(const std::string& detail) {
    throw libi18n::i18n_exception(cat::libwql_error_access_denied(detail));
}

}  // namespace

wsman_transport::wsman_transport(const wsman_connection_parameters& parameters,
                                 const wsman_client_settings& settings,
                                 std::shared_ptr<liblog::log_interface> log)
    : host_(parameters.host),
      user_(wsman_wire::principal_name(parameters.username, parameters.domain,
                                       parameters.authentication_mode == 1)),
      password_(parameters.password),
      kerberos_only_(parameters.authentication_mode == 1),
      tls_(parameters.use_https),
      scheme_(kerberos_only_ ? "Kerberos" : "Negotiate"),
      connect_timeout_(std::max<std::int64_t>(1, settings.connect_timeout_s)),
      // The target may use the whole OperationTimeout before it answers.
      reply_timeout_(std::max<std::int64_t>(1, settings.operation_timeout_s) +
                     std::max<std::int64_t>(1, settings.connect_timeout_s)),
      log_(std::move(log)),
      connection_(
          parameters.host, parameters.port,
          static_cast<std::size_t>(std::max<std::int32_t>(1, settings.max_reply_mib)) * 1024 * 1024,
          parameters.use_https, parameters.family) {
    const bool ipv6 = host_.find(':') != std::string::npos;
    host_header_ = (ipv6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(parameters.port);
    endpoint_ = (tls_ ? "https://" : "http://") + host_header_ + "/wsman";
}

std::chrono::steady_clock::duration wsman_transport::within(
    std::chrono::steady_clock::duration step, time_point deadline) const {
    if (deadline == time_point::max()) return step;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
        throw net_error(net_failure::timeout,
                        "the session's time limit was spent before " + endpoint_ + " answered");
    }
    return std::min(step, left);
}

void wsman_transport::close() noexcept {
    connection_.close();
    context_.reset();
}

http_connection::request_fields wsman_transport::common_fields() const {
    http_connection::request_fields fields;
    fields.method(http::verb::post);
    fields.target("/wsman");
    fields.version(11);
    fields.set(http::field::host, host_header_);
    fields.set(http::field::user_agent, "libwql");
    fields.set(http::field::connection, "Keep-Alive");
    return fields;
}

const http_connection::request_head& wsman_transport::soap_head() {
    if (!soap_head_) {
        auto fields = common_fields();
        // TLS already encrypts; Windows takes plain SOAP on HTTPS listeners.
        fields.set(http::field::content_type,
                   tls_ ? std::string(wsman_wire::soap_content_type)
                        : wsman_wire::content_type(kerberos_only_ ? wsman_wire::kerberos_protocol
                                                                  : wsman_wire::spnego_protocol));
        soap_head_.emplace(std::move(fields));
    }
    return *soap_head_;
}

http_connection::response wsman_transport::send(const http_connection::request_head& head,
                                                std::string_view body, std::string_view what,
                                                std::chrono::steady_clock::duration timeout) {
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - start)
                                  .count());
    };
    try {
        auto answer = connection_.round_trip(head, body, timeout);
        if (log_) {
            log_->log(7, "WSMan " + endpoint_ + " " + std::string(what) + ": HTTP " +
                             std::to_string(answer.result_int()) + " in " + elapsed() + " ms");
        }
        return answer;
    } catch (const net_error& e) {
        if (log_)
            log_->log(7, "WSMan " + endpoint_ + " " + std::string(what) + ": failed in " +
                             elapsed() + " ms: " + e.what());
        throw;
    }
}

void wsman_transport::authenticate(time_point deadline) {
    context_.reset();
    connection_.connect(within(connect_timeout_, deadline));
    try {
        // Inside TLS the authentication is bound to the certificate the server showed.
        context_ = wsman_wire::gss_context::initiator(user_, password_, host_,
                                                      kerberos_only_
                                                          ? wsman_wire::gss_mechanism::kerberos
                                                          : wsman_wire::gss_mechanism::negotiate,
                                                      connection_.channel_binding());
        std::string token = context_->step({});
        for (int leg = 1; leg <= max_auth_legs; ++leg) {
            auto fields = common_fields();
            fields.set(http::field::authorization, wsman_wire::auth_header(scheme_, token));
            auto answer = send(http_connection::request_head(std::move(fields)), {},
                               scheme_ + " authentication leg " + std::to_string(leg),
                               within(connect_timeout_, deadline));
            const auto offered = challenge(answer, scheme_);
            if (answer.result() == http::status::unauthorized) {
                if (!offered) {
                    denied("the target does not offer " + scheme_ + " authentication");
                }
                if (offered->empty() || context_->established()) {
                    denied("the target rejected the credentials of '" + user_ + "'");
                }
                token = context_->step(*offered);
                continue;
            }
            if (answer.result() != http::status::ok) {
                throw libi18n::i18n_exception(cat::libwql_error_wsman_init_failed(
                    "unexpected HTTP status " + std::to_string(answer.result_int()) +
                    " during authentication at " + endpoint_));
            }
            if (offered && !offered->empty()) context_->step(*offered);
            if (!context_->established()) {
                throw libi18n::i18n_exception(cat::libwql_error_wsman_init_failed(
                    "authentication at " + endpoint_ + " did not complete"));
            }
            ++handshakes_;
            return;
        }
        denied("authentication at " + endpoint_ + " did not finish in " +
               std::to_string(max_auth_legs) + " legs");
    } catch (const wsman_wire::gss_error& e) {
        close();
        denied(e.what());
    } catch (...) {
        close();
        throw;
    }
}

wsman_transport::reply wsman_transport::exchange(const std::string& soap, const char* action_name,
                                                 time_point deadline) {
    const bool fresh = !is_open();
    if (fresh) authenticate(deadline);
    for (int attempt = 0;; ++attempt) {
        if (!tls_) {
            const auto protocol =
                kerberos_only_ ? wsman_wire::kerberos_protocol : wsman_wire::spnego_protocol;
            try {
                wsman_wire::seal_body(*context_, soap, protocol, sealing_);
            } catch (const wsman_wire::gss_error& e) {
                close();
                throw libi18n::i18n_exception(cat::libwql_error_dead_session(endpoint_, e.what()));
            }
        }
        auto response =
            send(soap_head(), tls_ ? std::string_view(soap) : std::string_view(sealing_.body),
                 action_name, within(reply_timeout_, deadline));

        if (response.result() == http::status::unauthorized) {
            close();
            // The context was lost (server restart, idle expiry): one fresh handshake.
            if (attempt == 0 && !fresh) {
                authenticate(deadline);
                continue;
            }
            denied("the target answered HTTP 401 to an authenticated request");
        }
        reply result;
        result.status = response.result_int();
        const auto type = response[http::field::content_type];
        const std::string_view content_type(type.data(), type.size());
        if (tls_ && !wsman_wire::is_sealed_content_type(content_type)) {
            result.body = std::move(response.body());
            return result;
        }
        if (!wsman_wire::is_sealed_content_type(content_type)) {
            // Windows sends some errors unsealed; a plaintext success would be a downgrade.
            if (result.status == 200) {
                close();
                throw libi18n::i18n_exception(
                    cat::libwql_error_getinstance_failed("the target answered without encryption"));
            }
            result.body = std::move(response.body());
            return result;
        }
        try {
            result.body = wsman_wire::unseal_message(*context_, content_type, response.body());
            connection_.recycle(std::move(response.body()));
        } catch (const std::runtime_error& e) {
            // The sealing sequence is now out of step; this socket is useless.
            close();
            throw libi18n::i18n_exception(cat::libwql_error_getinstance_failed(
                std::string("cannot read the sealed reply: ") + e.what()));
        }
        return result;
    }
}

}  // namespace libwql::detail
