#include "simulator/simulator.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <pugixml.hpp>
#include <sstream>

#include "offline_krb5.hpp"
#include "simulator/wsman_soap.hpp"
#include "test_client.hpp"

namespace winrm_simulator {
namespace {

using namespace std::chrono_literals;
using testing::test_client;
using http_status = boost::beast::http::status;

const char* const user = "TESTDOM\\testuser";
const char* const password = "Sim-Passw0rd!";

const char* const model_json = R"({"machine_name": "WIN-UNIT", "uptime_seconds": 50,
  "namespaces": {"root\\cimv2": {
    "Win32_OperatingSystem": {"instances": [{"Caption": "Simulated Windows Server"}]},
    "Win32_PerfRawData_PerfOS_Processor": {"instances": [
      {"Name": "_Total", "PercentProcessorTime": {"counter": {"start": 0, "per_second": 7000000}},
       "Timestamp_Sys100NS": {"clock": "sys100ns"}}]},
    "Win32_Service": {"instances": [
      {"Name": "s1"}, {"Name": "s2"}, {"Name": "s3"}, {"Name": "s4"}, {"Name": "s5"},
      {"Name": "s6"}, {"Name": "s7"}]}}}})";

struct enumerate_options {
    std::string ns = "root\\cimv2";
    bool optimize = true;
};

// Request envelopes as clients send them, built with pugixml.
std::string request_envelope(const std::string& action, const std::string& ns,
                             const std::function<void(pugi::xml_node)>& body) {
    pugi::xml_document doc;
    pugi::xml_node env = doc.append_child("s:Envelope");
    env.append_attribute("xmlns:s") = wsman_ns::soap;
    env.append_attribute("xmlns:a") = wsman_ns::addressing;
    env.append_attribute("xmlns:n") = wsman_ns::enumeration;
    env.append_attribute("xmlns:w") = wsman_ns::wsman;
    pugi::xml_node header = env.append_child("s:Header");
    header.append_child("a:Action").text() = action.c_str();
    header.append_child("a:MessageID").text() = new_uuid().c_str();
    std::string path = ns;
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    header.append_child("w:ResourceURI").text() =
        (std::string(wsman_ns::wmi_resource) + path + "/*").c_str();
    body(env.append_child("s:Body"));
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw | pugi::format_no_declaration);
    return out.str();
}

std::string enumerate(const std::string& wql, const enumerate_options& o = {}) {
    return request_envelope(wsman_action::enumerate, o.ns, [&](pugi::xml_node body) {
        pugi::xml_node e = body.append_child("n:Enumerate");
        if (o.optimize) {
            e.append_child("w:OptimizeEnumeration");
            e.append_child("w:MaxElements").text() = "32000";
        }
        pugi::xml_node f = e.append_child("w:Filter");
        f.append_attribute("Dialect") = wsman_ns::wql_dialect;
        f.text() = wql.c_str();
    });
}

std::string pull(const std::string& context, int max_elements) {
    return request_envelope(wsman_action::pull, "root\\cimv2", [&](pugi::xml_node body) {
        pugi::xml_node p = body.append_child("n:Pull");
        p.append_child("n:EnumerationContext").text() = context.c_str();
        p.append_child("n:MaxElements").text() = max_elements;
    });
}

struct parsed_reply {
    pugi::xml_document doc;
    std::vector<std::string> values;  // text of every element named like the field asked for
    std::string context;
    bool end = false;
    std::string subcode;
};

std::unique_ptr<parsed_reply> parse(const std::string& xml, const char* field = "Name") {
    auto r = std::make_unique<parsed_reply>();
    if (!r->doc.load_string(xml.c_str())) throw std::runtime_error("reply is not XML: " + xml);
    for (const auto& n :
         r->doc.select_nodes((std::string("//*[local-name()='") + field + "']").c_str())) {
        r->values.emplace_back(n.node().child_value());
    }
    r->context = r->doc.select_node("//*[local-name()='EnumerationContext']").node().child_value();
    r->end = static_cast<bool>(r->doc.select_node("//*[local-name()='EndOfSequence']"));
    r->subcode = r->doc.select_node("//*[local-name()='Subcode']/*").node().child_value();
    return r;
}

