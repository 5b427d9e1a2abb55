#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace winrm_simulator {

// The literal on the right of a WHERE comparison.
using wql_literal = std::variant<std::string, std::int64_t, bool>;

enum class wql_operator { equals, like };

struct wql_condition {
    std::string field;
    wql_operator op = wql_operator::equals;
    wql_literal value;
};

// The subset of WQL the simulated target answers:
//   SELECT <field, ... | *> FROM <class> [WHERE <field> = <literal> | <field> LIKE '<pattern>']
struct wql_select {
    std::vector<std::string> fields;  // empty means "*"
    std::string class_name;
    std::optional<wql_condition> where;
};

// Any text outside the subset; the target answers it with the WMI "invalid query" fault.
class wql_syntax_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Keywords are case-insensitive. String literals take single or double quotes with the
// backslash escapes \\, \' and \"; integers are signed 64-bit decimals.
wql_select parse_wql_select(std::string_view text);

// WQL LIKE, case-insensitive: % any run, _ any one character, [abc] / [a-z] / [^abc] sets.
bool wql_like_matches(std::string_view pattern, std::string_view value);

// ASCII case-insensitive comparisons; WMI compares names and strings this way.
bool iequals(std::string_view a, std::string_view b);
struct iless {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

}  // namespace winrm_simulator
