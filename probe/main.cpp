#include <unistd.h>

#include <iostream>

#include "app.hpp"

// gss-ntlmssp 1.2 leaks the OpenSSL digests it fetches for every credential and context, on
// the demo target's side and on the module's; a LeakSanitizer build would report them at exit.
// Only the program defines this: test programs bring their own.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:gssntlmssp.so\nleak:libcrypto.so\n";
}

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    wmiprobe::app_context context;
    context.err_is_terminal = isatty(STDERR_FILENO) != 0;
    return wmiprobe::run(arguments, std::cout, std::cerr, context);
}
