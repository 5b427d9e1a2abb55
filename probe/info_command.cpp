#include <ostream>

#include "commands.hpp"

namespace wmiprobe {

int info_command(session& s) {
    if (s.raw()) {
        s.out() << s.information_raw() << "\n";
    } else {
        s.out() << render_info(s.catalogue(), s.texts(), s.host().api_level());
    }
    return exit_ok;
}

}  // namespace wmiprobe
