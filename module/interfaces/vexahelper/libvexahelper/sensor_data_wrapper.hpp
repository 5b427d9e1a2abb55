#pragma once

#include <map>
#include <optional>
#include <string>

#include "libvexahelper/export.hpp"

namespace libvexahelper {

// The settings document of one request (UTF-8 JSON, see docs/host-protocol.md). Construction
// never throws for bad input: a malformed or truncated document yields a wrapper whose
// is_valid() is false and whose error() says why; the dispatcher answers it with
// malformed_settings_document.
class VEXAHELPER_API sensor_data_wrapper {
public:
    sensor_data_wrapper(const void* data, unsigned int size);
    virtual ~sensor_data_wrapper();

    bool is_valid() const { return !error_; }
    const std::optional<std::string>& error() const { return error_; }

    // The kind name the request is for ("" when invalid).
    const std::string& get_kind() const { return kind_; }

    // Value text of a setting; throws setting_not_available when the key is absent.
    virtual std::string get_value(const std::string& key) const;
    // Lookup for secrets: an absent key reads as empty, so an unset API key is no error.
    virtual std::string get_secure_value(const std::string& key) const;
    virtual bool has_value(const std::string& key) const;

    std::map<int, std::string> get_channels() const { return channels_; }
    std::map<std::string, std::string> get_persistent_data() const { return persistent_data_; }

    // The document as JSON text for logs, with every secret value replaced by "********";
    // an invalid document gives {"error": reason} and never echoes its bytes.
    std::string to_json() const;

    // Whether a setting key holds a secret: its last dot-separated part, in any letter case,
    // is "zarvelcloudapikey" or ends in "password", "secret", "apikey" or "token".
    static bool is_secret_key(const std::string& key);

private:
    std::optional<std::string> error_;
    std::string kind_;
    std::map<std::string, std::string> settings_;
    std::map<int, std::string> channels_;
    std::map<std::string, std::string> persistent_data_;
};

}  // namespace libvexahelper
