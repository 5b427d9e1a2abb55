#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "libi18n/i18n.hpp"
#include "liblog/log.hpp"
#include "libvexahelper/exceptions.hpp"
#include "libvexahelper/service_container.hpp"

// Outside the anonymous namespace, so its readable name is just "widget".
struct widget {
    int value = 0;
};

namespace {

using libvexahelper::service_container;
namespace ex = libvexahelper::utils::exceptions;

// Runs action, expects E, and returns the message it carried.
template <typename E>
libi18n::i18n_msg message_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const E& e) {
        EXPECT_STREQ(e.what(), e.get_i18n_msg().text.c_str());
        return e.get_i18n_msg();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "unexpected exception: " << e.what();
    }
    ADD_FAILURE() << "nothing thrown";
    return {};
}

TEST(service_container, errors_carry_their_keys_and_texts) {
    service_container c;
    c.register_factory<widget>([] { return std::make_unique<widget>(); });
    c.register_instance<liblog::log_interface>(std::make_shared<liblog::null_logger>());
    c.register_instance<widget>("primary", std::make_shared<widget>());

    struct row {
        const char* what;
        std::function<void()> action;
        std::string key;
        std::string text;
    };
    const row rows[] = {
        {"second factory", [&] { c.register_factory<widget>([] { return nullptr; }); },
         "#:libvexahelper.error.already_contains_factory[widget]",
         "The factory store already contains a factory with type widget."},
        {"missing factory", [&] { c.create<liblog::log_interface>(); },
         "#:libvexahelper.error.factory_not_available[liblog\\:\\:log_interface]",
         "The factory store can't find a factory with type liblog::log_interface."},
        {"second instance",
         [&] {
             c.register_instance<liblog::log_interface>(std::make_shared<liblog::null_logger>());
         },
         "#:libvexahelper.error.already_contains_instance[liblog\\:\\:log_interface]",
         "The instance store already contains an instance with type liblog::log_interface."},
        {"second keyed instance",
         [&] { c.register_instance<widget>("primary", std::make_shared<widget>()); },
         "#:libvexahelper.error.already_contains_instance_key[widget,primary]",
         "The instance store already contains an instance with type widget and key primary."},
        {"missing instance", [&] { c.get_instance<widget>(); },
         "#:libvexahelper.error.instance_not_available[widget]",
         "The instance store can't find an instance with type widget."},
        {"missing keyed instance", [&] { c.get_instance<widget>("spare"); },
         "#:libvexahelper.error.instance_not_available_key[widget,spare]",
         "The instance store can't find an instance with type widget and key spare."},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const auto msg = message_of<ex::service_container_error>(r.action);
        EXPECT_EQ(msg.key, r.key);
        EXPECT_EQ(msg.text, r.text);
    }
}

TEST(service_container, exceptions_sit_in_their_families) {
    service_container c;
    // Caught through the family bases the module relies on.
    EXPECT_THROW(c.create<widget>(), ex::factory_not_available);
    EXPECT_THROW(c.create<widget>(), ex::exception);
    EXPECT_THROW(c.get_instance<widget>(), libi18n::i18n_exception);
    const ex::service_container_error family(libi18n::i18n_msg{"k", "A service container error"});
    EXPECT_EQ(family.get_i18n_msg().key, "k");
}

TEST(service_container, factories_take_arguments_and_may_use_the_container) {
    auto c = std::make_shared<service_container>();
    c->register_instance<widget>(std::make_shared<widget>(widget{40}));
    // The factory looks up an instance while it runs: the container's lock is not held then.
    c->register_factory<widget, int>([weak = std::weak_ptr(c)](int add) {
        return std::make_unique<widget>(widget{weak.lock()->get_instance<widget>()->value + add});
    });
    EXPECT_EQ(c->create<widget>(2)->value, 42);
    EXPECT_TRUE((c->has_factory<widget, int>()));
    // A factory with other argument types is another entry.
    EXPECT_FALSE(c->has_factory<widget>());
    EXPECT_THROW(c->create<widget>(), ex::factory_not_available);
}

TEST(service_container, keyed_and_unkeyed_instances_are_separate) {
    service_container c;
    auto plain = std::make_shared<widget>(widget{1});
    auto empty_key = std::make_shared<widget>(widget{2});
    c.register_instance<widget>(plain);
    c.register_instance<widget>("", empty_key);
    EXPECT_EQ(c.get_instance<widget>(), plain);
    EXPECT_EQ(c.get_instance<widget>(""), empty_key);
}

}  // namespace
