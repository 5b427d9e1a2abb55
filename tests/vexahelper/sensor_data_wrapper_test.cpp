#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "error_key.hpp"
#include "libvexahelper/sensor_data_wrapper.hpp"
#include "test_support.hpp"

namespace {

using libvexahelper::sensor_data_wrapper;
using test_support::wrap;

TEST(sensor_data_wrapper, reads_kind_settings_channels_and_persistent_data) {
    const auto w = wrap(test_support::settings_document(
        "cpu_load_sensor", {{"host", "10.0.0.7"}, {"a.b.port", "5985"}},
        {{"0", "Total"}, {"-3", "Negative"}}, {{"sample", "1;2"}}));
    ASSERT_TRUE(w.is_valid()) << *w.error();
    EXPECT_EQ(w.get_kind(), "cpu_load_sensor");
    EXPECT_EQ(w.get_value("a.b.port"), "5985");
    EXPECT_TRUE(w.has_value("host"));
    EXPECT_EQ(w.get_channels(), (std::map<int, std::string>{{-3, "Negative"}, {0, "Total"}}));
    EXPECT_EQ(w.get_persistent_data(), (std::map<std::string, std::string>{{"sample", "1;2"}}));
}

TEST(sensor_data_wrapper, missing_setting_names_the_key_and_secrets_read_empty) {
    const auto w = wrap(R"({"kind":"k","settings":{"zarvelcloudapikey":"abc"}})");
    ASSERT_TRUE(w.is_valid());
    EXPECT_EQ(test_support::error_key([&] { w.get_value("host"); }),
              "libvexahelper.error.setting_not_available");
    EXPECT_EQ(w.get_secure_value("zarvelcloudapikey"), "abc");
    EXPECT_EQ(w.get_secure_value("absent"), "");
    EXPECT_TRUE(w.get_channels().empty());
    EXPECT_TRUE(w.get_persistent_data().empty());
}

TEST(sensor_data_wrapper, malformed_documents_are_reported_not_thrown) {
    struct row {
        const char* what;
        std::string bytes;
        const char* reason_contains;
    };
    std::string deep(100000, '[');
    const row rows[] = {
        {"empty", "", "empty"},
        {"truncated", R"({"kind":"k","settings":{"host":"x")", "not valid UTF-8 JSON"},
        {"trailing garbage", R"({"kind":"k"} x)", "not valid UTF-8 JSON"},
        {"invalid UTF-8", "{\"kind\":\"k\xff\"}", "not valid UTF-8 JSON"},
        {"array root", R"([1,2])", "not a JSON object"},
        {"no kind", R"({"settings":{}})", "\"kind\""},
        {"empty kind", R"({"kind":""})", "\"kind\""},
        {"numeric kind", R"({"kind":5})", "\"kind\""},
        {"settings not an object", R"({"kind":"k","settings":[]})",
         "\"settings\" is not an object"},
        {"number as setting", R"({"kind":"k","settings":{"port":5985}})",
         "value of \"port\" in \"settings\""},
        {"channel id not a number", R"({"kind":"k","channels":{"one":"x"}})", "channel id \"one\""},
        {"channel id too big", R"({"kind":"k","channels":{"4294967296":"x"}})", "channel id"},
        {"channel name not text", R"({"kind":"k","channels":{"1":null}})", "\"channels\""},
        {"persistent value not text", R"({"kind":"k","persistent_data":{"a":{}}})",
         "\"persistent_data\""},
        {"deeply nested", deep, "not valid UTF-8 JSON"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const auto w = wrap(r.bytes);
        ASSERT_FALSE(w.is_valid());
        EXPECT_NE(w.error()->find(r.reason_contains), std::string::npos) << *w.error();
        EXPECT_EQ(w.get_kind(), "");
        EXPECT_FALSE(w.has_value("port"));
        const auto logged = nlohmann::json::parse(w.to_json());
        EXPECT_EQ(logged.at("error"), *w.error());
    }
    const sensor_data_wrapper null_data(nullptr, 10);
    EXPECT_FALSE(null_data.is_valid());
}

TEST(sensor_data_wrapper, to_json_masks_every_secret) {
    const auto w = wrap(test_support::settings_document(
        "k", {{"shared_windows_credentials_section.shared_windows_credentials_group.password",
               "hunter2"},
              {"zarvelcloudapikey", "cloud-key-1"},
              {"proxy.group.proxy_password", "p2"},
              {"shared_windows_credentials_section.shared_windows_credentials_group.username",
               "admin"}}));
    ASSERT_TRUE(w.is_valid());
    const std::string text = w.to_json();
    for (const char* secret : {"hunter2", "cloud-key-1", "p2\""}) {
        EXPECT_EQ(text.find(secret), std::string::npos) << secret << " in " << text;
    }
    const auto logged = nlohmann::json::parse(text);
    const auto& s = logged.at("settings");
    EXPECT_EQ(s.at("zarvelcloudapikey"), "********");
    EXPECT_EQ(s.at("shared_windows_credentials_section.shared_windows_credentials_group.username"),
              "admin");
    EXPECT_EQ(logged.at("kind"), "k");
    // The values themselves stay readable for the parsers.
    EXPECT_EQ(w.get_value("zarvelcloudapikey"), "cloud-key-1");
    // A truncated document that ends inside the password must not leak it via the reason.
    const auto cut = wrap(R"({"kind":"k","settings":{"x.y.password":"hunter2)");
    ASSERT_FALSE(cut.is_valid());
    EXPECT_EQ(cut.to_json().find("hunter2"), std::string::npos);
}

TEST(sensor_data_wrapper, secret_key_rule) {
    for (const char* key : {"password", "a.b.password", "a.b.proxy_password", "zarvelcloudapikey",
                            "x.client_secret", "x.apikey", "x.bearer_token", "a.b.ProxyPassword",
                            "PASSWORD", "x.ApiKey", "ZarvelCloudApiKey"}) {
        EXPECT_TRUE(sensor_data_wrapper::is_secret_key(key)) << key;
    }
    for (const char* key : {"host", "a.b.username", "a.password.port", "a.b.mode", "tokens"}) {
        EXPECT_FALSE(sensor_data_wrapper::is_secret_key(key)) << key;
    }
}

}  // namespace
