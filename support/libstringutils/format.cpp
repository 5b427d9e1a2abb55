#include "libstringutils/format.hpp"

#include <string_view>

namespace libstringutils {

namespace exceptions {

format_string_error::format_string_error()
    : _exception("Malformed placeholder in format string.") {}

placeholder_index_not_in_arguments::placeholder_index_not_in_arguments(
    const std::string& index_as_written)
    : _exception("Index " + index_as_written + " is too high for argument list.") {}

}  // namespace exceptions

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A scanner with the precedence of the pattern "%([0-9]+):s|%%|%": a numbered
// placeholder first, then the escape, and any other "%" is malformed. Literal runs go to
// on_literal, "%%" to on_escape, and the digits of "%N:s" as written to on_placeholder.
template <typename Literal, typename Escape, typename Placeholder>
void scan(const std::string& templ, Literal on_literal, Escape on_escape,
          Placeholder on_placeholder) {
    const std::size_t n = templ.size();
    std::size_t pos = 0;
    while (pos < n) {
        const std::size_t pct = templ.find('%', pos);
        if (pct == std::string::npos) {
            on_literal(std::string_view(templ).substr(pos));
            break;
        }
        on_literal(std::string_view(templ).substr(pos, pct - pos));
        std::size_t end = pct + 1;
        while (end < n && is_digit(templ[end])) ++end;
        if (end > pct + 1 && end + 2 <= n && templ[end] == ':' && templ[end + 1] == 's') {
            on_placeholder(templ.substr(pct + 1, end - pct - 1));
            pos = end + 2;
        } else if (pct + 1 < n && templ[pct + 1] == '%') {
            on_escape();
            pos = pct + 2;
        } else {
            throw exceptions::format_string_error();
        }
    }
}

}  // namespace

std::string format(const std::string& templ, const std::vector<std::string>& arguments) {
    std::string result;
    result.reserve(templ.size());
    scan(
        templ, [&](std::string_view literal) { result += literal; }, [&] { result += '%'; },
        [&](const std::string& digits) {
            const long index = std::stol(digits);
            if (index < 0 || static_cast<unsigned long>(index) >= arguments.size()) {
                throw exceptions::placeholder_index_not_in_arguments(digits);
            }
            result += arguments[static_cast<std::size_t>(index)];
        });
    return result;
}

std::vector<std::string> placeholders(const std::string& templ) {
    std::vector<std::string> found;
    scan(
        templ, [](std::string_view) {}, [&] { found.emplace_back("%%"); },
        [&](const std::string& digits) { found.push_back("%" + digits + ":s"); });
    return found;
}

}  // namespace libstringutils