class simulator_server : public ::testing::Test {
protected:
    static void SetUpTestSuite() { offline_krb5::configure(); }

    void start(simulator_options options = {}) {
        options.users = {parse_user_account(std::string(user) + ":" + password)};
        options.clock = [this] { return base_ + std::chrono::seconds(offset_s_.load()); };
        server_ = std::make_unique<simulator>(machine_model::parse(model_json, "unit"), options);
        server_->start();
    }

    test_client client(test_client::mechanism mech = test_client::mechanism::spnego,
                       const std::string& pw = password) {
        return test_client(server_->port(), user, pw, mech);
    }

    const sim_clock::time_point base_ = sim_clock::time_point(1796486400s);
    std::atomic<long long> offset_s_{0};
    std::unique_ptr<simulator> server_;
};

TEST_F(simulator_server, authenticates_raw_ntlm_and_spnego_and_seals_both_ways) {
    start();
    for (const auto mech : {test_client::mechanism::ntlm, test_client::mechanism::spnego}) {
        SCOPED_TRACE(mech == test_client::mechanism::ntlm ? "ntlm" : "spnego");
        test_client c = client(mech);
        ASSERT_EQ(c.authenticate(), http_status::ok);
        // Several sealed round trips on one connection keep the sequence numbers in step.
        for (int i = 0; i < 3; ++i) {
            const auto reply =
                c.send_sealed(enumerate("SELECT Caption FROM Win32_OperatingSystem"));
            ASSERT_EQ(reply.status, http_status::ok);
            EXPECT_EQ(parse(reply.body, "Caption")->values,
                      std::vector<std::string>{"Simulated Windows Server"});
        }
    }
    EXPECT_EQ(server_->statistics().handshakes, 2u);
    EXPECT_EQ(server_->statistics().soap_requests, 6u);
}

TEST_F(simulator_server, refuses_wrong_passwords_and_requests_without_a_context) {
    start();
    test_client wrong = client(test_client::mechanism::spnego, "not-the-password");
    EXPECT_EQ(wrong.authenticate(), http_status::unauthorized);
    EXPECT_EQ(server_->statistics().failed_logons, 1u);

    test_client c = client();
    c.reconnect();
    const std::string soap = enumerate("SELECT Caption FROM Win32_OperatingSystem");
    auto req = c.request(soap);
    req.set(boost::beast::http::field::content_type, "application/soap+xml;charset=UTF-8");
    const auto unauthenticated = c.send_raw(req);
    EXPECT_EQ(unauthenticated.status, http_status::unauthorized);
    EXPECT_EQ(unauthenticated.www_authenticate, "Negotiate");

    auto garbage = c.request("");
    garbage.set(boost::beast::http::field::authorization, "Negotiate !!!not-base64");
    EXPECT_EQ(c.send_raw(garbage).status, http_status::unauthorized);
    auto basic = c.request("");
    basic.set(boost::beast::http::field::authorization, "Basic dXNlcjpwYXNz");
    EXPECT_EQ(c.send_raw(basic).status, http_status::unauthorized);
    EXPECT_EQ(c.send_raw(c.request("", boost::beast::http::verb::get)).status,
              http_status::method_not_allowed);
    EXPECT_EQ(c.send_raw(c.request("", boost::beast::http::verb::post, "/other")).status,
              http_status::not_found);
}

TEST_F(simulator_server, refuses_unsealed_soap_on_an_authenticated_connection) {
    start();
    test_client c = client();
    ASSERT_EQ(c.authenticate(), http_status::ok);
    auto req = c.request(enumerate("SELECT Caption FROM Win32_OperatingSystem"));
    req.set(boost::beast::http::field::content_type, "application/soap+xml;charset=UTF-8");
    const auto reply = c.send_raw(req);
    EXPECT_EQ(reply.status, http_status::internal_server_error);
    EXPECT_EQ(parse(reply.body)->subcode, "w:AccessDenied");
    EXPECT_EQ(server_->statistics().soap_requests, 0u);
}

