#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace libwql::detail {

using utc_time = std::chrono::time_point<std::chrono::system_clock, std::chrono::nanoseconds>;

// Accepts the datetime forms a WS-Management target sends, returning UTC:
// - xs:dateTime "2013-04-15T16:28:43.488171Z", any number of fraction digits (beyond
//   nanoseconds truncated), "Z", "+hh:mm", "-hh:mm" or no zone (taken as UTC);
// - xs:date "2013-04-15" with an optional zone (midnight);
// - DMTF "yyyymmddHHMMSS.ffffff+UUU" where UUU is the offset in minutes.
std::optional<utc_time> parse_datetime(std::string_view text);

// Accepts xs:duration "P1DT2H3M4.5S" (no years or months: their length is undefined)
// and DMTF intervals "ddddddddHHMMSS.ffffff:000".
std::optional<std::chrono::nanoseconds> parse_interval(std::string_view text);

}  // namespace libwql::detail
