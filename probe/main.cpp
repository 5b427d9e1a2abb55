#include <iostream>

#include "app.hpp"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    return wmiprobe::run(arguments, std::cout, std::cerr);
}
