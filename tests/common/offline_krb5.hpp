#pragma once

// SPNEGO clients try Kerberos first; without configuration MIT krb5 asks DNS about the realm
// of the target and stalls for the resolver timeout on a machine without a network. Points
// KRB5_CONFIG at a file that forbids those lookups (once per process).
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace offline_krb5 {

inline void configure() {
    static const std::string path = [] {
        const auto file = std::filesystem::temp_directory_path() / "wmi-offline-krb5.conf";
        std::ofstream out(file);
        out << "[libdefaults]\n dns_lookup_realm = false\n dns_lookup_kdc = false\n"
               " rdns = false\n dns_canonicalize_hostname = false\n";
        return file.string();
    }();
    setenv("KRB5_CONFIG", path.c_str(), 1);
}

}  // namespace offline_krb5
