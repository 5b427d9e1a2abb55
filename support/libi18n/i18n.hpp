#pragma once

#include <string>
#include <utility>
#include <vector>

#include "libexception/exception.hpp"

namespace libi18n {

// A translatable message: the key the host translates by, and the English text.
// A message with arguments applied carries the encoded key "#:" + key + "[a,b]" and the
// formatted text, so the host can format its translation with the same arguments.
struct i18n_msg {
    std::string key;
    std::string text;

    i18n_msg operator()() const { return apply({}); }
    i18n_msg operator()(std::string a0) const { return apply({std::move(a0)}); }
    i18n_msg operator()(std::string a0, std::string a1) const {
        return apply({std::move(a0), std::move(a1)});
    }

    bool operator==(const i18n_msg&) const = default;

private:
    i18n_msg apply(const std::vector<std::string>& arguments) const;
};

// The encoded key for `key` with `arguments`; each of \ # [ ] , : in an argument is
// preceded by a backslash.
std::string encode_key(const std::string& key, const std::vector<std::string>& arguments);

class i18n_exception : public libexception::exception {
public:
    explicit i18n_exception(const i18n_msg& msg) : exception(msg.text), msg_(msg) {}
    virtual i18n_msg get_i18n_msg() const { return msg_; }

private:
    i18n_msg msg_;
};

// Distinct class identity over Base with Base's constructors.
template <typename Base>
class _i18n_exception : public Base {
public:
    using Base::Base;
};

}  // namespace libi18n