TEST_F(simulator_server, a_tampered_seal_ends_the_connection) {
    start();
    test_client c = client();
    ASSERT_EQ(c.authenticate(), http_status::ok);
    const std::string soap = enumerate("SELECT Caption FROM Win32_OperatingSystem");
    std::string wrapped = c.wrap(soap);
    wrapped[20] = static_cast<char>(wrapped[20] ^ 0x55);
    auto req = c.request(test_client::sealed_body(wrapped, soap.size()));
    req.set(boost::beast::http::field::content_type, test_client::sealed_content_type());
    const auto reply = c.send_raw(req);
    EXPECT_EQ(reply.status, http_status::bad_request);
    EXPECT_FALSE(reply.keep_alive);
}

TEST_F(simulator_server, pages_through_pull_with_fresh_contexts) {
    simulator_options options;
    options.first_page_size = 2;
    options.page_size = 2;
    start(options);
    test_client c = client();
    ASSERT_EQ(c.authenticate(), http_status::ok);
    auto first = parse(c.send_sealed(enumerate("SELECT Name FROM Win32_Service")).body);
    std::vector<std::string> names = first->values;
    EXPECT_EQ(names.size(), 2u);
    std::string context = first->context;
    std::vector<std::string> contexts{context};
    while (!context.empty()) {
        // MaxElements 3 is above the page size: the page size wins.
        auto page = parse(c.send_sealed(pull(context, 3)).body);
        EXPECT_LE(page->values.size(), 2u);
        names.insert(names.end(), page->values.begin(), page->values.end());
        context = page->end ? "" : page->context;
        if (!context.empty()) {
            EXPECT_EQ(std::find(contexts.begin(), contexts.end(), context), contexts.end());
            contexts.push_back(context);
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"s1", "s2", "s3", "s4", "s5", "s6", "s7"}));
    EXPECT_EQ(server_->statistics().open_enumerations, 0u);

    // Without OptimizeEnumeration every item comes by Pull; MaxElements 1 pulls one at a time.
    auto plain = parse(
        c.send_sealed(enumerate("SELECT Name FROM Win32_Service", {"root\\cimv2", false})).body);
    EXPECT_TRUE(plain->values.empty());
    auto one = parse(c.send_sealed(pull(plain->context, 1)).body);
    EXPECT_EQ(one->values, std::vector<std::string>{"s1"});
    EXPECT_EQ(server_->statistics().open_enumerations, 1u);
}

TEST_F(simulator_server, contexts_expire_after_the_idle_timeout_of_the_injected_clock) {
    simulator_options options;
    options.enumeration_timeout = 60s;
    start(options);
    test_client c = client();
    ASSERT_EQ(c.authenticate(), http_status::ok);
    const std::string context =
        parse(c.send_sealed(enumerate("SELECT Name FROM Win32_Service")).body)->context;
    offset_s_ = 30;
    const std::string next = parse(c.send_sealed(pull(context, 1)).body)->context;
    offset_s_ = 91;  // 61 s idle since the last Pull
    const auto reply = c.send_sealed(pull(next, 1));
    EXPECT_EQ(reply.status, http_status::internal_server_error);
    EXPECT_EQ(parse(reply.body)->subcode, "n:InvalidEnumerationContext");
}

TEST_F(simulator_server, counters_advance_with_the_injected_clock) {
    start();
    test_client c = client();
    ASSERT_EQ(c.authenticate(), http_status::ok);
    const std::string wql =
        "SELECT PercentProcessorTime, Timestamp_Sys100NS FROM Win32_PerfRawData_PerfOS_Processor";
    auto first = parse(c.send_sealed(enumerate(wql)).body, "PercentProcessorTime");
    auto first_ts = parse(c.send_sealed(enumerate(wql)).body, "Timestamp_Sys100NS");
    offset_s_ = 10;
    auto second = parse(c.send_sealed(enumerate(wql)).body, "PercentProcessorTime");
    auto second_ts = parse(c.send_sealed(enumerate(wql)).body, "Timestamp_Sys100NS");
    const long long idle = std::stoll(second->values.at(0)) - std::stoll(first->values.at(0));
    const long long ticks =
        std::stoll(second_ts->values.at(0)) - std::stoll(first_ts->values.at(0));
    EXPECT_EQ(ticks, 100'000'000);
    EXPECT_EQ(idle, 70'000'000);  // 70 % idle → 30 % load over the two samples
}

