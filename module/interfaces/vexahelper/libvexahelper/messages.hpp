#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "libi18n/i18n.hpp"
#include "libvexahelper/channel_map.hpp"
#include "libvexahelper/export.hpp"

// Everything the module sends to the host. Each message serialises to one UTF-8 JSON object
// whose "type" member names it; docs/host-protocol.md lists every field.
namespace libvexahelper {

// Response codes carried inside results (not the return codes of the exports).
enum class scan_response_codes : int {
    ok = 0,
    warning = 1,
    down = 2,
    error = 3,    // a sensor scan failed; the result carries the error message
    no_data = 4,  // the scan produced no values yet (reserved for sensors)
    metascan_error = 5,
};

class VEXAHELPER_API vexa_message {
public:
    virtual ~vexa_message();
    // UTF-8 JSON, no terminating zero. Invalid UTF-8 in texts is replaced, never rejected.
    virtual std::vector<char> serialize() const = 0;
};

class VEXAHELPER_API sensor_scan_result : public vexa_message {
public:
    using channel_value = std::variant<long long, double>;

    // With a channel map, set_value rejects channel ids that are neither registered nor known
    // to the host (channel_not_defined).
    sensor_scan_result(int sensor_id, std::shared_ptr<channel_map> channels);
    sensor_scan_result(int sensor_id, const libi18n::i18n_exception& error);
    sensor_scan_result(int sensor_id, const std::exception& error);

    sensor_scan_result& set_value(int channel_id, double value);
    sensor_scan_result& set_value(int channel_id, long long value);
    sensor_scan_result& set_response_message(const libi18n::i18n_msg& message);
    sensor_scan_result& set_response_code(scan_response_codes code);
    sensor_scan_result& set_error_code(int code);
    sensor_scan_result& set_system_reset(bool reset);

    int sensor_id() const { return sensor_id_; }
    scan_response_codes response_code() const { return response_code_; }
    int error_code() const { return error_code_; }
    const std::optional<libi18n::i18n_msg>& response_message() const { return message_; }
    // Values in the order they were set; setting a channel again replaces its value in place.
    const std::vector<std::pair<int, channel_value>>& values() const { return values_; }

    std::vector<char> serialize() const override;

private:
    void put(int channel_id, channel_value value);

    int sensor_id_;
    std::shared_ptr<channel_map> channels_;
    std::vector<std::pair<int, channel_value>> values_;
    std::optional<libi18n::i18n_msg> message_;
    scan_response_codes response_code_ = scan_response_codes::ok;
    int error_code_ = 0;
    bool system_reset_ = false;
};

class VEXAHELPER_API meta_scan_result : public vexa_message {
public:
    struct entry {
        libi18n::i18n_msg display_name;
        std::unordered_map<std::string, std::string> values;
    };

    meta_scan_result(int sensor_id, unsigned int request);
    meta_scan_result(int sensor_id, unsigned int request, const libi18n::i18n_exception& error);
    meta_scan_result(int sensor_id, unsigned int request, const std::exception& error);

    meta_scan_result& add_entry(const libi18n::i18n_msg& display_name,
                                const std::unordered_map<std::string, std::string>& values);
    meta_scan_result& response(const scan_response_codes& code);

    const std::vector<entry>& entries() const { return entries_; }
    scan_response_codes response_code() const { return response_code_; }
    const std::optional<libi18n::i18n_msg>& error_message() const { return message_; }

    std::vector<char> serialize() const override;

private:
    int sensor_id_;
    unsigned int request_;
    std::vector<entry> entries_;
    std::optional<libi18n::i18n_msg> message_;
    scan_response_codes response_code_ = scan_response_codes::ok;
};

class VEXAHELPER_API check_result : public vexa_message {
public:
    explicit check_result(int sensor_id);

    check_result& set_success(bool success);
    // Why the check failed, shown to the user.
    check_result& set_message(const libi18n::i18n_msg& message);

    bool success() const { return success_; }
    std::vector<char> serialize() const override;

private:
    int sensor_id_;
    bool success_ = false;
    std::optional<libi18n::i18n_msg> message_;
};

class VEXAHELPER_API dynamic_channel : public vexa_message {
public:
    dynamic_channel(int sensor_id, dynamic_channel_options options);
    const dynamic_channel_options& options() const { return options_; }
    std::vector<char> serialize() const override;

private:
    int sensor_id_;
    dynamic_channel_options options_;
};

class VEXAHELPER_API persistent_data : public vexa_message {
public:
    persistent_data(int sensor_id, std::string key, std::string value);
    std::vector<char> serialize() const override;

private:
    int sensor_id_;
    std::string key_;
    std::string value_;
};

class VEXAHELPER_API metascan_progress : public vexa_message {
public:
    metascan_progress(int sensor_id, unsigned int request, int progress, const std::string& text);
    std::vector<char> serialize() const override;

private:
    int sensor_id_;
    unsigned int request_;
    int progress_;
    std::string text_;
};

// The module information document for the host; without texts the document's "Text" member
// is left out. Throws message_serialization_failed when the document is not a JSON object.
class VEXAHELPER_API module_information_message : public vexa_message {
public:
    module_information_message(const std::string& document, bool include_text);
    std::vector<char> serialize() const override;

private:
    std::string document_;
    bool include_text_;
};

// Why a CreateSensorInstance request made no sensor (the return code says the same as a
// number); the message carries the reason for the user.
class VEXAHELPER_API sensor_create_error : public vexa_message {
public:
    sensor_create_error(int sensor_id, int response_code, const libi18n::i18n_msg& message);
    std::vector<char> serialize() const override;

private:
    int sensor_id_;
    int response_code_;
    libi18n::i18n_msg message_;
};

}  // namespace libvexahelper
