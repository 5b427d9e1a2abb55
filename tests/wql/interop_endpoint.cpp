// The loopback endpoint of the transport tests as a program, for a client we did not write:
// prints its port, answers an Enumerate with one instance, exits when stdin closes.
#include <iostream>
#include <string>

#include "test_server.hpp"

int main() {
    using namespace wql_test;
    test_server server([](const request_view& r) {
        if (r.action != "Enumerate") {
            return reply_plan{500, fault_response(r.message_id, "w:ActionNotSupported", "", "")};
        }
        return reply_plan{
            200, enumerate_response(r.message_id, fragment({{"Caption", "interop " + r.filter}}),
                                    "", true)};
    });
    std::cout << server.port() << std::endl;
    std::string ignored;
    while (std::getline(std::cin, ignored)) {
    }
    return 0;
}
