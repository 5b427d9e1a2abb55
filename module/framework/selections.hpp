#pragma once

#include <cstdint>
#include <string>

// Selection settings: small enumerations numbered in option order. Each parser compares the
// text exactly (case-sensitive) with the option values and throws
// setting_selection_parse_error naming its own selection type when nothing matches.
namespace wmi::settings {

enum class logging : std::uint8_t { disabled, enabled };
enum class ipversion : std::uint8_t { ipv4, ipv6 };
enum class mode : std::uint8_t { negotiate, kerberos_only };
enum class protocol : std::uint8_t { http, https };
enum class extended_monitoring : std::uint8_t { disabled, enabled };
enum class advanced_status_options : std::uint8_t { standard, custom };
// What a reported printer condition does to the sensor's state.
enum class condition_action : std::uint8_t { ignore, warning, down };

logging parse_logging(const std::string& text);
// "IPv4" or "0", "IPv6" or "1".
ipversion parse_ipversion(const std::string& text);
mode parse_mode(const std::string& text);
protocol parse_protocol(const std::string& text);
extended_monitoring parse_extended_monitoring(const std::string& text);
advanced_status_options parse_advanced_status_options(const std::string& text);

condition_action parse_door_open(const std::string& text);
condition_action parse_manual_feed_required(const std::string& text);
condition_action parse_needs_user_intervention(const std::string& text);
condition_action parse_offline(const std::string& text);
condition_action parse_out_of_memory(const std::string& text);
condition_action parse_out_of_paper(const std::string& text);
condition_action parse_paper_jammed(const std::string& text);
condition_action parse_paper_problem(const std::string& text);
condition_action parse_paused(const std::string& text);
condition_action parse_printer_error(const std::string& text);
condition_action parse_printer_not_available(const std::string& text);
condition_action parse_toner_low(const std::string& text);
condition_action parse_toner_out(const std::string& text);

}  // namespace wmi::settings
