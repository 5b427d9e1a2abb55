#pragma once

// The WS-Management enumeration envelopes both ends exchange: requests a client writes and a
// service parses, replies a service writes and a client parses.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "wsman_wire/names.hpp"

namespace wsman_wire {

// "uuid:XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX", random (version 4).
std::string new_message_id();
// "root\cimv2" -> ".../wsman/1/wmi/root/cimv2/*", the all-classes URI WQL needs.
std::string resource_uri_for(std::string_view wmi_namespace);

// ---- faults -----------------------------------------------------------------------------

// A SOAP fault as a service writes it: wsman_code goes into f:WSManFault@Code, a WMI
// HRESULT into p:MSFT_WmiError.
struct fault {
    std::string code = "s:Sender";  // s:Sender or s:Receiver
    std::string subcode;            // qualified with w:, n: or a: (e.g. "w:InvalidParameter")
    std::string reason;
    std::optional<std::uint32_t> wsman_code;
    std::optional<std::uint32_t> wmi_code;
};

// A request a service must refuse, with the fault Windows answers it with.
class fault_error : public std::runtime_error {
public:
    explicit fault_error(wsman_wire::fault f)
        : std::runtime_error(f.reason), fault_(std::move(f)) {}
    const wsman_wire::fault& fault() const { return fault_; }

private:
    wsman_wire::fault fault_;
};

// A SOAP fault as a client reads it; codes stay text, since a reply may carry anything.
// Windows nests a provider's own fault inside the service's: f:WSManFault/f:Message/
// f:ProviderFault, which holds either text or another f:WSManFault (and sometimes an
// MSFT_WmiError); both levels are read.
struct received_fault {
    std::string subcode;     // local name of s:Subcode/s:Value, e.g. "TimedOut"
    std::string wsman_code;  // outermost f:WSManFault@Code, decimal
    std::string wmi_code;    // MSFT_WmiError error_Code, decimal
    std::string machine;     // outermost f:WSManFault@Machine
    // Best human text: the innermost provider text, else f:Message, WMI Message, s:Reason.
    std::string message;
    // Every code of the detail, outermost first: WSManFault codes at each level, then WMI
    // error codes. A provider's HRESULT may sit only in a nested level.
    std::vector<std::string> codes;
    // The most specific code: WSManFault@Code, else the WMI code, else the subcode.
    std::string code() const;
};

// ---- requests ---------------------------------------------------------------------------

struct request_header {
    std::string to;            // endpoint URL, e.g. "http://host:5985/wsman"
    std::string resource_uri;  // from resource_uri_for()
    std::string message_id;    // from new_message_id()
    std::int32_t operation_timeout_s = 60;
    std::uint32_t max_envelope_size = 512000;  // octets
};

// `optimize` asks for the first items in the EnumerateResponse itself.
std::string write_enumerate(const request_header& header, const std::string& wql,
                            std::int64_t max_elements, bool optimize = true);
std::string write_pull(const request_header& header, const std::string& context,
                       std::int64_t max_elements);
std::string write_release(const request_header& header, const std::string& context);

struct request {
    std::string action;
    std::string message_id;
    std::string resource_uri;
    // Enumerate
    std::optional<std::string> filter_dialect;
    std::optional<std::string> filter;
    bool optimize = false;
    std::optional<std::uint64_t> max_elements;  // Enumerate (w:) or Pull (n:)
    // Pull, Release
    std::string enumeration_context;
};

// Parses and validates a request; anything unusable throws fault_error.
request parse_request(std::string_view xml);

// "root\cimv2" from ".../wsman/1/wmi/root/cimv2/*". Throws fault_error for URIs the WMI
// plug-in cannot enumerate with WQL.
std::string namespace_from_resource_uri(std::string_view uri);

// ---- replies ----------------------------------------------------------------------------

// One property of an instance: one value, several (an array: the element repeated), or NULL.
struct property {
    enum class form { plain, datetime, interval };
    std::string name;
    std::vector<std::string> values;
    form type = form::plain;
    bool nil = false;
};
using instance = std::vector<property>;

struct page {
    std::string class_name;
    std::string namespace_name;
    // Selected properties travel as w:XmlFragment of unqualified elements; SELECT * as
    // class elements qualified with the class's resource URI.
    bool fragment = false;
    std::vector<instance> items;
};

// `relates_to` is the request's MessageID; an empty context writes none; `items` null
// answers an Enumerate without OptimizeEnumeration.
std::string write_enumerate_response(const std::string& relates_to, const std::string& context,
                                     const page* items, bool end_of_sequence);
std::string write_pull_response(const std::string& relates_to, const std::string& context,
                                const page& items, bool end_of_sequence);
std::string write_release_response(const std::string& relates_to);
std::string write_fault(const std::string& relates_to, const fault& f, const std::string& machine);

// A reply that is not well-formed XML or not a SOAP envelope of a known reply.
class malformed_reply : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct response {
    std::optional<received_fault> fault;
    std::string relates_to;
    std::vector<instance> items;  // properties in document order
    std::string context;          // for the next Pull; empty when none
    bool end_of_sequence = false;
};

// Throws malformed_reply.
response parse_response(std::string_view body);
// The same without copying the text first: parses `body` where it lies and overwrites it
// (for a buffer the caller reuses, e.g. one per connection).
response parse_response_in_place(std::string& body);

}  // namespace wsman_wire
