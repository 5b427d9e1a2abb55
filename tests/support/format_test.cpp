#include <gtest/gtest.h>

#include <stdexcept>

#include "libstringutils/format.hpp"

namespace {

using libstringutils::format;
namespace ex = libstringutils::exceptions;

TEST(format, replaces_placeholders_and_escapes) {
    struct row {
        const char* templ;
        std::vector<std::string> args;
        const char* expected;
    };
    const row rows[] = {
        {"plain text", {}, "plain text"},
        {"plain text", {"a", "b"}, "plain text"},
        {"Available Memory %%", {}, "Available Memory %"},
        {"%%0:s", {"x"}, "%0:s"},  // the escape is consumed first
        {"%00:s", {"zero"}, "zero"},
        {"%1:s before %0:s", {"product", "kind"}, "kind before product"},
        {"%0:s%0:s", {"ab"}, "abab"},
        {"%0:s", {"100%% %1:s"}, "100%% %1:s"},  // arguments are never re-scanned
        {"", {}, ""},
        {"%0:s", {""}, ""},
        {"a%%b%%", {}, "a%b%"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(format(r.templ, r.args), r.expected) << r.templ;
    }
}

TEST(format, malformed_placeholders_throw) {
    const char* malformed[] = {"%", "end %", "%s", "%0", "%0:", "%0:x", "%a", "%:s", "x %% %"};
    for (const char* t : malformed) {
        try {
            format(t, {"a", "b"});
            ADD_FAILURE() << "no exception for " << t;
        } catch (const ex::format_string_error& e) {
            EXPECT_STREQ(e.what(), "Malformed placeholder in format string.") << t;
        }
    }
}

TEST(format, index_beyond_arguments_names_the_digits_as_written) {
    try {
        format("%0:s and %2:s", {"a", "b"});
        FAIL();
    } catch (const ex::placeholder_index_not_in_arguments& e) {
        EXPECT_STREQ(e.what(), "Index 2 is too high for argument list.");
    }
    try {
        format("%007:s", {});
        FAIL();
    } catch (const ex::placeholder_index_not_in_arguments& e) {
        EXPECT_STREQ(e.what(), "Index 007 is too high for argument list.");
    }
    EXPECT_THROW(format("%99999999999999999999999:s", {"a"}), std::out_of_range);
}

TEST(format, exceptions_share_the_string_library_family) {
    EXPECT_THROW(format("%", {}), ex::exception);
    EXPECT_THROW(format("%1:s", {}), libexception::exception);
}

}  // namespace
