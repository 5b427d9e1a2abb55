#include <algorithm>
#include <deque>
#include <mutex>
#include <thread>
#include <tuple>

#include "libi18n/catalogue.hpp"
#include "libwql/exceptions.hpp"
#include "libwql/wsman_client.hpp"
#include "wsman_reply.hpp"
#include "wsman_transport.hpp"

namespace libwql {

namespace {

namespace cat = libi18n::catalogue;
using detail::fault_kind;
using detail::net_error;
using detail::net_failure;
using detail::wsman_transport;

// Far beyond any real WMI class (a busy server has a few thousand processes or services).
constexpr std::size_t max_pages = 100000;
constexpr std::size_t max_rows = 1000000;
// Windows answers a slow Pull with a TimedOut fault, never with an empty page; a run of empty
// pages means the target is stuck.
constexpr int max_empty_pages = 100;

// Connections are shared only between identical targets and credentials.
struct pool_key {
    std::string host;
    std::uint16_t port;
    bool https;
    std::int32_t mode;
    std::string domain;
    std::string username;
    std::string password;

    static pool_key of(const wsman_connection_parameters& p) {
        return {p.host,   p.port,     p.use_https, p.authentication_mode,
                p.domain, p.username, p.password};
    }
    bool operator==(const pool_key&) const = default;
};

// Idle authenticated connections of one client. Shared with its sessions, so a session that
// outlives its client still has somewhere to return its connection.
class connection_pool {
public:
    explicit connection_pool(std::size_t capacity) : capacity_(capacity) {}

    std::unique_ptr<wsman_transport> take(const pool_key& key) {
        std::lock_guard lock(mutex_);
        for (auto it = idle_.begin(); it != idle_.end(); ++it) {
            if (it->first == key) {
                auto transport = std::move(it->second);
                idle_.erase(it);
                return transport;
            }
        }
        return nullptr;
    }

    void give_back(const pool_key& key, std::unique_ptr<wsman_transport> transport) {
        if (!transport || !transport->is_open() || capacity_ == 0) return;
        std::unique_ptr<wsman_transport> evicted;  // closed outside the lock
        std::lock_guard lock(mutex_);
        if (idle_.size() >= capacity_) {
            evicted = std::move(idle_.front().second);
            idle_.pop_front();
        }
        idle_.emplace_back(key, std::move(transport));
    }

private:
    std::size_t capacity_;
    std::mutex mutex_;
    std::deque<std::pair<pool_key, std::unique_ptr<wsman_transport>>> idle_;
};

class query_result final : public wql_query_result_interface {
public:
    explicit query_result(std::vector<wql_query_row> rows) : rows_(std::move(rows)) {}
    const std::vector<wql_query_row>& get_rows() const override { return rows_; }

private:
    std::vector<wql_query_row> rows_;
};

// A failure worth another attempt; carries the exception to throw when attempts run out.
struct retryable {
    std::exception_ptr final_error;
    bool drop_connection = false;
};

class wmi_session final : public wmi_session_interface {
public:
    wmi_session(wsman_connection_parameters parameters, wsman_client_settings settings,
                std::shared_ptr<liblog::log_interface> log, std::shared_ptr<connection_pool> pool)
        : parameters_(std::move(parameters)),
          settings_(settings),
          log_(std::move(log)),
          pool_(std::move(pool)),
          key_(pool_key::of(parameters_)) {}

    ~wmi_session() override { pool_->give_back(key_, std::move(transport_)); }

    std::unique_ptr<wql_query_result_interface> query(const std::string& wql,
                                                      const std::string& wmi_namespace) override {
        std::vector<wql_query_row> rows;
        const int attempts = 1 + std::max(0, settings_.max_retries);
        for (int attempt = 1;; ++attempt) {
            try {
                rows = enumerate(wql, wmi_namespace);
                break;
            } catch (const retryable& r) {
                if (r.drop_connection && transport_) transport_->close();
                if (attempt >= attempts) std::rethrow_exception(r.final_error);
                // Short, growing pause: enough for a busy provider, never a long stall.
                std::this_thread::sleep_for(std::chrono::milliseconds(50 * attempt));
            }
        }
        return std::make_unique<query_result>(std::move(rows));
    }

private:
    wsman_transport& transport() {
        if (!transport_) transport_ = pool_->take(key_);
        if (!transport_)
            transport_ = std::make_unique<wsman_transport>(parameters_, settings_, log_);
        return *transport_;
    }

