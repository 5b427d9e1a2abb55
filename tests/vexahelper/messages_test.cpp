#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "libvexahelper/channel_map.hpp"
#include "libvexahelper/exceptions.hpp"
#include "libvexahelper/message_service.hpp"
#include "libvexahelper/messages.hpp"

namespace {

using nlohmann::json;
using namespace libvexahelper;

json parsed(const vexa_message& m) {
    const auto bytes = m.serialize();
    EXPECT_FALSE(bytes.empty());
    EXPECT_NE(bytes.back(), '\0');
    return json::parse(bytes.begin(), bytes.end());
}

TEST(messages, sensor_scan_result_keeps_values_in_order_with_their_kind) {
    auto channels = std::make_shared<channel_map>(std::map<int, std::string>{{7, "known"}});
    for (int id : {0, 1}) {
        dynamic_channel_options options;
        options.channel_id = id;
        channels->register_definition(options);
    }
    sensor_scan_result result(12, channels);
    result.set_value(1, 2.5)
        .set_value(0, 42LL)
        .set_value(7, 1LL)
        .set_value(1, 3.5)  // replaces in place
        .set_response_message({"message.status", "Status:"})
        .set_system_reset(true);
    const json j = parsed(result);
    EXPECT_EQ(j.at("type"), "sensor_scan_result");
    EXPECT_EQ(j.at("sensor_id"), 12);
    EXPECT_EQ(j.at("response_code"), 0);
    EXPECT_EQ(j.at("error_code"), 0);
    EXPECT_EQ(j.at("system_reset"), true);
    EXPECT_EQ(j.at("message"), (json{{"key", "message.status"}, {"text", "Status:"}}));
    const json expected = json::parse(R"([{"id":1,"kind":"float","value":3.5},
        {"id":0,"kind":"integer","value":42},{"id":7,"kind":"integer","value":1}])");
    EXPECT_EQ(j.at("channels"), expected);
}

TEST(messages, sensor_scan_result_rejects_channels_nobody_defined) {
    sensor_scan_result result(1, std::make_shared<channel_map>());
    try {
        result.set_value(3, 1LL);
        FAIL();
    } catch (const utils::exceptions::channel_not_defined& e) {
        EXPECT_STREQ(e.what(), "Channel with ID 3 is not defined.");
    }
    EXPECT_TRUE(result.values().empty());
}

TEST(messages, error_results_carry_the_exception_message) {
    const libi18n::i18n_exception translated(
        {"#:error.service_not_found[Spooler]", "Could not find Windows service 'Spooler'."});
    const json a = parsed(sensor_scan_result(5, translated).set_error_code(0));
    EXPECT_EQ(a.at("response_code"), 3);
    EXPECT_EQ(a.at("message").at("key"), "#:error.service_not_found[Spooler]");
    EXPECT_EQ(a.at("message").at("text"), "Could not find Windows service 'Spooler'.");

    const json b = parsed(sensor_scan_result(5, std::runtime_error("socket closed")));
    EXPECT_EQ(b.at("response_code"), 3);
    EXPECT_EQ(b.at("message"), (json{{"key", ""}, {"text", "socket closed"}}));

    const json m = parsed(meta_scan_result(5, 9, std::runtime_error("boom")));
    EXPECT_EQ(m.at("type"), "meta_scan_result");
    EXPECT_EQ(m.at("request"), 9);
    EXPECT_EQ(m.at("response_code"), 5);
    EXPECT_EQ(m.at("message").at("text"), "boom");
    EXPECT_TRUE(m.at("entries").empty());
}

TEST(messages, meta_scan_result_entries) {
    meta_scan_result result(3, 77);
    result.add_entry(
        {"#:metascan.service_sensor_instance_name[Spooler]", "WMI Service v2: Spooler"},
        {{"name", "Spooler"}, {"displayname", "Print Spooler"}});
    const json j = parsed(result);
    EXPECT_EQ(j.at("response_code"), 0);
    EXPECT_TRUE(j.at("message").is_null());
    ASSERT_EQ(j.at("entries").size(), 1u);
    const json& e = j.at("entries").at(0);
    EXPECT_EQ(e.at("display_name").at("text"), "WMI Service v2: Spooler");
    EXPECT_EQ(e.at("values"), (json{{"displayname", "Print Spooler"}, {"name", "Spooler"}}));
}

