#include <gtest/gtest.h>

#include "libi18n/i18n.hpp"
#include "texts.hpp"

namespace {

using nlohmann::json;
using wmiprobe::decode_key;
using wmiprobe::decoded_key;
using wmiprobe::text_table;

json tables() {
    return {{"Text",
             {{"English",
               {{"Translation",
                 {{"channel.processor", {{"Display", "Processor %0:s"}}},
                  {"channel.free", {{"Display", "Free Bytes %%"}}},
                  {"error.pair", {{"Display", "%1:s before %0:s"}}},
                  {"error.only_english", {{"Display", "Only %0:s"}}}}}}},
              {"German",
               {{"Translation",
                 {{"channel.processor", {{"Display", "Prozessor %0:s"}}},
                  {"channel.free", {{"Display", "Freie Bytes %%"}}},
                  // A broken translation: one placeholder too many.
                  {"error.pair", {{"Display", "%0:s %1:s %2:s"}}}}}}}}}};
}

TEST(decode_key, splits_encoded_keys_and_undoes_the_escaping) {
    struct row {
        std::string encoded;
        decoded_key expected;
    };
    const row rows[] = {
        {"channel.total", {"channel.total", {}}},
        {"", {"", {}}},
        {"#:channel.processor[0]", {"channel.processor", {"0"}}},
        {"#:error.pair[a,b]", {"error.pair", {"a", "b"}}},
        {"#:error.pair[,]", {"error.pair", {"", ""}}},
        {"#:error.none[]", {"error.none", {}}},
        {"#:error.bare", {"error.bare", {}}},
        {R"(#:k[C:\\dir,x\,y,\[z\]\#\:])", {"k", {R"(C:\dir)", "x,y", "[z]#:"}}},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(decode_key(r.encoded), r.expected) << r.encoded;
    }
}

TEST(decode_key, round_trips_what_the_module_encodes) {
    const std::vector<std::vector<std::string>> argument_sets = {
        {"C:\\"}, {"a,b", "[x]"}, {"#:nested[1]", ""}, {"\\\\server\\share:1"}};
    for (const auto& arguments : argument_sets) {
        const auto encoded = libi18n::encode_key("error.x", arguments);
        EXPECT_EQ(decode_key(encoded), (decoded_key{"error.x", arguments})) << encoded;
    }
}

TEST(decode_key, refuses_malformed_keys) {
    for (const std::string bad : {"#:k[a", "#:k[a]b", "#:k[a\\", "#:k[a\\]"}) {
        EXPECT_FALSE(decode_key(bad).has_value()) << bad;
    }
}

TEST(text_table, translates_with_english_fallback_and_applies_arguments) {
    const text_table german(tables(), "German");
    EXPECT_EQ(german.render("#:channel.processor[3]"), "Prozessor 3");
    EXPECT_EQ(german.render("channel.free"), "Freie Bytes %");
    EXPECT_EQ(german.render("#:error.only_english[x]"), "Only x");
    // The German template does not fit two arguments, so the English one is used.
    EXPECT_EQ(german.render("#:error.pair[a,b]"), "b before a");
    EXPECT_FALSE(german.render("#:error.missing[a]").has_value());
    EXPECT_FALSE(german.render("#:channel.processor[a").has_value());
    // Too few arguments for the template everywhere.
    EXPECT_FALSE(german.render("error.pair").has_value());
}

TEST(text_table, message_texts_fall_back_to_what_the_module_sent) {
    const text_table german(tables(), "German");
    EXPECT_EQ(german.render_message({{"key", "#:channel.processor[1]"}, {"text", "Processor 1"}}),
              "Prozessor 1");
    EXPECT_EQ(german.render_message({{"key", "error.unknown"}, {"text", "Sent text"}}),
              "Sent text");
    EXPECT_EQ(german.render_message({{"key", ""}, {"text", "Untranslatable"}}), "Untranslatable");
    EXPECT_EQ(german.render_message(nullptr), "");
}

TEST(text_table, unknown_language_names_the_known_ones) {
    try {
        text_table(tables(), "Klingon");
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("English, German"), std::string::npos) << e.what();
    }
    EXPECT_THROW(text_table(json::object(), "English"), std::invalid_argument);
}

}  // namespace
