#pragma once

// XML namespace and action URIs of WS-Management as Windows uses them; both ends of the wire
// read and write these names.

namespace wsman_wire {

namespace ns {
inline constexpr const char* soap = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr const char* addressing = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
inline constexpr const char* enumeration = "http://schemas.xmlsoap.org/ws/2004/09/enumeration";
inline constexpr const char* wsman = "http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd";
inline constexpr const char* msft_wsman = "http://schemas.microsoft.com/wbem/wsman/1/wsman.xsd";
inline constexpr const char* xsi = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr const char* cim = "http://schemas.dmtf.org/wbem/wscim/1/common";
inline constexpr const char* wsman_fault = "http://schemas.microsoft.com/wbem/wsman/1/wsmanfault";
inline constexpr const char* wmi_error =
    "http://schemas.dmtf.org/wbem/wscim/1/cim-schema/2/MSFT_WmiError";
// Prefix of every WMI resource URI: then the namespace with '/' and "/*" or "/<class>".
inline constexpr const char* wmi_resource = "http://schemas.microsoft.com/wbem/wsman/1/wmi/";
inline constexpr const char* wql_dialect = "http://schemas.microsoft.com/wbem/wsman/1/WQL";
inline constexpr const char* cim_binding = "http://schemas.dmtf.org/wbem/wsman/1/cimbinding.xsd";
inline constexpr const char* anonymous =
    "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous";
}  // namespace ns

namespace action {
inline constexpr const char* enumerate =
    "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Enumerate";
inline constexpr const char* pull = "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Pull";
inline constexpr const char* release = "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Release";
// Replies append "Response" to the request's action.
inline constexpr const char* wsman_fault = "http://schemas.dmtf.org/wbem/wsman/1/wsman/fault";
inline constexpr const char* enumeration_fault =
    "http://schemas.xmlsoap.org/ws/2004/09/enumeration/fault";
inline constexpr const char* addressing_fault =
    "http://schemas.xmlsoap.org/ws/2004/08/addressing/fault";
}  // namespace action

}  // namespace wsman_wire
