#include "wsman_envelope.hpp"

#include <pugixml.hpp>

#include <cstring>
#include <random>
#include <sstream>

#include "libi18n/catalogue.hpp"

namespace libwql::detail {

namespace {

constexpr const char* wmi_resource_base = "http://schemas.microsoft.com/wbem/wsman/1/wmi/";
constexpr const char* wmi_error_ns =
    "http://schemas.dmtf.org/wbem/wscim/1/cim-schema/2/MSFT_WmiError";

[[noreturn]] void malformed(const std::string& why) {
    throw libi18n::i18n_exception(
        libi18n::catalogue::libwql_error_getinstance_failed("malformed reply: " + why));
}

// ---- building ------------------------------------------------------------------------

class string_writer : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override {
        out.append(static_cast<const char*>(data), size);
    }
    std::string out;
};

pugi::xml_node add_text(pugi::xml_node parent, const char* name, const std::string& text) {
    auto node = parent.append_child(name);
    node.text().set(text.c_str());
    return node;
}

void must_understand(pugi::xml_node node) {
    node.append_attribute("s:mustUnderstand").set_value("true");
}

// Envelope with the common header; returns the Body to fill.
pugi::xml_node envelope(pugi::xml_document& doc, const request_header& h, const char* act) {
    auto env = doc.append_child("s:Envelope");
    env.append_attribute("xmlns:s").set_value(ns::soap);
    env.append_attribute("xmlns:a").set_value(ns::addressing);
    env.append_attribute("xmlns:n").set_value(ns::enumeration);
    env.append_attribute("xmlns:w").set_value(ns::wsman);
    env.append_attribute("xmlns:p").set_value(ns::msft_wsman);
    auto header = env.append_child("s:Header");
    add_text(header, "a:To", h.to);
    auto reply_to = header.append_child("a:ReplyTo");
    must_understand(add_text(reply_to, "a:Address", ns::anonymous));
    must_understand(add_text(header, "a:Action", act));
    add_text(header, "a:MessageID", h.message_id);
    must_understand(add_text(header, "w:ResourceURI", h.resource_uri));
    must_understand(add_text(header, "w:MaxEnvelopeSize", std::to_string(h.max_envelope_size)));
    add_text(header, "w:OperationTimeout", "PT" + std::to_string(h.operation_timeout_s) + "S");
    for (const char* locale : {"w:Locale", "p:DataLocale"}) {
        auto node = header.append_child(locale);
        node.append_attribute("xml:lang").set_value("en-US");
        node.append_attribute("s:mustUnderstand").set_value("false");
    }
    return env.append_child("s:Body");
}

std::string serialise(const pugi::xml_document& doc) {
    string_writer writer;
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return std::move(writer.out);
}

// ---- parsing -------------------------------------------------------------------------

std::string_view local_name(const char* qname) {
    const char* colon = std::strchr(qname, ':');
    return colon ? std::string_view(colon + 1) : std::string_view(qname);
}

// The namespace URI of an element or attribute name, resolved through the xmlns
// declarations in scope. An unprefixed attribute has no namespace.
std::string_view namespace_of(pugi::xml_node node, const char* qname, bool is_attribute) {
    const char* colon = std::strchr(qname, ':');
    if (!colon && is_attribute) return {};
    std::string decl = colon ? "xmlns:" + std::string(qname, colon) : std::string("xmlns");
    if (colon && decl == "xmlns:xml") return "http://www.w3.org/XML/1998/namespace";
    for (auto n = node; n && n.type() == pugi::node_element; n = n.parent()) {
        if (auto attr = n.attribute(decl.c_str())) return attr.value();
    }
    return {};
}

bool is(pugi::xml_node node, std::string_view uri, std::string_view name) {
    return node.type() == pugi::node_element && local_name(node.name()) == name &&
           namespace_of(node, node.name(), false) == uri;
}

pugi::xml_node child(pugi::xml_node parent, std::string_view uri, std::string_view name) {
    for (auto c : parent.children()) {
        if (is(c, uri, name)) return c;
    }
    return {};
}

// A child in either of two namespaces (WS-Man moved some elements between them).
pugi::xml_node child_either(pugi::xml_node parent, std::string_view uri1, std::string_view uri2,
                            std::string_view name) {
    auto c = child(parent, uri1, name);
    return c ? c : child(parent, uri2, name);
}

// Depth-limited, so a hostile reply nested thousands deep cannot exhaust the stack.
pugi::xml_node descendant(pugi::xml_node root, std::string_view uri, std::string_view name,
                          int depth = 8) {
    if (is(root, uri, name)) return root;
    if (depth == 0) return {};
    for (auto c : root.children()) {
        if (auto found = descendant(c, uri, name, depth - 1)) return found;
    }
    return {};
}

bool is_nil(pugi::xml_node node) {
    for (auto attr : node.attributes()) {
        if (local_name(attr.name()) == "nil" && namespace_of(node, attr.name(), true) == ns::xsi) {
            return std::strcmp(attr.value(), "true") == 0 || std::strcmp(attr.value(), "1") == 0;
        }
    }
    return false;
}

pugi::xml_node first_element(pugi::xml_node node) {
    for (auto c : node.children()) {
        if (c.type() == pugi::node_element) return c;
    }
    return {};
}

// One property element, possibly one of several forming an array.
void add_property(wql_query_row::map_type& fields, pugi::xml_node node) {
    std::string name(local_name(node.name()));
    if (is_nil(node)) {
        fields.try_emplace(name, wql_query_field::null(name));
        return;
    }
    auto k = wql_query_field::kind::scalar;
    std::string value;
    if (auto inner = first_element(node)) {
        // Typed wrappers around the value: cim:Datetime, cim:Interval, cim:Date, ...
        const auto inner_name = local_name(inner.name());
        if (inner_name == "Interval") {
            k = wql_query_field::kind::interval;
        } else if (inner_name == "Datetime" || inner_name == "Date" || inner_name == "Time" ||
                   inner_name == "CIM_DateTime") {
            k = wql_query_field::kind::datetime;
        }
        value = inner.text().get();
    } else {
        value = node.text().get();
    }
    auto [it, inserted] = fields.try_emplace(name, name, std::vector<std::string>{value}, k);
    if (!inserted) {
        // A repeated element is an array; a NULL array never has members.
        auto& existing = it->second;
        if (existing.is_null()) return;
        auto values = existing.values();
        values.push_back(std::move(value));
        existing = wql_query_field(name, std::move(values), wql_query_field::kind::array);
    }
}

wql_query_row parse_instance(pugi::xml_node instance) {
    wql_query_row::map_type fields;
    for (auto property : instance.children()) {
        if (property.type() == pugi::node_element) add_property(fields, property);
    }
    return wql_query_row(std::move(fields));
}

void parse_items(pugi::xml_node items, std::vector<wql_query_row>& rows) {
    for (auto item : items.children()) {
        if (item.type() != pugi::node_element) continue;
        // An EPR-only item carries no properties; skip it rather than yield an empty row.
        if (is(item, ns::addressing, "EndpointReference")) continue;
        rows.push_back(parse_instance(item));
    }
}

std::string trimmed(const char* text) {
    std::string_view v(text);
    while (!v.empty() && std::isspace(static_cast<unsigned char>(v.front()))) v.remove_prefix(1);
    while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back()))) v.remove_suffix(1);
    return std::string(v);
}

