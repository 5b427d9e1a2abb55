// The module through its exports (the probe's module_host) against the simulator accepting
// Kerberos from a throw-away realm on loopback: the check and a sensor for each way a user
// writes the principal, in both authentication modes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "loopback_realm.hpp"
#include "module_host.hpp"
#include "recording_log.hpp"
#include "simulator/simulator.hpp"
#include "test_support.hpp"
#include "valid_settings.hpp"

namespace {

using nlohmann::json;

const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new loopback_realm::environment);

// The one message of `type` a call produced, with the call's code.
json only(const wmiprobe::call_outcome& outcome, const std::string& type) {
    EXPECT_EQ(outcome.code, 0);
    for (const auto& m : outcome.messages) {
        if (m.at("type") == type) return m;
    }
    ADD_FAILURE() << "no " << type;
    return json::object();
}

TEST(kerberos_e2e, the_check_and_a_sensor_for_every_principal_form_in_both_modes) {
    REQUIRE_REALM();
    test_support::recording_log target_log;  // written on the simulator's thread
    winrm_simulator::simulator_options options;
    options.users = {winrm_simulator::parse_user_account(std::string("WQL.TEST\\krbuser:") +
                                                         loopback_realm::password),
                     winrm_simulator::parse_user_account(std::string("WQL\\krbuser:") +
                                                         loopback_realm::password)};
    options.log = [&](const std::string& line) { target_log.log(7, line); };
    winrm_simulator::simulator target(
        winrm_simulator::machine_model::load_file(WMI_SIMULATOR_MODELS_DIR "/windows_server.json"),
        options);
    target.start();
    wmiprobe::module_host host(LIBWMI_PATH);

    // How the user wrote the account, the mode, and who the target saw logging on (empty:
    // the check fails, with the reason in its result).
    const struct {
        const char *domain, *user, *mode, *peer;
    } cases[] = {
        {"wql.test", "krbuser", "kerberos_only", "krbuser@WQL.TEST"},  // DNS domain: the realm
        {"wql.test", "krbuser", "negotiate", "krbuser@WQL.TEST"},
        {"", "krbuser@WQL.TEST", "kerberos_only", "krbuser@WQL.TEST"},  // user@REALM
        {"ignored", "krbuser@WQL.TEST", "negotiate", "krbuser@WQL.TEST"},
        {"", "WQL\\krbuser", "negotiate", "WQL\\krbuser"},  // DOMAIN\user: NTLM under Negotiate
        {"", "WQL\\krbuser", "kerberos_only", ""},          // no realm in a NetBIOS name
    };
    int id = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.user) + " / " + c.domain + " / " + c.mode);
        const auto document = [&](const std::string& kind) {
            return test_support::settings_document(
                kind, test_kinds::settings(
                          {{"host", "localhost"},
                           {"logging", "disabled"},
                           {test_kinds::compatibility + "port", std::to_string(target.port())},
                           {test_kinds::credentials + "domain", c.domain},
                           {test_kinds::credentials + "username", c.user},
                           {test_kinds::credentials + "mode", c.mode},
                           {test_kinds::credentials + "password", loopback_realm::password}}));
        };
        const std::size_t seen = target_log.lines().size();
        const json check = only(host.check(id, document("wsman_check")), "check_result");
        EXPECT_EQ(check.at("success"), *c.peer != '\0') << check.dump();
        if (*c.peer == '\0') {
            EXPECT_TRUE(check.at("message").is_object()) << check.dump();
            continue;
        }
        ASSERT_EQ(host.create_sensor(++id, document("system_uptime_sensor")).code, 0);
        const json scan = only(host.scan_sensor(id), "sensor_scan_result");
        EXPECT_EQ(scan.at("response_code"), 0) << scan.dump();
        EXPECT_EQ(host.destroy_sensor(id).code, 0);
        std::vector<std::string> logons;
        const auto lines = target_log.lines();
        for (auto l = lines.begin() + seen; l != lines.end(); ++l) {
            if (l->text.rfind("logon: ", 0) == 0) logons.push_back(l->text.substr(7));
        }
        EXPECT_FALSE(logons.empty());
        for (const auto& peer : logons) EXPECT_EQ(peer, c.peer);
    }
}

}  // namespace
