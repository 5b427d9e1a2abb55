// Kerberos against a throw-away realm on loopback (krb5kdc from the krb5-kdc package), through
// libwql.so against the simulator: the IOV sealing layout both ways, SPNEGO choosing Kerberos,
// "Kerberos only" mode, and the NTLM fallback for an address; then the same accounts through
// the module's exports (the probe's module_host): its check and a sensor.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/ip/tcp.hpp>
#include <filesystem>
#include <fstream>
#include <thread>

#include "error_key.hpp"
#include "libwql/libwql.hpp"
#include "module_host.hpp"
#include "recording_log.hpp"
#include "simulator/simulator.hpp"
#include "test_ca.hpp"
#include "test_support.hpp"
#include "valid_settings.hpp"

extern char** environ;

namespace {

namespace sim = winrm_simulator;

constexpr const char* realm = "WQL.TEST";
constexpr const char* password = "Kerb3ros!pw";
const char* const kdc_binary = "/usr/sbin/krb5kdc";

bool accepts_connections(std::uint16_t port) {
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket(io);
    boost::system::error_code ec;
    socket.connect({boost::asio::ip::make_address("127.0.0.1"), port}, ec);
    return !ec;
}

// A realm with krbuser and the service HTTP/localhost, its KDC running until the end.
class realm_environment : public ::testing::Environment {
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

const auto* const environment = ::testing::AddGlobalTestEnvironment(new realm_environment);

#define REQUIRE_REALM() \
    if (!realm_environment::ready()) GTEST_SKIP() << "no local KDC (package krb5-kdc)"

// A DNS domain becomes the realm and user@REALM is taken as written; an address has no
// service name, so Negotiate falls back to NTLM, for a NetBIOS user as for a realm one, and so
// does DOMAIN\user; Kerberos only refuses a wrong password and a NetBIOS domain (no realm).
// The same over HTTPS, with the logon bound to the TLS channel.
TEST(kerberos, the_client_and_the_module_log_on_for_every_principal_form_in_both_modes) {
    REQUIRE_REALM();
    const test_support::test_ca ca("Kerberos test CA");
    const std::string ca_file = ::testing::TempDir() + "wql_kerberos_ca.pem";
    std::ofstream(ca_file) << ca.certificate_pem();
    setenv("SSL_CERT_FILE", ca_file.c_str(), 1);
    const auto certificate = ca.issue("DNS:localhost,IP:127.0.0.1");
    wmiprobe::module_host host(LIBWMI_PATH);
    for (const bool https : {false, true}) {
        SCOPED_TRACE(https ? "HTTPS" : "HTTP");
        test_support::recording_log logons;
        sim::simulator_options options;
        if (https) {
            options.tls_certificate_pem = certificate.certificate_pem;
            options.tls_private_key_pem = certificate.key_pem;
            options.require_channel_binding = true;
        }
        options.users = {sim::parse_user_account(std::string("WQL.TEST\\krbuser:") + password),
                         sim::parse_user_account(std::string("WQL\\krbuser:") + password),
                         sim::parse_user_account("TESTDOM\\testuser:Secr3t!pass")};
        options.log = [&](const std::string& line) { logons.log(7, line); };
        sim::simulator target(
            sim::machine_model::parse(
                R"({"namespaces": {"root\\cimv2": {"Win32_OperatingSystem": {"instances": [
                    {"Caption": "W", "FreePhysicalMemory": 1024, "TotalVisibleMemorySize": 4096}]}}}})",
                "kerberos"),
            options);
        target.start();
        const struct {
            const char *host, *domain, *user, *secret;
            std::int32_t mode;
            const char *peer, *expected;
        } cases[] = {
            {"localhost", "wql.test", "krbuser", password, 1, "krbuser@WQL.TEST", "no exception"},
            {"localhost", "wql.test", "krbuser", password, 0, "krbuser@WQL.TEST", "no exception"},
            {"127.0.0.1", "TESTDOM", "testuser", "Secr3t!pass", 0, "TESTDOM\\testuser",
             "no exception"},
            {"127.0.0.1", "wql.test", "krbuser", password, 0, "WQL.TEST\\krbuser", "no exception"},
            {"localhost", "wql.test", "krbuser", "wrong", 1, "", "libwql.error.access_denied"},
            {"localhost", "", "krbuser@WQL.TEST", password, 1, "krbuser@WQL.TEST", "no exception"},
            {"localhost", "any", "krbuser@WQL.TEST", password, 0, "krbuser@WQL.TEST",
             "no exception"},
            {"localhost", "", "WQL\\krbuser", password, 0, "WQL\\krbuser", "no exception"},
            {"localhost", "", "WQL\\krbuser", password, 1, "", "libwql.error.access_denied"},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.host) + " " + c.user + " mode " + std::to_string(c.mode));
            auto client = libwql::create_wsman_client({8, 5, 5, 3, 3, 100}, nullptr);
            EXPECT_EQ(c.expected, test_support::error_key([&] {
                          auto s = client->open_session(
                              {c.host, c.domain, c.user, c.secret, c.mode, target.port(), https});
                          EXPECT_EQ("W", s->query("SELECT Caption FROM Win32_OperatingSystem",
                                                  "root\\cimv2")
                                             ->get_rows()
                                             .at(0)
                                             .at("Caption")
                                             .as_string());
                      }));
            if (*c.peer) {
                EXPECT_TRUE(logons.contains(std::string("logon: ") + c.peer));
            }
            // The module, given the account as a user types it: the check says whether and why,
            // a sensor scans.
            const auto document = [&](const char* kind) {
                return test_support::settings_document(
                    kind, test_kinds::settings(
                              {{"host", c.host},
                               {"logging", "disabled"},
                               {test_kinds::compatibility + "port", std::to_string(target.port())},
                               {test_kinds::compatibility + "protocol", https ? "https" : "http"},
                               {test_kinds::credentials + "domain", c.domain},
                               {test_kinds::credentials + "username", c.user},
                               {test_kinds::credentials + "password", c.secret},
                               {test_kinds::credentials + "mode",
                                c.mode == 1 ? "kerberos_only" : "negotiate"}}));
            };
            const auto check = host.check(1, document("wsman_check")).messages.back();
            EXPECT_EQ(std::string(c.expected) == "no exception", check.at("success"));
            EXPECT_EQ(check.at("message").is_null(), check.at("success")) << check.dump();
            ASSERT_EQ(0, host.create_sensor(2, document("memory_sensor")).code);
            const auto scan = host.scan_sensor(2).messages.back();
            EXPECT_EQ(check.at("success") ? 0 : 3, scan.at("response_code")) << scan.dump();
            EXPECT_EQ(0, host.destroy_sensor(2).code);
        }
    }
}

}  // namespace
