#pragma once

// Namespace-aware lookups on pugixml trees (pugixml keeps prefixes as written) and the raw
// serialisation every envelope uses.

#include <pugixml.hpp>

#include <string>
#include <string_view>

namespace wsman_wire::xml {

std::string_view local_name(const char* qname);
// The URI a prefixed (or default) name is bound to in scope; attributes without a prefix
// have none.
std::string_view namespace_of(pugi::xml_node node, const char* qname, bool is_attribute = false);
bool is(pugi::xml_node node, std::string_view uri, std::string_view name);
pugi::xml_node child(pugi::xml_node parent, std::string_view uri, std::string_view name);
// Depth-limited, so a hostile document nested thousands deep cannot exhaust the stack.
pugi::xml_node descendant(pugi::xml_node root, std::string_view uri, std::string_view name,
                          int depth = 8);
pugi::xml_node first_element(pugi::xml_node node);
std::string trimmed_text(pugi::xml_node node);
std::string to_string(const pugi::xml_document& doc);

}  // namespace wsman_wire::xml
