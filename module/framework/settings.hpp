#pragma once

#include <array>
#include <optional>
#include <string>

#include "framework/selections.hpp"
#include "framework/settings_fields.hpp"

// The settings records of every kind. Each group lists its fields once, in parsing order, with
// kind, limits and presence; a kind's record is the list of its groups. Parsing: common, then
// credentials, then compatibility, then the kind's own groups.
namespace wmi::settings {

// Settings every request carries from the host, under bare keys.
struct common_group {
    static constexpr const char* section = nullptr;
    static constexpr const char* group = nullptr;

    std::string host;
    settings::logging logging = settings::logging::disabled;
    long long timeout = 60;  // seconds
    std::string zarvelcloudapikey;
    settings::ipversion ipversion = settings::ipversion::ipv4;
    long long interval = 60;  // seconds between scans

    static constexpr auto fields() {
        using g = common_group;
        return std::array<field<g>, 6>{{
            {"host", &read_text<&g::host>},
            {"logging", &read_selection<&g::logging, &parse_logging, presence::optional>},
            {"timeout", &read_integer<&g::timeout, at_least(0), presence::optional>},
            {"zarvelcloudapikey", &read_secret<&g::zarvelcloudapikey, presence::optional>},
            {"ipversion", &read_selection<&g::ipversion, &parse_ipversion, presence::optional>},
            {"interval", &read_integer<&g::interval, at_least(1), presence::optional>},
        }};
    }
};

struct credentials_group {
    static constexpr const char* section = "shared_windows_credentials_section";
    static constexpr const char* group = "shared_windows_credentials_group";

    std::string domain;
    std::string username;
    std::string password;
    settings::mode mode = settings::mode::negotiate;

    static constexpr auto fields() {
        using g = credentials_group;
        return std::array<field<g>, 4>{{
            {"domain", &read_text<&g::domain>},
            {"username", &read_text<&g::username>},
            {"password", &read_secret<&g::password>},
            {"mode", &read_selection<&g::mode, &parse_mode>},
        }};
    }
};

struct compatibility_group {
    static constexpr const char* section = "shared_windows_compatibility_section";
    static constexpr const char* group = "shared_windows_compatibility_group";

    long long port = 5985;
    settings::protocol protocol = settings::protocol::http;

    static constexpr auto fields() {
        using g = compatibility_group;
        return std::array<field<g>, 2>{{
            {"port", &read_integer<&g::port, between(1, 65535)>},
            {"protocol", &read_selection<&g::protocol, &parse_protocol>},
        }};
    }
};

struct service_group {
    static constexpr const char* section = "service_section";
    static constexpr const char* group = "service_group";

    settings::extended_monitoring extended_monitoring = settings::extended_monitoring::disabled;

    static constexpr auto fields() {
        using g = service_group;
        return std::array<field<g>, 1>{{
            {"extended_monitoring",
             &read_selection<&g::extended_monitoring, &parse_extended_monitoring>},
        }};
    }
};

struct print_queue_group {
    static constexpr const char* section = "print_queue_section";
    static constexpr const char* group = "print_queue_group";

    settings::advanced_status_options advanced_status_options =
        settings::advanced_status_options::standard;
    condition_action door_open = condition_action::ignore;
    condition_action manual_feed_required = condition_action::ignore;
    condition_action needs_user_intervention = condition_action::ignore;
    condition_action offline = condition_action::ignore;
    condition_action out_of_memory = condition_action::ignore;
    condition_action out_of_paper = condition_action::ignore;
    condition_action paper_jammed = condition_action::ignore;
    condition_action paper_problem = condition_action::ignore;
    condition_action paused = condition_action::ignore;
    condition_action printer_error = condition_action::ignore;
    condition_action printer_not_available = condition_action::ignore;
    condition_action toner_low = condition_action::ignore;
    condition_action toner_out = condition_action::ignore;
    std::optional<long long> min_print_job_age;  // seconds; no value counts every job