TEST_F(simulator_server, answers_missing_namespaces_and_classes_with_wmi_faults) {
    start();
    test_client c = client();
    ASSERT_EQ(c.authenticate(), http_status::ok);
    struct fault_case {
        std::string ns;
        std::string wql;
        std::string code;
    };
    const std::vector<fault_case> cases = {
        {"root\\SecurityCenter2", "SELECT displayName FROM AntiVirusProduct", "2147749902"},
        {"root\\cimv2", "SELECT * FROM Win32_Nothing", "2147749904"},
        {"root\\cimv2", "SELECT * FROM Win32_Service WHERE", "2147749911"},
    };
    for (const fault_case& f : cases) {
        SCOPED_TRACE(f.wql);
        const auto reply = c.send_sealed(enumerate(f.wql, {f.ns, true}));
        EXPECT_EQ(reply.status, http_status::internal_server_error);
        EXPECT_EQ(parse(reply.body, "error_Code")->values, std::vector<std::string>{f.code});
    }
}

TEST_F(simulator_server, injected_faults_hit_the_planned_number_of_requests) {
    start();
    const std::string soap = enumerate("SELECT Caption FROM Win32_OperatingSystem");

    server_->set_fault({fault_kind::wrong_credentials, 0ms, 1});
    test_client c = client();
    EXPECT_EQ(c.authenticate(), http_status::unauthorized);
    ASSERT_EQ(c.authenticate(), http_status::ok);

    // On an established connection the fault looks like a lost context: 401, then re-auth.
    server_->set_fault({fault_kind::wrong_credentials, 0ms, 1});
    EXPECT_EQ(c.send_sealed(soap).status, http_status::unauthorized);
    ASSERT_EQ(c.authenticate(), http_status::ok);
    EXPECT_EQ(c.send_sealed(soap).status, http_status::ok);

    server_->set_fault({fault_kind::server_error, 0ms, 1});
    const auto error = c.send_sealed(soap);
    EXPECT_EQ(error.status, http_status::internal_server_error);
    EXPECT_EQ(parse(error.body)->subcode, "w:InternalError");

    server_->set_fault({fault_kind::malformed_xml, 0ms, 1});
    const auto malformed = c.send_sealed(soap);
    EXPECT_EQ(malformed.status, http_status::ok);
    pugi::xml_document doc;
    EXPECT_FALSE(doc.load_string(malformed.body.c_str()));

    server_->set_fault({fault_kind::slow_answer, 50ms, 1});
    EXPECT_EQ(parse(c.send_sealed(soap).body, "Caption")->values,
              std::vector<std::string>{"Simulated Windows Server"});

    server_->set_fault({fault_kind::drop_connection, 0ms, 1});
    EXPECT_THROW(c.send_sealed(soap), boost::system::system_error);
    ASSERT_EQ(c.authenticate(), http_status::ok);
    EXPECT_EQ(c.send_sealed(soap).status, http_status::ok);
}

TEST_F(simulator_server, drop_connections_closes_authenticated_sockets) {
    start();
    test_client c = client();
    ASSERT_EQ(c.authenticate(), http_status::ok);
    server_->drop_connections();
    EXPECT_THROW(c.send_sealed(enumerate("SELECT Caption FROM Win32_OperatingSystem")),
                 boost::system::system_error);
    ASSERT_EQ(c.authenticate(), http_status::ok);
    EXPECT_EQ(c.send_sealed(enumerate("SELECT Caption FROM Win32_OperatingSystem")).status,
              http_status::ok);
}

TEST_F(simulator_server, refuses_envelopes_above_the_size_limit) {
    simulator_options options;
    options.max_envelope_size = 8192;
    start(options);
    test_client c = client();
    ASSERT_EQ(c.authenticate(), http_status::ok);
    EXPECT_EQ(c.send_sealed(enumerate("SELECT Name FROM Win32_Service WHERE Name = '" +
                                      std::string(20000, 'x') + "'"))
                  .status,
              http_status::payload_too_large);
}

