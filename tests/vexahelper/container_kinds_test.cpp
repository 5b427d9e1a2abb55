#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "error_key.hpp"
#include "liblog/log.hpp"
#include "libvexahelper/kinds.hpp"
#include "libvexahelper/lookup_value.hpp"
#include "libvexahelper/service_container.hpp"

// Outside the anonymous namespace, so its readable name is just "widget".
struct widget {
    int value = 0;
};

namespace {

using libvexahelper::kind_integer;
using libvexahelper::service_container;
using test_support::error_key;

// The full key, arguments included: they carry the readable type and the offending values.
std::string full_key(const std::function<void()>& action) {
    try {
        action();
    } catch (const libi18n::i18n_exception& e) {
        return e.get_i18n_msg().key;
    }
    return "no exception";
}

TEST(service_container, refusals_name_the_type_and_key) {
    service_container c;
    c.register_factory<widget>([] { return std::make_unique<widget>(); });
    c.register_instance<liblog::log_interface>(std::make_shared<liblog::null_logger>());
    c.register_instance<widget>("primary", std::make_shared<widget>());
    const struct {
        std::function<void()> action;
        const char* key;
    } rows[] = {
        {[&] { c.register_factory<widget>([] { return nullptr; }); },
         "#:libvexahelper.error.already_contains_factory[widget]"},
        {[&] { c.create<liblog::log_interface>(); },
         "#:libvexahelper.error.factory_not_available[liblog\\:\\:log_interface]"},
        {[&] { c.register_instance<liblog::log_interface>(nullptr); },
         "#:libvexahelper.error.already_contains_instance[liblog\\:\\:log_interface]"},
        {[&] { c.register_instance<widget>("primary", nullptr); },
         "#:libvexahelper.error.already_contains_instance_key[widget,primary]"},
        {[&] { c.get_instance<widget>(); }, "#:libvexahelper.error.instance_not_available[widget]"},
        {[&] { c.get_instance<widget>("spare"); },
         "#:libvexahelper.error.instance_not_available_key[widget,spare]"},
    };
    for (const auto& r : rows) EXPECT_EQ(full_key(r.action), r.key);
}

TEST(service_container, factories_take_arguments_and_may_reenter_the_container) {
    auto c = std::make_shared<service_container>();
    c->register_instance<widget>(std::make_shared<widget>(widget{40}));
    c->register_instance<widget>("", std::make_shared<widget>(widget{2}));
    // The factory looks up an instance while it runs: the container's lock is not held then.
    c->register_factory<widget, int>([weak = std::weak_ptr(c)](int add) {
        return std::make_unique<widget>(widget{weak.lock()->get_instance<widget>()->value + add});
    });
    EXPECT_EQ(c->create<widget>(2)->value, 42);
    EXPECT_EQ(c->get_instance<widget>("")->value, 2);  // keyed by "" is not the unkeyed one
    EXPECT_EQ(error_key([&] { c->create<widget>(); }), "libvexahelper.error.factory_not_available");
}

TEST(kinds, integers_parse_strictly_and_limits_name_both_values) {
    const libvexahelper::validation_rules port{"port", 1, 65535, std::nullopt};
    EXPECT_EQ(kind_integer::parse_and_validate("65535", port), 65535);
    EXPECT_EQ(kind_integer::parse_and_validate("007", {"x"}), 7);
    EXPECT_EQ(kind_integer::parse_and_validate("-9223372036854775808", {"x"}),
              std::numeric_limits<long long>::min());
    for (const char* text : {"", " 5", "5 ", "5x", "0x10", "1.5", "+-1", "9223372036854775808"}) {
        EXPECT_EQ(kind_integer::parse_and_validate(text, port), std::nullopt) << text;
    }
    EXPECT_EQ(full_key([&] { kind_integer::parse_and_validate("65536", port); }),
              "#:libvexahelper.error.setting_invalid_bigger_max[65536,65535]");
    EXPECT_EQ(full_key([&] { kind_integer::parse_and_validate("0", port); }),
              "#:libvexahelper.error.setting_invalid_less_min[0,1]");
}

TEST(kinds, long_strings_are_refused_and_secrets_never_quoted) {
    const libvexahelper::validation_rules name{"name", std::nullopt, std::nullopt, 5};
    EXPECT_EQ(libvexahelper::kind_string::parse_and_validate("abcde", name), "abcde");
    EXPECT_EQ(full_key([&] { libvexahelper::kind_string::parse_and_validate("abcdef", name); }),
              "#:libvexahelper.error.string_too_long[name,6,5]");
    const libvexahelper::validation_rules password{"password", std::nullopt, std::nullopt, 3};
    try {
        libvexahelper::kind_securestring::parse_and_validate("hunter2", password);
        FAIL();
    } catch (const libi18n::i18n_exception& e) {
        EXPECT_EQ(std::string(e.what()).find("hunter2"), std::string::npos);
        EXPECT_EQ(e.get_i18n_msg().key.find("hunter2"), std::string::npos);
    }
}

TEST(kinds, lookup_values_outside_their_range_list_the_valid_ones) {
    using operating_state = libvexahelper::lookup_value<0, 7>;
    EXPECT_EQ(operating_state(7).value(), 7u);
    EXPECT_EQ(full_key([] { operating_state bad(8); }),
              "#:libvexahelper.error.invalid_lookup_value[8,0\\, 1\\, 2\\, 3\\, 4\\, 5\\, 6\\, 7]");
    EXPECT_EQ(error_key([] { libvexahelper::lookup_value<1, 2> bad(0); }),
              "libvexahelper.error.invalid_lookup_value");
}

}  // namespace