wsman_fault parse_fault(pugi::xml_node fault) {
    wsman_fault f;
    if (auto sub = child(child(fault, ns::soap, "Code"), ns::soap, "Subcode")) {
        f.subcode =
            std::string(local_name(trimmed(child(sub, ns::soap, "Value").text().get()).c_str()));
    }
    auto reason = child(child(fault, ns::soap, "Reason"), ns::soap, "Text");
    f.message = trimmed(reason.text().get());
    auto detail = child(fault, ns::soap, "Detail");
    if (auto wsf = descendant(detail, ns::wsman_fault, "WSManFault")) {
        f.wsman_code = wsf.attribute("Code").value();
        auto msg = child(wsf, ns::wsman_fault, "Message");
        std::string text = trimmed(msg.child_value());
        if (text.empty()) {
            // Provider faults nest the text one level down.
            if (auto pf = child(msg, ns::wsman_fault, "ProviderFault"))
                text = trimmed(pf.child_value());
        }
        if (!text.empty()) f.message = text;
    }
    if (auto wmi = descendant(detail, wmi_error_ns, "MSFT_WmiError")) {
        f.wmi_code = trimmed(child(wmi, wmi_error_ns, "error_Code").text().get());
        std::string text = trimmed(child(wmi, wmi_error_ns, "Message").text().get());
        if (!text.empty() && f.wsman_code.empty()) f.message = text;
    }
    return f;
}

}  // namespace

std::string resource_uri_for(const std::string& wmi_namespace) {
    std::string path;
    for (char c : wmi_namespace) path += c == '\\' ? '/' : c;
    while (!path.empty() && path.back() == '/') path.pop_back();
    return wmi_resource_base + path + "/*";
}

std::string new_message_id() {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    const std::uint64_t hi = engine(), lo = engine();
    char text[48];
    std::snprintf(text, sizeof text, "uuid:%08X-%04X-4%03X-%04X-%012llX",
                  static_cast<unsigned>(hi >> 32), static_cast<unsigned>((hi >> 16) & 0xFFFF),
                  static_cast<unsigned>(hi & 0xFFF), static_cast<unsigned>(0x8000 | (lo >> 50)),
                  static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFULL));
    return text;
}

