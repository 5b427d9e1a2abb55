#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "demo_target.hpp"
#include "verdicts.hpp"

namespace wmiprobe {

struct app_context {
    std::function<std::unique_ptr<demo_target>()> make_target = make_simulated_target;
    // Seconds between the two scan rounds of the demo.
    double demo_pause_seconds = 1.0;
    // Standard error is a terminal: meta-scan progress is one line there, rewritten in place.
    bool err_is_terminal = false;
};

// The whole program: `arguments` without the program name; results to `out`, errors to
// `err`; returns the exit code.
int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
        const app_context& context = {});

}  // namespace wmiprobe
