#pragma once

#include <exception>
#include <string>
#include <utility>

namespace libexception {

// Root of every exception family of the product: one text, returned by what().
class exception : public std::exception {
public:
    explicit exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// Adds only a distinct class identity to Base, so families can be caught apart.
template <typename Base>
class _exception : public Base {
public:
    using Base::Base;
};

}  // namespace libexception
