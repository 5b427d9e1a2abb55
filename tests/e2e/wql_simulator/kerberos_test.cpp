// Kerberos against a throw-away realm on loopback (krb5kdc from the krb5-kdc package), through
// libwql.so against the simulator: the IOV sealing layout both ways, SPNEGO choosing Kerberos,
// "Kerberos only" mode, and the NTLM fallback for an address.
#include <gtest/gtest.h>

#include "error_key.hpp"
#include "libwql/libwql.hpp"
#include "loopback_realm.hpp"
#include "recording_log.hpp"
#include "simulator/simulator.hpp"

namespace {

namespace sim = winrm_simulator;

using loopback_realm::password;

const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new loopback_realm::environment);

// A DNS domain becomes the realm; an address has no service name, so Negotiate falls back
// to NTLM, for a NetBIOS user as for a realm one; Kerberos only refuses a wrong password.
TEST(kerberos, the_client_queries_by_name_in_both_modes_and_by_address_with_ntlm) {
    REQUIRE_REALM();
    test_support::recording_log logons;
    sim::simulator_options options;
    options.users = {sim::parse_user_account(std::string("WQL.TEST\\krbuser:") + password),
                     sim::parse_user_account("TESTDOM\\testuser:Secr3t!pass")};
    options.log = [&](const std::string& line) { logons.log(7, line); };
    sim::simulator target(
        sim::machine_model::parse(
            R"({"namespaces": {"root\\cimv2": {"Win32_OperatingSystem": {"instances": [{"Caption": "W"}]}}}})",
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
        {"127.0.0.1", "TESTDOM", "testuser", "Secr3t!pass", 0, "TESTDOM\\testuser", "no exception"},
        {"127.0.0.1", "wql.test", "krbuser", password, 0, "WQL.TEST\\krbuser", "no exception"},
        {"localhost", "wql.test", "krbuser", "wrong", 1, "", "libwql.error.access_denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " " + c.user + " mode " + std::to_string(c.mode));
        auto client = libwql::create_wsman_client({8, 5, 5, 3, 3, 100}, nullptr);
        EXPECT_EQ(c.expected, test_support::error_key([&] {
                      auto s = client->open_session(
                          {c.host, c.domain, c.user, c.secret, c.mode, target.port()});
                      EXPECT_EQ("W",
                                s->query("SELECT Caption FROM Win32_OperatingSystem", "root\\cimv2")
                                    ->get_rows()
                                    .at(0)
                                    .at("Caption")
                                    .as_string());
                  }));
        if (*c.peer) {
            EXPECT_TRUE(logons.contains(std::string("logon: ") + c.peer));
        }
    }
}

}  // namespace
