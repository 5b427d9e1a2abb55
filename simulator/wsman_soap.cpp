#include "simulator/wsman_soap.hpp"

#include <charconv>
#include <cstring>
#include <pugixml.hpp>
#include <random>
#include <sstream>

namespace winrm_simulator {
namespace {

constexpr std::uint32_t wsman_schema_validation_error = 2150858817;   // 0x80338041
constexpr std::uint32_t wsman_invalid_uri_wmi_enum_wql = 2150859003;  // 0x803381FB
constexpr std::uint64_t min_envelope_size = 8192;

wsman_fault schema_fault(const std::string& reason) {
    return {"s:Sender", "w:SchemaValidationError", reason, wsman_schema_validation_error, {}};
}

// pugixml does not resolve prefixes: find the URI bound to an element's prefix.
std::string namespace_of(pugi::xml_node node) {
    const std::string_view name = node.name();
    const auto colon = name.find(':');
    const std::string attribute =
        colon == std::string_view::npos ? "xmlns" : "xmlns:" + std::string(name.substr(0, colon));
    for (pugi::xml_node n = node; n; n = n.parent()) {
        if (const pugi::xml_attribute a = n.attribute(attribute.c_str())) return a.value();
    }
    return {};
}

std::string_view local_name(pugi::xml_node node) {
    const std::string_view name = node.name();
    const auto colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node child(pugi::xml_node parent, const char* uri, std::string_view local) {
    for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element && local_name(c) == local && namespace_of(c) == uri) {
            return c;
        }
    }
    return {};
}

std::string trimmed_text(pugi::xml_node node) {
    std::string text = node.child_value();
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::optional<std::uint64_t> positive_number(pugi::xml_node node, const char* what) {
    if (!node) return std::nullopt;
    const std::string text = trimmed_text(node);
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value == 0) {
        throw wsman_fault_error(schema_fault(std::string(what) + " must be a positive integer"));
    }
    return value;
}

struct envelope_writer {
    pugi::xml_document doc;
    pugi::xml_node body;
    pugi::xml_node header;

    envelope_writer(const std::string& action, const std::string& relates_to) {
        pugi::xml_node env = doc.append_child("s:Envelope");
        env.append_attribute("xml:lang") = "en-US";
        env.append_attribute("xmlns:s") = wsman_ns::soap;
        env.append_attribute("xmlns:a") = wsman_ns::addressing;
        env.append_attribute("xmlns:n") = wsman_ns::enumeration;
        env.append_attribute("xmlns:w") = wsman_ns::wsman;
        env.append_attribute("xmlns:p") = wsman_ns::msft_wsman;
        header = env.append_child("s:Header");
        header.append_child("a:To").text() =
            "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous";
        pugi::xml_node a = header.append_child("a:Action");
        a.append_attribute("s:mustUnderstand") = "true";
        a.text() = action.c_str();
        header.append_child("a:MessageID").text() = new_uuid().c_str();
        if (!relates_to.empty()) header.append_child("a:RelatesTo").text() = relates_to.c_str();
        body = env.append_child("s:Body");
    }

    std::string str() const {
        std::ostringstream out;
        doc.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
        return out.str();
    }
};

std::string resource_uri_of(const rendered_page& page) {
    std::string path = page.namespace_name;
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return wsman_ns::wmi_resource + path + "/" + page.class_name;
}

void append_items(pugi::xml_node items, const rendered_page& page) {
    for (const rendered_instance* row : page.rows) {
        pugi::xml_node parent;
        std::string prefix;
        const char* datetime_name = "Datetime";
        if (page.fragment) {
            parent = items.append_child("w:XmlFragment");
        } else {
            parent = items.append_child(("p:" + page.class_name).c_str());
            parent.append_attribute("xmlns:p") = resource_uri_of(page).c_str();
            parent.append_attribute("xmlns:cim") = wsman_ns::cim;
            parent.append_attribute("xmlns:xsi") = wsman_ns::xsi;
            parent.append_attribute("xsi:type") = ("p:" + page.class_name + "_Type").c_str();
            prefix = "p:";
            datetime_name = "cim:Datetime";
        }
        if (page.fragment) parent.append_attribute("xmlns:xsi") = wsman_ns::xsi;
        for (const auto& [name, value] : *row) {
            const std::string element = prefix + name;
            if (value.kind == property_value::type::null) {
                parent.append_child(element.c_str()).append_attribute("xsi:nil") = "true";
                continue;
            }
            for (const std::string& item : value.items) {
                pugi::xml_node e = parent.append_child(element.c_str());
                if (value.kind == property_value::type::datetime) {
                    e.append_child(datetime_name).text() = item.c_str();
                } else {
                    e.text() = item.c_str();
                }
            }
        }
    }
}

std::string hresult_hex(std::uint32_t code) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", code);
    return text;
}

