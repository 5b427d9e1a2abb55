#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "simulator/machine_model.hpp"
#include "simulator/ntlm_users.hpp"
#include "simulator/script.hpp"

namespace winrm_simulator {

struct simulator_options {
    std::string address = "127.0.0.1";  // loopback only
    std::uint16_t port = 0;             // 0: the OS picks
    std::vector<user_account> users;
    std::size_t first_page_size = 1;  // items in an optimized EnumerateResponse, at most
    std::size_t page_size = 32;       // items per Pull, at most (and at most MaxElements)
    std::chrono::milliseconds enumeration_timeout{60'000};
    std::size_t max_envelope_size = 512'000;  // larger request bodies get HTTP 413
    // Open enumerations one user may hold; past it Enumerate faults with w:InternalError.
    std::size_t max_enumerations_per_user = 1500;
    // A connection that sends nothing for this long is closed (real time, not the clock).
    std::chrono::milliseconds idle_timeout{120'000};
    // One diagnostic line per event (connection, logon, request); never a password or token.
    std::function<void(const std::string&)> log;
    std::function<sim_clock::time_point()> clock;  // empty: the system clock
    request_script script;                         // empty: every request answered normally
    // HTTPS: the server's certificate chain and private key, PEM; empty: plain HTTP. Inside
    // TLS the SOAP travels unsealed, as on a Windows HTTPS listener.
    std::string tls_certificate_pem;
    std::string tls_private_key_pem;
    // Logons over HTTPS must carry this certificate's tls-server-end-point channel binding
    // (a Windows listener with strict channel-binding hardening).
    bool require_channel_binding = false;
};

struct simulator_statistics {
    std::uint64_t connections = 0;
    std::uint64_t handshakes = 0;  // completed authentications
    std::uint64_t failed_logons = 0;
    std::uint64_t soap_requests = 0;  // sealed SOAP requests answered or faulted
    std::uint64_t http_requests = 0;
    std::size_t open_enumerations = 0;
};

// A WinRM endpoint on loopback serving one machine model. Runs its own I/O thread between
// start() and stop(); all members may be called from any thread.
class simulator {
public:
    simulator(machine_model model, simulator_options options);
    ~simulator();
    simulator(const simulator&) = delete;
    simulator& operator=(const simulator&) = delete;

    // Binds, listens and starts serving (again on the same port after stop()); throws
    // std::runtime_error when that fails.
    void start();
    // Closes the listener and every connection and joins the I/O thread. Idempotent.
    void stop();
    std::uint16_t port() const;
    std::string endpoint() const;  // http(s)://<address>:<port>/wsman

    // Replaces the per-request script (an empty one restores normal service).
    void set_script(request_script script);
    // Closes every open client connection now (the listener stays).
    void drop_connections();
    simulator_statistics statistics() const;

    class impl;

private:
    std::unique_ptr<impl> impl_;
};

}  // namespace winrm_simulator
