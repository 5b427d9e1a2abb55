#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "error_key.hpp"
#include "libvexahelper/channel_map.hpp"
#include "libvexahelper/message_service.hpp"
#include "libvexahelper/messages.hpp"

namespace {

using nlohmann::json;
using namespace libvexahelper;

std::string text_of(const vexa_message& m) {
    const auto bytes = m.serialize();
    return {bytes.begin(), bytes.end()};
}

std::shared_ptr<channel_map> defined(std::initializer_list<int> ids) {
    auto channels = std::make_shared<channel_map>(std::map<int, std::string>{{7, "known"}});
    for (int id : ids) {
        dynamic_channel_options options;
        options.channel_id = id;
        channels->register_definition(options);
    }
    return channels;
}

// The exact bytes a host receives: member order and value kinds are part of the protocol.
TEST(messages, serialise_to_the_documented_text) {
    dynamic_channel_options uptime;
    uptime.channel_id = 4;
    uptime.key = "channel.system_uptime";
    uptime.limits_enabled = true;
    uptime.lower_warning_limit = 20.0;
    meta_scan_result entries(3, 77);
    entries.add_entry({"#:metascan.x[Spooler]", "Service: Spooler"},
                      {{"name", "Spooler"}, {"displayname", "Print Spooler"}});
    const libi18n::i18n_exception not_found({"#:error.nf[Spooler]", "No 'Spooler'."});
    const struct {
        std::string actual;
        const char* expected;
    } rows[] = {
        {text_of(sensor_scan_result(12, defined({0, 1}))
                     .set_value(1, 2.5)
                     .set_value(0, 42LL)
                     .set_value(7, 1LL)
                     .set_value(1, 3.5)  // replaces in place
                     .set_response_message({"message.status", "Status:"})
                     .set_system_reset(true)),
         R"({"type":"sensor_scan_result","sensor_id":12,"response_code":0,"error_code":0,"message":{"key":"message.status","text":"Status:"},"system_reset":true,"channels":[{"id":1,"kind":"float","value":3.5},{"id":0,"kind":"integer","value":42},{"id":7,"kind":"integer","value":1}]})"},
        {text_of(sensor_scan_result(5, not_found).set_error_code(0)),
         R"({"type":"sensor_scan_result","sensor_id":5,"response_code":3,"error_code":0,"message":{"key":"#:error.nf[Spooler]","text":"No 'Spooler'."},"system_reset":false,"channels":[]})"},
        {text_of(sensor_scan_result(5, std::runtime_error("socket closed"))),
         R"({"type":"sensor_scan_result","sensor_id":5,"response_code":3,"error_code":0,"message":{"key":"","text":"socket closed"},"system_reset":false,"channels":[]})"},
        {text_of(entries),
         R"({"type":"meta_scan_result","sensor_id":3,"request":77,"response_code":0,"message":null,"entries":[{"display_name":{"key":"#:metascan.x[Spooler]","text":"Service: Spooler"},"values":{"displayname":"Print Spooler","name":"Spooler"}}]})"},
        {text_of(meta_scan_result(5, 9, std::runtime_error("boom"))),
         R"({"type":"meta_scan_result","sensor_id":5,"request":9,"response_code":5,"message":{"key":"","text":"boom"},"entries":[]})"},
        {text_of(dynamic_channel(8, uptime)),
         R"({"type":"dynamic_channel","sensor_id":8,"channel":{"channel_id":4,"key":"channel.system_uptime","display_name":"","value_type":1,"unit":7,"custom_unit":"","reserved_1":0,"reserved_2":0,"size_unit":0,"is_hidden":false,"show_chart":true,"show_table":true,"reserved_3":0,"reserved_4":0,"limits_enabled":true,"lower_warning_limit":20.0,"upper_warning_limit":null,"lower_error_limit":null,"upper_error_limit":null,"warning_limit_message":"","error_limit_message":"","lookup_name":"","notify_changed":false,"factor":1.0}})"},
        {text_of(persistent_data(2, "last_sample", "123;456")),
         R"({"type":"persistent_data","sensor_id":2,"key":"last_sample","value":"123;456"})"},
        {text_of(metascan_progress(2, 5, 50, "Querying volumes")),
         R"({"type":"metascan_progress","sensor_id":2,"request":5,"progress":50,"text":"Querying volumes"})"},
        {text_of(check_result(6).set_success(true)),
         R"({"type":"check_result","sensor_id":6,"success":true,"message":null})"},
        {text_of(sensor_create_error(6, 4, {"k", "t"})),
         R"({"type":"sensor_create_error","sensor_id":6,"response_code":4,"message":{"key":"k","text":"t"}})"},
    };
    for (const auto& r : rows) EXPECT_EQ(r.actual, r.expected);
}

TEST(messages, undefined_channels_and_hostile_values) {
    sensor_scan_result result(1, std::make_shared<channel_map>());
    EXPECT_EQ(test_support::error_key([&] { result.set_value(3, 1LL); }),
              "libvexahelper.error.channel_not_defined");
    EXPECT_TRUE(result.values().empty());
    // Invalid UTF-8 from a target and non-finite numbers must not break the message.
    const auto p = json::parse(text_of(persistent_data(1, "k", std::string("bad\xff\xfe", 5))));
    EXPECT_EQ(p.at("value").get<std::string>().substr(0, 3), "bad");
    const auto r =
        json::parse(text_of(sensor_scan_result(1, defined({0}))
                                .set_value(0, std::numeric_limits<double>::quiet_NaN())));
    EXPECT_TRUE(r.at("channels").at(0).at("value").is_null());
}

TEST(messages, module_information_keeps_member_order_and_drops_text_on_request) {
    const std::string doc =
        R"({"MetaData":{"Name":"wmi"},"Sensors":{},"Revision":15,"Text":{"English":{}}})";
    EXPECT_EQ(text_of(module_information_message(doc, true)),
              R"({"type":"module_information","include_text":true,"document":)" + doc + "}");
    EXPECT_EQ(
        text_of(module_information_message(doc, false)),
        R"({"type":"module_information","include_text":false,"document":{"MetaData":{"Name":"wmi"},"Sensors":{},"Revision":15}})");
    EXPECT_EQ(test_support::error_key([] { module_information_message("{not", true).serialize(); }),
              "libvexahelper.error.message_serialization_failed");
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
    EXPECT_EQ(received, text_of(message));
}

}  // namespace