void typed(pugi::xml_node parent, const char* name, const char* type, const std::string& value) {
    pugi::xml_node e = parent.append_child(name);
    e.append_attribute("xsi:type") = type;
    e.text() = value.c_str();
}

void typed_nil(pugi::xml_node parent, const char* name, const char* type) {
    pugi::xml_node e = parent.append_child(name);
    e.append_attribute("xsi:type") = type;
    e.append_attribute("xsi:nil") = "true";
}

}  // namespace

std::string new_uuid() {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    const std::uint64_t a = engine();
    const std::uint64_t b = engine();
    char text[48];
    std::snprintf(text, sizeof text, "uuid:%08X-%04X-%04X-%04X-%012llX",
                  static_cast<unsigned>(a >> 32), static_cast<unsigned>((a >> 16) & 0xffff),
                  static_cast<unsigned>((a & 0x0fff) | 0x4000),
                  static_cast<unsigned>(((b >> 48) & 0x3fff) | 0x8000),
                  static_cast<unsigned long long>(b & 0xffffffffffffULL));
    return text;
}

wsman_request parse_wsman_request(std::string_view xml) {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size());
    if (!parsed) {
        throw wsman_fault_error(schema_fault(std::string("The request is not well-formed XML: ") +
                                             parsed.description()));
    }
    const pugi::xml_node env = doc.document_element();
    if (local_name(env) != "Envelope" || namespace_of(env) != wsman_ns::soap) {
        throw wsman_fault_error(schema_fault("The request is not a SOAP 1.2 envelope."));
    }
    const pugi::xml_node header = child(env, wsman_ns::soap, "Header");
    const pugi::xml_node body = child(env, wsman_ns::soap, "Body");
    if (!header || !body) {
        throw wsman_fault_error(schema_fault("The envelope lacks a SOAP header or body."));
    }
    wsman_request request;
    request.action = trimmed_text(child(header, wsman_ns::addressing, "Action"));
    request.message_id = trimmed_text(child(header, wsman_ns::addressing, "MessageID"));
    if (request.action.empty() || request.message_id.empty() || request.message_id.size() > 2048) {
        throw wsman_fault_error({"s:Sender",
                                 "a:InvalidMessageInformationHeader",
                                 "The request lacks a valid wsa:Action or wsa:MessageID header.",
                                 wsman_schema_validation_error,
                                 {}});
    }
    request.resource_uri = trimmed_text(child(header, wsman_ns::wsman, "ResourceURI"));
    if (const auto size =
            positive_number(child(header, wsman_ns::wsman, "MaxEnvelopeSize"), "MaxEnvelopeSize");
        size && *size < min_envelope_size) {
        throw wsman_fault_error({"s:Sender",
                                 "w:EncodingLimit",
                                 "The MaxEnvelopeSize is smaller than the service accepts.",
                                 {},
                                 {}});
    }

    if (request.action == wsman_action::enumerate) {
        const pugi::xml_node enumerate = child(body, wsman_ns::enumeration, "Enumerate");
        if (!enumerate) throw wsman_fault_error(schema_fault("Enumerate lacks its body element."));
        request.optimize =
            static_cast<bool>(child(enumerate, wsman_ns::wsman, "OptimizeEnumeration"));
        request.max_elements =
            positive_number(child(enumerate, wsman_ns::wsman, "MaxElements"), "MaxElements");
        pugi::xml_node filter = child(enumerate, wsman_ns::wsman, "Filter");
        if (!filter) filter = child(enumerate, wsman_ns::enumeration, "Filter");
        if (filter) {
            request.filter_dialect = filter.attribute("Dialect").value();
            request.filter = trimmed_text(filter);
        }
    } else if (request.action == wsman_action::pull || request.action == wsman_action::release) {
        const bool pull = request.action == wsman_action::pull;
        const pugi::xml_node element =
            child(body, wsman_ns::enumeration, pull ? "Pull" : "Release");
        if (!element) throw wsman_fault_error(schema_fault("The request lacks its body element."));
        request.enumeration_context =
            trimmed_text(child(element, wsman_ns::enumeration, "EnumerationContext"));
        if (pull) {
            request.max_elements = positive_number(
                child(element, wsman_ns::enumeration, "MaxElements"), "MaxElements");
        }
    } else {
        throw wsman_fault_error(
            {"s:Sender",
             "a:ActionNotSupported",
             "The action " + request.action + " is not supported by the service.",
             {},
             {}});
    }
    return request;
}