    static constexpr auto fields() {
        using g = print_queue_group;
        return std::array<field<g>, 15>{{
            {"advanced_status_options",
             &read_selection<&g::advanced_status_options, &parse_advanced_status_options>},
            {"door_open", &read_selection<&g::door_open, &parse_door_open>},
            {"manual_feed_required",
             &read_selection<&g::manual_feed_required, &parse_manual_feed_required>},
            {"needs_user_intervention",
             &read_selection<&g::needs_user_intervention, &parse_needs_user_intervention>},
            {"offline", &read_selection<&g::offline, &parse_offline>},
            {"out_of_memory", &read_selection<&g::out_of_memory, &parse_out_of_memory>},
            {"out_of_paper", &read_selection<&g::out_of_paper, &parse_out_of_paper>},
            {"paper_jammed", &read_selection<&g::paper_jammed, &parse_paper_jammed>},
            {"paper_problem", &read_selection<&g::paper_problem, &parse_paper_problem>},
            {"paused", &read_selection<&g::paused, &parse_paused>},
            {"printer_error", &read_selection<&g::printer_error, &parse_printer_error>},
            {"printer_not_available",
             &read_selection<&g::printer_not_available, &parse_printer_not_available>},
            {"toner_low", &read_selection<&g::toner_low, &parse_toner_low>},
            {"toner_out", &read_selection<&g::toner_out, &parse_toner_out>},
            {"min_print_job_age",
             &read_integer<&g::min_print_job_age, at_least(0), presence::optional>},
        }};
    }
};

struct microsoft_sql_server_group {
    static constexpr const char* section = "microsoft_sql_server_section";
    static constexpr const char* group = "microsoft_sql_server_group";

    // Multiple selection as sent by the host; the SQL Server sensor splits it.
    std::string performance_counters;

