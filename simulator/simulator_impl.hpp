#pragma once

// The simulator's insides, shared by its lifecycle, HTTP session and enumeration parts.

// Boost 1.74 Asio uses std::exchange without including <utility> itself.
#include <utility>

#include <atomic>
#include <boost/asio.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/http/status.hpp>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "simulator/query_engine.hpp"
#include "simulator/simulator.hpp"
#include "wsman_wire/envelope.hpp"

namespace winrm_simulator {

class session;

// An open enumeration: the whole result, taken from at `next` by each Pull.
struct enumeration {
    std::shared_ptr<query_result> result;
    std::string namespace_name;
    std::size_t next = 0;
    std::string owner;
    sim_clock::time_point last_used;
};

struct soap_reply {
    boost::beast::http::status status = boost::beast::http::status::ok;
    std::string body;
};

class simulator::impl {
public:
    impl(machine_model model, simulator_options options);

    void start();
    void stop();
    void drop_connections();

    void log(const std::string& line) const {
        if (options_.log) options_.log(line);
    }
    scripted_reply script(const request_info& request);
    void set_script(request_script script);

    // The reply to one parsed request (faults included).
    soap_reply answer(const wsman_wire::request& request, const std::string& user);
    soap_reply fault_reply(const std::string& relates_to, const wsman_wire::fault& fault) const;

    machine_model model_;
    simulator_options options_;
    sim_clock::time_point started_;

    std::mutex script_mutex_;

    std::mutex enumerations_mutex_;
    std::map<std::string, enumeration> enumerations_;

    // Set by start() when the options carry a certificate.
    std::unique_ptr<boost::asio::ssl::context> tls_;
    std::string channel_binding_;  // required of logons when not empty

    std::atomic<std::uint16_t> port_{0};
    std::atomic<std::uint64_t> connections_{0}, handshakes_{0}, failed_logons_{0},
        soap_requests_{0}, http_requests_{0};

    // Declared before the I/O context, so sessions still find the accounts while it unwinds.
    std::unique_ptr<ntlm_user_registration> users_;
    boost::asio::io_context io_;
    boost::asio::ip::tcp::acceptor acceptor_{io_};
    std::vector<std::weak_ptr<session>> sessions_;  // touched on the I/O thread only
    std::thread thread_;
    bool running_ = false;

private:
    void accept();
    wsman_wire::page page_of(const enumeration& e, std::size_t count) const;
    soap_reply enumerate(const wsman_wire::request& request, const std::string& user,
                         const model_time& time);
    soap_reply pull_or_release(const wsman_wire::request& request, const std::string& user,
                               const model_time& time);
};

// Serves one accepted connection: HTTP keep-alive, Negotiate logon, sealed SOAP.
void serve_connection(std::shared_ptr<session> s);
std::shared_ptr<session> make_session(boost::asio::ip::tcp::socket socket, simulator::impl& owner);
void close_session(session& s);

}  // namespace winrm_simulator
