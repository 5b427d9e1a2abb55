#include <stdexcept>

#include "libwql/wql_query.hpp"

namespace libwql {

namespace {

bool is_identifier(const std::string& name) {
    if (name.empty()) return false;
    for (char c : name) {
        const bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) return false;
    }
    return true;
}

const std::string& checked_identifier(const std::string& name, const char* what) {
    if (!is_identifier(name)) {
        throw std::invalid_argument(std::string("invalid WQL ") + what + " name: '" + name + "'");
    }
    return name;
}

}  // namespace

std::string wql_string_literal(const std::string& value) {
    std::string out;
    out.reserve(value.size() + 2);
    out += '\'';
    for (char c : value) {
        // WQL string literals take C-style escapes; only these two can end or alter one.
        if (c == '\\' || c == '\'') out += '\\';
        out += c;
    }
    out += '\'';
    return out;
}

wql_query_builder::from_stage wql_query_builder::select(const std::vector<std::string>& fields) {
    if (fields.empty()) throw std::invalid_argument("WQL select needs at least one field");
    std::string list;
    if (fields.size() == 1 && fields.front() == "*") {
        list = "*";
    } else {
        for (const auto& field : fields) {
            if (!list.empty()) list += ", ";
            list += checked_identifier(field, "field");
        }
    }
    return from_stage(std::move(list));
}

wql_query_builder::build_stage wql_query_builder::from_stage::from(std::string wmi_class) const {
    return build_stage("SELECT " + fields_ + " FROM " + checked_identifier(wmi_class, "class"));
}

wql_query_builder::where_stage wql_query_builder::build_stage::where(std::string condition) const {
    return where_stage(text_ + " WHERE " + condition);
}

wql_query_builder::where_stage wql_query_builder::build_stage::where_equals(
    std::string field, const std::string& value) const {
    return where_stage(text_ + " WHERE " + checked_identifier(field, "field") + " = " +
                       wql_string_literal(value));
}

wql_query_builder::where_stage wql_query_builder::build_stage::where_equals(
    std::string field, std::int64_t value) const {
    return where_stage(text_ + " WHERE " + checked_identifier(field, "field") + " = " +
                       std::to_string(value));
}

wql_query wql_query_builder::build_stage::build() const { return wql_query(text_); }

}  // namespace libwql