    static constexpr auto fields() {
        using g = microsoft_sql_server_group;
        return std::array<field<g>, 1>{{
            {"performance_counters", &read_text<&g::performance_counters>},
        }};
    }
};

// Groups a chosen meta-scan row fills in. The identifying setting is required; the columns
// shown only in the meta-scan table may be absent.
struct logical_disk_io_metascan_group {
    static constexpr const char* section = "logical_disk_io_metascan_section";
    static constexpr const char* group = "logical_disk_io_metascan_group";
    std::string name;
    static constexpr auto fields() {
        using g = logical_disk_io_metascan_group;
        return std::array<field<g>, 1>{{{"name", &read_text<&g::name>}}};
    }
};

struct microsoft_sql_server_metascan_group {
    static constexpr const char* section = "microsoft_sql_server_metascan_section";
    static constexpr const char* group = "microsoft_sql_server_metascan_group";
    std::string service_name;
    std::string display_name;
    static constexpr auto fields() {
        using g = microsoft_sql_server_metascan_group;
        return std::array<field<g>, 2>{{
            {"service_name", &read_text<&g::service_name>},
            {"display_name", &read_text<&g::display_name, presence::optional>},
        }};
    }
};

struct network_card_metascan_group {
    static constexpr const char* section = "network_card_metascan_section";
    static constexpr const char* group = "network_card_metascan_group";
    std::string name;
    std::string ip_addresses;
    std::string mac_address;
    static constexpr auto fields() {
        using g = network_card_metascan_group;
        return std::array<field<g>, 3>{{
            {"name", &read_text<&g::name>},
            {"ip_addresses", &read_text<&g::ip_addresses, presence::optional>},
            {"mac_address", &read_text<&g::mac_address, presence::optional>},
        }};
    }
};

struct physical_disk_io_metascan_group {
    static constexpr const char* section = "physical_disk_io_metascan_section";
    static constexpr const char* group = "physical_disk_io_metascan_group";
    std::string name;
    static constexpr auto fields() {
        using g = physical_disk_io_metascan_group;
        return std::array<field<g>, 1>{{{"name", &read_text<&g::name>}}};
    }
};

struct print_queue_metascan_group {
    static constexpr const char* section = "print_queue_metascan_section";
    static constexpr const char* group = "print_queue_metascan_group";
    std::string name;
    static constexpr auto fields() {
        using g = print_queue_metascan_group;
        return std::array<field<g>, 1>{{{"name", &read_text<&g::name>}}};
    }
};

struct service_metascan_group {
    static constexpr const char* section = "service_metascan_section";
    static constexpr const char* group = "service_metascan_group";
    std::string name;
    std::string displayname;
    std::string description;
    std::string status;
    static constexpr auto fields() {
        using g = service_metascan_group;
        return std::array<field<g>, 4>{{
            {"name", &read_text<&g::name>},
            {"displayname", &read_text<&g::displayname, presence::optional>},
            {"description", &read_text<&g::description, presence::optional>},
            {"status", &read_text<&g::status, presence::optional>},
        }};
    }
};

struct volume_metascan_group {
    static constexpr const char* section = "volume_metascan_section";
    static constexpr const char* group = "volume_metascan_group";
    std::string device_id;
    std::string name;
    std::string label;
    std::string drive_type;
    std::string file_system;
    std::string drive_letter;
    static constexpr auto fields() {
        using g = volume_metascan_group;
        return std::array<field<g>, 6>{{
            {"device_id", &read_text<&g::device_id>},
            {"name", &read_text<&g::name, presence::optional>},
            {"label", &read_text<&g::label, presence::optional>},
            {"drive_type", &read_text<&g::drive_type, presence::optional>},
            {"file_system", &read_text<&g::file_system, presence::optional>},
            {"drive_letter", &read_text<&g::drive_letter, presence::optional>},
        }};
    }
};

// Both identify the product but neither is marked required in the document.
struct windows_security_metascan_group {
    static constexpr const char* section = "windows_security_metascan_section";
    static constexpr const char* group = "windows_security_metascan_group";
    std::string name;
    std::string type;
    static constexpr auto fields() {
        using g = windows_security_metascan_group;
        return std::array<field<g>, 2>{{
            {"name", &read_text<&g::name, presence::optional>},
            {"type", &read_text<&g::type, presence::optional>},
        }};
    }
};

// What every kind needs to reach its target.
template <typename... Own>
using target_record = record<common_group, credentials_group, compatibility_group, Own...>;

// Sensors: kind name and the display name they log at construction.
struct cpu_load_sensor : target_record<> {
    static constexpr const char* kind_name = "cpu_load_sensor";
    static constexpr const char* display = "WMI CPU Load v2";
};
struct logical_disk_io_sensor : target_record<logical_disk_io_metascan_group> {
    static constexpr const char* kind_name = "logical_disk_io_sensor";
    static constexpr const char* display = "WMI Logical Disk I/O v2";
};
struct memory_sensor : target_record<> {
    static constexpr const char* kind_name = "memory_sensor";
    static constexpr const char* display = "WMI Memory v2";
};
struct microsoft_sql_server_sensor
    : target_record<microsoft_sql_server_group, microsoft_sql_server_metascan_group> {
    static constexpr const char* kind_name = "microsoft_sql_server_sensor";
    static constexpr const char* display = "WMI Microsoft SQL Server";
};
struct network_card_sensor : target_record<network_card_metascan_group> {
    static constexpr const char* kind_name = "network_card_sensor";
    static constexpr const char* display = "WMI Network Card v2";
};
struct pagefile_sensor : target_record<> {
    static constexpr const char* kind_name = "pagefile_sensor";
    static constexpr const char* display = "WMI Pagefile v2";
};
struct physical_disk_io_sensor : target_record<physical_disk_io_metascan_group> {
    static constexpr const char* kind_name = "physical_disk_io_sensor";
    static constexpr const char* display = "WMI Physical Disk I/O v2";
};
struct print_queue_sensor : target_record<print_queue_group, print_queue_metascan_group> {
    static constexpr const char* kind_name = "print_queue_sensor";
    static constexpr const char* display = "WMI Print Queue v2";
};
struct service_sensor : target_record<service_group, service_metascan_group> {
    static constexpr const char* kind_name = "service_sensor";
    static constexpr const char* display = "WMI Service v2";
};
struct system_uptime_sensor : target_record<> {
    static constexpr const char* kind_name = "system_uptime_sensor";
    static constexpr const char* display = "WMI System Uptime v2";
};
struct volume_sensor : target_record<volume_metascan_group> {
    static constexpr const char* kind_name = "volume_sensor";
    static constexpr const char* display = "WMI Volume v2";
};
struct windows_security_sensor : target_record<windows_security_metascan_group> {
    static constexpr const char* kind_name = "windows_security_sensor";
    static constexpr const char* display = "WMI Windows Security";
};

// Meta-scans and the check need only the target.
struct logical_disk_io_metascan : target_record<> {
    static constexpr const char* kind_name = "logical_disk_io_metascan";
};
struct microsoft_sql_server_metascan : target_record<> {
    static constexpr const char* kind_name = "microsoft_sql_server_metascan";
};
struct network_card_metascan : target_record<> {
    static constexpr const char* kind_name = "network_card_metascan";
};
struct physical_disk_io_metascan : target_record<> {
    static constexpr const char* kind_name = "physical_disk_io_metascan";
};
struct print_queue_metascan : target_record<> {
    static constexpr const char* kind_name = "print_queue_metascan";
};
struct service_metascan : target_record<> {
    static constexpr const char* kind_name = "service_metascan";
};
struct volume_metascan : target_record<> {
    static constexpr const char* kind_name = "volume_metascan";
};
struct windows_security_metascan : target_record<> {
    static constexpr const char* kind_name = "windows_security_metascan";
};
struct wsman_check : target_record<> {
    static constexpr const char* kind_name = "wsman_check";
};

}  // namespace wmi::settings
