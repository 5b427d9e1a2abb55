#include "framework/selections.hpp"

#include <initializer_list>
#include <utility>

#include "libvexahelper/exceptions.hpp"

namespace wmi::settings {

namespace {

// Options in order; several spellings may give one value ("IPv4" and "0").
template <typename E>
E parse_selection(const std::string& text, const char* type_name,
                  std::initializer_list<std::pair<const char*, E>> options) {
    for (const auto& [value, result] : options) {
        if (text == value) return result;
    }
    throw libvexahelper::utils::exceptions::setting_selection_parse_error(text, type_name);
}

condition_action parse_condition(const std::string& text, const char* type_name) {
    return parse_selection<condition_action>(text, type_name,
                                             {{"ignore", condition_action::ignore},
                                              {"warning", condition_action::warning},
                                              {"down", condition_action::down}});
}

}  // namespace

logging parse_logging(const std::string& text) {
    return parse_selection<logging>(
        text, "logging", {{"disabled", logging::disabled}, {"enabled", logging::enabled}});
}

ipversion parse_ipversion(const std::string& text) {
    return parse_selection<ipversion>(text, "ipversion",
                                      {{"IPv4", ipversion::ipv4},
                                       {"0", ipversion::ipv4},
                                       {"IPv6", ipversion::ipv6},
                                       {"1", ipversion::ipv6}});
}

mode parse_mode(const std::string& text) {
    return parse_selection<mode>(
        text, "mode", {{"negotiate", mode::negotiate}, {"kerberos_only", mode::kerberos_only}});
}

protocol parse_protocol(const std::string& text) {
    return parse_selection<protocol>(text, "protocol",
                                     {{"http", protocol::http}, {"https", protocol::https}});
}

extended_monitoring parse_extended_monitoring(const std::string& text) {
    return parse_selection<extended_monitoring>(
        text, "extended_monitoring",
        {{"disabled", extended_monitoring::disabled}, {"enabled", extended_monitoring::enabled}});
}

advanced_status_options parse_advanced_status_options(const std::string& text) {
    return parse_selection<advanced_status_options>(
        text, "advanced_status_options",
        {{"standard", advanced_status_options::standard},
         {"custom", advanced_status_options::custom}});
}

condition_action parse_door_open(const std::string& t) { return parse_condition(t, "door_open"); }
condition_action parse_manual_feed_required(const std::string& t) {
    return parse_condition(t, "manual_feed_required");
}
condition_action parse_needs_user_intervention(const std::string& t) {
    return parse_condition(t, "needs_user_intervention");
}
condition_action parse_offline(const std::string& t) { return parse_condition(t, "offline"); }
condition_action parse_out_of_memory(const std::string& t) {
    return parse_condition(t, "out_of_memory");
}
condition_action parse_out_of_paper(const std::string& t) {
    return parse_condition(t, "out_of_paper");
}
condition_action parse_paper_jammed(const std::string& t) {
    return parse_condition(t, "paper_jammed");
}
condition_action parse_paper_problem(const std::string& t) {
    return parse_condition(t, "paper_problem");
}
condition_action parse_paused(const std::string& t) { return parse_condition(t, "paused"); }
condition_action parse_printer_error(const std::string& t) {
    return parse_condition(t, "printer_error");
}
condition_action parse_printer_not_available(const std::string& t) {
    return parse_condition(t, "printer_not_available");
}
condition_action parse_toner_low(const std::string& t) { return parse_condition(t, "toner_low"); }
condition_action parse_toner_out(const std::string& t) { return parse_condition(t, "toner_out"); }

}  // namespace wmi::settings
