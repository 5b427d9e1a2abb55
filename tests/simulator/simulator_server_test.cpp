// The simulator at the HTTP level, where libwql never goes: refusals, paging options, expiry
// on the injected clock, per-user limits and the lifecycle.
#include "simulator/simulator.hpp"

#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include "offline_krb5.hpp"
#include "wsman_wire/auth.hpp"
#include "wsman_wire/envelope.hpp"
#include "wsman_wire/sealing.hpp"

namespace winrm_simulator {
namespace {

using namespace std::chrono_literals;
namespace http = boost::beast::http;
using status = http::status;

const char* const model_json = R"({"machine_name": "WIN-UNIT", "namespaces": {"root\\cimv2": {
    "Win32_Service": {"instances": [{"Name": "s1"}, {"Name": "s2"}, {"Name": "s3"},
      {"Name": "s4"}, {"Name": "s5"}, {"Name": "s6"}, {"Name": "s7"}]}}}})";

// A bare WinRM client on one socket: Negotiate and sealing through the wire library.
class raw_client {
public:
    using request = http::request<http::string_body>;
    using response = http::response<http::string_body>;

    explicit raw_client(std::uint16_t port) : socket_(io_) {
        socket_.connect({boost::asio::ip::make_address("127.0.0.1"), port});
    }

    static request make(std::string body = {}, http::verb verb = http::verb::post,
                        const char* target = "/wsman") {
        request req{verb, target, 11};
        req.set(http::field::host, "localhost");
        req.body() = std::move(body);
        return req;
    }

    response send(request req) {
        req.prepare_payload();
        http::write(socket_, req);
        response res;
        http::read(socket_, buffer_, res);
        return res;
    }

    status logon(const std::string& user, const std::string& password) {
        context_.emplace(wsman_wire::gss_context::initiator(user, password, "localhost",
                                                            wsman_wire::gss_mechanism::negotiate));
        std::string token = context_->step({});
        for (int leg = 0; leg < 6; ++leg) {
            auto req = make();
            req.set(http::field::authorization, wsman_wire::auth_header("Negotiate", token));
            const response res = send(std::move(req));
            const std::string challenge(res[http::field::www_authenticate]);
            const auto offered = wsman_wire::auth_token(challenge, "Negotiate");
            if (res.result() != status::unauthorized || !offered || offered->empty()) {
                if (offered && !offered->empty()) context_->step(*offered);
                return res.result();
            }
            token = context_->step(*offered);
        }
        return status::unknown;
    }

    request seal(const std::string& soap) {
        const auto body = wsman_wire::seal_message(*context_, soap, wsman_wire::spnego_protocol);
        auto req = make(body.body);
        req.set(http::field::content_type, body.content_type);
        return req;
    }

    // Sealed both ways; the reply body comes back unsealed.
    response sealed(const std::string& soap) {
        response res = send(seal(soap));
        const std::string type(res[http::field::content_type]);
        if (wsman_wire::is_sealed_content_type(type)) {
            res.body() = wsman_wire::unseal_message(*context_, type, res.body());
        }
        return res;
    }

private:
    boost::asio::io_context io_;
    boost::asio::ip::tcp::socket socket_;
    boost::beast::flat_buffer buffer_;
    std::optional<wsman_wire::gss_context> context_;
};

wsman_wire::request_header header() {
    return {"http://localhost/wsman", wsman_wire::resource_uri_for("root\\cimv2"),
            wsman_wire::new_message_id()};
}
std::string enumerate(bool optimize = true, const std::string& where = "") {
    return wsman_wire::write_enumerate(header(), "SELECT Name FROM Win32_Service" + where, 32000,
                                       optimize);
}
std::string pull(const std::string& context, int max_elements) {
    return wsman_wire::write_pull(header(), context, max_elements);
}
class simulator_server : public ::testing::Test {
protected:
    static void SetUpTestSuite() { offline_krb5::configure(); }

    std::unique_ptr<raw_client> start(simulator_options options = {}) {
        options.users = {parse_user_account("TESTDOM\\testuser:Sim-Passw0rd!")};
        options.clock = [this] { return sim_clock::time_point(1796486400s + offset_s_ * 1s); };
        server_ = std::make_unique<simulator>(machine_model::parse(model_json, "unit"), options);
        server_->start();
        auto c = std::make_unique<raw_client>(server_->port());
        EXPECT_EQ(status::ok, c->logon("TESTDOM\\testuser", "Sim-Passw0rd!"));
        return c;
    }
    wsman_wire::response reply(raw_client& c, const std::string& soap) {
        return wsman_wire::parse_response(c.sealed(soap).body());
    }

    long long offset_s_ = 0;
    std::unique_ptr<simulator> server_;
};

TEST_F(simulator_server, refuses_what_is_not_an_authenticated_sealed_request) {
    start();
    raw_client c(server_->port());
    auto unsealed = raw_client::make(enumerate());
    unsealed.set(http::field::content_type, "application/soap+xml;charset=UTF-8");
    const auto anonymous = c.send(unsealed);
    EXPECT_EQ(status::unauthorized, anonymous.result());
    EXPECT_EQ("Negotiate", anonymous[http::field::www_authenticate]);
    for (const char* authorization : {"Negotiate !!!not-base64", "Basic dXNlcjpwYXNz"}) {
        auto req = raw_client::make();
        req.set(http::field::authorization, authorization);
        EXPECT_EQ(status::unauthorized, c.send(req).result()) << authorization;
    }
    EXPECT_EQ(status::method_not_allowed, c.send(raw_client::make("", http::verb::get)).result());
    EXPECT_EQ(status::not_found, c.send(raw_client::make("", http::verb::post, "/other")).result());

    // Authenticated but in clear: refused as Windows does once encryption is required.
    ASSERT_EQ(status::ok, c.logon("TESTDOM\\testuser", "Sim-Passw0rd!"));
    const auto clear = c.send(unsealed);
    EXPECT_EQ(status::internal_server_error, clear.result());
    EXPECT_EQ("AccessDenied", wsman_wire::parse_response(clear.body()).fault->subcode);
    EXPECT_EQ(0u, server_->statistics().soap_requests);
}

