#pragma once

#include <map>
#include <string>

#include "app.hpp"
#include "session.hpp"
#include "verdicts.hpp"

// One function per command of wmiprobe; each returns or carries the command's exit code.
namespace wmiprobe {

int run_info(session& s);

verdict run_check(session& s, const kind_entry& kind,
                  const std::map<std::string, std::string>& settings);

discovery run_discover(session& s, const kind_entry& kind,
                       const std::map<std::string, std::string>& settings);

int run_scan(session& s, const options& opts);

int run_demo(session& s, const app_context& context);

}  // namespace wmiprobe
