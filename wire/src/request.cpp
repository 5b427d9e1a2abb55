#include <algorithm>
#include <array>
#include <charconv>
#include <random>
#include <span>
#include <stdexcept>

#include "request_writer.hpp"
#include "wsman_wire/envelope.hpp"
#include "xml.hpp"

namespace wsman_wire {

using detail::request_kind;

namespace {

constexpr std::uint32_t schema_validation_error = 2150858817;   // 0x80338041
constexpr std::uint32_t invalid_uri_wmi_enum_wql = 2150859003;  // 0x803381FB
constexpr std::uint64_t min_envelope_size = 8192;

pugi::xml_node add_text(pugi::xml_node parent, const char* name, const std::string& text) {
    auto node = parent.append_child(name);
    node.text().set(text.c_str());
    return node;
}

void must_understand(pugi::xml_node node) {
    node.append_attribute("s:mustUnderstand").set_value("true");
}

// Envelope with the common header (values 0-4); returns the Body to fill.
pugi::xml_node envelope(pugi::xml_document& doc, const char* act,
                        const std::vector<std::string>& v) {
    auto env = doc.append_child("s:Envelope");
    env.append_attribute("xmlns:s").set_value(ns::soap);
    env.append_attribute("xmlns:a").set_value(ns::addressing);
    env.append_attribute("xmlns:n").set_value(ns::enumeration);
    env.append_attribute("xmlns:w").set_value(ns::wsman);
    env.append_attribute("xmlns:p").set_value(ns::msft_wsman);
    auto header = env.append_child("s:Header");
    add_text(header, "a:To", v.at(0));
    auto reply_to = header.append_child("a:ReplyTo");
    must_understand(add_text(reply_to, "a:Address", ns::anonymous));
    must_understand(add_text(header, "a:Action", act));
    add_text(header, "a:MessageID", v.at(1));
    must_understand(add_text(header, "w:ResourceURI", v.at(2)));
    must_understand(add_text(header, "w:MaxEnvelopeSize", v.at(3)));
    add_text(header, "w:OperationTimeout", v.at(4));
    for (const char* locale : {"w:Locale", "p:DataLocale"}) {
        auto node = header.append_child(locale);
        node.append_attribute("xml:lang").set_value("en-US");
        node.append_attribute("s:mustUnderstand").set_value("false");
    }
    return env.append_child("s:Body");
}

// Decimal text without an allocation.
class decimal {
public:
    explicit decimal(std::int64_t value, std::string_view before = {}, char after = 0) {
        char* end = std::copy(before.begin(), before.end(), text_);
        end = std::to_chars(end, text_ + sizeof text_ - 1, value).ptr;
        if (after != 0) *end++ = after;
        size_ = static_cast<std::size_t>(end - text_);
    }
    std::string_view view() const { return {text_, size_}; }

private:
    char text_[32];
    std::size_t size_;
};

// The header's variable parts: To, MessageID, ResourceURI, MaxEnvelopeSize, OperationTimeout.
struct header_parts {
    explicit header_parts(const request_header& h)
        : envelope_size(h.max_envelope_size),
          timeout(h.operation_timeout_s, "PT", 'S'),
          values{h.to, h.message_id, h.resource_uri, envelope_size.view(), timeout.view()} {}
    header_parts(const header_parts&) = delete;  // `values` points into the members
    header_parts& operator=(const header_parts&) = delete;
    decimal envelope_size;
    decimal timeout;
    std::array<std::string_view, 5> values;
};

// Bytes pugixml escapes in text: &, <, > and the control characters XML 1.0 cannot carry.
constexpr auto escaped_in_text = [] {
    std::array<bool, 256> escaped{};
    for (int c = 0; c < 32; ++c) escaped[c] = c != '\t' && c != '\n' && c != '\r';
    escaped['&'] = escaped['<'] = escaped['>'] = true;
    return escaped;
}();

// pugixml writes text as C strings, the control characters as two-digit references;
// templates escape the same way, byte for byte.
void append_escaped(std::string& out, std::string_view text) {
    text = text.substr(0, text.find('\0'));
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!escaped_in_text[c]) continue;
        out.append(text.substr(plain, i - plain));
        plain = i + 1;
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else {
            const char reference[] = {'&', '#', static_cast<char>('0' + c / 10),
                                      static_cast<char>('0' + c % 10), ';'};
            out.append(reference, sizeof reference);
        }
    }
    out.append(text.substr(plain));
}

