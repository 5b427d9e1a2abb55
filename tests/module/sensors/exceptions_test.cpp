#include <gtest/gtest.h>

#include "framework/exceptions.hpp"

namespace {

namespace ex = wmi::exceptions;

TEST(module_exceptions, carry_encoded_key_and_formatted_text) {
    const ex::required_field_unavailable e("Win32_PerfRawData_PerfOS_PagingFile", "PercentUsage");
    EXPECT_EQ(e.get_i18n_msg().key,
              "#:error.required_field_unavailable[Win32_PerfRawData_PerfOS_PagingFile,"
              "PercentUsage]");
    EXPECT_STREQ(e.what(),
                 "The WMI class 'Win32_PerfRawData_PerfOS_PagingFile' returned a result but the "
                 "required field 'PercentUsage' was not available. Make sure the credentials you "
                 "use grant sufficient permissions on the target device.");

    const ex::windows_security_product_not_found w("Defender", "antivirus");
    EXPECT_EQ(w.get_i18n_msg().key, "#:error.windows_security_product_not_found[Defender,antivirus]");
    EXPECT_EQ(std::string(w.what()).substr(0, 48), "Could not find the antivirus product 'Defender'.");

    const ex::volume_not_found v(R"(\\?\Volume{1}\)");
    EXPECT_EQ(v.get_i18n_msg().key, R"(#:error.volume_not_found[\\\\?\\Volume{1}\\])");
    EXPECT_EQ(std::string(v.what()).substr(0, 38), R"(Could not find volume '\\?\Volume{1}\')");

    const ex::total_memory_is_zero t;
    EXPECT_EQ(t.get_i18n_msg().key, "#:error.total_memory_is_zero[]");
}

TEST(module_exceptions, are_caught_through_every_family_base) {
    auto thrower = [] { throw ex::no_volumes_found(); };
    EXPECT_THROW(thrower(), ex::exception);
    EXPECT_THROW(thrower(), libi18n::i18n_exception);
    EXPECT_THROW(thrower(), libexception::exception);
    EXPECT_THROW(thrower(), std::exception);
    try {
        throw ex::wmi_class_no_result("Win32_OperatingSystem");
    } catch (const ex::exception& e) {
        EXPECT_EQ(e.get_i18n_msg().text, e.what());
    }
}

}  // namespace