TEST_F(simulator_server, a_tampered_or_oversized_request_ends_the_connection) {
    simulator_options options;
    options.max_envelope_size = 8192;
    auto c = start(options);
    const auto big = c->sealed(enumerate(true, " WHERE Name = '" + std::string(20000, 'x') + "'"));
    EXPECT_EQ(status::payload_too_large, big.result());
    EXPECT_FALSE(big.keep_alive());

    raw_client d(server_->port());
    ASSERT_EQ(status::ok, d.logon("TESTDOM\\testuser", "Sim-Passw0rd!"));
    auto req = d.seal(enumerate());
    req.body()[req.body().rfind("--Encrypted Boundary--") - 1] ^= 0x55;
    const auto tampered = d.send(req);
    EXPECT_EQ(status::bad_request, tampered.result());
    EXPECT_FALSE(tampered.keep_alive());
}

// (Fresh contexts and page sizes are the python3-winrm test's; libwql always optimizes.)
TEST_F(simulator_server, without_optimize_every_item_comes_by_pull) {
    auto c = start();
    const auto plain = reply(*c, enumerate(false));
    EXPECT_TRUE(plain.items.empty());
    const auto one = reply(*c, pull(plain.context, 1));
    ASSERT_EQ(1u, one.items.size());
    EXPECT_EQ(std::vector<std::string>{"s1"}, one.items[0].at(0).values);
    EXPECT_EQ(1u, server_->statistics().open_enumerations);
}

TEST_F(simulator_server, contexts_expire_on_the_injected_clock_and_are_limited_per_user) {
    simulator_options options;
    options.enumeration_timeout = 60s;
    options.max_enumerations_per_user = 2;
    auto c = start(options);
    const std::string first = reply(*c, enumerate(false)).context;
    offset_s_ = 30;
    const std::string second = reply(*c, enumerate(false)).context;
    const auto quota = reply(*c, enumerate(false)).fault;  // the third one
    EXPECT_EQ("InternalError", quota->subcode);
    EXPECT_EQ("2150859174", quota->code());  // as Windows sends it: with its code
    offset_s_ = 80;                          // 80 s since the first was used, 50 since the second
    EXPECT_EQ("InvalidEnumerationContext", reply(*c, pull(first, 1)).fault->subcode);
    EXPECT_FALSE(reply(*c, pull(second, 1)).fault);
    EXPECT_FALSE(reply(*c, enumerate(false)).fault);  // the expired one freed its slot
}

TEST(simulator_lifecycle, refuses_bad_options_and_restarts) {
    const machine_model model = machine_model::parse(model_json, "unit");
    simulator_options remote;
    remote.address = "192.0.2.1";
    remote.users = {parse_user_account("u:p")};
    EXPECT_THROW(simulator(model, remote).start(), std::runtime_error);
    EXPECT_THROW(simulator(model, {}).start(), std::runtime_error);

    simulator_options ok;
    ok.users = {parse_user_account("u:p")};
    simulator s(model, ok);
    s.start();
    EXPECT_EQ("http://127.0.0.1:" + std::to_string(s.port()) + "/wsman", s.endpoint());
    s.stop();
    s.stop();
    s.start();
    EXPECT_EQ(status::ok, raw_client(s.port()).logon("u", "p"));
}

TEST(simulator_options_text, parses_users_and_faults) {
    const user_account a = parse_user_account("LAB\\alice:pa ss");
    EXPECT_EQ("LAB", a.domain);
    EXPECT_EQ("alice", a.name);
    EXPECT_EQ("pa ss", a.password);
    EXPECT_EQ("", parse_user_account("bob:").password);
    for (const char* bad :
         {"alice", ":pw", "LAB\\:pw", "a\\b\\c:pw", "alice:pa:ss", "al\nice:pw"}) {
        EXPECT_THROW(parse_user_account(bad), std::invalid_argument) << bad;
    }
    EXPECT_EQ(250ms, parse_fault_plan("slow:250").reply.delay);
    EXPECT_FALSE(script_of(parse_fault_plan("none")));
    // --fault-count requests are hit, then service is normal; logon legs count only for
    // wrong-credentials.
    const std::pair<const char*, std::vector<std::pair<const char*, reply_fault>>> plays[] = {
        {"server-error",
         {{"logon", reply_fault::none},
          {"Enumerate", reply_fault::http_error},
          {"Pull", reply_fault::none}}},
        {"wrong-credentials",
         {{"logon", reply_fault::refuse_logon}, {"Enumerate", reply_fault::none}}},
    };
    for (const auto& [text, requests] : plays) {
        fault_plan plan = parse_fault_plan(text);
        plan.count = 1;
        const request_script script = script_of(plan);
        for (const auto& [action, fault] : requests) {
            request_info request;
            request.action = action;
            EXPECT_EQ(fault, script(request).fault) << text << " " << action;
        }
    }
    for (const char* bad : {"slow", "slow:", "slow:-1", "slow:1x", "explode"}) {
        EXPECT_THROW(parse_fault_plan(bad), std::invalid_argument) << bad;
    }
}

}  // namespace
}  // namespace winrm_simulator
