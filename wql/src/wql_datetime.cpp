#include "wql_datetime.hpp"

#include <cstdint>

namespace libwql::detail {

namespace {

using namespace std::chrono;

// Reads exactly `n` decimal digits from the front of `text`.
std::optional<int> digits(std::string_view& text, std::size_t n) {
    if (text.size() < n) return std::nullopt;
    int value = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    text.remove_prefix(n);
    return value;
}

bool take(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

// A fraction after the decimal point: at least one digit; digits past nanoseconds dropped.
std::optional<nanoseconds> fraction(std::string_view& text) {
    std::int64_t ns = 0;
    std::int64_t scale = 100000000;
    std::size_t count = 0;
    while (!text.empty() && text.front() >= '0' && text.front() <= '9') {
        ns += (text.front() - '0') * scale;
        scale /= 10;
        text.remove_prefix(1);
        ++count;
    }
    if (count == 0) return std::nullopt;
    return nanoseconds(ns);
}

std::optional<sys_days> civil(int y, int m, int d) {
    const year_month_day ymd{year{y}, month{static_cast<unsigned>(m)},
                             day{static_cast<unsigned>(d)}};
    if (!ymd.ok()) return std::nullopt;
    return sys_days{ymd};
}

std::optional<utc_time> parse_dmtf(std::string_view text) {
    const auto y = digits(text, 4), mo = digits(text, 2), d = digits(text, 2);
    const auto h = digits(text, 2), mi = digits(text, 2), s = digits(text, 2);
    if (!y || !mo || !d || !h || !mi || !s || !take(text, '.')) return std::nullopt;
    const auto frac = digits(text, 6);
    if (!frac || text.size() != 4 || (text[0] != '+' && text[0] != '-')) return std::nullopt;
    const bool negative = text[0] == '-';
    text.remove_prefix(1);
    const auto offset = digits(text, 3);
    const auto date = civil(*y, *mo, *d);
    if (!offset || !date || *h > 23 || *mi > 59 || *s > 60) return std::nullopt;
    const auto local =
        utc_time(*date) + hours(*h) + minutes(*mi) + seconds(*s) + microseconds(*frac);
    return local - minutes(negative ? -*offset : *offset);
}

}  // namespace

std::optional<utc_time> parse_datetime(std::string_view text) {
    if (text.size() > 4 && text[4] != '-') return parse_dmtf(text);
    const auto y = digits(text, 4);
    if (!y || !take(text, '-')) return std::nullopt;
    const auto mo = digits(text, 2);
    if (!mo || !take(text, '-')) return std::nullopt;
    const auto d = digits(text, 2);
    if (!d) return std::nullopt;
    const auto date = civil(*y, *mo, *d);
    if (!date) return std::nullopt;
    utc_time value(*date);
    if (take(text, 'T')) {
        const auto h = digits(text, 2);
        if (!h || !take(text, ':')) return std::nullopt;
        const auto mi = digits(text, 2);
        if (!mi || !take(text, ':')) return std::nullopt;
        const auto s = digits(text, 2);
        if (!s || *h > 24 || *mi > 59 || *s > 60) return std::nullopt;
        value += hours(*h) + minutes(*mi) + seconds(*s);
        if (take(text, '.')) {
            const auto frac = fraction(text);
            if (!frac) return std::nullopt;
            value += *frac;
        }
    }
    if (text.empty() || text == "Z") return value;
    const char sign = text.front();
    if (sign != '+' && sign != '-') return std::nullopt;
    text.remove_prefix(1);
    const auto oh = digits(text, 2);
    if (!oh || !take(text, ':')) return std::nullopt;
    const auto om = digits(text, 2);
    if (!om || !text.empty() || *oh > 14 || *om > 59) return std::nullopt;
    const minutes offset = hours(*oh) + minutes(*om);
    return sign == '+' ? value - offset : value + offset;
}

std::optional<nanoseconds> parse_interval(std::string_view text) {
    if (text.size() == 25 && text[14] == '.' && text[21] == ':') {
        const auto d = digits(text, 8), h = digits(text, 2), mi = digits(text, 2);
        const auto s = digits(text, 2);
        text.remove_prefix(1);
        const auto frac = digits(text, 6);
        if (!d || !h || !mi || !s || !frac) return std::nullopt;
        return days(*d) + hours(*h) + minutes(*mi) + seconds(*s) + microseconds(*frac);
    }
    if (!take(text, 'P') || text.empty()) return std::nullopt;
    nanoseconds total{0};
    bool in_time = false;
    bool any = false;
    while (!text.empty()) {
        if (!in_time && take(text, 'T')) {
            in_time = true;
            if (text.empty()) return std::nullopt;
            continue;
        }
        std::int64_t whole = 0;
        std::size_t count = 0;
        while (!text.empty() && text.front() >= '0' && text.front() <= '9') {
            if (whole > 1'000'000'000) return std::nullopt;
            whole = whole * 10 + (text.front() - '0');
            text.remove_prefix(1);
            ++count;
        }
        if (count == 0) return std::nullopt;
        nanoseconds part{0};
        if (take(text, '.')) {
            const auto frac = fraction(text);
            if (!frac || !in_time || text.empty() || text.front() != 'S') return std::nullopt;
            part = *frac;
        }
        if (text.empty()) return std::nullopt;
        const char unit = text.front();
        text.remove_prefix(1);
        if (!in_time && unit == 'D') {
            total += days(whole);
        } else if (in_time && unit == 'H') {
            total += hours(whole);
        } else if (in_time && unit == 'M') {
            total += minutes(whole);
        } else if (in_time && unit == 'S') {
            total += seconds(whole) + part;
        } else {
            return std::nullopt;
        }
        any = true;
    }
    if (!any) return std::nullopt;
    return total;
}

}  // namespace libwql::detail