std::string build_enumerate(const request_header& header, const std::string& wql,
                            std::int64_t max_elements) {
    pugi::xml_document doc;
    auto enumerate = envelope(doc, header, action::enumerate).append_child("n:Enumerate");
    enumerate.append_child("w:OptimizeEnumeration");
    add_text(enumerate, "w:MaxElements", std::to_string(max_elements));
    auto filter = add_text(enumerate, "w:Filter", wql);
    filter.append_attribute("Dialect").set_value(ns::wql_dialect);
    return serialise(doc);
}

std::string build_pull(const request_header& header, const std::string& context,
                       std::int64_t max_elements) {
    pugi::xml_document doc;
    auto pull = envelope(doc, header, action::pull).append_child("n:Pull");
    add_text(pull, "n:EnumerationContext", context);
    add_text(pull, "n:MaxElements", std::to_string(max_elements));
    return serialise(doc);
}

std::string build_release(const request_header& header, const std::string& context) {
    pugi::xml_document doc;
    auto release = envelope(doc, header, action::release).append_child("n:Release");
    add_text(release, "n:EnumerationContext", context);
    return serialise(doc);
}

std::string wsman_fault::code() const {
    if (!wsman_code.empty()) return wsman_code;
    if (!wmi_code.empty()) return wmi_code;
    return subcode;
}

fault_kind classify(const wsman_fault& fault) {
    // WMI HRESULTs may arrive in either code field; check both before the subcode.
    for (const std::string& c : {fault.wsman_code, fault.wmi_code}) {
        if (c == "2147749902") return fault_kind::invalid_namespace;  // 0x8004100E
        if (c == "2147749904") return fault_kind::invalid_class;      // 0x80041010
        if (c == "2147749911" || c == "2147749912") return fault_kind::invalid_query;
        if (c == "2147749891" || c == "2150859012" || c == "2150859013" || c == "5") {
            return fault_kind::access_denied;
        }
        if (c == "2150858793") return fault_kind::timed_out;  // 0x80338029
        if (c == "2147749889" || c == "2147749894" || c == "2147749907") {
            return fault_kind::transient;  // generic failure, out of memory, provider load
        }
    }
    if (fault.subcode == "TimedOut") return fault_kind::timed_out;
    if (fault.subcode == "InvalidEnumerationContext") return fault_kind::invalid_context;
    if (fault.subcode == "AccessDenied") return fault_kind::access_denied;
    if (fault.subcode == "InternalError" && fault.wsman_code.empty() && fault.wmi_code.empty()) {
        return fault_kind::overload;
    }
    return fault_kind::fatal;
}

wsman_response parse_response(std::string_view body) {
    pugi::xml_document doc;
    const auto result =
        doc.load_buffer(body.data(), body.size(),
                        pugi::parse_default | pugi::parse_ws_pcdata_single, pugi::encoding_auto);
    if (!result) {
        malformed(std::string(result.description()) + " at offset " +
                  std::to_string(result.offset));
    }
    auto env = first_element(doc);
    if (!is(env, ns::soap, "Envelope")) malformed("not a SOAP 1.2 envelope");
    auto soap_body = child(env, ns::soap, "Body");
    if (!soap_body) malformed("no SOAP body");

    wsman_response response;
    response.relates_to =
        trimmed(child(child(env, ns::soap, "Header"), ns::addressing, "RelatesTo").text().get());

    if (auto fault = child(soap_body, ns::soap, "Fault")) {
        response.fault = parse_fault(fault);
        return response;
    }
    auto content = first_element(soap_body);
    const auto name = content ? local_name(content.name()) : std::string_view();
    if (!content || namespace_of(content, content.name(), false) != ns::enumeration) {
        malformed("unexpected body content '" + std::string(name) + "'");
    }
    if (name == "ReleaseResponse") {
        response.end_of_sequence = true;
        return response;
    }
    if (name != "EnumerateResponse" && name != "PullResponse") {
        malformed("unexpected body content '" + std::string(name) + "'");
    }
    response.context = trimmed(child(content, ns::enumeration, "EnumerationContext").text().get());
    if (auto items = child_either(content, ns::wsman, ns::enumeration, "Items")) {
        parse_items(items, response.rows);
    }
    response.end_of_sequence =
        static_cast<bool>(child_either(content, ns::wsman, ns::enumeration, "EndOfSequence"));
    if (!response.end_of_sequence && response.context.empty()) {
        malformed("no enumeration context and no end of sequence");
    }
    return response;
}

}  // namespace libwql::detail
