#include "simulator/wql_select.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace winrm_simulator {
namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

enum class token_kind { identifier, string, integer, star, comma, equals, end };

struct token {
    token_kind kind = token_kind::end;
    std::string text;
    std::int64_t number = 0;
};

class lexer {
public:
    explicit lexer(std::string_view text) : text_(text) {}

    token next() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) {
            ++pos_;
        }
        if (pos_ == text_.size()) return {};
        const char c = text_[pos_];
        if (c == '*') return single(token_kind::star);
        if (c == ',') return single(token_kind::comma);
        if (c == '=') return single(token_kind::equals);
        if (c == '\'' || c == '"') return quoted(c);
        if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) return integer();
        if (c == '_' || std::isalpha(static_cast<unsigned char>(c))) return identifier();
        throw wql_syntax_error("unexpected character '" + std::string(1, c) + "' at offset " +
                               std::to_string(pos_));
    }

private:
    token single(token_kind kind) {
        ++pos_;
        return {kind, {}, 0};
    }

    token quoted(char quote) {
        std::string value;
        ++pos_;
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == quote) return {token_kind::string, value, 0};
            if (c == '\\') {
                if (pos_ == text_.size()) break;
                const char escaped = text_[pos_++];
                if (escaped != '\\' && escaped != '\'' && escaped != '"') {
                    throw wql_syntax_error("unknown escape \\" + std::string(1, escaped));
                }
                value += escaped;
            } else {
                value += c;
            }
        }
        throw wql_syntax_error("unterminated string literal");
    }

    token integer() {
        const std::size_t start = pos_;
        if (text_[pos_] == '-') ++pos_;
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
            ++pos_;
        }
        // "12abc" is not a number followed by a name.
        if (pos_ < text_.size() &&
            (std::isalpha(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_')) {
            throw wql_syntax_error("malformed number at offset " + std::to_string(start));
        }
        token t{token_kind::integer, std::string(text_.substr(start, pos_ - start)), 0};
        const auto [end, ec] =
            std::from_chars(t.text.data(), t.text.data() + t.text.size(), t.number);
        if (ec != std::errc{} || end != t.text.data() + t.text.size()) {
            throw wql_syntax_error("number out of range: " + t.text);
        }
        return t;
    }

    token identifier() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_')) {
            ++pos_;
        }
        return {token_kind::identifier, std::string(text_.substr(start, pos_ - start)), 0};
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

bool is_keyword(const token& t, std::string_view word) {
    return t.kind == token_kind::identifier && iequals(t.text, word);
}

bool is_reserved(const token& t) {
    for (std::string_view word : {"select", "from", "where", "like", "and", "or", "not"}) {
        if (is_keyword(t, word)) return true;
    }
    return false;
}

std::string expect_name(const token& t, std::string_view what) {
    if (t.kind != token_kind::identifier || is_reserved(t)) {
        throw wql_syntax_error("expected " + std::string(what));
    }
    return t.text;
}

bool like_at(std::string_view p, std::size_t pi, std::string_view v, std::size_t vi) {
    while (pi < p.size()) {
        const char c = p[pi];
        if (c == '%') {
            while (pi < p.size() && p[pi] == '%') ++pi;
            if (pi == p.size()) return true;
            for (std::size_t k = vi; k <= v.size(); ++k) {
                if (like_at(p, pi, v, k)) return true;
            }
            return false;
        }
        if (vi == v.size()) return false;
        if (c == '_') {
            ++pi;
        } else if (c == '[') {
            const std::size_t close = p.find(']', pi + 1);
            if (close == std::string_view::npos) {
                if (lower(c) != lower(v[vi])) return false;
                ++pi;
            } else {
                std::string_view set = p.substr(pi + 1, close - pi - 1);
                bool negate = !set.empty() && set.front() == '^';
                if (negate) set.remove_prefix(1);
                bool found = false;
                const char x = lower(v[vi]);
                for (std::size_t k = 0; k < set.size(); ++k) {
                    if (k + 2 < set.size() && set[k + 1] == '-') {
                        if (x >= lower(set[k]) && x <= lower(set[k + 2])) found = true;
                        k += 2;
                    } else if (lower(set[k]) == x) {
                        found = true;
                    }
                }
                if (found == negate) return false;
                pi = close + 1;
            }
        } else {
            if (lower(c) != lower(v[vi])) return false;
            ++pi;
        }
        ++vi;
    }
    return vi == v.size();
}

}  // namespace

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

bool iless::operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return lower(x) < lower(y); });
}

bool wql_like_matches(std::string_view pattern, std::string_view value) {
    return like_at(pattern, 0, value, 0);
}

wql_select parse_wql_select(std::string_view text) {
    lexer lex(text);
    wql_select result;
    if (!is_keyword(lex.next(), "select")) throw wql_syntax_error("expected SELECT");
    token t = lex.next();
    if (t.kind == token_kind::star) {
        t = lex.next();
    } else {
        for (;;) {
            result.fields.push_back(expect_name(t, "a property name after SELECT"));
            t = lex.next();
            if (t.kind != token_kind::comma) break;
            t = lex.next();
        }
    }
    if (!is_keyword(t, "from")) throw wql_syntax_error("expected FROM");
    result.class_name = expect_name(lex.next(), "a class name after FROM");
    t = lex.next();
    if (t.kind == token_kind::end) return result;
    if (!is_keyword(t, "where")) throw wql_syntax_error("expected WHERE or the end of the query");

    wql_condition condition;
    condition.field = expect_name(lex.next(), "a property name after WHERE");
    t = lex.next();
    if (t.kind == token_kind::equals) {
        condition.op = wql_operator::equals;
    } else if (is_keyword(t, "like")) {
        condition.op = wql_operator::like;
    } else {
        throw wql_syntax_error("expected = or LIKE after " + condition.field);
    }
    t = lex.next();
    if (t.kind == token_kind::string) {
        condition.value = t.text;
    } else if (t.kind == token_kind::integer && condition.op == wql_operator::equals) {
        condition.value = t.number;
    } else if ((is_keyword(t, "true") || is_keyword(t, "false")) &&
               condition.op == wql_operator::equals) {
        condition.value = is_keyword(t, "true");
    } else {
        throw wql_syntax_error(condition.op == wql_operator::like ? "LIKE takes a string literal"
                                                                  : "expected a literal after =");
    }
    if (lex.next().kind != token_kind::end) {
        throw wql_syntax_error("only one condition is supported");
    }
    result.where = std::move(condition);
    return result;
}

}  // namespace winrm_simulator
