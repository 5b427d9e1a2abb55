#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "libvexahelper/export.hpp"

namespace libvexahelper {

// A channel definition as the host receives it in a dynamic_channel message. Field order is
// part of the host protocol; defaults are what every sensor starts from. The numeric codes are
// passed to the host unchanged (value type 1 integer, 2 counter difference, 3 floating point).
struct dynamic_channel_options {
    int channel_id = 0;
    std::string key;           // "channel." + the channel's name
    std::string display_name;  // empty, or the encoded key of a translatable name
    std::uint32_t value_type = 1;
    std::uint32_t unit = 7;
    std::string custom_unit;
    std::uint32_t reserved_1 = 0;
    std::uint32_t reserved_2 = 0;
    std::uint32_t size_unit = 0;
    bool is_hidden = false;
    bool show_chart = true;
    bool show_table = true;
    std::uint32_t reserved_3 = 0;
    std::uint32_t reserved_4 = 0;
    bool limits_enabled = false;
    std::optional<double> lower_warning_limit;
    std::optional<double> upper_warning_limit;
    std::optional<double> lower_error_limit;
    std::optional<double> upper_error_limit;
    std::string warning_limit_message;
    std::string error_limit_message;
    std::string lookup_name;
    bool notify_changed = false;
    double factor = 1.0;

    bool operator==(const dynamic_channel_options&) const = default;
};

// Channels of one sensor: those the host already knew at creation (id to name, from the
// settings document) and the definitions the sensor registered since. Thread-safe.
class VEXAHELPER_API channel_map {
public:
    channel_map() = default;
    explicit channel_map(std::map<int, std::string> known_to_runtime);

    // True when exactly this definition (every field) was registered before.
    bool is_definition_registered(const dynamic_channel_options& options) const;
    // Replaces an earlier definition with the same channel id.
    void register_definition(const dynamic_channel_options& options);
    // True when the host listed this id in the settings document.
    bool is_known_to_runtime(const int& channel_id) const;
    // Registered here or known to the host.
    bool is_defined(int channel_id) const;
    std::optional<dynamic_channel_options> definition(int channel_id) const;
    std::map<int, std::string> known_to_runtime() const;

private:
    mutable std::mutex mutex_;
    std::map<int, std::string> known_;
    std::map<int, dynamic_channel_options> definitions_;
};

}  // namespace libvexahelper
