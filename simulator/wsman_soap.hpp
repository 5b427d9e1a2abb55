#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/query_engine.hpp"
#include "wsman_names.hpp"

namespace winrm_simulator {

namespace wsman_ns = wsman_names::ns;
namespace wsman_action = wsman_names::action;

// A SOAP fault as the target sends it. wsman_code goes into f:WSManFault@Code; a WMI
// HRESULT goes into p:MSFT_WmiError instead.
struct wsman_fault {
    std::string code = "s:Sender";  // s:Sender or s:Receiver
    std::string subcode;            // qualified with w:, n: or a: (e.g. "w:InvalidParameter")
    std::string reason;
    std::optional<std::uint32_t> wsman_code;
    std::optional<std::uint32_t> wmi_hresult;
};

class wsman_fault_error : public std::runtime_error {
public:
    explicit wsman_fault_error(wsman_fault fault)
        : std::runtime_error(fault.reason), fault_(std::move(fault)) {}
    const wsman_fault& fault() const { return fault_; }

private:
    wsman_fault fault_;
};

struct wsman_request {
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

// Parses and validates a request envelope; anything unusable throws wsman_fault_error with
// the fault Windows answers it with.
wsman_request parse_wsman_request(std::string_view xml);

// root/cimv2 from http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/* → root\cimv2.
// Throws wsman_fault_error for URIs the WMI plug-in cannot enumerate with WQL.
std::string namespace_from_resource_uri(std::string_view uri);

wsman_fault fault_from_wmi_error(const wmi_error& error);

struct rendered_page {
    std::string class_name;
    std::string namespace_name;
    bool fragment = false;
    std::vector<const rendered_instance*> rows;
};

// Reply envelopes. relates_to is the request's MessageID; context empty when none.
std::string render_enumerate_response(const std::string& relates_to, const std::string& context,
                                      const rendered_page* items, bool end_of_sequence);
std::string render_pull_response(const std::string& relates_to, const std::string& context,
                                 const rendered_page& items, bool end_of_sequence);
std::string render_release_response(const std::string& relates_to);
std::string render_fault(const std::string& relates_to, const wsman_fault& fault,
                         const std::string& machine);

std::string new_uuid();

}  // namespace winrm_simulator
