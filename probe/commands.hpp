#pragma once

#include <map>
#include <string>

#include "app.hpp"
#include "session.hpp"
#include "verdicts.hpp"

// One function per command of wmiprobe, returning its exit code; usage mistakes throw
// usage_error.
namespace wmiprobe {

int info_command(session& s);
int check_command(session& s, const options& opts);
int discover_command(session& s, const options& opts);
int scan_command(session& s, const options& opts);
int demo_command(session& s, const app_context& context);

// One check or meta-scan with the given settings, shown as it runs; `demo` runs each kind so.
verdict run_check(session& s, const kind_entry& kind,
                  const std::map<std::string, std::string>& settings);
discovery run_discover(session& s, const kind_entry& kind,
                       const std::map<std::string, std::string>& settings);

}  // namespace wmiprobe
