#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "libi18n/catalogue.hpp"
#include "libi18n/i18n.hpp"
#include "libstringutils/format.hpp"

namespace {

using libi18n::i18n_msg;

TEST(i18n_msg, applying_arguments_encodes_key_and_formats_text) {
    const i18n_msg templ{"error.required_field_unavailable",
                         "The WMI class '%0:s' returned a result but the required field '%1:s'"};
    const i18n_msg m = templ("Win32_PerfRawData_PerfOS_PagingFile", "PercentUsage");
    EXPECT_EQ(m.key,
              "#:error.required_field_unavailable[Win32_PerfRawData_PerfOS_PagingFile,"
              "PercentUsage]");
    EXPECT_EQ(m.text,
              "The WMI class 'Win32_PerfRawData_PerfOS_PagingFile' returned a result but the "
              "required field 'PercentUsage'");
    // The constant itself is untouched.
    EXPECT_EQ(templ.key, "error.required_field_unavailable");
}

TEST(i18n_msg, escapes_the_six_special_characters_in_arguments_only) {
    const i18n_msg templ{"k", "%0:s"};
    const i18n_msg drive = templ("C:\\");
    EXPECT_EQ(drive.key, "#:k[C\\:\\\\]");
    EXPECT_EQ(drive.text, "C:\\");
    EXPECT_EQ(templ("#[],:x").key, "#:k[\\#\\[\\]\\,\\:x]");
    EXPECT_EQ(templ("plain-text_ok").key, "#:k[plain-text_ok]");
    EXPECT_EQ(libi18n::encode_key("k", {"a,b", ""}), "#:k[a\\,b,]");
}

TEST(i18n_msg, zero_arguments_keep_text_but_mark_the_key) {
    const i18n_msg m = i18n_msg{"channel.used_memory_percent", "Memory Used %%"}();
    EXPECT_EQ(m.key, "#:channel.used_memory_percent[]");
    EXPECT_EQ(m.text, "Memory Used %");
}

TEST(i18n_msg, accepts_character_arrays_pointers_and_strings) {
    const i18n_msg templ{"k", "%0:s/%1:s"};
    const char* ptr = "p";
    const std::string str = "s";
    EXPECT_EQ(templ("arr", ptr).text, "arr/p");
    EXPECT_EQ(templ(str, "arr").text, "s/arr");
}

TEST(i18n_msg, bad_template_propagates_without_a_result) {
    const i18n_msg templ{"k", "%1:s"};
    EXPECT_THROW(templ("only one"), libstringutils::exceptions::placeholder_index_not_in_arguments);
}

TEST(i18n_exception, what_equals_message_text) {
    const libi18n::i18n_exception e(i18n_msg{"#:k[a]", "text a"});
    EXPECT_STREQ(e.what(), "text a");
    EXPECT_EQ(e.get_i18n_msg().text, e.what());
    EXPECT_EQ(e.get_i18n_msg().key, "#:k[a]");
    const std::exception& base = e;
    EXPECT_STREQ(base.what(), "text a");
}

TEST(catalogue, keys_are_unique_and_every_template_formats_with_its_arity) {
    std::set<std::string> keys;
    for (std::size_t i = 0; i < libi18n::catalogue::size; ++i) {
        const auto& e = libi18n::catalogue::entries[i];
        EXPECT_TRUE(keys.insert(e.key).second) << "duplicate " << e.key;
        // Highest placeholder index + 1 arguments must format; no template may be malformed.
        std::vector<std::string> args;
        const std::string text = e.text;
        for (int n = 0; n <= 2; ++n) {
            if (text.find("%" + std::to_string(n) + ":s") != std::string::npos) {
                args.resize(static_cast<std::size_t>(n) + 1, "x");
            }
        }
        EXPECT_NO_THROW(libstringutils::format(text, args)) << e.key;
    }
    EXPECT_EQ(libi18n::catalogue::channel_processor("CPU 0").text, "Processor CPU 0");
    EXPECT_EQ(libi18n::catalogue::error_windows_security_product_not_found("Defender", "antivirus")
                  .text.substr(0, 43),
              "Could not find the antivirus product 'Defen");
}

TEST(catalogue, group_sizes_match_the_product_family) {
    std::map<std::string, int> groups;
    for (std::size_t i = 0; i < libi18n::catalogue::size; ++i) {
        const std::string key = libi18n::catalogue::entries[i].key;
        std::string group = key.substr(0, key.find('.'));
        if (group == "libwql" || group == "libvexahelper") group = key.substr(0, key.find('.', group.size() + 1));
        ++groups[group];
    }
    const std::map<std::string, int> expected = {
        {"channel", 78},          {"lookup", 84},         {"error", 23},
        {"message", 17},          {"metascan", 17},       {"libwql.error", 18},
        {"libvexahelper.error", 31}, {"libjsonparser", 6}, {"libparser", 2},
        {"libtimeutils", 2},      {"libi18n", 1}};
    EXPECT_EQ(groups, expected);
}

}  // namespace
