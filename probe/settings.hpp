#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace wmiprobe {

// A mistake in what the user asked for (unknown kind, unknown or secret --set key, unreadable
// password file); the probe maps it to exit code 2.
class usage_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class kind_role { sensor, metascan, check };

// One kind of the module information document, with what a host needs to run it.
struct kind_entry {
    kind_role role = kind_role::sensor;
    std::string name;
    std::vector<std::string> sections;
    // Sensors only: the meta-scan to run first, and the section its chosen entry fills.
    std::optional<std::string> first_meta_step;
    std::optional<std::string> discovered_section;
};

// The kinds and settings of a module information document (the `document` member of the
// module_information message).
class module_catalogue {
public:
    explicit module_catalogue(nlohmann::json document);

    const nlohmann::json& document() const { return document_; }
    const std::vector<kind_entry>& kinds() const { return kinds_; }
    std::vector<const kind_entry*> kinds_of(kind_role role) const;
    // Throws usage_error naming the kinds of that role when there is no such kind.
    const kind_entry& find(kind_role role, const std::string& name) const;

    // Every setting key of `kind` with its default text, common host settings included;
    // keys as the settings document uses them.
    std::map<std::string, std::string> default_settings(const kind_entry& kind) const;
    // section.group.setting keys of the groups of `section`.
    std::vector<std::string> section_keys(const std::string& section) const;

private:
    nlohmann::json document_;
    std::vector<kind_entry> kinds_;
};

// The target and credentials as given on the command line.
struct target_options {
    std::string host;
    std::optional<int> port;
    bool https = false;
    std::string domain;
    std::string user;
    std::string password;
};

inline constexpr const char* credentials_prefix =
    "shared_windows_credentials_section.shared_windows_credentials_group.";
inline constexpr const char* compatibility_prefix =
    "shared_windows_compatibility_section.shared_windows_compatibility_group.";

// True for keys whose values the module masks: the last dot-separated part is
// "zarvelcloudapikey" or ends in "password", "secret", "apikey" or "token".
bool is_secret_key(const std::string& key);

// Splits one --set argument "key=value" at the first '='. Throws usage_error without '=' or
// with an empty key.
std::pair<std::string, std::string> parse_assignment(const std::string& argument);

// The settings of one request: the document's defaults, then the target options, then each
// --set assignment in order. Throws usage_error for a key the kind does not have or a secret
// given on the command line.
std::map<std::string, std::string> build_settings(const module_catalogue& catalogue,
                                                  const kind_entry& kind,
                                                  const target_options& target,
                                                  const std::vector<std::string>& assignments);

// The settings document of one request as the host protocol defines it.
std::string settings_document(const std::string& kind,
                              const std::map<std::string, std::string>& settings,
                              const std::map<int, std::string>& channels = {},
                              const std::map<std::string, std::string>& persistent_data = {});

// The password from the first line of a file, else from WMIPROBE_PASSWORD, else empty.
// Throws usage_error when the file cannot be read.
std::string read_password(const std::optional<std::string>& password_file);

}  // namespace wmiprobe
