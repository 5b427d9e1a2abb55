// Kerberos against a throw-away realm on loopback (krb5kdc from the krb5-kdc package): the
// IOV sealing layout, SPNEGO choosing Kerberos, and the client in "Kerberos only" mode.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "gss_context.hpp"
#include "libwql/libwql.hpp"
#include "test_server.hpp"
#include "winrm_framing.hpp"

extern char** environ;

namespace {

using libwql::detail::gss_context;
using libwql::detail::gss_error;
using libwql::detail::gss_mechanism;

constexpr const char* realm = "WQL.TEST";
constexpr const char* user = "krbuser@WQL.TEST";
constexpr const char* password = "Kerb3ros!pw";
const char* const kdc_binary = "/usr/sbin/krb5kdc";

std::uint16_t free_port() {
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor probe(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    return probe.local_endpoint().port();
}

bool accepts_connections(std::uint16_t port) {
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket(io);
    boost::system::error_code ec;
    socket.connect({boost::asio::ip::make_address("127.0.0.1"), port}, ec);
    return !ec;
}

// A realm with one user and the service HTTP/localhost, its KDC running until the end.
class realm_environment : public ::testing::Environment {
public:
    void SetUp() override {
        if (::access(kdc_binary, X_OK) != 0) return;
        dir_ = "/tmp/wql_krb5_" + std::to_string(::getpid());
        std::filesystem::create_directories(dir_);
        const auto port = std::to_string(free_port());
        std::ofstream(dir_ + "/krb5.conf")
            << "[libdefaults]\n default_realm = " << realm
            << "\n dns_lookup_kdc = false\n dns_lookup_realm = false\n rdns = false\n"
            << " udp_preference_limit = 1\n[realms]\n " << realm
            << " = {\n  kdc = 127.0.0.1:" << port << "\n }\n[domain_realm]\n localhost = " << realm
            << "\n";
        std::ofstream(dir_ + "/kdc.conf")
            << "[kdcdefaults]\n kdc_listen = 127.0.0.1:" << port
            << "\n kdc_tcp_listen = 127.0.0.1:" << port << "\n[realms]\n " << realm
            << " = {\n  database_name = " << dir_ << "/principal\n  key_stash_file = " << dir_
            << "/stash\n  acl_file = " << dir_ << "/kadm5.acl\n }\n[logging]\n kdc = FILE:" << dir_
            << "/kdc.log\n";
        ::setenv("KRB5_CONFIG", (dir_ + "/krb5.conf").c_str(), 1);
        ::setenv("KRB5_KDC_PROFILE", (dir_ + "/kdc.conf").c_str(), 1);
        ::setenv("KRB5_KTNAME", ("FILE:" + dir_ + "/http.keytab").c_str(), 1);
        ::setenv("KRB5CCNAME", "MEMORY:wql_test", 1);
        const std::string quiet = " >>" + dir_ + "/setup.log 2>&1";
        const std::string commands[] = {
            std::string("kdb5_util create -s -r ") + realm + " -P master-pw" + quiet,
            std::string("kadmin.local -q 'addprinc -pw ") + password + " " + user + "'" + quiet,
            std::string("kadmin.local -q 'addprinc -randkey HTTP/localhost@") + realm + "'" + quiet,
            "kadmin.local -q 'ktadd -k " + dir_ + "/http.keytab HTTP/localhost@" + realm + "'" +
                quiet,
        };
        for (const auto& command : commands) {
            if (std::system(command.c_str()) != 0) return;
        }
        const char* argv[] = {kdc_binary, "-n", nullptr};
        if (posix_spawn(&kdc_pid_, kdc_binary, nullptr, nullptr, const_cast<char**>(argv),
                        environ) != 0) {
            kdc_pid_ = 0;
            return;
        }
        // Readiness is a listening port; bounded so a broken KDC cannot hang the run.
        for (int i = 0;
             i < 200 && !accepts_connections(static_cast<std::uint16_t>(std::stoi(port))); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        ready_ = accepts_connections(static_cast<std::uint16_t>(std::stoi(port)));
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

void handshake(gss_context& client, gss_context& server) {
    std::string token = client.step({});
    while (!server.established() || !client.established()) {
        token = server.step(token);
        if (client.established()) break;
        token = client.step(token);
        if (token.empty()) break;
    }
    ASSERT_TRUE(client.established());
    ASSERT_TRUE(server.established());
}

class kerberos : public ::testing::TestWithParam<gss_mechanism> {};

TEST_P(kerberos, seals_with_the_iov_layout_both_ways) {
    REQUIRE_REALM();
    auto client = gss_context::initiator(user, password, "localhost", GetParam());
    auto server = gss_context::acceptor();
    handshake(client, server);
    EXPECT_TRUE(client.uses_kerberos());
    EXPECT_TRUE(server.uses_kerberos());
    EXPECT_EQ(user, server.peer_name());

    for (const std::string& plain : {std::string("<s:Envelope/>"), std::string(100000, 'k')}) {
        auto [header, data] = client.seal(plain);
        EXPECT_GT(header.size(), 16u);
        EXPECT_EQ(std::string::npos, data.find("<s:Envelope")) << "not encrypted";
        winrm_framing::sealed_message m{std::string(winrm_framing::kerberos_protocol),
                                        std::string(winrm_framing::soap_content_type), plain.size(),
                                        header, data};
        const auto parsed = winrm_framing::parse_body(winrm_framing::build_body(m));
        EXPECT_EQ(plain, server.unseal(parsed.header, parsed.data));
        auto [h2, d2] = server.seal(plain);
        EXPECT_EQ(plain, client.unseal(h2, d2));
    }
    auto [header, data] = client.seal("tamper with me");
    data[0] = static_cast<char>(data[0] ^ 1);
    EXPECT_THROW((void)server.unseal(header, data), gss_error);
}

TEST(kerberos_only, a_wrong_password_gets_no_credentials) {
    REQUIRE_REALM();
    // (Negotiate would fall back to NTLM here and fail at the target instead.)
    EXPECT_THROW((void)gss_context::initiator(user, "wrong", "localhost", gss_mechanism::kerberos),
                 gss_error);
}

INSTANTIATE_TEST_SUITE_P(mechanisms, kerberos,
                         ::testing::Values(gss_mechanism::kerberos, gss_mechanism::negotiate),
                         [](const auto& param_info) {
                             return param_info.param == gss_mechanism::kerberos ? "krb5" : "spnego";
                         });

TEST(kerberos_client, queries_in_both_modes) {
    REQUIRE_REALM();
    wql_test::test_server server([](const wql_test::request_view& r) {
        return wql_test::reply_plan{
            200, wql_test::enumerate_response(r.message_id, wql_test::fragment({{"Caption", "W"}}),
                                              "", true)};
    });
    for (std::int32_t mode : {1, 0}) {
        auto client = libwql::create_wsman_client({8, 5, 5, 3, 3, 100}, nullptr);
        auto session = client->open_session(
            {"localhost", "wql.test", "krbuser", password, mode, server.port(), false});
        const auto result =
            session->query("SELECT Caption FROM Win32_OperatingSystem", "root\\cimv2");
        ASSERT_EQ(1u, result->get_rows().size()) << "mode " << mode;
        EXPECT_EQ("W", result->get_rows()[0].at("Caption").as_string());
    }
    EXPECT_EQ(2, server.handshakes());
}

}  // namespace

namespace {

// Monitoring users often enter an IP address. There is no Kerberos service name for it, so
// Negotiate must fall back to NTLM (here: a realm-style user name the NTLM user file knows).
TEST(kerberos_client, negotiate_falls_back_to_ntlm_for_an_ip_address) {
    REQUIRE_REALM();
    wql_test::test_server server([](const wql_test::request_view& r) {
        return wql_test::reply_plan{
            200, wql_test::enumerate_response(r.message_id, wql_test::fragment({{"Caption", "W"}}),
                                              "", true)};
    });
    wql_test::add_ntlm_user("WQL.TEST", "krbuser", password);
    auto client = libwql::create_wsman_client({8, 5, 5, 3, 3, 100}, nullptr);
    // A NetBIOS domain (no Kerberos credentials at all) and a realm user (a ticket-granting
    // ticket, but no service ticket for an address).
    for (const auto& [domain, name, secret] :
         {std::tuple{std::string(wql_test::test_domain), std::string(wql_test::test_user),
                     std::string(wql_test::test_password)},
          std::tuple{std::string("wql.test"), std::string("krbuser"), std::string(password)}}) {
        auto session =
            client->open_session({"127.0.0.1", domain, name, secret, 0, server.port(), false});
        EXPECT_EQ(1u, session->query("SELECT Caption FROM Win32_OperatingSystem", "root\\cimv2")
                          ->get_rows()
                          .size());
    }
}

}  // namespace
