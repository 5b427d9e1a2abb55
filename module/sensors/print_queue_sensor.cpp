#include "sensors/print_queue_sensor.hpp"

#include <chrono>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "framework/exceptions.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

namespace {

using action = settings::condition_action;
using group = settings::print_queue_group;

struct printer_condition {
    int bit;
    action group::*setting;
    const libi18n::i18n_msg* message;
};

// Evaluated in this order, which is also the order of the conditions in the message.
// clang-format off
constexpr printer_condition conditions[] = {
    {22, &group::door_open, &cat::message_status_door_open},
    {5, &group::manual_feed_required, &cat::message_status_manual_feed_required},
    {20, &group::needs_user_intervention, &cat::message_status_needs_user_intervention},
    {7, &group::offline, &cat::message_status_offline},
    {21, &group::out_of_memory, &cat::message_status_out_of_memory},
    {4, &group::out_of_paper, &cat::message_status_out_of_paper},
    {3, &group::paper_jammed, &cat::message_status_paper_jammed},
    {6, &group::paper_problem, &cat::message_status_paper_problem},
    {0, &group::paused, &cat::message_status_paused},
    {1, &group::printer_error, &cat::message_status_printer_error},
    {12, &group::printer_not_available, &cat::message_status_printer_not_available},
    {17, &group::toner_low, &cat::message_status_toner_low},
    {18, &group::toner_out, &cat::message_status_toner_out},
};
// clang-format on

// Values of the print_queue_status lookup.
constexpr int status_ok = 1;
constexpr int status_warning = 2;
constexpr int status_down = 3;

struct printer_conditions {
    int status = status_ok;
    std::vector<libi18n::i18n_msg> messages;
};

// Every reported condition is listed, whatever its action; "ignore" leaves the state alone.
printer_conditions evaluate(std::uint32_t status_word, const group& actions) {
    printer_conditions found;
    for (const auto& c : conditions) {
        if ((status_word & (std::uint32_t{1} << c.bit)) == 0) continue;
        found.messages.push_back((*c.message)());
        const auto chosen = actions.*c.setting;
        if (chosen == action::down) {
            found.status = status_down;
        } else if (chosen == action::warning && found.status != status_down) {
            found.status = status_warning;
        }
    }
    return found;
}

// Only the low 32 bits carry conditions; a missing word is an error, not "no condition".
std::uint32_t status_word_of(const libwql::wql_query_row& row, const access::query& q,
                             const std::string& field) {
    return static_cast<std::uint32_t>(access::required_int64(row, q.wmi_class, field));
}

std::int64_t microseconds(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

// Jobs at least `min_age_s` old at `now_us`, both times from the target's clock. A job
// submitted after `now_us` has a negative age and counts only for no minimum at all.
std::int64_t jobs_at_least(const std::vector<std::int64_t>& submitted_us, std::int64_t now_us,
                           long long min_age_s) {
    constexpr long long per_second = 1'000'000;
    // No job can be older than the range of the clock; a larger minimum counts none.
    if (min_age_s > std::numeric_limits<std::int64_t>::max() / per_second) return 0;
    const std::int64_t min_age_us = min_age_s * per_second;
    std::int64_t count = 0;
    for (const auto submitted : submitted_us) {
        if (now_us - submitted >= min_age_us) ++count;
    }
    return count;
}

// Parts of one message: each part's key and text joined with the same separator, so the key
// reads "#:a[..] #:b[..]" and a host translates every encoded part and keeps the separators.
libi18n::i18n_msg joined(const libi18n::i18n_msg& first, const libi18n::i18n_msg& second,
                         const std::string& separator) {
    return {first.key + separator + second.key, first.text + separator + second.text};
}

}  // namespace

std::uint32_t print_queue_sensor::status_word(access::scan_session& session) {
    if (!use_fallback_) {
        std::optional<libwql::wql_query_row> row;
        try {
            row = session.first_row(preferred_query_);
        } catch (const std::exception& e) {
            // Hosts without the print management provider (older or core systems) answer
            // with a fault; Win32_Printer reports the same status bits.
            log_debug(e.what());
            use_fallback_ = true;
        }
        if (!use_fallback_) {
            if (!row) throw exceptions::print_queue_not_found(settings().name);
            return status_word_of(*row, preferred_query_, "PrinterStatus");
        }
    }
    log_debug("MSFT_Printer is not available, fallback to Win32_Printer");
    const auto row = session.first_row(fallback_query_);
    if (!row) throw exceptions::print_queue_not_found(settings().name);
    return status_word_of(*row, fallback_query_, "PrinterState");
}

std::int64_t print_queue_sensor::job_count(access::scan_session& session) {
    const auto jobs = session.rows(jobs_query_);
    const auto& min_age = settings().min_print_job_age;
    if (!min_age) return static_cast<std::int64_t>(jobs.size());
    const auto host = session.required_first_row(host_time_query_);
    const auto now = access::required_timestamp(host, host_time_query_.wmi_class, "LocalDateTime");
    std::vector<std::int64_t> submitted;
    for (const auto& job : jobs) {
        submitted.push_back(
            microseconds(access::required_timestamp(job, jobs_query_.wmi_class, "TimeSubmitted")));
    }
    return jobs_at_least(submitted, microseconds(now), *min_age);
}

void print_queue_sensor::work() {
    auto session = open_session();
    // An empty name would be the prefix of every job on the host.
    if (settings().name.empty()) throw exceptions::print_queue_not_found(settings().name);
    auto r = result(ok_message(), libvexahelper::scan_response_codes::ok);
    printer_conditions reported;
    if (settings().advanced_status_options == settings::advanced_status_options::custom) {
        reported = evaluate(status_word(session), settings());
        register_channel(channel_options(status_channel));
        r.set_value(status_channel.id, static_cast<long long>(reported.status));
    }
    const auto count = job_count(session);
    r.set_value(channels[0].id, static_cast<long long>(count));

    const auto& min_age = settings().min_print_job_age;
    auto message = min_age ? cat::message_jobs_older_than_in_print_queue(std::to_string(count),
                                                                         std::to_string(*min_age))
                           : cat::message_jobs_in_print_queue(std::to_string(count));
    if (!reported.messages.empty()) {
        auto list = reported.messages.front();
        for (std::size_t i = 1; i < reported.messages.size(); ++i) {
            list = joined(list, reported.messages[i], ",");
        }
        message = joined(joined(message, cat::message_status(), " "), list, " ");
    }
    r.set_response_message(message);
    send(r);
}

}  // namespace wmi