TEST(messages, dynamic_channel_lists_every_field_in_order_with_defaults) {
    dynamic_channel_options options;
    options.channel_id = 4;
    options.key = "channel.system_uptime";
    options.limits_enabled = true;
    options.lower_warning_limit = 20.0;
    const json j = parsed(dynamic_channel(8, options));
    EXPECT_EQ(j.at("type"), "dynamic_channel");
    EXPECT_EQ(j.at("sensor_id"), 8);
    const json& c = j.at("channel");
    std::vector<std::string> names;
    for (const auto& [name, value] : c.items()) names.push_back(name);
    // nlohmann::json sorts keys, so the order is checked on the raw text.
    const auto bytes = dynamic_channel(8, options).serialize();
    const std::string text(bytes.begin(), bytes.end());
    const char* order[] = {"channel_id",
                           "key",
                           "display_name",
                           "value_type",
                           "unit",
                           "custom_unit",
                           "reserved_1",
                           "reserved_2",
                           "size_unit",
                           "is_hidden",
                           "show_chart",
                           "show_table",
                           "reserved_3",
                           "reserved_4",
                           "limits_enabled",
                           "lower_warning_limit",
                           "upper_warning_limit",
                           "lower_error_limit",
                           "upper_error_limit",
                           "warning_limit_message",
                           "error_limit_message",
                           "lookup_name",
                           "notify_changed",
                           "factor"};
    std::size_t last = 0;
    for (const char* field : order) {
        const auto at = text.find(std::string("\"") + field + "\":");
        ASSERT_NE(at, std::string::npos) << field;
        EXPECT_GT(at, last) << field;
        last = at;
    }
    EXPECT_EQ(names.size(), std::size(order));
    const json expected = json::parse(R"({"channel_id":4,"key":"channel.system_uptime",
        "display_name":"","value_type":1,"unit":7,"custom_unit":"","reserved_1":0,"reserved_2":0,
        "size_unit":0,"is_hidden":false,"show_chart":true,"show_table":true,"reserved_3":0,
        "reserved_4":0,"limits_enabled":true,"lower_warning_limit":20.0,
        "upper_warning_limit":null,"lower_error_limit":null,"upper_error_limit":null,
        "warning_limit_message":"","error_limit_message":"","lookup_name":"",
        "notify_changed":false,"factor":1.0})");
    EXPECT_EQ(c, expected);
}

TEST(messages, small_notifications) {
    const json p = parsed(persistent_data(2, "last_sample", "123;456"));
    EXPECT_EQ(p, (json{{"type", "persistent_data"},
                       {"sensor_id", 2},
                       {"key", "last_sample"},
                       {"value", "123;456"}}));
    const json g = parsed(metascan_progress(2, 5, 50, "Querying volumes"));
    EXPECT_EQ(g, (json{{"type", "metascan_progress"},
                       {"sensor_id", 2},
                       {"request", 5},
                       {"progress", 50},
                       {"text", "Querying volumes"}}));
    const json c = parsed(check_result(6).set_success(true));
    EXPECT_EQ(
        c,
        (json{
            {"type", "check_result"}, {"sensor_id", 6}, {"success", true}, {"message", nullptr}}));
    const json e = parsed(sensor_create_error(6, 4, {"k", "t"}));
    EXPECT_EQ(e, (json{{"type", "sensor_create_error"},
                       {"sensor_id", 6},
                       {"response_code", 4},
                       {"message", {{"key", "k"}, {"text", "t"}}}}));
}

TEST(messages, hostile_values_still_serialise) {
    // Invalid UTF-8 from a target and non-finite numbers must not break the message.
    const json p = parsed(persistent_data(1, "k", std::string("bad\xff\xfe", 5)));
    EXPECT_EQ(p.at("value").get<std::string>().substr(0, 3), "bad");
    auto channels = std::make_shared<channel_map>(std::map<int, std::string>{{0, "x"}});
    const json r = parsed(
        sensor_scan_result(1, channels).set_value(0, std::numeric_limits<double>::quiet_NaN()));
    EXPECT_TRUE(r.at("channels").at(0).at("value").is_null());
}

TEST(messages, module_information_leaves_out_text_on_request) {
    const std::string doc =
        R"({"MetaData":{"Name":"wmi"},"Sensors":{},"Revision":15,"Text":{"English":{}}})";
    const json with = parsed(module_information_message(doc, true));
    EXPECT_EQ(with.at("type"), "module_information");
    EXPECT_EQ(with.at("include_text"), true);
    EXPECT_EQ(with.at("document"), json::parse(doc));
    const auto bytes = module_information_message(doc, false).serialize();
    const std::string text(bytes.begin(), bytes.end());
    const json without = json::parse(text);
    EXPECT_FALSE(without.at("document").contains("Text"));
    EXPECT_EQ(without.at("document").at("Revision"), 15);
    // Member order of the document survives.
    EXPECT_LT(text.find("\"MetaData\""), text.find("\"Sensors\""));
    EXPECT_LT(text.find("\"Sensors\""), text.find("\"Revision\""));
    EXPECT_THROW(module_information_message("{not json", true).serialize(),
                 utils::exceptions::message_serialization_failed);
}

TEST(message_service, delivers_the_serialised_bytes_once) {
    int calls = 0;
    std::string received;
    message_service service([&](void* data, unsigned int size) {
        ++calls;
        received.assign(static_cast<const char*>(data), size);
    });
    const persistent_data message(1, "a", "b");
    service.send(message);
    EXPECT_EQ(calls, 1);
    const auto expected = message.serialize();
    EXPECT_EQ(received, std::string(expected.begin(), expected.end()));
}

}  // namespace
