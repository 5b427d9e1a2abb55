#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "libwql/wql_api.hpp"

namespace libwql {

// One property value of a WMI instance as it arrived on the wire.
// NULL (xsi:nil) and the empty string are different: `is_null()` is true only for NULL.
// An array property holds one value per repeated element; a scalar holds exactly one.
class WQL_API wql_query_field {
public:
    enum class kind { scalar, array, datetime, interval };

    wql_query_field() = default;
    wql_query_field(std::string name, std::vector<std::string> values, kind k = kind::scalar);
    // The NULL value of property `name`.
    static wql_query_field null(std::string name);

    const std::string& name() const { return name_; }
    bool is_null() const { return null_; }
    bool is_array() const { return kind_ == kind::array; }
    kind value_kind() const { return kind_; }
    const std::vector<std::string>& values() const { return values_; }

    // The text value: the single value, the array's values joined by ", ", "" for NULL.
    std::string as_string() const;
    // Decimal text as an unsigned 64-bit value (a leading '+' is accepted, nothing else).
    // Throws i18n_exception "libwql.error.field_has_wrong_type" for NULL, arrays, signs,
    // fractions, overflow or non-digits.
    std::uint64_t as_uint64_t() const;
    // The value as a signed 64-bit integer; no value when it is NULL or not an integer.
    std::optional<std::int64_t> as_int64_t() const;
    // A WS-Man datetime ("2013-04-15T16:28:43.488171Z": any number of fraction digits, kept
    // to nanoseconds; "Z", "+hh:mm" or no zone for UTC; or a bare date) or a raw DMTF datetime
    // ("20130415162843.488171+060", offset in minutes), converted to UTC. Throws "libwql.error.field_has_wrong_type" otherwise (intervals too).
    std::chrono::system_clock::time_point as_timestamp_t() const;
    // An interval ("P0DT0H1M40S" or DMTF "00000000000140.000000:000") as a duration.
    // Throws "libwql.error.field_has_wrong_type" when the value is not an interval.
    std::chrono::nanoseconds as_interval() const;
    // For diagnostics: name=value, name=NULL or name={a, b}.
    std::string str() const;

    bool operator==(const wql_query_field&) const = default;

private:
    std::string name_;
    std::vector<std::string> values_;
    kind kind_ = kind::scalar;
    bool null_ = false;
};

// One WMI instance: fields by name, iterated in ascending name order.
class WQL_API wql_query_row {
public:
    using map_type = std::map<std::string, wql_query_field>;
    using const_iterator = map_type::const_iterator;

    wql_query_row() = default;
    explicit wql_query_row(map_type fields) : fields_(std::move(fields)) {}

    void set(wql_query_field field);
    // The field when present and not NULL.
    std::optional<wql_query_field> get(const std::string& name) const;
    // The field itself (NULL included); throws i18n_exception
    // "libwql.error.field_has_wrong_type" when the row has no such field.
    const wql_query_field& at(const std::string& name) const;
    // The field as a signed 64-bit integer; no value when absent, NULL or not an integer.
    std::optional<std::int64_t> get_as_converted_to_int64_t(const std::string& name) const;

    const_iterator begin() const { return fields_.begin(); }
    const_iterator end() const { return fields_.end(); }
    std::size_t size() const { return fields_.size(); }
    bool empty() const { return fields_.empty(); }

    bool operator==(const wql_query_row&) const = default;

private:
    map_type fields_;
};

// A finished WQL statement.
class WQL_API wql_query {
public:
    explicit wql_query(std::string text) : text_(std::move(text)) {}
    const std::string& get() const { return text_; }

private:
    std::string text_;
};

// Builds "SELECT a, b FROM Class [WHERE ...]". Names (fields, class) must be WQL identifiers
// (letters, digits, '_'; '*' alone for all fields) and are rejected otherwise with
// std::invalid_argument; values passed to where_equals are always written as literals, so
// no value can change the statement's meaning. `where(condition)` takes trusted text as is.
class WQL_API wql_query_builder {
public:
    class where_stage;

    class WQL_API build_stage {
    public:
        where_stage where(std::string condition) const;
        where_stage where_equals(std::string field, const std::string& value) const;
        where_stage where_equals(std::string field, std::int64_t value) const;
        wql_query build() const;

    private:
        friend class wql_query_builder;
        explicit build_stage(std::string text) : text_(std::move(text)) {}
        std::string text_;
    };

    class WQL_API where_stage {
    public:
        wql_query build() const { return wql_query(text_); }

    private:
        friend class build_stage;
        explicit where_stage(std::string text) : text_(std::move(text)) {}
        std::string text_;
    };

    class WQL_API from_stage {
    public:
        build_stage from(std::string wmi_class) const;

    private:
        friend class wql_query_builder;
        explicit from_stage(std::string fields) : fields_(std::move(fields)) {}
        std::string fields_;
    };

    static from_stage select(const std::vector<std::string>& fields);
};

// A WQL string literal for `value`: single quotes, with backslash and quote escaped.
WQL_API std::string wql_string_literal(const std::string& value);

}  // namespace libwql
