// Keeps one Wine process (and so the prefix's wineserver) alive while ctest starts a Wine
// process per test: wine_keepalive <ready file>. Writes the file once Wine is up, then sleeps
// until the test run stops it by its PID.
#include <windows.h>

#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::ofstream(argv[1]) << "ready\n";
    Sleep(INFINITE);
    return 0;
}
