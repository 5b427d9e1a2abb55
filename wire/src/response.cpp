#include <algorithm>
#include <cstdio>
#include <cstring>

#include "wsman_wire/envelope.hpp"
#include "xml.hpp"

namespace wsman_wire {

namespace {

// 0x8004100E, 0x80041010, 0x80041017: the WMI errors with a CIM status of their own.
constexpr std::uint32_t wbem_e_invalid_namespace = 0x8004100E;
constexpr std::uint32_t wbem_e_invalid_class = 0x80041010;
constexpr std::uint32_t wbem_e_invalid_query = 0x80041017;

// ---- writing ----------------------------------------------------------------------------

struct reply_writer {
    pugi::xml_document doc;
    pugi::xml_node body;

    reply_writer(const std::string& act, const std::string& relates_to) {
        pugi::xml_node env = doc.append_child("s:Envelope");
        env.append_attribute("xml:lang") = "en-US";
        env.append_attribute("xmlns:s") = ns::soap;
        env.append_attribute("xmlns:a") = ns::addressing;
        env.append_attribute("xmlns:n") = ns::enumeration;
        env.append_attribute("xmlns:w") = ns::wsman;
        env.append_attribute("xmlns:p") = ns::msft_wsman;
        pugi::xml_node header = env.append_child("s:Header");
        header.append_child("a:To").text() = ns::anonymous;
        pugi::xml_node a = header.append_child("a:Action");
        a.append_attribute("s:mustUnderstand") = "true";
        a.text() = act.c_str();
        header.append_child("a:MessageID").text() = new_message_id().c_str();
        if (!relates_to.empty()) header.append_child("a:RelatesTo").text() = relates_to.c_str();
        body = env.append_child("s:Body");
    }
};

std::string class_resource_uri(const page& p) {
    std::string path = p.namespace_name;
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return ns::wmi_resource + path + "/" + p.class_name;
}

void append_items(pugi::xml_node items, const page& p) {
    const std::string class_uri = p.fragment ? std::string() : class_resource_uri(p);
    for (const instance& row : p.items) {
        pugi::xml_node parent;
        std::string prefix;
        const char* datetime_name = "Datetime";
        const char* interval_name = "Interval";
        if (p.fragment) {
            parent = items.append_child("w:XmlFragment");
        } else {
            parent = items.append_child(("p:" + p.class_name).c_str());
            parent.append_attribute("xmlns:p") = class_uri.c_str();
            parent.append_attribute("xmlns:cim") = ns::cim;
            parent.append_attribute("xsi:type") = ("p:" + p.class_name + "_Type").c_str();
            prefix = "p:";
            datetime_name = "cim:Datetime";
            interval_name = "cim:Interval";
        }
        parent.append_attribute("xmlns:xsi") = ns::xsi;
        for (const property& value : row) {
            const std::string element = prefix + value.name;
            if (value.nil) {
                parent.append_child(element.c_str()).append_attribute("xsi:nil") = "true";
                continue;
            }
            for (const std::string& item : value.values) {
                pugi::xml_node e = parent.append_child(element.c_str());
                if (value.type == property::form::datetime) {
                    e.append_child(datetime_name).text() = item.c_str();
                } else if (value.type == property::form::interval) {
                    e.append_child(interval_name).text() = item.c_str();
                } else {
                    e.text() = item.c_str();
                }
            }
        }
    }
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

void append_wmi_error(pugi::xml_node detail, std::uint32_t hr, const std::string& reason) {
    pugi::xml_node e = detail.append_child("p:MSFT_WmiError");
    e.append_attribute("b:IsCIM_Error") = "true";
    e.append_attribute("xmlns:b") = ns::cim_binding;
    e.append_attribute("xmlns:p") = ns::wmi_error;
    e.append_attribute("xmlns:cim") = ns::cim;
    e.append_attribute("xmlns:xsi") = ns::xsi;
    e.append_attribute("xsi:type") = "p:MSFT_WmiError_Type";
    const char* status = hr == wbem_e_invalid_namespace ? "3"
                         : hr == wbem_e_invalid_class   ? "5"
                         : hr == wbem_e_invalid_query   ? "15"
                                                        : "1";
    char hex[11];
    std::snprintf(hex, sizeof hex, "0x%08x", hr);
    typed(e, "p:CIMStatusCode", "cim:cimUnsignedInt", status);
    typed_nil(e, "p:CIMStatusCodeDescription", "cim:cimString");
    typed_nil(e, "p:ErrorSource", "cim:cimString");
    typed(e, "p:ErrorSourceFormat", "cim:cimUnsignedShort", "0");
    typed(e, "p:ErrorType", "cim:cimUnsignedShort", "0");
    typed(e, "p:Message", "cim:cimString", reason);
    typed(e, "p:MessageID", "cim:cimString", std::string("HRESULT ") + hex);
    typed_nil(e, "p:OtherErrorSourceFormat", "cim:cimString");
    typed_nil(e, "p:OtherErrorType", "cim:cimString");
    typed_nil(e, "p:OwningEntity", "cim:cimString");
    typed(e, "p:PerceivedSeverity", "cim:cimUnsignedShort", "0");
    typed(e, "p:ProbableCause", "cim:cimUnsignedShort", "0");
    typed_nil(e, "p:ProbableCauseDescription", "cim:cimString");
    typed(e, "p:error_Category", "cim:cimUnsignedInt", "0");
    typed(e, "p:error_Code", "cim:cimUnsignedInt", std::to_string(hr));
    typed(e, "p:error_Type", "cim:cimString", "HRESULT");
    typed(e, "p:error_WindowsErrorMessage", "cim:cimString", reason);
}

// ---- parsing ----------------------------------------------------------------------------

bool is_nil(pugi::xml_node node) {
    for (auto attr : node.attributes()) {
        if (xml::local_name(attr.name()) == "nil" &&
            xml::namespace_of(node, attr.name(), true) == ns::xsi) {
            return std::strcmp(attr.value(), "true") == 0 || std::strcmp(attr.value(), "1") == 0;
        }
    }
    return false;
}

// A child in either of two namespaces (WS-Man moved some elements between them).
pugi::xml_node child_either(pugi::xml_node parent, std::string_view uri1, std::string_view uri2,
                            std::string_view name) {
    auto c = xml::child(parent, uri1, name);
    return c ? c : xml::child(parent, uri2, name);
}

// One property element, possibly one of several forming an array.
void add_property(instance& row, pugi::xml_node node) {
    std::string name(xml::local_name(node.name()));
    auto existing =
        std::find_if(row.begin(), row.end(), [&](const property& p) { return p.name == name; });
    const bool nil = is_nil(node);
    // A repeated element is an array; a NULL array never has members.
    if (existing != row.end() && (existing->nil || nil)) return;
    auto form = property::form::plain;
    std::string value;
    if (auto inner = xml::first_element(node); inner && !nil) {
        // Typed wrappers around the value: cim:Datetime, cim:Interval, cim:Date, ...
        const auto inner_name = xml::local_name(inner.name());
        if (inner_name == "Interval") {
            form = property::form::interval;
        } else if (inner_name == "Datetime" || inner_name == "Date" || inner_name == "Time" ||
                   inner_name == "CIM_DateTime") {
            form = property::form::datetime;
        }
        value = inner.text().get();
    } else if (!nil) {
        value = node.text().get();
    }
    if (existing != row.end()) {
        existing->values.push_back(std::move(value));
        return;
    }
    property p;
    p.name = std::move(name);
    p.nil = nil;
    p.type = form;
    if (!nil) p.values.push_back(std::move(value));
    row.push_back(std::move(p));
}

// How deep provider faults may nest inside each other; Windows uses one level.
constexpr int max_fault_nesting = 4;

void add_code(received_fault& r, std::string code) {
    if (!code.empty()) r.codes.push_back(std::move(code));
}

// Reads one f:WSManFault and the provider faults nested in it: their codes into `r`, the
// innermost non-empty provider text into `provider_text`. Returns the fault's own text.
std::string read_wsman_fault(pugi::xml_node wsf, received_fault& r, int depth,
                             std::string& provider_text) {
    add_code(r, wsf.attribute("Code").value());
    auto msg = xml::child(wsf, ns::wsman_fault, "Message");
    auto provider = xml::child(msg, ns::wsman_fault, "ProviderFault");
    if (provider && depth > 0) {
        if (std::string own = xml::trimmed_text(provider); !own.empty()) {
            provider_text = std::move(own);
        }
        for (auto inner : provider.children()) {
            if (!xml::is(inner, ns::wsman_fault, "WSManFault")) continue;
            std::string deeper_provider;
            std::string deeper = read_wsman_fault(inner, r, depth - 1, deeper_provider);
            if (!deeper_provider.empty()) {
                provider_text = std::move(deeper_provider);
            } else if (!deeper.empty()) {
                provider_text = std::move(deeper);
            }
        }
    }
    return xml::trimmed_text(msg);
}

received_fault parse_fault(pugi::xml_node f) {
    received_fault r;
    if (auto sub = xml::child(xml::child(f, ns::soap, "Code"), ns::soap, "Subcode")) {
        const std::string value = xml::trimmed_text(xml::child(sub, ns::soap, "Value"));
        r.subcode = std::string(xml::local_name(value.c_str()));
    }
    // The most specific text wins: a provider's own, a WMI error's, the service's, the reason.
    std::string provider_text;
    std::string service_text;
    std::string wmi_text;
    auto detail = xml::child(f, ns::soap, "Detail");
    if (auto wsf = xml::descendant(detail, ns::wsman_fault, "WSManFault")) {
        r.wsman_code = wsf.attribute("Code").value();
        r.machine = wsf.attribute("Machine").value();
        service_text = read_wsman_fault(wsf, r, max_fault_nesting, provider_text);
    }
    if (auto wmi = xml::descendant(detail, ns::wmi_error, "MSFT_WmiError")) {
        r.wmi_code = xml::trimmed_text(xml::child(wmi, ns::wmi_error, "error_Code"));
        add_code(r, r.wmi_code);
        wmi_text = xml::trimmed_text(xml::child(wmi, ns::wmi_error, "Message"));
    }
    for (std::string* text : {&provider_text, &wmi_text, &service_text}) {
        if (!text->empty()) {
            r.message = std::move(*text);
            return r;
        }
    }
    r.message = xml::trimmed_text(xml::child(xml::child(f, ns::soap, "Reason"), ns::soap, "Text"));
    return r;
}

}  // namespace

std::string received_fault::code() const {
    if (!wsman_code.empty()) return wsman_code;
    if (!wmi_code.empty()) return wmi_code;
    return subcode;
}

std::string write_enumerate_response(const std::string& relates_to, const std::string& context,
                                     const page* items, bool end_of_sequence) {
    reply_writer out(std::string(action::enumerate) + "Response", relates_to);
    pugi::xml_node response = out.body.append_child("n:EnumerateResponse");
    if (!context.empty()) response.append_child("n:EnumerationContext").text() = context.c_str();
    if (items != nullptr) {
        append_items(response.append_child("w:Items"), *items);
        if (end_of_sequence) response.append_child("w:EndOfSequence");
    }
    return xml::to_string(out.doc);
}

std::string write_pull_response(const std::string& relates_to, const std::string& context,
                                const page& items, bool end_of_sequence) {
    reply_writer out(std::string(action::pull) + "Response", relates_to);
    pugi::xml_node response = out.body.append_child("n:PullResponse");
    if (!context.empty()) response.append_child("n:EnumerationContext").text() = context.c_str();
    append_items(response.append_child("n:Items"), items);
    if (end_of_sequence) response.append_child("n:EndOfSequence");
    return xml::to_string(out.doc);
}

std::string write_release_response(const std::string& relates_to) {
    reply_writer out(std::string(action::release) + "Response", relates_to);
    return xml::to_string(out.doc);
}

std::string write_fault(const std::string& relates_to, const fault& f, const std::string& machine) {
    const char* act = f.subcode.rfind("n:", 0) == 0   ? action::enumeration_fault
                      : f.subcode.rfind("a:", 0) == 0 ? action::addressing_fault
                                                      : action::wsman_fault;
    reply_writer out(act, relates_to);
    pugi::xml_node node = out.body.append_child("s:Fault");
    pugi::xml_node code = node.append_child("s:Code");
    code.append_child("s:Value").text() = f.code.c_str();
    if (!f.subcode.empty()) {
        code.append_child("s:Subcode").append_child("s:Value").text() = f.subcode.c_str();
    }
    pugi::xml_node text = node.append_child("s:Reason").append_child("s:Text");
    text.append_attribute("xml:lang") = "en-US";
    text.text() = f.reason.c_str();
    pugi::xml_node detail = node.append_child("s:Detail");
    if (f.wsman_code) {
        pugi::xml_node w = detail.append_child("f:WSManFault");
        w.append_attribute("xmlns:f") = ns::wsman_fault;
        w.append_attribute("Code") = std::to_string(*f.wsman_code).c_str();
        w.append_attribute("Machine") = machine.c_str();
        w.append_child("f:Message").text() = f.reason.c_str();
    }
    if (f.wmi_code) append_wmi_error(detail, *f.wmi_code, f.reason);
    return xml::to_string(out.doc);
}

response parse_response(std::string_view body) {
    std::string copy(body);
    return parse_response_in_place(copy);
}

response parse_response_in_place(std::string& body) {
    pugi::xml_document doc;
    // Attribute values are read only for codes, names and namespaces: no whitespace to fold.
    const auto result = doc.load_buffer_inplace(
        body.data(), body.size(),
        (pugi::parse_default & ~pugi::parse_wconv_attribute) | pugi::parse_ws_pcdata_single,
        pugi::encoding_auto);
    if (!result) {
        throw malformed_reply(std::string(result.description()) + " at offset " +
                              std::to_string(result.offset));
    }
    auto env = xml::first_element(doc);
    if (!xml::is(env, ns::soap, "Envelope")) throw malformed_reply("not a SOAP 1.2 envelope");
    auto soap_body = xml::child(env, ns::soap, "Body");
    if (!soap_body) throw malformed_reply("no SOAP body");

    response r;
    r.relates_to = xml::trimmed_text(
        xml::child(xml::child(env, ns::soap, "Header"), ns::addressing, "RelatesTo"));
    if (auto f = xml::child(soap_body, ns::soap, "Fault")) {
        r.fault = parse_fault(f);
        return r;
    }
    auto content = xml::first_element(soap_body);
    const auto name = content ? xml::local_name(content.name()) : std::string_view();
    if (!content || xml::namespace_of(content, content.name()) != ns::enumeration) {
        throw malformed_reply("unexpected body content '" + std::string(name) + "'");
    }
    if (name == "ReleaseResponse") {
        r.end_of_sequence = true;
        return r;
    }
    if (name != "EnumerateResponse" && name != "PullResponse") {
        throw malformed_reply("unexpected body content '" + std::string(name) + "'");
    }
    r.context = xml::trimmed_text(xml::child(content, ns::enumeration, "EnumerationContext"));
    if (auto items = child_either(content, ns::wsman, ns::enumeration, "Items")) {
        for (auto item : items.children()) {
            if (item.type() != pugi::node_element) continue;
            // An EPR-only item carries no properties; skip it rather than yield an empty row.
            if (xml::is(item, ns::addressing, "EndpointReference")) continue;
            instance row;
            for (auto p : item.children()) {
                if (p.type() == pugi::node_element) add_property(row, p);
            }
            r.items.push_back(std::move(row));
        }
    }
    r.end_of_sequence =
        static_cast<bool>(child_either(content, ns::wsman, ns::enumeration, "EndOfSequence"));
    if (!r.end_of_sequence && r.context.empty()) {
        throw malformed_reply("no enumeration context and no end of sequence");
    }
    return r;
}

}  // namespace wsman_wire
