#include <charconv>
#include <chrono>
#include <stdexcept>

#include "libi18n/catalogue.hpp"
#include "libwql/wql_query.hpp"
#include "wql_datetime.hpp"

namespace libwql {

namespace {

[[noreturn]] void wrong_type(const std::string& field, const std::string& why) {
    throw libi18n::i18n_exception(
        libi18n::catalogue::libwql_error_field_has_wrong_type(field, why));
}

}  // namespace

wql_query_field::wql_query_field(std::string name, std::vector<std::string> values, kind k)
    : name_(std::move(name)), values_(std::move(values)), kind_(k) {}

wql_query_field wql_query_field::null(std::string name) {
    wql_query_field field(std::move(name), {});
    field.null_ = true;
    return field;
}

std::string wql_query_field::as_string() const {
    std::string out;
    for (const auto& value : values_) {
        if (&value != &values_.front()) out += ", ";
        out += value;
    }
    return out;
}

std::uint64_t wql_query_field::as_uint64_t() const {
    if (null_) wrong_type(name_, "NULL is not a number");
    if (values_.size() != 1) wrong_type(name_, "an array is not a number");
    std::string_view text = values_.front();
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        wrong_type(name_, "'" + values_.front() + "' is not an unsigned 64-bit integer");
    }
    return value;
}

std::optional<std::int64_t> wql_query_field::as_int64_t() const {
    if (null_ || values_.size() != 1) return std::nullopt;
    std::string_view text = values_.front();
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::chrono::system_clock::time_point wql_query_field::as_timestamp_t() const {
    if (null_ || values_.size() != 1) wrong_type(name_, "not a single datetime");
    if (kind_ == kind::interval) wrong_type(name_, "an interval is not a point in time");
    auto parsed = detail::parse_datetime(values_.front());
    if (!parsed) wrong_type(name_, "'" + values_.front() + "' is not a datetime");
    return std::chrono::time_point_cast<std::chrono::system_clock::duration>(*parsed);
}

std::chrono::nanoseconds wql_query_field::as_interval() const {
    if (null_ || values_.size() != 1) wrong_type(name_, "not a single interval");
    auto parsed = detail::parse_interval(values_.front());
    if (!parsed) wrong_type(name_, "'" + values_.front() + "' is not an interval");
    return *parsed;
}

std::string wql_query_field::str() const {
    if (null_) return name_ + "=NULL";
    if (kind_ == kind::array) return name_ + "={" + as_string() + "}";
    return name_ + "=" + as_string();
}

void wql_query_row::set(wql_query_field field) {
    std::string name = field.name();
    fields_.insert_or_assign(std::move(name), std::move(field));
}

std::optional<wql_query_field> wql_query_row::get(const std::string& name) const {
    const auto it = fields_.find(name);
    if (it == fields_.end() || it->second.is_null()) return std::nullopt;
    return it->second;
}

const wql_query_field& wql_query_row::at(const std::string& name) const {
    const auto it = fields_.find(name);
    if (it == fields_.end()) wrong_type(name, "the field is not in the result");
    return it->second;
}

std::optional<std::int64_t> wql_query_row::get_as_converted_to_int64_t(
    const std::string& name) const {
    const auto it = fields_.find(name);
    if (it == fields_.end()) return std::nullopt;
    return it->second.as_int64_t();
}

}  // namespace libwql
