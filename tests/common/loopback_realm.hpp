#pragma once

// A throw-away Kerberos realm on loopback (krb5kdc from the krb5-kdc package): the user
// krbuser and the service HTTP/localhost, its KDC running from the environment's SetUp to its
// TearDown. KRB5_CONFIG, KRB5_KDC_PROFILE, KRB5_KTNAME and KRB5CCNAME point at it, so a test
// program that uses it keeps every Kerberos test of its own (no offline_krb5 there).
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

extern char** environ;

namespace loopback_realm {

constexpr const char* realm = "WQL.TEST";
constexpr const char* password = "Kerb3ros!pw";
inline const char* const kdc_binary = "/usr/sbin/krb5kdc";

inline bool accepts_connections(std::uint16_t port) {
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket(io);
    boost::system::error_code ec;
    socket.connect({boost::asio::ip::make_address("127.0.0.1"), port}, ec);
    return !ec;
}

// A realm with krbuser and the service HTTP/localhost, its KDC running until the end.
class environment : public ::testing::Environment {
public:
    void SetUp() override {
        if (::access(kdc_binary, X_OK) != 0) return;
        dir_ = "/tmp/wql_krb5_" + std::to_string(::getpid());
        std::filesystem::create_directories(dir_);
        std::uint16_t port = 0;
        {
            boost::asio::io_context io;
            boost::asio::ip::tcp::acceptor probe(io,
                                                 {boost::asio::ip::make_address("127.0.0.1"), 0});
            port = probe.local_endpoint().port();
        }
        const std::string kdc = "127.0.0.1:" + std::to_string(port);
        std::ofstream(dir_ + "/krb5.conf")
            << "[libdefaults]\n default_realm = " << realm
            << "\n dns_lookup_kdc = false\n dns_lookup_realm = false\n rdns = false\n"
            << " udp_preference_limit = 1\n[realms]\n " << realm << " = {\n  kdc = " << kdc
            << "\n }\n[domain_realm]\n localhost = " << realm << "\n";
        std::ofstream(dir_ + "/kdc.conf")
            << "[kdcdefaults]\n kdc_listen = " << kdc << "\n kdc_tcp_listen = " << kdc
            << "\n[realms]\n " << realm << " = {\n  database_name = " << dir_
            << "/principal\n  key_stash_file = " << dir_ << "/stash\n  acl_file = " << dir_
            << "/kadm5.acl\n }\n[logging]\n kdc = FILE:" << dir_ << "/kdc.log\n";
        ::setenv("KRB5_CONFIG", (dir_ + "/krb5.conf").c_str(), 1);
        ::setenv("KRB5_KDC_PROFILE", (dir_ + "/kdc.conf").c_str(), 1);
        ::setenv("KRB5_KTNAME", ("FILE:" + dir_ + "/http.keytab").c_str(), 1);
        ::setenv("KRB5CCNAME", "MEMORY:wql_test", 1);
        const std::string quiet = " >>" + dir_ + "/setup.log 2>&1";
        for (const std::string& command :
             {"kdb5_util create -s -r " + std::string(realm) + " -P master-pw" + quiet,
              "kadmin.local -q 'addprinc -pw " + std::string(password) + " krbuser'" + quiet,
              "kadmin.local -q 'addprinc -randkey HTTP/localhost'" + quiet,
              "kadmin.local -q 'ktadd -k " + dir_ + "/http.keytab HTTP/localhost'" + quiet}) {
            if (std::system(command.c_str()) != 0) return;
        }
        const char* argv[] = {kdc_binary, "-n", nullptr};
        if (posix_spawn(&kdc_pid_, kdc_binary, nullptr, nullptr, const_cast<char**>(argv),
                        environ) != 0) {
            kdc_pid_ = 0;
            return;
        }
        // Readiness is a listening port; bounded so a broken KDC cannot hang the run.
        for (int i = 0; i < 200 && !accepts_connections(port); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        ready_ = accepts_connections(port);
    }

    void TearDown() override {
        if (kdc_pid_ > 0) {
            ::kill(kdc_pid_, SIGTERM);
            ::waitpid(kdc_pid_, nullptr, 0);
        }
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

    static bool ready() { return ready_; }

private:
    std::string dir_;
    pid_t kdc_pid_ = 0;
    static inline bool ready_ = false;
};

#define REQUIRE_REALM() \
    if (!loopback_realm::environment::ready()) GTEST_SKIP() << "no local KDC (package krb5-kdc)"

}  // namespace loopback_realm
