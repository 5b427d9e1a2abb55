#pragma once

// A WinRM endpoint on 127.0.0.1 for transport tests: Negotiate (NTLM through a GSSAPI
// acceptor) on each connection, sealed SOAP after that, and scripted misbehaviour.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wql_test {

// Writes the NTLM user file once and points GSSAPI at it (no Kerberos configuration).
void ensure_ntlm_environment();
// Adds an account to that user file (the acceptor reads it at every handshake).
void add_ntlm_user(const std::string& domain, const std::string& user, const std::string& password);
inline constexpr const char* test_domain = "TESTDOM";
inline constexpr const char* test_user = "testuser";
inline constexpr const char* test_password = "Secr3t!pass";

struct reply_plan {
    enum class how {
        normal,          // sealed reply
        plaintext,       // unsealed reply, as Windows sends some faults
        lose_context,    // 401 as if the server forgot the context
        close_now,       // close the socket without answering
        truncate,        // announce the full length, send half, close
        hang,            // never answer
        garbage_sealed,  // sealed body whose bytes do not decrypt
    };
    unsigned status = 200;
    std::string soap;
    how mode = how::normal;
};

// The action (local name, e.g. "Enumerate") and the context of a request, for handlers.
struct request_view {
    std::string action;
    std::string context;
    std::string message_id;
    std::string filter;
    std::string soap;
};

class test_server {
public:
    using handler = std::function<reply_plan(const request_view&)>;
    explicit test_server(handler h);
    ~test_server();

    std::uint16_t port() const { return port_; }
    int connections() const { return connections_; }
    int handshakes() const { return handshakes_; }
    // Shuts down every open connection (as a restart or a network drop would).
    void kill_connections();

private:
    struct impl;
    void serve(int fd);
    handler handler_;
    std::unique_ptr<impl> impl_;
    std::uint16_t port_ = 0;
    std::atomic<int> connections_{0};
    std::atomic<int> handshakes_{0};
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<int> open_fds_;
    std::vector<std::thread> threads_;
    std::thread acceptor_thread_;
};

// SOAP replies as a Windows target words them.
std::string enumerate_response(const std::string& relates_to, const std::string& items_xml,
                               const std::string& context, bool end);
std::string pull_response(const std::string& relates_to, const std::string& items_xml,
                          const std::string& context, bool end);
std::string fault_response(const std::string& relates_to, const std::string& subcode,
                           const std::string& code, const std::string& message);
// One XmlFragment item with the given (name, value) pairs; value "\x01nil" writes xsi:nil.
std::string fragment(const std::vector<std::pair<std::string, std::string>>& fields);

}  // namespace wql_test