TEST_F(simulator_server, limits_open_enumerations_per_user) {
    simulator_options options;
    options.max_enumerations_per_user = 2;
    start(options);
    test_client c = client();
    ASSERT_EQ(c.authenticate(), http_status::ok);
    const std::string soap = enumerate("SELECT Name FROM Win32_Service", {"root\\cimv2", false});
    EXPECT_EQ(c.send_sealed(soap).status, http_status::ok);
    const std::string second = parse(c.send_sealed(soap).body)->context;
    const auto refused = c.send_sealed(soap);
    EXPECT_EQ(refused.status, http_status::internal_server_error);
    EXPECT_EQ(parse(refused.body)->subcode, "w:InternalError");
    // Finishing one frees a slot.
    while (!parse(c.send_sealed(pull(second, 100)).body)->end) {
    }
    EXPECT_EQ(c.send_sealed(soap).status, http_status::ok);
}

TEST_F(simulator_server, logs_logons_and_requests_without_secrets) {
    std::mutex mutex;
    std::vector<std::string> lines;
    simulator_options options;
    options.log = [&](const std::string& line) {
        std::lock_guard lock(mutex);
        lines.push_back(line);
    };
    start(options);
    test_client wrong = client(test_client::mechanism::ntlm, "Wrong-Secret-1");
    EXPECT_EQ(wrong.authenticate(), http_status::unauthorized);
    test_client c = client();
    ASSERT_EQ(c.authenticate(), http_status::ok);
    c.send_sealed(enumerate("SELECT Name FROM Win32_Service WHERE Name = 's3'"));
    server_->stop();
    auto has = [&](const std::string& text) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(has("logon failed"));
    EXPECT_TRUE(has("logon: TESTDOM\\testuser"));
    EXPECT_TRUE(
        has("Enumerate root\\cimv2: SELECT Name FROM Win32_Service WHERE Name = 's3' -> 1"));
    EXPECT_FALSE(has(password));
    EXPECT_FALSE(has("Wrong-Secret-1"));
    EXPECT_FALSE(has("Negotiate "));
}

TEST(simulator_lifecycle, refuses_bad_options_and_stops_twice) {
    const machine_model model = machine_model::parse(model_json, "unit");
    simulator_options remote;
    remote.address = "192.0.2.1";
    remote.users = {parse_user_account("u:p")};
    EXPECT_THROW(simulator(model, remote).start(), std::runtime_error);
    simulator_options nobody;
    EXPECT_THROW(simulator(model, nobody).start(), std::runtime_error);

    simulator_options ok;
    ok.users = {parse_user_account("u:p")};
    simulator s(model, ok);
    s.start();
    EXPECT_NE(s.port(), 0);
    EXPECT_EQ(s.endpoint(), "http://127.0.0.1:" + std::to_string(s.port()) + "/wsman");
    s.stop();
    s.stop();
    // A stopped simulator starts again and serves.
    s.start();
    testing::test_client c(s.port(), "u", "p", testing::test_client::mechanism::ntlm);
    EXPECT_EQ(c.authenticate(), boost::beast::http::status::ok);
}

TEST(simulator_options_text, parses_users_and_faults) {
    const user_account a = parse_user_account("LAB\\alice:pa ss");
    EXPECT_EQ(a.domain, "LAB");
    EXPECT_EQ(a.name, "alice");
    EXPECT_EQ(a.password, "pa ss");
    const user_account b = parse_user_account("bob:");
    EXPECT_EQ(b.domain, "");
    EXPECT_EQ(b.password, "");
    for (const char* bad :
         {"alice", ":pw", "LAB\\:pw", "a\\b\\c:pw", "alice:pa:ss", "al\nice:pw"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(parse_user_account(bad), std::invalid_argument);
    }
    EXPECT_EQ(parse_fault_plan("slow:250").delay, 250ms);
    EXPECT_EQ(parse_fault_plan("slow:250").kind, fault_kind::slow_answer);
    EXPECT_EQ(parse_fault_plan("drop").kind, fault_kind::drop_connection);
    EXPECT_EQ(parse_fault_plan("none").kind, fault_kind::none);
    for (const char* bad : {"slow", "slow:", "slow:-1", "slow:1x", "explode"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(parse_fault_plan(bad), std::invalid_argument);
    }
}

}  // namespace
}  // namespace winrm_simulator
