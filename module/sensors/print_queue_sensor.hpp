#pragma once

#include <cstdint>

#include "framework/settings.hpp"
#include "framework/wmi_kind.hpp"

namespace wmi {

// Jobs waiting in one Windows print queue, optionally only those older than a minimum age, and
// with the custom status mapping the printer's reported conditions as ok / warning / down.
class print_queue_sensor : public wmi_sensor<print_queue_sensor, settings::print_queue_sensor> {
public:
    using wmi_sensor::wmi_sensor;
    void work() override;

    // clang-format off
    static constexpr channel<> channels[] = {
        {.id = 0, .name = &cat::channel_print_queue_jobs, .unit = 10}};
    // Registered only with the custom mapping, in the scan that first sets it.
    static constexpr channel<> status_channel =
        {.id = 1, .name = &cat::channel_print_queue_status, .unit = 0, .lookup = "print_queue_status"};
    // clang-format on

private:
    std::uint32_t status_word(access::scan_session& session);
    std::int64_t job_count(access::scan_session& session);

    // Set when MSFT_Printer first fails; from then on this sensor reads only Win32_Printer.
    bool use_fallback_ = false;

    const access::query preferred_query_ =
        access::select("MSFT_Printer", {"Name", "PrinterStatus"},
                       access::equals{"Name", settings().name}, "root\\PrintManagement");
    const access::query fallback_query_ = access::select("Win32_Printer", {"Name", "PrinterState"},
                                                         access::equals{"Name", settings().name});
    // Job names read "<queue>, <job id>".
    const access::query jobs_query_ = access::select("Win32_PrintJob", {"JobId", "TimeSubmitted"},
                                                     access::starts_with{"Name", settings().name});
    const access::query host_time_query_ =
        access::select("Win32_OperatingSystem", {"LastBootUpTime", "LocalDateTime"});
};

}  // namespace wmi
