#include <gtest/gtest.h>

#include "libi18n/i18n.hpp"
#include "probe_data.hpp"
#include "texts.hpp"

namespace {

using nlohmann::json;
using wmiprobe::decode_key;
using wmiprobe::decoded_key;
using wmiprobe::text_table;

TEST(decode_key, splits_encoded_keys_undoes_escaping_and_refuses_malformed_ones) {
    const std::pair<std::string, std::optional<decoded_key>> rows[] = {
        {"channel.total", decoded_key{"channel.total", {}}},
        {"#:error.pair[a,b]", decoded_key{"error.pair", {"a", "b"}}},
        {"#:error.pair[,]", decoded_key{"error.pair", {"", ""}}},
        {"#:error.none[]", decoded_key{"error.none", {}}},
        {"#:error.bare", decoded_key{"error.bare", {}}},
        {R"(#:k[C:\\dir,x\,y,\[z\]\#\:])", decoded_key{"k", {R"(C:\dir)", "x,y", "[z]#:"}}},
        {"#:k[a", std::nullopt},
        {"#:k[a]b", std::nullopt},
        {"#:k[a\\", std::nullopt},
        {"#:k[a\\]", std::nullopt},
    };
    for (const auto& [encoded, expected] : rows) {
        EXPECT_EQ(decode_key(encoded), expected) << encoded;
    }
    // Whatever the module encodes comes back unchanged.
    for (const auto& arguments :
         {std::vector<std::string>{"C:\\"}, {"a,b", "[x]"}, {"#:nested[1]", ""}}) {
        EXPECT_EQ(decode_key(libi18n::encode_key("error.x", arguments)),
                  (decoded_key{"error.x", arguments}));
    }
}

// Translations and their fallbacks as shown are checked in data/verdicts.json; these are the
// keys that must render to nothing, so that the text the module sent is shown instead.
TEST(text_table, renders_nothing_for_unknown_malformed_or_unfit_keys) {
    const json document = probe_data("document.json");
    const text_table german(document, "German");
    for (const std::string key : {"#:error.missing[a]", "#:channel.processor[a", "error.pair",
                                  "#:error.refused[a] #:error.missing[b]"}) {
        EXPECT_EQ(german.render(key), std::nullopt) << key;
    }
    EXPECT_EQ(german.render_message({{"key", "error.unknown"}, {"text", "Sent text"}}),
              "Sent text");
    try {
        text_table(document, "Klingon");
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("English, German"), std::string::npos) << e.what();
    }
    EXPECT_THROW(text_table(json::object(), "English"), std::invalid_argument);
}

}  // namespace
