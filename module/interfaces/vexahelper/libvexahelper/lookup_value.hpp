#pragma once

#include <cstdint>
#include <string>

#include "libvexahelper/exceptions.hpp"

namespace libvexahelper {

// A channel value of a lookup channel: accepts exactly First..Last and throws
// invalid_lookup_value (naming the valid values) for anything else.
template <std::uint64_t First, std::uint64_t Last>
class lookup_value {
    static_assert(First <= Last);

public:
    explicit lookup_value(std::uint64_t value) : value_(value) {
        if (value < First || value > Last) {
            throw utils::exceptions::invalid_lookup_value(std::to_string(value), valid_values());
        }
    }

    std::uint64_t value() const { return value_; }

    // "0, 1, 2" for lookup_value<0, 2>.
    static std::string valid_values() {
        std::string list;
        for (std::uint64_t v = First;; ++v) {
            list += std::to_string(v);
            if (v == Last) break;
            list += ", ";
        }
        return list;
    }

    bool operator==(const lookup_value&) const = default;

private:
    std::uint64_t value_;
};

}  // namespace libvexahelper
