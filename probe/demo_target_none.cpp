#include "demo_target.hpp"

namespace wmiprobe {

// Built when the simulated target is not part of the source tree.
std::unique_ptr<demo_target> make_simulated_target() { return nullptr; }

}  // namespace wmiprobe
