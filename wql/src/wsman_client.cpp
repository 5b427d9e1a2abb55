#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

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

using clock_type = std::chrono::steady_clock;

// At most this many connections per endpoint and credentials, in use or idle. A warm query
// holds one for milliseconds, so a handful carries any number of sensors, and stays far
// below the concurrent operations Windows grants one user (15 on older hosts).
constexpr std::size_t connections_per_endpoint = 4;
// Idle connections older than this are closed instead of reused: below the 120 s after which
// Windows (HTTP.sys) drops an idle connection, above the module's default scan interval.
constexpr auto idle_expiry = std::chrono::seconds(100);
// Idle connections kept by the whole process; past it the longest idle one is closed.
constexpr std::size_t max_idle_in_process = 4096;
// A connection returned this recently is lent without asking the kernel whether the peer
// closed it: that check is a system call on every warm query, and a peer that did close it
// costs a retry that uses up no attempt (see retryable::stale_connection).
constexpr auto unchecked_reuse = std::chrono::seconds(1);
// How often returning a connection also sweeps every endpoint for expired idle ones.
constexpr auto sweep_interval = std::chrono::seconds(10);

class steady_clock_source final : public wql_clock {
public:
    clock_type::time_point now() override { return clock_type::now(); }
    void sleep_for(clock_type::duration pause) override { std::this_thread::sleep_for(pause); }
};

// Connections are shared only between identical targets and credentials.
struct pool_key {
    std::string host;
    std::uint16_t port;
    bool https;
    address_family family;
    std::int32_t mode;
    std::string domain;
    std::string username;
    std::string password;

    static pool_key of(const wsman_connection_parameters& p) {
        return {p.host,   p.port,     p.use_https, p.family, p.authentication_mode,
                p.domain, p.username, p.password};
    }
    auto operator<=>(const pool_key&) const = default;
};

// The process's authenticated connections, shared by every client and session. Each key
// has a number of connections lent out (in a query) and a list of idle ones, oldest first.
// No thread of its own: expiry happens when connections are taken or returned.
class connection_pool {
public:
    // Never destroyed: connections still pooled at exit are left to the operating system
    // rather than torn down after the GSSAPI mechanisms may have been unloaded.
    static connection_pool& shared() {
        static auto* pool = new connection_pool;
        return *pool;
    }

    // One of the key's connections for the caller until give_back: an idle one that is
    // still usable, or null meaning "open a new one". Waits while all are lent out; throws
    // net_error timeout when none frees up before `deadline`.
    std::unique_ptr<wsman_transport> take(const pool_key& key, clock_type::time_point deadline,
                                          wql_clock& clock) {
        std::vector<std::unique_ptr<wsman_transport>> dropped;  // closed outside the lock
        std::unique_lock lock(mutex_);
        for (;;) {
            slot& s = slots_[key];
            const auto now = clock.now();
            while (!s.idle.empty()) {
                idle_connection entry = std::move(s.idle.back());
                s.idle.pop_back();
                --idle_count_;
                const auto idle = now - entry.since;
                const bool usable = idle < unchecked_reuse ? entry.transport->is_open()
                                                           : entry.transport->still_usable();
                if (idle < idle_expiry && usable) {
                    ++s.lent;
                    return std::move(entry.transport);
                }
                dropped.push_back(std::move(entry.transport));
            }
            if (s.lent < connections_per_endpoint) {
                ++s.lent;
                return nullptr;
            }
            if (returned_.wait_until(lock, deadline) == std::cv_status::timeout) {
                const slot& again = slots_[key];
                if (again.lent >= connections_per_endpoint && again.idle.empty()) {
                    throw net_error(net_failure::timeout,
                                    "all " + std::to_string(connections_per_endpoint) +
                                        " connections to " + key.host + ":" +
                                        std::to_string(key.port) + " stayed busy");
                }
            }
        }
    }

    // Ends a take: keeps `transport` idle when it is open and `keep` allows, else closes it.
    void give_back(const pool_key& key, std::unique_ptr<wsman_transport> transport,
                   std::size_t keep, wql_clock& clock) {
        std::vector<std::unique_ptr<wsman_transport>> dropped;  // closed outside the lock
        std::lock_guard lock(mutex_);
        const auto now = clock.now();
        slot& s = slots_[key];
        if (s.lent > 0) --s.lent;
        if (transport && transport->is_open() &&
            s.idle.size() < std::min(keep, connections_per_endpoint)) {
            s.idle.push_back({std::move(transport), now});
            ++idle_count_;
        } else {
            dropped.push_back(std::move(transport));
        }
        if (idle_count_ > max_idle_in_process) evict_longest_idle(dropped);
        if (now - last_sweep_ > sweep_interval || now < last_sweep_) {
            sweep(now, dropped);
            last_sweep_ = now;
        }
        returned_.notify_all();
    }

private:
    struct idle_connection {
        std::unique_ptr<wsman_transport> transport;
        clock_type::time_point since;
    };
    struct slot {
        std::deque<idle_connection> idle;  // oldest first
        std::size_t lent = 0;
    };