    wsman_wire::request_header header(const std::string& resource_uri) {
        wsman_wire::request_header h;
        h.to = transport().endpoint();
        h.resource_uri = resource_uri;
        h.message_id = wsman_wire::new_message_id();
        h.operation_timeout_s = std::max(1, settings_.operation_timeout_s);
        return h;
    }

    // One request; faults are returned for the caller to classify, everything else that
    // goes wrong becomes the exception the module sees (or a retryable).
    detail::wsman_response call(const wsman_wire::request_header& h, const std::string& soap,
                                const char* action_name) {
        wsman_transport::reply reply;
        try {
            reply = transport().exchange(soap, action_name);
        } catch (const net_error& e) {
            throw_net_error(e);
        }
        if (reply.body.empty()) {
            if (reply.status == 413) {
                throw libi18n::i18n_exception(cat::libwql_error_query_failed(
                    "the target refused the request as too large (HTTP 413)"));
            }
            throw libi18n::i18n_exception(cat::libwql_error_query_failed(
                "HTTP " + std::to_string(reply.status) + " without a SOAP reply"));
        }
        auto response = detail::parse_response(reply.body);
        if (!response.fault && reply.status != 200) {
            throw libi18n::i18n_exception(cat::libwql_error_query_failed(
                "HTTP " + std::to_string(reply.status) + " without a SOAP fault"));
        }
        if (!response.relates_to.empty() && response.relates_to != h.message_id) {
            transport_->close();
            throw libi18n::i18n_exception(cat::libwql_error_getinstance_failed(
                "the reply answers another request (" + response.relates_to + ")"));
        }
        return response;
    }

    [[noreturn]] void throw_net_error(const net_error& e) {
        const std::string endpoint = transport_ ? transport_->endpoint() : parameters_.host;
        switch (e.kind()) {
            case net_failure::resolve:
            case net_failure::connect:
                throw libi18n::i18n_exception(
                    cat::libwql_error_newsession_failed(endpoint, e.what()));
            case net_failure::timeout:
                throw libi18n::i18n_exception(cat::libwql_error_dead_session(endpoint, e.what()));
            case net_failure::too_large:
            case net_failure::protocol:
                throw libi18n::i18n_exception(cat::libwql_error_getinstance_failed(e.what()));
            case net_failure::closed:
                break;
        }
        // A dropped keep-alive socket is normal (idle expiry, target restart): try again.
        throw retryable{std::make_exception_ptr(libi18n::i18n_exception(
                            cat::libwql_error_dead_session(endpoint, e.what()))),
                        true};
    }

    [[noreturn]] void throw_fault(const wsman_wire::received_fault& fault,
                                  const std::string& wmi_namespace) {
        const std::string code = fault.code();
        switch (detail::classify(fault)) {
            case fault_kind::invalid_namespace:
                throw exceptions::invalid_namespace_error(wmi_namespace);
            case fault_kind::invalid_class:
                throw exceptions::invalid_class_error(fault.message);
            case fault_kind::access_denied:
                throw libi18n::i18n_exception(cat::libwql_error_access_denied(fault.message));
            case fault_kind::invalid_query:
            case fault_kind::fatal:
                throw exceptions::fatal_query_error(code, fault.message);
            case fault_kind::overload:
                throw retryable{std::make_exception_ptr(libi18n::i18n_exception(
                                    cat::libwql_error_overload(code, fault.message))),
                                false};
            case fault_kind::timed_out:
            case fault_kind::invalid_context:
            case fault_kind::transient:
                break;
        }
        throw retryable{std::make_exception_ptr(libi18n::i18n_exception(
                            cat::libwql_error_transient(code, fault.message))),
                        false};
    }

