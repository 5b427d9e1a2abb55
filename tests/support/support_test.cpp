#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "libi18n/catalogue.hpp"
#include "libi18n/i18n.hpp"
#include "libstringutils/format.hpp"

namespace {

using libi18n::i18n_msg;
using libstringutils::format;

TEST(format, replaces_placeholders_and_consumes_escapes_once) {
    const struct {
        const char* templ;
        std::vector<std::string> args;
        const char* expected;
    } rows[] = {
        {"plain text", {"a", "b"}, "plain text"},
        {"Available Memory %%", {}, "Available Memory %"},
        {"%%0:s", {"x"}, "%0:s"},
        {"%00:s", {"zero"}, "zero"},
        {"%1:s before %0:s", {"product", "kind"}, "kind before product"},
        {"%0:s%0:s", {"ab"}, "abab"},
        {"%0:s", {"100%% %1:s"}, "100%% %1:s"},  // arguments are never re-scanned
        {"a%%b%%", {}, "a%b%"},
    };
    for (const auto& r : rows) EXPECT_EQ(format(r.templ, r.args), r.expected) << r.templ;
}

TEST(format, malformed_templates_and_missing_arguments_throw_with_their_reason) {
    const struct {
        const char* templ;
        const char* message;
    } rows[] = {
        {"%", "Malformed placeholder in format string."},
        {"x %% %", "Malformed placeholder in format string."},
        {"%s", "Malformed placeholder in format string."},
        {"%0:", "Malformed placeholder in format string."},
        {"%0:x", "Malformed placeholder in format string."},
        {"%:s", "Malformed placeholder in format string."},
        {"%0:s and %2:s", "Index 2 is too high for argument list."},
        {"%007:s", "Index 007 is too high for argument list."},
    };
    for (const auto& r : rows) {
        try {
            format(r.templ, {"a", "b"});
            ADD_FAILURE() << "no exception for " << r.templ;
        } catch (const libstringutils::exceptions::exception& e) {
            EXPECT_STREQ(e.what(), r.message) << r.templ;
        }
    }
    EXPECT_THROW(format("%99999999999999999999999:s", {"a"}), std::out_of_range);
}

TEST(format, placeholders_are_listed_as_written_and_lone_percents_refused) {
    EXPECT_EQ(libstringutils::placeholders("%1:s of %%, %007:s"),
              (std::vector<std::string>{"%1:s", "%%", "%007:s"}));
    EXPECT_TRUE(libstringutils::placeholders("plain").empty());
    EXPECT_THROW(libstringutils::placeholders("100 %"), libstringutils::exceptions::exception);
}

TEST(i18n_msg, arguments_are_escaped_in_the_key_and_plain_in_the_text) {
    const i18n_msg templ{"k", "%0:s"};
    EXPECT_EQ(templ("C:\\").key, "#:k[C\\:\\\\]");
    EXPECT_EQ(templ("C:\\").text, "C:\\");
    EXPECT_EQ(templ("#[],:x").key, "#:k[\\#\\[\\]\\,\\:x]");
    EXPECT_EQ(libi18n::encode_key("k", {"a,b", ""}), "#:k[a\\,b,]");
    const i18n_msg none = i18n_msg{"channel.used", "Memory Used %%"}();
    EXPECT_EQ(none.key, "#:channel.used[]");
    EXPECT_EQ(none.text, "Memory Used %");
    EXPECT_EQ(templ.key, "k");  // the constant itself is untouched
    EXPECT_THROW((i18n_msg{"k", "%1:s"}("only one")), libstringutils::exceptions::exception);
}

TEST(catalogue, every_template_formats) {
    for (std::size_t i = 0; i < libi18n::catalogue::size; ++i) {
        const auto& e = libi18n::catalogue::entries[i];
        EXPECT_NO_THROW(format(e.text, {"x", "y", "z"})) << e.key;
    }
}

}  // namespace
