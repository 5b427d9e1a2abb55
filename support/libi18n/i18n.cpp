#include "libi18n/i18n.hpp"

#include "libstringutils/format.hpp"

namespace libi18n {

std::string encode_key(const std::string& key, const std::vector<std::string>& arguments) {
    std::string encoded = "#:" + key + "[";
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) encoded += ',';
        for (const char c : arguments[i]) {
            switch (c) {
                case '\\':
                case '#':
                case '[':
                case ']':
                case ',':
                case ':':
                    encoded += '\\';
                    break;
                default:
                    break;
            }
            encoded += c;
        }
    }
    encoded += ']';
    return encoded;
}

i18n_msg i18n_msg::apply(const std::vector<std::string>& arguments) const {
    // Format first: a bad template must not yield a half-built message.
    std::string formatted = libstringutils::format(text, arguments);
    return i18n_msg{encode_key(key, arguments), std::move(formatted)};
}

}  // namespace libi18n
