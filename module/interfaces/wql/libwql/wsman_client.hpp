#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "liblog/log.hpp"
#include "libwql/wql_api.hpp"
#include "libwql/wql_query.hpp"

namespace libwql {

// Fixed behaviour of one client; meanings and units are documented in docs/wql-client.md.
// Aggregate order is part of the contract: {8, 5, 5, 3, 3, 100}.
struct wsman_client_settings {
    std::int32_t max_idle_connections = 8;  // idle sockets kept per endpoint (at most 4); 0: none
    std::int64_t connect_timeout_s = 5;     // name lookup + TCP connect + each handshake leg
    std::int32_t operation_timeout_s = 5;   // WS-Man OperationTimeout; reply deadline adds connect
    std::int32_t max_retries = 3;           // transient faults and lost connections, per query
    std::int32_t max_reply_mib = 3;         // largest HTTP reply accepted, in MiB
    std::int64_t max_elements = 100;        // instances requested per Enumerate/Pull page
};

// Which addresses of a name the client connects to.
enum class address_family : std::uint8_t { any, ipv4, ipv6 };

// Where and as whom one session connects. The first seven members are the contract with the
// module; the trailing ones have defaults, so positional initialisation stays valid.
struct wsman_connection_parameters {
    std::string host;
    std::string domain;
    std::string username;
    std::string password;
    std::int32_t authentication_mode = 0;  // 0 Negotiate (Kerberos, else NTLM), 1 Kerberos only
    std::uint16_t port = 5985;
    bool use_https = false;
    // Bounds all network work of the session (connects, handshakes, requests, retry pauses,
    // waiting for a pooled connection) from open_session on; zero: only the client settings
    // bound each step.
    std::chrono::milliseconds session_timeout{0};
    address_family family = address_family::any;
};

// Rows of one query, in the order the target delivered them.
class WQL_API wql_query_result_interface {
public:
    virtual ~wql_query_result_interface() = default;
    virtual const std::vector<wql_query_row>& get_rows() const = 0;
};

// A WMI session: queries against one target with one set of credentials.
class WQL_API wmi_session_interface {
public:
    virtual ~wmi_session_interface() = default;
    // Runs `wql` in `wmi_namespace` (e.g. "root\cimv2") and returns every row.
    virtual std::unique_ptr<wql_query_result_interface> query(const std::string& wql,
                                                              const std::string& wmi_namespace) = 0;
};

class WQL_API wsman_client_interface {
public:
    virtual ~wsman_client_interface() = default;
    // Cheap: validates the parameters; the first query connects and authenticates.
    virtual std::unique_ptr<wmi_session_interface> open_session(
        const wsman_connection_parameters& parameters) = 0;
};

// The time retry pauses and the idle expiry of pooled connections run on. Network deadlines
// always use the real clock. Tests pass one whose pauses return at once.
class WQL_API wql_clock {
public:
    virtual ~wql_clock() = default;
    virtual std::chrono::steady_clock::time_point now() = 0;
    virtual void sleep_for(std::chrono::steady_clock::duration pause) = 0;
};

// `log` receives one level-7 line per HTTP request; may be null. Every client of the process
// shares one pool of authenticated connections (docs/wql-client.md).
WQL_API std::unique_ptr<wsman_client_interface> create_wsman_client(
    wsman_client_settings settings, std::shared_ptr<liblog::log_interface> log);
// The same on `clock` instead of the steady clock.
WQL_API std::unique_ptr<wsman_client_interface> create_wsman_client(
    wsman_client_settings settings, std::shared_ptr<liblog::log_interface> log,
    std::shared_ptr<wql_clock> clock);

}  // namespace libwql