    void evict_longest_idle(std::vector<std::unique_ptr<wsman_transport>>& dropped) {
        slot* oldest = nullptr;
        for (auto& [key, s] : slots_) {
            if (!s.idle.empty() && (!oldest || s.idle.front().since < oldest->idle.front().since))
                oldest = &s;
        }
        if (!oldest) return;
        dropped.push_back(std::move(oldest->idle.front().transport));
        oldest->idle.pop_front();
        --idle_count_;
    }

    void sweep(clock_type::time_point now, std::vector<std::unique_ptr<wsman_transport>>& dropped) {
        for (auto it = slots_.begin(); it != slots_.end();) {
            auto& idle = it->second.idle;
            while (!idle.empty() && now - idle.front().since >= idle_expiry) {
                dropped.push_back(std::move(idle.front().transport));
                idle.pop_front();
                --idle_count_;
            }
            it = idle.empty() && it->second.lent == 0 ? slots_.erase(it) : std::next(it);
        }
    }

    std::mutex mutex_;
    std::condition_variable returned_;
    std::map<pool_key, slot> slots_;
    std::size_t idle_count_ = 0;
    clock_type::time_point last_sweep_{};
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
    // A pooled connection the target had closed while it was idle: no attempt is lost.
    bool stale_connection = false;
};

class wmi_session final : public wmi_session_interface {
public:
    wmi_session(wsman_connection_parameters parameters, wsman_client_settings settings,
                std::shared_ptr<liblog::log_interface> log, std::shared_ptr<wql_clock> clock)
        : parameters_(std::move(parameters)),
          settings_(settings),
          log_(std::move(log)),
          clock_(std::move(clock)),
          key_(pool_key::of(parameters_)) {
        if (parameters_.session_timeout.count() > 0) {
            deadline_ = clock_type::now() + parameters_.session_timeout;
        }
    }

    std::unique_ptr<wql_query_result_interface> query(const std::string& wql,
                                                      const std::string& wmi_namespace) override {
        // A connection is held for one query only, so one thread never holds two.
        checkout(wait_limit());
        struct give_back_at_exit {
            wmi_session& session;
            ~give_back_at_exit() {
                connection_pool::shared().give_back(
                    session.key_, std::move(session.transport_),
                    static_cast<std::size_t>(std::max(0, session.settings_.max_idle_connections)),
                    *session.clock_);
            }
        } give_back{*this};
        std::vector<wql_query_row> rows;
        const int attempts = 1 + std::max(0, settings_.max_retries);
        for (int attempt = 1;; ++attempt) {
            try {
                rows = enumerate(wql, wmi_namespace);
                break;
            } catch (const retryable& r) {
                if (r.drop_connection && transport_) transport_->close();
                if (r.stale_connection) {
                    --attempt;
                    continue;
                }
                // Short, growing pause: enough for a busy provider, never a long stall, and
                // never past the session's time limit.
                const auto pause = std::chrono::milliseconds(50 * attempt);
                if (attempt >= attempts || clock_type::now() + pause >= deadline_) {
                    std::rethrow_exception(r.final_error);
                }
                clock_->sleep_for(pause);
            }
        }
        return std::make_unique<query_result>(std::move(rows));
    }

private:
    // Without a session time limit, a query waits for a busy pool as long as for a reply.
    clock_type::time_point wait_limit() const {
        if (deadline_ != clock_type::time_point::max()) return deadline_;
        return clock_type::now() +
               std::chrono::seconds(std::max(1, settings_.operation_timeout_s) +
                                    std::max<std::int64_t>(1, settings_.connect_timeout_s));
    }

    void checkout(clock_type::time_point until) {
        try {
            transport_ = connection_pool::shared().take(key_, until, *clock_);
        } catch (const net_error& e) {
            throw libi18n::i18n_exception(cat::libwql_error_dead_session(endpoint(), e.what()));
        }
        reused_ = transport_ != nullptr;
        replies_at_checkout_ = reused_ ? transport_->replies() : 0;
    }

    std::string endpoint() const {
        return (parameters_.use_https ? "https://" : "http://") + parameters_.host + ":" +
               std::to_string(parameters_.port) + "/wsman";
    }