// A request's text around its variable parts, cut from one pugixml rendering with markers
// as values; filling it costs a few appends instead of a document per request.
class request_template {
public:
    explicit request_template(request_kind kind) {
        std::vector<std::string> markers(detail::variable_parts(kind));
        for (std::size_t i = 0; i < markers.size(); ++i)
            markers[i] = "[[" + std::to_string(i) + "]]";
        const std::string text = detail::write_request_with_pugixml(kind, markers);
        std::size_t from = 0;
        for (const std::string& marker : markers) {
            const std::size_t at = text.find(marker, from);
            pieces_.push_back(text.substr(from, at - from));
            from = at + marker.size();
        }
        pieces_.push_back(text.substr(from));
    }

    // `header` then `body`: the variable parts in document order.
    std::string fill(const header_parts& header,
                     std::initializer_list<std::string_view> body) const {
        using parts = std::span<const std::string_view>;
        const parts all[] = {parts(header.values), parts(body)};
        std::size_t size = 0;
        for (const std::string& piece : pieces_) size += piece.size();
        for (const parts values : all) {
            for (const std::string_view value : values) size += value.size() + value.size() / 8;
        }
        std::string out;
        out.reserve(size);
        std::size_t piece = 0;
        for (const parts values : all) {
            for (const std::string_view value : values) {
                out += pieces_[piece++];
                append_escaped(out, value);
            }
        }
        out += pieces_.back();
        return out;
    }

private:
    std::vector<std::string> pieces_;
};

std::string fill(request_kind kind, const request_header& header,
                 std::initializer_list<std::string_view> body) {
    static const request_template templates[] = {
        request_template(request_kind::enumerate_optimized),
        request_template(request_kind::enumerate), request_template(request_kind::pull),
        request_template(request_kind::release)};
    return templates[static_cast<int>(kind)].fill(header_parts(header), body);
}

fault schema_fault(const std::string& reason) {
    return {"s:Sender", "w:SchemaValidationError", reason, schema_validation_error, {}};
}

std::optional<std::uint64_t> positive_number(pugi::xml_node node, const char* what) {
    if (!node) return std::nullopt;
    const std::string text = xml::trimmed_text(node);
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value == 0) {
        throw fault_error(schema_fault(std::string(what) + " must be a positive integer"));
    }
    return value;
}

}  // namespace

std::string new_message_id() {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    const std::uint64_t hi = engine(), lo = engine();
    // A random (version 4) UUID in upper-case hex, filled in place: every request needs one.
    std::string text = "uuid:00000000-0000-4000-0000-000000000000";
    const auto put = [&text](std::size_t at, std::uint64_t value, std::size_t count) {
        constexpr char digits[] = "0123456789ABCDEF";
        for (std::size_t i = count; i-- > 0; value >>= 4) text[at + i] = digits[value & 0xF];
    };
    put(5, hi >> 32, 8);
    put(14, (hi >> 16) & 0xFFFF, 4);
    put(20, hi & 0xFFF, 3);
    put(24, 0x8000 | (lo >> 50), 4);
    put(29, lo & 0xFFFFFFFFFFFFULL, 12);
    return text;
}

std::string resource_uri_for(std::string_view wmi_namespace) {
    std::string path;
    for (char c : wmi_namespace) path += c == '\\' ? '/' : c;
    while (!path.empty() && path.back() == '/') path.pop_back();
    return ns::wmi_resource + path + "/*";
}

namespace detail {

std::size_t variable_parts(request_kind kind) {
    switch (kind) {
        case request_kind::enumerate_optimized:
        case request_kind::pull:
            return 7;
        case request_kind::enumerate:
        case request_kind::release:
            return 6;
    }
    return 0;
}

std::string write_request_with_pugixml(request_kind kind, const std::vector<std::string>& v) {
    if (v.size() != variable_parts(kind)) throw std::invalid_argument("wrong number of values");
    pugi::xml_document doc;
    if (kind == request_kind::enumerate || kind == request_kind::enumerate_optimized) {
        auto enumerate = envelope(doc, action::enumerate, v).append_child("n:Enumerate");
        if (kind == request_kind::enumerate_optimized) {
            enumerate.append_child("w:OptimizeEnumeration");
            add_text(enumerate, "w:MaxElements", v[5]);
        }
        auto filter = add_text(enumerate, "w:Filter", v.back());
        filter.append_attribute("Dialect").set_value(ns::wql_dialect);
    } else {
        const bool pull = kind == request_kind::pull;
        auto element = envelope(doc, pull ? action::pull : action::release, v)
                           .append_child(pull ? "n:Pull" : "n:Release");
        add_text(element, "n:EnumerationContext", v[5]);
        if (pull) add_text(element, "n:MaxElements", v[6]);
    }
    return xml::to_string(doc);
}

}  // namespace detail

