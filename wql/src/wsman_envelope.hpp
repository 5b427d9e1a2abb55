#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "libwql/wql_query.hpp"
#include "wsman_names.hpp"

namespace libwql::detail {

namespace ns = wsman_names::ns;
namespace action = wsman_names::action;

// What every request header carries.
struct request_header {
    std::string to;            // endpoint URL, e.g. "http://host:5985/wsman"
    std::string resource_uri;  // from resource_uri_for()
    std::string message_id;    // "uuid:..." from new_message_id()
    std::int32_t operation_timeout_s = 60;
    std::uint32_t max_envelope_size = 512000;  // octets
};

// "root\cimv2" -> ".../wsman/1/wmi/root/cimv2/*" (the all-classes URI WQL needs).
std::string resource_uri_for(const std::string& wmi_namespace);
std::string new_message_id();

std::string build_enumerate(const request_header& header, const std::string& wql,
                            std::int64_t max_elements);
std::string build_pull(const request_header& header, const std::string& context,
                       std::int64_t max_elements);
std::string build_release(const request_header& header, const std::string& context);

// A SOAP fault, with the codes that decide what it means.
struct wsman_fault {
    std::string subcode;     // local name of s:Subcode/s:Value, e.g. "TimedOut"
    std::string wsman_code;  // f:WSManFault@Code, decimal
    std::string wmi_code;    // MSFT_WmiError error_Code, decimal
    std::string message;     // best human text: f:Message, WMI Message, s:Reason/s:Text
    // The most specific code: WSManFault@Code, else the WMI code, else the subcode.
    std::string code() const;
};

enum class fault_kind {
    invalid_namespace,
    invalid_class,
    invalid_query,
    access_denied,
    timed_out,        // OperationTimeout hit: pull again with the same context
    invalid_context,  // enumeration expired: enumerate again
    overload,         // quota reached: retry later
    transient,        // WMI hiccup: retry
    fatal,            // anything else: the request itself is wrong
};

fault_kind classify(const wsman_fault& fault);

// One parsed reply body.
struct wsman_response {
    std::optional<wsman_fault> fault;
    std::string relates_to;
    std::vector<wql_query_row> rows;
    std::string context;  // enumeration context for the next Pull; empty when none
    bool end_of_sequence = false;
};

// Parses a reply. Throws i18n_exception "libwql.error.getinstance_failed" when the text is not
// well-formed XML or not a SOAP envelope of a known reply.
wsman_response parse_response(std::string_view body);

}  // namespace libwql::detail