    // Best effort: frees the target's enumeration slot when we stop before the end.
    void release(const std::string& resource_uri, const std::string& context) noexcept {
        if (context.empty() || !transport_ || !transport_->is_open()) return;
        try {
            auto h = header(resource_uri);
            transport_->exchange(wsman_wire::write_release(h, context), "Release");
        } catch (...) {
            if (transport_) transport_->close();
        }
    }

    std::vector<wql_query_row> enumerate(const std::string& wql, const std::string& wmi_namespace) {
        const auto resource_uri = wsman_wire::resource_uri_for(wmi_namespace);
        auto h = header(resource_uri);
        auto response =
            call(h, wsman_wire::write_enumerate(h, wql, settings_.max_elements), "Enumerate");
        if (response.fault) throw_fault(*response.fault, wmi_namespace);
        std::vector<wql_query_row> rows = std::move(response.rows);
        std::string context = response.context;
        bool done = response.end_of_sequence;
        int timeouts = 0;
        std::size_t pages = 0;
        int empty_pages = 0;
        try {
            while (!done) {
                // A target that never ends the sequence must not keep us here for ever.
                if (++pages > max_pages || rows.size() > max_rows ||
                    empty_pages > max_empty_pages) {
                    throw libi18n::i18n_exception(cat::libwql_error_getinstance_failed(
                        "the enumeration did not end after " + std::to_string(pages - 1) +
                        " pages and " + std::to_string(rows.size()) + " instances"));
                }
                h = header(resource_uri);
                response =
                    call(h, wsman_wire::write_pull(h, context, settings_.max_elements), "Pull");
                if (response.fault) {
                    // OperationTimeout with nothing ready yet: the context stays valid.
                    if (detail::classify(*response.fault) == fault_kind::timed_out &&
                        timeouts++ < settings_.max_retries) {
                        continue;
                    }
                    throw_fault(*response.fault, wmi_namespace);
                }
                empty_pages = response.rows.empty() ? empty_pages + 1 : 0;
                std::move(response.rows.begin(), response.rows.end(), std::back_inserter(rows));
                done = response.end_of_sequence;
                // The target may hand out a new context with every page.
                if (!response.context.empty()) context = response.context;
            }
        } catch (...) {
            release(resource_uri, context);
            throw;
        }
        return rows;
    }

    wsman_connection_parameters parameters_;
    wsman_client_settings settings_;
    std::shared_ptr<liblog::log_interface> log_;
    std::shared_ptr<connection_pool> pool_;
    pool_key key_;
    std::unique_ptr<wsman_transport> transport_;
};

class wsman_client final : public wsman_client_interface {
public:
    wsman_client(wsman_client_settings settings, std::shared_ptr<liblog::log_interface> log)
        : settings_(settings),
          log_(std::move(log)),
          pool_(std::make_shared<connection_pool>(
              static_cast<std::size_t>(std::max(0, settings.max_idle_connections)))) {}

    std::unique_ptr<wmi_session_interface> open_session(
        const wsman_connection_parameters& parameters) override {
        if (parameters.host.empty()) {
            throw libi18n::i18n_exception(
                cat::libwql_error_newsession_failed("", "no target host given"));
        }
        if (parameters.port == 0) {
            throw libi18n::i18n_exception(
                cat::libwql_error_newsession_failed(parameters.host, "port 0 is not valid"));
        }
        if (parameters.authentication_mode != 0 && parameters.authentication_mode != 1) {
            throw libi18n::i18n_exception(cat::libwql_error_adddestinationcredentials_failed(
                "unknown authentication mode " + std::to_string(parameters.authentication_mode)));
        }
        if (parameters.use_https) {
            throw libi18n::i18n_exception(cat::libwql_error_newdestinationoptions_failed(
                "HTTPS is not supported yet; use HTTP with message encryption"));
        }
        return std::make_unique<wmi_session>(parameters, settings_, log_, pool_);
    }

private:
    wsman_client_settings settings_;
    std::shared_ptr<liblog::log_interface> log_;
    std::shared_ptr<connection_pool> pool_;
};

}  // namespace

std::unique_ptr<wsman_client_interface> create_wsman_client(
    wsman_client_settings settings, std::shared_ptr<liblog::log_interface> log) {
    return std::make_unique<wsman_client>(settings, std::move(log));
}

}  // namespace libwql
