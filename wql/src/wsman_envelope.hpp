#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "libwql/wql_query.hpp"

namespace libwql::detail {

namespace ns {
inline constexpr const char* soap = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr const char* addressing = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
inline constexpr const char* enumeration = "http://schemas.xmlsoap.org/ws/2004/09/enumeration";
inline constexpr const char* wsman = "http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd";
inline constexpr const char* msft_wsman = "http://schemas.microsoft.com/wbem/wsman/1/wsman.xsd";
inline constexpr const char* xsi = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr const char* cim = "http://schemas.dmtf.org/wbem/wscim/1/common";
inline constexpr const char* wsman_fault = "http://schemas.microsoft.com/wbem/wsman/1/wsmanfault";
inline constexpr const char* wql_dialect = "http://schemas.microsoft.com/wbem/wsman/1/WQL";
inline constexpr const char* anonymous =
    "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous";
}  // namespace ns

namespace action {
inline constexpr const char* enumerate =
    "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Enumerate";
inline constexpr const char* pull = "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Pull";
inline constexpr const char* release = "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Release";
}  // namespace action

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
