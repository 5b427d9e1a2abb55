#pragma once

#include <memory>
#include <string>

namespace wmiprobe {

// Where a started target listens and the account that may log in.
struct demo_endpoint {
    std::string host;
    int port = 0;
    std::string domain;
    std::string user;
    std::string password;
};

// A Windows target the demo can run against; it serves until destroyed.
class demo_target {
public:
    virtual ~demo_target() = default;
    virtual demo_endpoint start() = 0;
};

// The simulated target of this build, listening on a free loopback port; nullptr when the
// build has no simulator.
std::unique_ptr<demo_target> make_simulated_target();

}  // namespace wmiprobe