std::string namespace_from_resource_uri(std::string_view uri) {
    const std::string_view prefix = wsman_ns::wmi_resource;
    if (uri.substr(0, prefix.size()) != prefix) {
        throw wsman_fault_error({"s:Sender",
                                 "w:DestinationUnreachable",
                                 "The WS-Management service cannot process the request because "
                                 "the resource URI is not a WMI resource.",
                                 {},
                                 {}});
    }
    std::string_view path = uri.substr(prefix.size());
    if (path.size() < 3 || path.substr(path.size() - 2) != "/*") {
        throw wsman_fault_error({"s:Sender",
                                 "w:InvalidParameter",
                                 "A WQL filter needs the resource URI of a namespace ending in /*.",
                                 wsman_invalid_uri_wmi_enum_wql,
                                 {}});
    }
    path.remove_suffix(2);
    std::string name(path);
    for (char& c : name) {
        if (c == '/') c = '\\';
    }
    return name;
}

wsman_fault fault_from_wmi_error(const wmi_error& error) {
    wsman_fault fault;
    fault.code = "s:Sender";
    fault.subcode = "w:InvalidParameter";
    fault.wmi_hresult = error.hresult();
    switch (error.hresult()) {
        case wbem_e_invalid_namespace:
            fault.reason = "Invalid namespace ";
            break;
        case wbem_e_invalid_class:
            fault.reason = "Invalid class ";
            break;
        case wbem_e_invalid_query:
            fault.reason = "Invalid query ";
            break;
        default:
            fault.reason = "Generic failure ";
            fault.code = "s:Receiver";
    }
    return fault;
}

std::string render_enumerate_response(const std::string& relates_to, const std::string& context,
                                      const rendered_page* items, bool end_of_sequence) {
    envelope_writer out(std::string(wsman_action::enumerate) + "Response", relates_to);
    pugi::xml_node response = out.body.append_child("n:EnumerateResponse");
    response.append_child("n:EnumerationContext").text() = context.c_str();
    if (items != nullptr) {
        append_items(response.append_child("w:Items"), *items);
        if (end_of_sequence) response.append_child("w:EndOfSequence");
    }
    return out.str();
}

std::string render_pull_response(const std::string& relates_to, const std::string& context,
                                 const rendered_page& items, bool end_of_sequence) {
    envelope_writer out(std::string(wsman_action::pull) + "Response", relates_to);
    pugi::xml_node response = out.body.append_child("n:PullResponse");
    if (!end_of_sequence) response.append_child("n:EnumerationContext").text() = context.c_str();
    append_items(response.append_child("n:Items"), items);
    if (end_of_sequence) response.append_child("n:EndOfSequence");
    return out.str();
}

