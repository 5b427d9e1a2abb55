#include "xml.hpp"

#include <cstring>

namespace wsman_wire::xml {

namespace {

class string_writer : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override {
        out.append(static_cast<const char*>(data), size);
    }
    std::string out;
};

}  // namespace

std::string_view local_name(const char* qname) {
    const char* colon = std::strchr(qname, ':');
    return colon ? std::string_view(colon + 1) : std::string_view(qname);
}

std::string_view namespace_of(pugi::xml_node node, const char* qname, bool is_attribute) {
    const char* colon = std::strchr(qname, ':');
    if (!colon && is_attribute) return {};
    const std::string_view prefix =
        colon ? std::string_view(qname, static_cast<std::size_t>(colon - qname)) : "";
    if (prefix == "xml") return "http://www.w3.org/XML/1998/namespace";
    // The nearest "xmlns:prefix" (or, for no prefix, "xmlns") in scope.
    for (auto n = node; n.type() == pugi::node_element; n = n.parent()) {
        for (auto attr = n.first_attribute(); attr; attr = attr.next_attribute()) {
            const char* name = attr.name();
            if (std::strncmp(name, "xmlns", 5) != 0) continue;
            if (colon ? name[5] == ':' && prefix == name + 6 : name[5] == '\0') {
                return attr.value();
            }
        }
    }
    return {};
}

bool is(pugi::xml_node node, std::string_view uri, std::string_view name) {
    return node.type() == pugi::node_element && local_name(node.name()) == name &&
           namespace_of(node, node.name()) == uri;
}

pugi::xml_node child(pugi::xml_node parent, std::string_view uri, std::string_view name) {
    for (auto c = parent.first_child(); c; c = c.next_sibling()) {
        if (is(c, uri, name)) return c;
    }
    return {};
}

pugi::xml_node descendant(pugi::xml_node root, std::string_view uri, std::string_view name,
                          int depth) {
    if (is(root, uri, name)) return root;
    if (depth == 0) return {};
    for (auto c : root.children()) {
        if (auto found = descendant(c, uri, name, depth - 1)) return found;
    }
    return {};
}

pugi::xml_node first_element(pugi::xml_node node) {
    for (auto c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element) return c;
    }
    return {};
}

std::string trimmed_text(pugi::xml_node node) {
    std::string_view v = node.text().get();
    const auto first = v.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return std::string(v.substr(first, v.find_last_not_of(" \t\r\n") - first + 1));
}

std::string to_string(const pugi::xml_document& doc) {
    string_writer writer;
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return std::move(writer.out);
}

}  // namespace wsman_wire::xml
