#pragma once

#include <map>
#include <optional>
#include <string>

#include "libvexahelper/export.hpp"

namespace libvexahelper {

// String values a sensor keeps between scans and across re-creation; the host stores them and
// returns them in the next settings document. Not synchronised: a sensor's calls are
// serialised by the dispatcher.
class VEXAHELPER_API persistent_data_storage {
public:
    persistent_data_storage() = default;
    explicit persistent_data_storage(std::map<std::string, std::string> values);

    bool exists(const std::string& key) const;
    // Throws std::out_of_range for an absent key.
    const std::string& at(const std::string& key) const;
    std::optional<std::string> at_opt(const std::string& key) const;
    std::string& operator[](const std::string& key);
    const std::map<std::string, std::string>& values() const { return values_; }

private:
    std::map<std::string, std::string> values_;
};

}  // namespace libvexahelper
