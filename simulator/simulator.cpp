#include "simulator/simulator.hpp"

// Boost 1.74 Asio uses std::exchange without including <utility> itself.
#include <utility>

#include <algorithm>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cstdlib>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "base64_text.hpp"
#include "gss_context.hpp"
#include "simulator/query_engine.hpp"
#include "winrm_framing.hpp"
#include "simulator/wsman_soap.hpp"

namespace winrm_simulator {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

using libwql::detail::gss_context;

namespace {

// 0x80041001, WBEM_E_FAILED: what an overloaded or broken WMI service reports.
constexpr std::uint32_t wbem_e_failed = 0x80041001;
constexpr std::uint32_t error_access_denied = 5;
// Room for the multipart framing around a sealed envelope of the maximum size.
constexpr std::size_t framing_allowance = 1024;

bool starts_with_scheme(std::string_view header, std::string_view scheme, std::string_view& rest) {
    if (header.size() < scheme.size() || !iequals(header.substr(0, scheme.size()), scheme)) {
        return false;
    }
    rest = header.substr(scheme.size());
    if (!rest.empty() && rest.front() != ' ') return false;
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    return true;
}

std::string_view view(boost::beast::string_view text) { return {text.data(), text.size()}; }

bool is_loopback(const asio::ip::address& address) { return address.is_loopback(); }

struct enumeration {
    std::shared_ptr<query_result> result;
    std::string namespace_name;
    std::size_t next = 0;
    std::string owner;
    sim_clock::time_point last_used;
};

}  // namespace

fault_plan parse_fault_plan(const std::string& text) {
    fault_plan plan;
    if (text == "none") return plan;
    if (text == "wrong-credentials") {
        plan.kind = fault_kind::wrong_credentials;
    } else if (text == "drop") {
        plan.kind = fault_kind::drop_connection;
    } else if (text == "malformed-xml") {
        plan.kind = fault_kind::malformed_xml;
    } else if (text == "server-error") {
        plan.kind = fault_kind::server_error;
    } else if (text.rfind("slow:", 0) == 0) {
        plan.kind = fault_kind::slow_answer;
        const std::string ms = text.substr(5);
        std::size_t used = 0;
        long long value = -1;
        try {
            value = std::stoll(ms, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (ms.empty() || used != ms.size() || value < 0) {
            throw std::invalid_argument("slow:<milliseconds> needs a non-negative number");
        }
        plan.delay = std::chrono::milliseconds(value);
    } else {
        throw std::invalid_argument("unknown fault \"" + text +
                                    "\"; expected none, wrong-credentials, slow:<ms>, drop, "
                                    "malformed-xml or server-error");
    }
    return plan;
}

class session;

class simulator::impl {
public:
    impl(machine_model model, simulator_options options)
        : model_(std::move(model)), options_(std::move(options)), fault_(options_.fault) {
        if (!options_.clock) options_.clock = [] { return sim_clock::now(); };
        started_ = options_.clock();
        remaining_hits_ = fault_.count;
    }

    void start();
    void stop();
    void drop_connections();

    model_time now() const { return {started_, options_.clock()}; }

    // True when the planned fault of this kind hits the current request.
    bool take_fault(fault_kind kind, std::chrono::milliseconds* delay = nullptr) {
        std::lock_guard lock(fault_mutex_);
        if (fault_.kind != kind) return false;
        if (delay != nullptr) *delay = fault_.delay;
        if (fault_.count != 0 && --remaining_hits_ == 0) fault_ = {};
        return true;
    }

    void log(const std::string& line) const {
        if (options_.log) options_.log(line);
    }

    void set_fault(const fault_plan& plan) {
        std::lock_guard lock(fault_mutex_);
        fault_ = plan;
        remaining_hits_ = plan.count;
    }

    // Answers one unsealed SOAP envelope: (HTTP status, reply envelope).
    std::pair<http::status, std::string> answer(std::string_view xml, const std::string& user);

    machine_model model_;
    simulator_options options_;
    sim_clock::time_point started_;

    std::mutex fault_mutex_;
    fault_plan fault_;
    std::uint32_t remaining_hits_ = 0;

    std::mutex enumerations_mutex_;
    std::map<std::string, enumeration> enumerations_;

    std::atomic<std::uint16_t> port_{0};
    std::atomic<std::uint64_t> connections_{0}, handshakes_{0}, failed_logons_{0},
        soap_requests_{0}, http_requests_{0};

    // Declared before the I/O context, so sessions still find the accounts while it unwinds.
    std::unique_ptr<ntlm_user_registration> users_;
    asio::io_context io_;
    tcp::acceptor acceptor_{io_};
    std::vector<std::weak_ptr<session>> sessions_;  // touched on the I/O thread only
    std::thread thread_;
    bool running_ = false;

private:
    void accept();
    rendered_page page_of(const enumeration& e, std::size_t count) const;
    void expire_enumerations(sim_clock::time_point now);
};

class session : public std::enable_shared_from_this<session> {
public:
    session(tcp::socket socket, simulator::impl& owner)
        : stream_(std::move(socket)), timer_(stream_.get_executor()), owner_(owner) {}

    void run() { read(); }

    void close() {
        beast::error_code ignored;
        timer_.cancel();
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.socket().close(ignored);
    }

private:
    using response = http::response<http::string_body>;

    void read() {
        parser_.emplace();
        parser_->body_limit(owner_.options_.max_envelope_size + framing_allowance);
        stream_.expires_after(owner_.options_.idle_timeout);
        http::async_read(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->on_read(ec); });
    }

    void on_read(beast::error_code ec) {
        if (ec == http::error::body_limit) {
            response res{http::status::payload_too_large, 11};
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
            send(plain(http::status::not_found), false);
            return;
        }
        if (req.method() != http::verb::post) {
            send(plain(http::status::method_not_allowed), false);
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
        if (owner_.take_fault(fault_kind::wrong_credentials)) {
            // The target forgot the context: the client must authenticate again.
            gss_.reset();
            ++owner_.failed_logons_;
            send(challenge(""), false);
            return;
        }
        serve_sealed(req, {});
    }

    void authenticate(const http::request<http::string_body>& req, std::string_view header) {
        std::string_view encoded;
        if (!starts_with_scheme(header, "Negotiate", encoded)) {
            send(challenge(""), false);
            return;
        }
        const std::optional<std::string> token = base64_text::decode(encoded);
        if (!token || token->empty()) {
            gss_.reset();
            send(challenge(""), false);
            return;
        }
        if (!gss_ || gss_->established()) {
            gss_ = std::make_unique<gss_context>(gss_context::acceptor());
        }
        if (owner_.take_fault(fault_kind::wrong_credentials)) {
            gss_.reset();
            ++owner_.failed_logons_;
            send(challenge(""), false);
            return;
        }
        std::string output_token;
        try {
            output_token = gss_->step(*token);
        } catch (const libwql::detail::gss_error& e) {
            owner_.log(std::string("logon failed: ") + e.what());
            gss_.reset();
            ++owner_.failed_logons_;
            send(challenge(""), false);
            return;
        }
        if (!gss_->established()) {
            send(challenge(output_token), false);
            return;
        }
        ++owner_.handshakes_;
        owner_.log("logon: " + gss_->peer_name());
        const std::string final_token =
            output_token.empty() ? "" : "Negotiate " + base64_text::encode(output_token);
        if (req.body().empty()) {
            response res = plain(http::status::ok);
            if (!final_token.empty()) res.set(http::field::www_authenticate, final_token);
            send(std::move(res), false);
            return;
        }
        // A sealed envelope may ride the last leg of the handshake.
        serve_sealed(req, final_token);
    }

    void serve_sealed(const http::request<http::string_body>& req, const std::string& final_token) {
        const auto type = req.find(http::field::content_type);
        if (type == req.end() || !winrm_framing::is_sealed_content_type(view(type->value()))) {
            refuse_unencrypted();
            return;
        }
        std::string plain_xml;
        try {
            const winrm_framing::sealed_message sealed = winrm_framing::parse_body(
                req.body(), winrm_framing::boundary_of(view(type->value())));
            plain_xml = gss_->unseal(sealed.header, sealed.data);
            if (plain_xml.size() != sealed.original_length) {
                throw winrm_framing::framing_error(
                    "the unsealed length differs from OriginalContent Length");
            }
        } catch (const std::exception& e) {
            owner_.log(std::string("unusable sealed request, closing: ") + e.what());
            // A broken frame or seal desynchronises the RC4 stream: the connection is lost.
            response res = plain(http::status::bad_request);
            res.keep_alive(false);
            send(std::move(res), true);
            return;
        }
        ++owner_.soap_requests_;
        if (owner_.take_fault(fault_kind::drop_connection)) {
            owner_.log("fault: dropping the connection");
            close();
            return;
        }
        http::status status = http::status::ok;
        std::string reply;
        if (owner_.take_fault(fault_kind::server_error)) {
            status = http::status::internal_server_error;
            wsman_fault fault{"s:Receiver",
                              "w:InternalError",
                              "The WS-Management service cannot process the request. The WMI "
                              "service reported a failure.",
                              wbem_e_failed,
                              {}};
            reply = render_fault({}, fault, owner_.model_.machine_name());
        } else {
            std::tie(status, reply) = owner_.answer(plain_xml, gss_->peer_name());
            if (owner_.take_fault(fault_kind::malformed_xml)) reply.resize(reply.size() / 2);
        }
        response res{status, 11};
        if (!final_token.empty()) res.set(http::field::www_authenticate, final_token);
        try {
            winrm_framing::sealed_message sealed;
            sealed.protocol = gss_->uses_kerberos() ? winrm_framing::kerberos_protocol
                                                    : winrm_framing::spnego_protocol;
            sealed.original_type = winrm_framing::soap_content_type;
            sealed.original_length = reply.size();
            std::tie(sealed.header, sealed.data) = gss_->seal(reply);
            res.set(http::field::content_type, winrm_framing::content_type(sealed.protocol));
            res.body() = winrm_framing::build_body(sealed);
        } catch (const libwql::detail::gss_error&) {
            res = plain(http::status::internal_server_error);
            res.keep_alive(false);
            send(std::move(res), true);
            return;
        }
        std::chrono::milliseconds delay{0};
        if (owner_.take_fault(fault_kind::slow_answer, &delay) && delay.count() > 0) {
            auto pending = std::make_shared<response>(std::move(res));
            timer_.expires_after(delay);
            timer_.async_wait([self = shared_from_this(), pending](beast::error_code ec) {
                if (ec) return;
                self->send(std::move(*pending), false);
            });
            return;
        }
        send(std::move(res), false);
    }

    // Windows refuses SOAP in clear on HTTP once encryption is required.
    void refuse_unencrypted() {
        owner_.log("refused unencrypted SOAP");
        wsman_fault fault{"s:Sender",
                          "w:AccessDenied",
                          "Access is denied. The service accepts only encrypted messages over "
                          "HTTP.",
                          error_access_denied,
                          {}};
        response res{http::status::internal_server_error, 11};
        res.set(http::field::content_type, "application/soap+xml;charset=UTF-8");
        res.body() = render_fault({}, fault, owner_.model_.machine_name());
        send(std::move(res), false);
    }

    response plain(http::status status) const {
        response res{status, 11};
        return res;
    }

    response challenge(const std::string& token) const {
        response res{http::status::unauthorized, 11};
        res.set(http::field::www_authenticate,
                token.empty() ? std::string("Negotiate") : "Negotiate " + base64_text::encode(token));
        return res;
    }

    void send(response res, bool close_after) {
        res.keep_alive(keep_alive_ && !close_after && res.keep_alive());
        res.prepare_payload();
        stream_.expires_never();
        auto message = std::make_shared<response>(std::move(res));
        http::async_write(stream_, *message,
                          [self = shared_from_this(), message](beast::error_code ec, std::size_t) {
                              if (ec || !message->keep_alive()) {
                                  self->close();
                                  return;
                              }
                              self->read();
                          });
    }

    beast::tcp_stream stream_;
    asio::steady_timer timer_;
    simulator::impl& owner_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::unique_ptr<gss_context> gss_;
    bool keep_alive_ = true;
};

void simulator::impl::start() {
    if (running_) return;
    boost::system::error_code ec;
    const asio::ip::address address = asio::ip::make_address(options_.address, ec);
    if (ec || !is_loopback(address)) {
        throw std::runtime_error("the simulator listens on loopback only, not \"" +
                                 options_.address + "\"");
    }
    if (options_.users.empty()) throw std::runtime_error("at least one user is needed");
    if (options_.first_page_size == 0 || options_.page_size == 0) {
        throw std::runtime_error("page sizes must be at least 1");
    }
    // The NTLM provider names the target from these; a stable name keeps logs readable.
    setenv("NETBIOS_COMPUTER_NAME", model_.machine_name().c_str(), 0);
    setenv("NETBIOS_DOMAIN_NAME", model_.machine_name().c_str(), 0);
    users_ = std::make_unique<ntlm_user_registration>(options_.users);

    const tcp::endpoint endpoint(address, options_.port);
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(asio::socket_base::reuse_address(true));
    acceptor_.bind(endpoint, ec);
    if (ec) {
        acceptor_.close();
        throw std::runtime_error("cannot listen on " + options_.address + ":" +
                                 std::to_string(options_.port) + ": " + ec.message());
    }
    acceptor_.listen();
    port_ = acceptor_.local_endpoint().port();
    accept();
    running_ = true;
    io_.restart();  // a stopped simulator can start again
    thread_ = std::thread([this] { io_.run(); });
}

void simulator::impl::accept() {
    acceptor_.async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (ec) return;  // the acceptor was closed
        ++connections_;
        beast::error_code peer_error;
        const auto peer = socket.remote_endpoint(peer_error);
        if (!peer_error) log("connection from port " + std::to_string(peer.port()));
        auto s = std::make_shared<session>(std::move(socket), *this);
        std::erase_if(sessions_, [](const std::weak_ptr<session>& w) { return w.expired(); });
        sessions_.push_back(s);
        s->run();
        accept();
    });
}

void simulator::impl::drop_connections() {
    if (!running_) return;
    std::promise<void> done;
    asio::post(io_, [this, &done] {
        for (const auto& weak : sessions_) {
            if (auto s = weak.lock()) s->close();
        }
        done.set_value();
    });
    done.get_future().wait();
}

void simulator::impl::stop() {
    if (!running_) return;
    asio::post(io_, [this] {
        beast::error_code ignored;
        acceptor_.close(ignored);
        for (const auto& weak : sessions_) {
            if (auto s = weak.lock()) s->close();
        }
        io_.stop();
    });
    thread_.join();
    running_ = false;
}

rendered_page simulator::impl::page_of(const enumeration& e, std::size_t count) const {
    rendered_page page;
    page.class_name = e.result->class_name;
    page.namespace_name = e.namespace_name;
    page.fragment = e.result->fragment;
    for (std::size_t i = e.next; i < e.next + count && i < e.result->rows.size(); ++i) {
        page.rows.push_back(&e.result->rows[i]);
    }
    return page;
}

void simulator::impl::expire_enumerations(sim_clock::time_point now) {
    std::erase_if(enumerations_, [&](const auto& item) {
        return now - item.second.last_used > options_.enumeration_timeout;
    });
}

std::pair<http::status, std::string> simulator::impl::answer(std::string_view xml,
                                                             const std::string& user) {
    std::string relates_to;
    try {
        const wsman_request request = parse_wsman_request(xml);
        relates_to = request.message_id;
        const model_time time = now();
        std::lock_guard lock(enumerations_mutex_);
        expire_enumerations(time.now);

        if (request.action == wsman_action::enumerate) {
            if (!request.filter) {
                throw wsman_fault_error({"s:Sender",
                                         "w:InvalidParameter",
                                         "The service enumerates WMI only with a WQL filter.",
                                         2150859003u,
                                         {}});
            }
            if (!iequals(request.filter_dialect.value_or(""), wsman_ns::wql_dialect)) {
                throw wsman_fault_error({"s:Sender",
                                         "w:FilterDialectRequestedUnavailable",
                                         "The requested filter dialect is not supported.",
                                         {},
                                         {}});
            }
            enumeration e;
            e.namespace_name = namespace_from_resource_uri(request.resource_uri);
            try {
                e.result = std::make_shared<query_result>(
                    run_query(model_, e.namespace_name, *request.filter, time));
            } catch (const wmi_error& error) {
                throw wsman_fault_error(fault_from_wmi_error(error));
            }
            e.owner = user;
            e.last_used = time.now;
            log("Enumerate " + e.namespace_name + ": " + *request.filter + " -> " +
                std::to_string(e.result->rows.size()) + " item(s)");
            const auto held =
                std::count_if(enumerations_.begin(), enumerations_.end(),
                              [&](const auto& item) { return item.second.owner == user; });
            if (static_cast<std::size_t>(held) >= options_.max_enumerations_per_user) {
                throw wsman_fault_error({"s:Receiver",
                                         "w:InternalError",
                                         "The WS-Management service cannot process the request. "
                                         "This user is allowed a maximum number of concurrent "
                                         "operations, which has been exceeded.",
                                         {},
                                         {}});
            }
            if (!request.optimize) {
                const std::string context = new_uuid();
                enumerations_.emplace(context, std::move(e));
                return {http::status::ok,
                        render_enumerate_response(relates_to, context, nullptr, false)};
            }
            const std::size_t count =
                std::min<std::uint64_t>(options_.first_page_size, request.max_elements.value_or(1));
            const rendered_page page = page_of(e, count);
            e.next = page.rows.size();
            if (e.next >= e.result->rows.size()) {
                return {http::status::ok, render_enumerate_response(relates_to, "", &page, true)};
            }
            const std::string context = new_uuid();
            std::string reply = render_enumerate_response(relates_to, context, &page, false);
            enumerations_.emplace(context, std::move(e));
            return {http::status::ok, std::move(reply)};
        }

        const auto it = enumerations_.find(request.enumeration_context);
        if (it == enumerations_.end() || it->second.owner != user) {
            throw wsman_fault_error({"s:Receiver",
                                     "n:InvalidEnumerationContext",
                                     "The enumeration context is not valid or has expired.",
                                     {},
                                     {}});
        }
        if (request.action == wsman_action::release) {
            enumerations_.erase(it);
            return {http::status::ok, render_release_response(relates_to)};
        }
        enumeration e = std::move(it->second);
        enumerations_.erase(it);
        const std::size_t count =
            std::min<std::uint64_t>(options_.page_size, request.max_elements.value_or(1));
        const rendered_page page = page_of(e, count);
        e.next += page.rows.size();
        e.last_used = time.now;
        if (e.next >= e.result->rows.size()) {
            return {http::status::ok, render_pull_response(relates_to, "", page, true)};
        }
        // Windows hands out a fresh context with every PullResponse.
        const std::string context = new_uuid();
        std::string reply = render_pull_response(relates_to, context, page, false);
        enumerations_.emplace(context, std::move(e));
        return {http::status::ok, std::move(reply)};
    } catch (const wsman_fault_error& error) {
        log("fault " + error.fault().subcode + ": " + error.fault().reason);
        return {http::status::internal_server_error,
                render_fault(relates_to, error.fault(), model_.machine_name())};
    }
}

simulator::simulator(machine_model model, simulator_options options)
    : impl_(std::make_unique<impl>(std::move(model), std::move(options))) {}

simulator::~simulator() { stop(); }

void simulator::start() { impl_->start(); }
void simulator::stop() { impl_->stop(); }
std::uint16_t simulator::port() const { return impl_->port_; }
std::string simulator::endpoint() const {
    return "http://" + impl_->options_.address + ":" + std::to_string(port()) + "/wsman";
}
void simulator::set_fault(const fault_plan& plan) { impl_->set_fault(plan); }
void simulator::drop_connections() { impl_->drop_connections(); }

simulator_statistics simulator::statistics() const {
    simulator_statistics s;
    s.connections = impl_->connections_;
    s.handshakes = impl_->handshakes_;
    s.failed_logons = impl_->failed_logons_;
    s.soap_requests = impl_->soap_requests_;
    s.http_requests = impl_->http_requests_;
    std::lock_guard lock(impl_->enumerations_mutex_);
    s.open_enumerations = impl_->enumerations_.size();
    return s;
}

}  // namespace winrm_simulator
