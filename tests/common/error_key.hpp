#pragma once

#include <exception>
#include <functional>
#include <string>

#include "libi18n/i18n.hpp"

namespace test_support {

// The message key an action fails with: "libwql.error.access_denied" from
// "#:libwql.error.access_denied[...]"; "std::exception: <what>" or "no exception" otherwise.
inline std::string error_key(const std::function<void()>& action) {
    try {
        action();
    } catch (const libi18n::i18n_exception& e) {
        const auto key = e.get_i18n_msg().key;
        return key.substr(2, key.find('[') - 2);
    } catch (const std::exception& e) {
        return std::string("std::exception: ") + e.what();
    }
    return "no exception";
}

}  // namespace test_support
