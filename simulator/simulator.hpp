#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "simulator/ntlm_users.hpp"
#include "simulator/machine_model.hpp"

namespace winrm_simulator {

// Faults the target can be told to produce, for tests and demos.
enum class fault_kind {
    none,
    wrong_credentials,  // every authentication fails with 401, whatever the password
    slow_answer,        // each SOAP reply waits fault_plan::delay first
    drop_connection,    // the socket is closed instead of answering a SOAP request
    malformed_xml,      // the (sealed) reply is truncated, unparsable XML
    server_error,       // HTTP 500 with a w:InternalError fault
};

struct fault_plan {
    fault_kind kind = fault_kind::none;
    std::chrono::milliseconds delay{0};  // slow_answer only
    // How many SOAP requests (authentications for wrong_credentials) the fault hits before
    // the target behaves normally again; 0 means every one.
    std::uint32_t count = 0;
};

// "none", "wrong-credentials", "slow:<ms>", "drop", "malformed-xml", "server-error".
fault_plan parse_fault_plan(const std::string& text);

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
    fault_plan fault;
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

    // Binds, listens and starts serving; throws std::runtime_error when that fails.
    void start();
    // Closes the listener and every connection and joins the I/O thread. Idempotent.
    void stop();
    std::uint16_t port() const;
    std::string endpoint() const;  // http://<address>:<port>/wsman

    void set_fault(const fault_plan& plan);
    // Closes every open client connection now (the listener stays).
    void drop_connections();
    simulator_statistics statistics() const;

    class impl;

private:
    std::unique_ptr<impl> impl_;
};

}  // namespace winrm_simulator