    wsman_transport& transport() {
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
        // Ask the target to give up first when the session's limit is nearer.
        if (deadline_ != clock_type::time_point::max()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::seconds>(deadline_ - clock_type::now());
            h.operation_timeout_s =
                std::clamp(static_cast<std::int32_t>(left.count()) - 1, 1, h.operation_timeout_s);
        }
        return h;
    }

    // One request; faults are returned for the caller to classify, everything else that
    // goes wrong becomes the exception the module sees (or a retryable).
    detail::wsman_response call(const wsman_wire::request_header& h, const std::string& soap,
                                const char* action_name) {
        wsman_transport::reply reply;
        try {
            reply = transport().exchange(soap, action_name, deadline_);
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
        const std::string where = endpoint();
        switch (e.kind()) {
            case net_failure::resolve:
            case net_failure::connect:
                throw libi18n::i18n_exception(cat::libwql_error_newsession_failed(where, e.what()));
            case net_failure::timeout:
                throw libi18n::i18n_exception(cat::libwql_error_dead_session(where, e.what()));
            case net_failure::too_large:
            case net_failure::protocol:
                throw libi18n::i18n_exception(cat::libwql_error_getinstance_failed(e.what()));
            case net_failure::tls_unknown_issuer:
                throw libi18n::i18n_exception(
                    cat::libwql_error_tls_unknown_issuer(where, e.what()));
            case net_failure::tls_expired:
                throw libi18n::i18n_exception(
                    cat::libwql_error_tls_certificate_expired(where, e.what()));
            case net_failure::tls_host_name:
                throw libi18n::i18n_exception(
                    cat::libwql_error_tls_host_name_mismatch(parameters_.host, e.what()));
            case net_failure::tls_plain_http:
                throw libi18n::i18n_exception(cat::libwql_error_tls_plain_http(where));
            case net_failure::tls_handshake:
                throw libi18n::i18n_exception(
                    cat::libwql_error_tls_handshake_failed(where, e.what()));
            case net_failure::closed:
                break;
        }
        // A dropped keep-alive socket is normal (idle expiry, target restart): try again.
        const bool stale = reused_ && transport_ && transport_->replies() == replies_at_checkout_;
        reused_ = false;
        throw retryable{std::make_exception_ptr(libi18n::i18n_exception(
                            cat::libwql_error_dead_session(where, e.what()))),
                        true, stale};
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
                                false, false};
            case fault_kind::timed_out:
            case fault_kind::invalid_context:
            case fault_kind::transient:
                break;
        }
        throw retryable{std::make_exception_ptr(libi18n::i18n_exception(
                            cat::libwql_error_transient(code, fault.message))),
                        false, false};
    }

    // Best effort: frees the target's enumeration slot when we stop before the end.
    void release(const std::string& resource_uri, const std::string& context) noexcept {
        if (context.empty() || !transport_ || !transport_->is_open()) return;
        try {
            auto h = header(resource_uri);
            transport_->exchange(wsman_wire::write_release(h, context), "Release", deadline_);
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
    std::shared_ptr<wql_clock> clock_;
    pool_key key_;
    clock_type::time_point deadline_ = clock_type::time_point::max();
    // The connection lent to the query in progress.
    std::unique_ptr<wsman_transport> transport_;
    bool reused_ = false;
    std::size_t replies_at_checkout_ = 0;
};

class wsman_client final : public wsman_client_interface {
public:
    wsman_client(wsman_client_settings settings, std::shared_ptr<liblog::log_interface> log,
                 std::shared_ptr<wql_clock> clock)
        : settings_(settings), log_(std::move(log)), clock_(std::move(clock)) {}

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
        return std::make_unique<wmi_session>(parameters, settings_, log_, clock_);
    }

private:
    wsman_client_settings settings_;
    std::shared_ptr<liblog::log_interface> log_;
    std::shared_ptr<wql_clock> clock_;
};

}  // namespace

std::unique_ptr<wsman_client_interface> create_wsman_client(
    wsman_client_settings settings, std::shared_ptr<liblog::log_interface> log) {
    return create_wsman_client(settings, std::move(log), std::make_shared<steady_clock_source>());
}

std::unique_ptr<wsman_client_interface> create_wsman_client(
    wsman_client_settings settings, std::shared_ptr<liblog::log_interface> log,
    std::shared_ptr<wql_clock> clock) {
    if (!clock) clock = std::make_shared<steady_clock_source>();
    return std::make_unique<wsman_client>(settings, std::move(log), std::move(clock));
}

}  // namespace libwql
