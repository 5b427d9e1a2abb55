#include "simulator/query_engine.hpp"

#include <algorithm>
#include <charconv>

namespace winrm_simulator {
namespace {

bool text_to_int(const std::string& text, std::int64_t& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size();
}

// WQL compares a literal with a property after converting it to the property's type; a
// conversion that fails simply does not match.
bool matches(const wql_condition& condition, const property_value& value) {
    if (value.kind == property_value::type::null) return false;
    const std::string& actual = value.items.front();
    if (condition.op == wql_operator::like) {
        return wql_like_matches(std::get<std::string>(condition.value), actual);
    }
    return std::visit(
        [&](const auto& literal) {
            using type = std::decay_t<decltype(literal)>;
            if constexpr (std::is_same_v<type, std::string>) {
                if (value.kind == property_value::type::integer) {
                    std::int64_t a = 0;
                    std::int64_t b = 0;
                    return text_to_int(actual, a) && text_to_int(literal, b) && a == b;
                }
                return iequals(actual, literal);
            } else if constexpr (std::is_same_v<type, bool>) {
                return value.kind == property_value::type::boolean &&
                       actual == (literal ? "true" : "false");
            } else {
                if (value.kind == property_value::type::integer) {
                    // Unsigned values above the signed range never equal a signed literal.
                    return actual == std::to_string(literal);
                }
                std::int64_t a = 0;
                return value.kind == property_value::type::text && text_to_int(actual, a) &&
                       a == literal;
            }
        },
        condition.value);
}

const std::string* find_property(const std::vector<std::string>& properties,
                                 std::string_view name) {
    const auto it = std::find_if(properties.begin(), properties.end(),
                                 [&](const std::string& p) { return iequals(p, name); });
    return it == properties.end() ? nullptr : &*it;
}

// __NAMESPACE lists the child namespaces; it exists in every namespace.
model_class namespace_class(const machine_model& model, std::string_view namespace_name) {
    model_class cls;
    cls.name = "__NAMESPACE";
    cls.properties = {"Name"};
    for (const std::string& child : model.child_namespaces(namespace_name)) {
        property_value name;
        name.kind = property_value::type::text;
        name.items.push_back(child);
        cls.instances.push_back({{"Name", literal_source{name}}});
    }
    return cls;
}

}  // namespace

query_result run_query(const machine_model& model, std::string_view namespace_name,
                       std::string_view wql, const model_time& time) {
    if (!model.has_namespace(namespace_name)) {
        throw wmi_error(wbem_e_invalid_namespace,
                        "namespace " + std::string(namespace_name) + " does not exist");
    }
    if (model.is_denied(namespace_name)) {
        throw wmi_error(wbem_e_access_denied,
                        "access to namespace " + std::string(namespace_name) + " is denied");
    }
    wql_select select;
    try {
        select = parse_wql_select(wql);
    } catch (const wql_syntax_error& e) {
        throw wmi_error(wbem_e_invalid_query, e.what());
    }

    model_class synthesized;
    const model_class* cls = nullptr;
    if (iequals(select.class_name, "__NAMESPACE")) {
        synthesized = namespace_class(model, namespace_name);
        cls = &synthesized;
    } else if (const model_namespace* ns = model.find_namespace(namespace_name)) {
        const auto it = ns->classes.find(select.class_name);
        if (it != ns->classes.end()) cls = &it->second;
    }
    if (cls == nullptr) {
        throw wmi_error(wbem_e_invalid_class, "class " + select.class_name + " does not exist in " +
                                                  std::string(namespace_name));
    }

    std::vector<std::string> selected;
    for (const std::string& field : select.fields) {
        const std::string* declared = find_property(cls->properties, field);
        if (declared == nullptr) {
            throw wmi_error(wbem_e_invalid_query,
                            "class " + cls->name + " has no property " + field);
        }
        if (std::find(selected.begin(), selected.end(), *declared) == selected.end()) {
            selected.push_back(*declared);
        }
    }
    std::string where_property;
    if (select.where) {
        const std::string* declared = find_property(cls->properties, select.where->field);
        if (declared == nullptr) {
            throw wmi_error(wbem_e_invalid_query,
                            "class " + cls->name + " has no property " + select.where->field);
        }
        where_property = *declared;
    }

    query_result result;
    result.class_name = cls->name;
    result.fragment = !select.fields.empty();
    for (std::size_t i = 0; i < cls->instances.size(); ++i) {
        rendered_instance row = model.evaluate(*cls, i, time);
        if (select.where) {
            const auto it = std::find_if(row.begin(), row.end(),
                                         [&](const auto& p) { return p.first == where_property; });
            if (it->second.is_array) {
                throw wmi_error(wbem_e_invalid_query,
                                "array property " + where_property + " cannot be compared");
            }
            if (!matches(*select.where, it->second)) continue;
        }
        if (result.fragment) {
            std::erase_if(row, [&](const auto& p) {
                return std::find(selected.begin(), selected.end(), p.first) == selected.end();
            });
        }
        result.rows.push_back(std::move(row));
    }
    return result;
}

}  // namespace winrm_simulator
