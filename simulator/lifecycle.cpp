// Start, stop and the public face of the simulator; the I/O thread and its listener.
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <future>

#include "simulator/simulator_impl.hpp"
#include "wsman_wire/channel_binding.hpp"

namespace winrm_simulator {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// RFC 5929 tls-server-end-point of the leaf certificate in `pem`: what a client that saw this
// certificate binds its logon to.
std::string end_point_binding(const std::string& pem) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), &BIO_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), &X509_free);
    if (!cert) throw std::runtime_error("the TLS certificate is not PEM");
    return wsman_wire::tls_server_end_point(cert.get());
}

}  // namespace

simulator::impl::impl(machine_model model, simulator_options options)
    : model_(std::move(model)), options_(std::move(options)) {
    if (!options_.clock) options_.clock = [] { return sim_clock::now(); };
    started_ = options_.clock();
}

scripted_reply simulator::impl::script(const request_info& request) {
    std::lock_guard lock(script_mutex_);
    return options_.script ? options_.script(request) : scripted_reply{};
}

void simulator::impl::set_script(request_script script) {
    std::lock_guard lock(script_mutex_);
    options_.script = std::move(script);
}

void simulator::impl::start() {
    if (running_) return;
    boost::system::error_code ec;
    const asio::ip::address address = asio::ip::make_address(options_.address, ec);
    if (ec || !address.is_loopback()) {
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
    if (!options_.tls_certificate_pem.empty()) {
        tls_ = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
        SSL_CTX_set_min_proto_version(tls_->native_handle(), TLS1_2_VERSION);
        try {
            tls_->use_certificate_chain(asio::buffer(options_.tls_certificate_pem));
            tls_->use_private_key(asio::buffer(options_.tls_private_key_pem),
                                  asio::ssl::context::pem);
        } catch (const boost::system::system_error& e) {
            throw std::runtime_error(std::string("unusable TLS certificate or key: ") + e.what());
        }
        if (options_.require_channel_binding) {
            channel_binding_ = end_point_binding(options_.tls_certificate_pem);
        }
    }

    // Started again, it keeps its port, as a rebooted target keeps its address.
    const tcp::endpoint endpoint(address, port_ != 0 ? port_.load() : options_.port);
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
    acceptor_.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
        if (ec) return;  // the acceptor was closed
        ++connections_;
        boost::system::error_code peer_error;
        const auto peer = socket.remote_endpoint(peer_error);
        if (!peer_error) log("connection from port " + std::to_string(peer.port()));
        auto s = make_session(std::move(socket), *this);
        std::erase_if(sessions_, [](const std::weak_ptr<session>& w) { return w.expired(); });
        sessions_.push_back(s);
        serve_connection(std::move(s));
        accept();
    });
}

void simulator::impl::drop_connections() {
    if (!running_) return;
    std::promise<void> done;
    asio::post(io_, [this, &done] {
        for (const auto& weak : sessions_) {
            if (auto s = weak.lock()) close_session(*s);
        }
        done.set_value();
    });
    done.get_future().wait();
}

void simulator::impl::stop() {
    if (!running_) return;
    asio::post(io_, [this] {
        boost::system::error_code ignored;
        acceptor_.close(ignored);
        for (const auto& weak : sessions_) {
            if (auto s = weak.lock()) close_session(*s);
        }
        io_.stop();
    });
    thread_.join();
    running_ = false;
}

simulator::simulator(machine_model model, simulator_options options)
    : impl_(std::make_unique<impl>(std::move(model), std::move(options))) {}

simulator::~simulator() { stop(); }

void simulator::start() { impl_->start(); }
void simulator::stop() { impl_->stop(); }
std::uint16_t simulator::port() const { return impl_->port_; }
std::string simulator::endpoint() const {
    return (impl_->tls_ ? "https://" : "http://") + impl_->options_.address + ":" +
           std::to_string(port()) + "/wsman";
}
void simulator::set_script(request_script script) { impl_->set_script(std::move(script)); }
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
