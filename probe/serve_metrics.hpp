#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace wmiprobe {

using label_set = std::vector<std::pair<std::string, std::string>>;

// A metric or label name made of [a-zA-Z0-9_:], lower case, runs of other characters turned
// into one '_', never starting with a digit.
std::string metric_name(std::string_view text);

// A label value as the text exposition format quotes it: backslash, double quote and line
// feed escaped.
std::string escape_label_value(std::string_view value);

// Text for HTML element content and attribute values.
std::string escape_html(std::string_view text);

// How a channel's unit code becomes a base unit: the name suffix and the factor from the
// module's value to that unit. `rate` is a cumulative counter shown per second.
struct base_unit {
    std::string suffix;
    double scale = 1.0;
};
base_unit channel_base_unit(unsigned int unit, const std::string& custom_unit, bool rate);

// The family name of a channel of a sensor kind: "wmi_<kind without _sensor>_<channel>_<unit>",
// where <channel> is the base of the channel's key, or of its display name's key when the
// display name carries arguments (those channels are told apart by the `channel` label).
std::string channel_family(const std::string& kind, const nlohmann::json& definition, bool rate);

// Metric families in the Prometheus text exposition format 0.0.4. Samples of a family are
// written together under one HELP and TYPE whatever order they were added in.
class exposition {
public:
    // The first HELP and TYPE given for a family are kept.
    void add(const std::string& family, const std::string& help, const std::string& type,
             const label_set& labels, double value);
    std::string text() const;

private:
    struct family_samples {
        std::string help;
        std::string type;
        std::vector<std::pair<label_set, double>> samples;
    };
    std::map<std::string, family_samples> families_;
};

}  // namespace wmiprobe