std::string write_enumerate(const request_header& header, const std::string& wql,
                            std::int64_t max_elements, bool optimize) {
    if (!optimize) return fill(request_kind::enumerate, header, {wql});
    return fill(request_kind::enumerate_optimized, header, {decimal(max_elements).view(), wql});
}

std::string write_pull(const request_header& header, const std::string& context,
                       std::int64_t max_elements) {
    return fill(request_kind::pull, header, {context, decimal(max_elements).view()});
}

std::string write_release(const request_header& header, const std::string& context) {
    return fill(request_kind::release, header, {context});
}

request parse_request(std::string_view text) {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
    if (!parsed) {
        throw fault_error(schema_fault(std::string("The request is not well-formed XML: ") +
                                       parsed.description()));
    }
    const pugi::xml_node env = doc.document_element();
    if (!xml::is(env, ns::soap, "Envelope")) {
        throw fault_error(schema_fault("The request is not a SOAP 1.2 envelope."));
    }
    const pugi::xml_node header = xml::child(env, ns::soap, "Header");
    const pugi::xml_node body = xml::child(env, ns::soap, "Body");
    if (!header || !body)
        throw fault_error(schema_fault("The envelope lacks a SOAP header or body."));
    request r;
    r.action = xml::trimmed_text(xml::child(header, ns::addressing, "Action"));
    r.message_id = xml::trimmed_text(xml::child(header, ns::addressing, "MessageID"));
    if (r.action.empty() || r.message_id.empty() || r.message_id.size() > 2048) {
        throw fault_error({"s:Sender",
                           "a:InvalidMessageInformationHeader",
                           "The request lacks a valid wsa:Action or wsa:MessageID header.",
                           schema_validation_error,
                           {}});
    }
    r.resource_uri = xml::trimmed_text(xml::child(header, ns::wsman, "ResourceURI"));
    if (const auto size =
            positive_number(xml::child(header, ns::wsman, "MaxEnvelopeSize"), "MaxEnvelopeSize");
        size && *size < min_envelope_size) {
        throw fault_error({"s:Sender",
                           "w:EncodingLimit",
                           "The MaxEnvelopeSize is smaller than the service accepts.",
                           {},
                           {}});
    }

    if (r.action == action::enumerate) {
        const pugi::xml_node enumerate = xml::child(body, ns::enumeration, "Enumerate");
        if (!enumerate) throw fault_error(schema_fault("Enumerate lacks its body element."));
        r.optimize = static_cast<bool>(xml::child(enumerate, ns::wsman, "OptimizeEnumeration"));
        r.max_elements =
            positive_number(xml::child(enumerate, ns::wsman, "MaxElements"), "MaxElements");
        pugi::xml_node filter = xml::child(enumerate, ns::wsman, "Filter");
        if (!filter) filter = xml::child(enumerate, ns::enumeration, "Filter");
        if (filter) {
            r.filter_dialect = filter.attribute("Dialect").value();
            r.filter = xml::trimmed_text(filter);
        }
    } else if (r.action == action::pull || r.action == action::release) {
        const bool pull = r.action == action::pull;
        const pugi::xml_node element = xml::child(body, ns::enumeration, pull ? "Pull" : "Release");
        if (!element) throw fault_error(schema_fault("The request lacks its body element."));
        r.enumeration_context =
            xml::trimmed_text(xml::child(element, ns::enumeration, "EnumerationContext"));
        if (pull) {
            r.max_elements =
                positive_number(xml::child(element, ns::enumeration, "MaxElements"), "MaxElements");
        }
    } else {
        throw fault_error({"s:Sender",
                           "a:ActionNotSupported",
                           "The action " + r.action + " is not supported by the service.",
                           {},
                           {}});
    }
    return r;
}

std::string namespace_from_resource_uri(std::string_view uri) {
    const std::string_view prefix = ns::wmi_resource;
    if (uri.substr(0, prefix.size()) != prefix) {
        throw fault_error({"s:Sender",
                           "w:DestinationUnreachable",
                           "The WS-Management service cannot process the request because the "
                           "resource URI is not a WMI resource.",
                           {},
                           {}});
    }
    std::string_view path = uri.substr(prefix.size());
    if (path.size() < 3 || path.substr(path.size() - 2) != "/*") {
        throw fault_error({"s:Sender",
                           "w:InvalidParameter",
                           "A WQL filter needs the resource URI of a namespace ending in /*.",
                           invalid_uri_wmi_enum_wql,
                           {}});
    }
    path.remove_suffix(2);
    std::string name(path);
    for (char& c : name) {
        if (c == '/') c = '\\';
    }
    return name;
}

}  // namespace wsman_wire
