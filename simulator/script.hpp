#pragma once

// Per-request misbehaviour of the target: a test (or the command line) decides for each
// request what the simulator does instead of, or on top of, answering it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace winrm_simulator {

enum class reply_fault {
    none,
    refuse_logon,   // 401: a logon leg fails; an authenticated request finds its context forgotten
    drop,           // the socket closes instead of an answer
    plaintext,      // the reply goes unsealed although sealing was negotiated
    truncate,       // Content-Length announces the whole reply, half is sent, then the close
    bad_seal,       // a sealed reply whose bytes do not decrypt
    slow,           // the reply waits `delay` first
    http_error,     // HTTP `status` carrying a w:InternalError fault (WBEM_E_FAILED)
    malformed_xml,  // the reply cut in half: not well-formed XML
    oversized,      // the reply padded with white space to `size` bytes
    silent,         // no answer at all; the connection stays open
    drip,           // the reply in pieces of `size` bytes, one every `delay`
    reset,          // half the reply, then a TCP reset
};

struct request_info {
    // "logon" for an authentication leg, else the action's last segment ("Enumerate",
    // "Pull", "Release"); empty for a request that does not parse.
    std::string action;
    std::string enumeration_context;
    std::string filter;
    std::string user;  // the authenticated peer; empty on logon legs
};

struct scripted_reply {
    reply_fault fault = reply_fault::none;
    std::chrono::milliseconds delay{0};  // slow, drip
    unsigned status = 500;               // http_error, and whenever `body` is given
    std::size_t size = 0;                // oversized, drip: in bytes
    // Replaces the reply envelope (sealed unless plaintext) and is sent with `status`: a test
    // answers with any fault or page it writes with wsman_wire.
    std::optional<std::string> body;
};

// Called on the simulator's I/O thread, one request at a time.
using request_script = std::function<scripted_reply(const request_info&)>;

// What the command line's --fault names; `count` requests (logon legs for
// wrong-credentials) are hit before normal service resumes, 0 meaning all of them.
struct fault_plan {
    scripted_reply reply;
    std::uint32_t count = 0;
};

// "none", "wrong-credentials", "slow:<ms>", "drop", "malformed-xml", "server-error".
// Throws std::invalid_argument.
fault_plan parse_fault_plan(const std::string& text);
// A script that plays the plan; an empty function for "none".
request_script script_of(const fault_plan& plan);

}  // namespace winrm_simulator