std::string render_release_response(const std::string& relates_to) {
    envelope_writer out(std::string(wsman_action::release) + "Response", relates_to);
    return out.str();
}

std::string render_fault(const std::string& relates_to, const wsman_fault& fault,
                         const std::string& machine) {
    std::string action = "http://schemas.dmtf.org/wbem/wsman/1/wsman/fault";
    if (fault.subcode.rfind("n:", 0) == 0) {
        action = "http://schemas.xmlsoap.org/ws/2004/09/enumeration/fault";
    } else if (fault.subcode.rfind("a:", 0) == 0) {
        action = "http://schemas.xmlsoap.org/ws/2004/08/addressing/fault";
    }
    envelope_writer out(action, relates_to);
    pugi::xml_node f = out.body.append_child("s:Fault");
    pugi::xml_node code = f.append_child("s:Code");
    code.append_child("s:Value").text() = fault.code.c_str();
    if (!fault.subcode.empty()) {
        code.append_child("s:Subcode").append_child("s:Value").text() = fault.subcode.c_str();
    }
    pugi::xml_node text = f.append_child("s:Reason").append_child("s:Text");
    text.append_attribute("xml:lang") = "en-US";
    text.text() = fault.reason.c_str();
    pugi::xml_node detail = f.append_child("s:Detail");
    if (fault.wsman_code) {
        pugi::xml_node w = detail.append_child("f:WSManFault");
        w.append_attribute("xmlns:f") = wsman_ns::wsman_fault;
        w.append_attribute("Code") = std::to_string(*fault.wsman_code).c_str();
        w.append_attribute("Machine") = machine.c_str();
        w.append_child("f:Message").text() = fault.reason.c_str();
    }
    if (fault.wmi_hresult) {
        pugi::xml_node e = detail.append_child("p:MSFT_WmiError");
        e.append_attribute("b:IsCIM_Error") = "true";
        e.append_attribute("xmlns:b") = "http://schemas.dmtf.org/wbem/wsman/1/cimbinding.xsd";
        e.append_attribute("xmlns:p") = wsman_ns::wmi_error;
        e.append_attribute("xmlns:cim") = wsman_ns::cim;
        e.append_attribute("xmlns:xsi") = wsman_ns::xsi;
        e.append_attribute("xsi:type") = "p:MSFT_WmiError_Type";
        const std::uint32_t hr = *fault.wmi_hresult;
        const char* status = hr == wbem_e_invalid_namespace ? "3"
                             : hr == wbem_e_invalid_class   ? "5"
                             : hr == wbem_e_invalid_query   ? "15"
                                                            : "1";
        typed(e, "p:CIMStatusCode", "cim:cimUnsignedInt", status);
        typed_nil(e, "p:CIMStatusCodeDescription", "cim:cimString");
        typed_nil(e, "p:ErrorSource", "cim:cimString");
        typed(e, "p:ErrorSourceFormat", "cim:cimUnsignedShort", "0");
        typed(e, "p:ErrorType", "cim:cimUnsignedShort", "0");
        typed(e, "p:Message", "cim:cimString", fault.reason);
        typed(e, "p:MessageID", "cim:cimString", "HRESULT " + hresult_hex(hr));
        typed_nil(e, "p:OtherErrorSourceFormat", "cim:cimString");
        typed_nil(e, "p:OtherErrorType", "cim:cimString");
        typed_nil(e, "p:OwningEntity", "cim:cimString");
        typed(e, "p:PerceivedSeverity", "cim:cimUnsignedShort", "0");
        typed(e, "p:ProbableCause", "cim:cimUnsignedShort", "0");
        typed_nil(e, "p:ProbableCauseDescription", "cim:cimString");
        typed(e, "p:error_Category", "cim:cimUnsignedInt", "0");
        typed(e, "p:error_Code", "cim:cimUnsignedInt", std::to_string(hr));
        typed(e, "p:error_Type", "cim:cimString", "HRESULT");
        typed(e, "p:error_WindowsErrorMessage", "cim:cimString", fault.reason);
    }
    return out.str();
}

}  // namespace winrm_simulator
