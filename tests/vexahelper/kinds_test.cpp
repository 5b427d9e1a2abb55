#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>

#include "libvexahelper/exceptions.hpp"
#include "libvexahelper/kinds.hpp"
#include "libvexahelper/lookup_value.hpp"

namespace {

using libvexahelper::kind_integer;
using libvexahelper::validation_rules;
namespace ex = libvexahelper::utils::exceptions;

const validation_rules port_rules{"port", 1, 65535, std::nullopt};

TEST(kind_integer, accepts_values_within_limits) {
    EXPECT_EQ(kind_integer::parse_and_validate("65535", port_rules), 65535);
    EXPECT_EQ(kind_integer::parse_and_validate("1", port_rules), 1);
    EXPECT_EQ(kind_integer::parse_and_validate("-9223372036854775808", {"x"}),
              std::numeric_limits<long long>::min());
    EXPECT_EQ(kind_integer::parse_and_validate("007", {"x"}), 7);
}

TEST(kind_integer, no_value_for_empty_or_unparsable_text) {
    for (const char* text :
         {"", " 5", "5 ", "5x", "0x10", "1.5", "+-1", "9223372036854775808", "abc"}) {
        EXPECT_EQ(kind_integer::parse_and_validate(text, port_rules), std::nullopt) << text;
    }
}

TEST(kind_integer, limits_raise_their_messages) {
    try {
        kind_integer::parse_and_validate("65536", port_rules);
        FAIL();
    } catch (const ex::setting_invalid_bigger_max& e) {
        EXPECT_EQ(e.get_i18n_msg().key,
                  "#:libvexahelper.error.setting_invalid_bigger_max[65536,65535]");
        EXPECT_STREQ(e.what(), "Setting value 65536 is bigger than the allowed value of 65535.");
    }
    try {
        kind_integer::parse_and_validate("0", port_rules);
        FAIL();
    } catch (const ex::setting_invalid_less_min& e) {
        EXPECT_STREQ(e.what(), "Setting value 0 is less than the allowed value of 1.");
    }
}

TEST(kind_string, too_long_names_the_setting_and_both_lengths) {
    const validation_rules rules{"name", std::nullopt, std::nullopt, 5};
    EXPECT_EQ(libvexahelper::kind_string::parse_and_validate("abcde", rules), "abcde");
    try {
        libvexahelper::kind_string::parse_and_validate("abcdef", rules);
        FAIL();
    } catch (const ex::string_too_long& e) {
        EXPECT_EQ(e.get_i18n_msg().key, "#:libvexahelper.error.string_too_long[name,6,5]");
        EXPECT_STREQ(e.what(),
                     "name's value with length 6 is longer than the maximum allowed length of 5.");
    }
}

TEST(kind_securestring, never_puts_the_value_into_an_error) {
    const validation_rules rules{"password", std::nullopt, std::nullopt, 3};
    EXPECT_EQ(libvexahelper::kind_securestring::parse_and_validate("", rules), "");
    try {
        libvexahelper::kind_securestring::parse_and_validate("hunter2", rules);
        FAIL();
    } catch (const ex::string_too_long& e) {
        EXPECT_EQ(std::string(e.what()).find("hunter2"), std::string::npos);
        EXPECT_EQ(e.get_i18n_msg().key.find("hunter2"), std::string::npos);
    }
}

TEST(lookup_value, accepts_its_range_and_names_the_valid_values_otherwise) {
    using operating_state = libvexahelper::lookup_value<0, 7>;
    EXPECT_EQ(operating_state(0).value(), 0u);
    EXPECT_EQ(operating_state(7).value(), 7u);
    try {
        operating_state bad(8);
        FAIL();
    } catch (const ex::invalid_lookup_value& e) {
        EXPECT_EQ(
            e.get_i18n_msg().key,
            "#:libvexahelper.error.invalid_lookup_value[8,0\\, 1\\, 2\\, 3\\, 4\\, 5\\, 6\\, 7]");
        EXPECT_STREQ(e.what(),
                     "The following lookup value is invalid: 8. Valid lookup values are: 0, 1, 2, "
                     "3, 4, 5, 6, 7");
    }
    EXPECT_THROW((libvexahelper::lookup_value<1, 2>(0)), libi18n::i18n_exception);
}

TEST(selection_parse_error, quotes_value_and_type) {
    const ex::setting_selection_parse_error e("ipv4", "ipversion");
    EXPECT_EQ(e.get_i18n_msg().key,
              "#:libvexahelper.error.setting_selection_parse_error[ipv4,ipversion]");
    EXPECT_STREQ(e.what(), "Value \"ipv4\" could not be parsed into selection type \"ipversion\".");
    const ex::channel_map_not_initialized c;
    EXPECT_STREQ(c.what(), "Channel map is not initialized.");
    EXPECT_EQ(c.get_i18n_msg().key, "#:libvexahelper.error.channel_map_not_initialized[]");
}

}  // namespace
