// libwql.so, used exactly as the module uses it (public headers only), against the simulated
// Windows target over loopback: authentication, sealing, paging, every way a target or the
// network can fail, values on the wire and the module's whole query list.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>
#include <tuple>

#include "error_key.hpp"
#include "libwql/libwql.hpp"
#include "offline_krb5.hpp"
#include "recording_log.hpp"
#include "simulator/simulator.hpp"
#include "test_ca.hpp"
#include "wsman_wire/envelope.hpp"

namespace {

using namespace std::chrono_literals;
namespace sim = winrm_simulator;
using sim::reply_fault;
using test_support::error_key;

const std::string models_dir = WMI_SIMULATOR_MODELS_DIR;
const char* const password = "E2e-Secret#1";
const std::string services = "SELECT Name FROM Win32_Service";

// 2026-12-05T17:30:01.5Z, a fixed instant with a fraction.
const sim::sim_clock::time_point fixed_now =
    sim::sim_clock::time_point(std::chrono::seconds(1796491801)) + 500ms;

// A model whose values exercise every form on the wire, and more services than fit a page.
std::string values_model() {
    nlohmann::json model;
    model["machine_name"] = "WIN-E2E";
    model["utc_offset_minutes"] = -300;
    nlohmann::json& cimv2 = model["namespaces"]["root\\cimv2"];
    cimv2["Win32_OperatingSystem"]["instances"] = nlohmann::json::array({{
        {"Caption", "E2E Windows"},
        {"Description", ""},
        {"OtherTypeDescription", nullptr},
        {"FreeVirtualMemory", std::numeric_limits<std::uint64_t>::max()},
        {"LocalDateTime", {{"datetime", "now"}}},
        {"InstallDate", {{"datetime", "2024-03-11T09:12:44.1234567+05:30"}}},
        {"MUILanguages", {"en-US", "de-DE", ""}},
    }});
    nlohmann::json rows = nlohmann::json::array();
    for (int i = 0; i < 250; ++i) rows.push_back({{"Name", "svc" + std::to_string(1000 + i)}});
    cimv2["Win32_Service"]["instances"] = rows;
    cimv2["Win32_Printer"]["instances"] = nlohmann::json::array(
        {{{"Name", "O'Brien \\ Laser"}}, {{"Name", "O'Brien"}}, {{"Name", "Back\\"}}});
    return model.dump();
}

// Retry pauses and idle time without sleeping: pauses only move this clock forward.
class test_clock final : public libwql::wql_clock {
public:
    std::chrono::steady_clock::time_point now() override {
        return start_ + std::chrono::steady_clock::duration(ticks_.load());
    }
    void sleep_for(std::chrono::steady_clock::duration pause) override { ticks_ += pause.count(); }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::atomic<std::chrono::steady_clock::duration::rep> ticks_{0};
};

// The CA every HTTPS test trusts, through SSL_CERT_FILE: the client reads the trust store
// once per process.
const test_support::test_ca& trusted_ca() {
    static const test_support::test_ca ca("libwql test CA");
    static const std::string path = ::testing::TempDir() + "libwql_e2e_ca.pem";
    if (std::ofstream(path) << ca.certificate_pem()) setenv("SSL_CERT_FILE", path.c_str(), 1);
    return ca;
}

std::size_t threads_of_process() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

class wql_simulator : public ::testing::Test {
protected:
    static void SetUpTestSuite() { offline_krb5::configure(); }

    void start(sim::machine_model model, bool fixed_clock = true,
               const std::function<void(sim::simulator_options&)>& adjust = {}) {
        sim::simulator_options options;
        options.users = {sim::parse_user_account(std::string("LAB\\monitor:") + password)};
        if (fixed_clock) options.clock = [] { return fixed_now; };
        options.log = [this](const std::string& line) { target_log_.log(7, line); };
        if (adjust) adjust(options);
        target_ = std::make_unique<sim::simulator>(std::move(model), options);
        target_->start();
        client_ = libwql::create_wsman_client(settings_, log_, clock_);
    }
    void start_values(const std::function<void(sim::simulator_options&)>& adjust = {}) {
        start(sim::machine_model::parse(values_model(), "values"), true, adjust);
    }

    libwql::wsman_connection_parameters target(const std::string& pass = password) const {
        return {"127.0.0.1", "LAB", "monitor", pass, 0, target_->port()};
    }
    std::unique_ptr<libwql::wmi_session_interface> session(const std::string& pass = password) {
        return client_->open_session(target(pass));
    }
    std::size_t count(const std::string& wql) {
        return session()->query(wql, "root\\cimv2")->get_rows().size();
    }
    std::size_t count_over(const libwql::wsman_connection_parameters& p,
                           const std::string& wql = services) {
        return client_->open_session(p)->query(wql, "root\\cimv2")->get_rows().size();
    }

    // Short deadlines, so a reply held past them costs two seconds.
    libwql::wsman_client_settings settings_{8, 1, 1, 2, 1, 100};
    std::unique_ptr<sim::simulator> target_;
    std::shared_ptr<test_support::recording_log> log_ =
        std::make_shared<test_support::recording_log>();
    test_support::recording_log target_log_;
    std::shared_ptr<test_clock> clock_ = std::make_shared<test_clock>();
    std::unique_ptr<libwql::wsman_client_interface> client_;
};

sim::scripted_reply act(reply_fault fault, std::chrono::milliseconds delay = {},
                        unsigned status = 500, std::size_t size = 0,
                        std::optional<std::string> body = {}) {
    sim::scripted_reply r;
    std::tie(r.fault, r.delay, r.status, r.size, r.body) =
        std::tuple(fault, delay, status, size, std::move(body));
    return r;
}
sim::scripted_reply with_body(reply_fault fault, unsigned status, const std::string& body) {
    return act(fault, {}, status, 0, body);
}
std::string fault_body(const char* subcode, std::optional<std::uint32_t> wsman_code,
                       std::optional<std::uint32_t> wmi_code = {}) {
    return wsman_wire::write_fault({}, {"s:Receiver", subcode, "scripted", wsman_code, wmi_code},
                                   "WIN-E2E");
}

// What the target does to a multi-page query on a warm connection, and what the module
// sees: the whole result ("") or the key of the error.
struct fault_case {
    const char* name;
    // The requests hit ("logon", "Enumerate", "Pull"); null: all; "refuse": the target stops
    // listening for the query and comes back on the same port.
    const char* action;
    sim::scripted_reply reply;
    int times;  // 0: every time
    const char* expected;
    const char* detail = "";  // text the error must carry (the target's own words)
};

const fault_case fault_cases[] = {
    {"drop once", "Enumerate", act(reply_fault::drop), 1, ""},
    {"drop always", "Enumerate", act(reply_fault::drop), 0, "libwql.error.dead_session"},
    {"truncated once", "Pull", act(reply_fault::truncate), 1, ""},
    {"truncated always", "Enumerate", act(reply_fault::truncate), 0, "libwql.error.dead_session"},
    {"context lost", "Enumerate", act(reply_fault::refuse_logon), 1, ""},
    {"401 after the first Pull", "Pull", act(reply_fault::refuse_logon), 1, ""},
    {"credentials refused", nullptr, act(reply_fault::refuse_logon), 0,
     "libwql.error.access_denied"},
    {"unsealed success", "Enumerate", act(reply_fault::plaintext), 1,
     "libwql.error.getinstance_failed"},
    {"undecryptable seal", "Pull", act(reply_fault::bad_seal), 1,
     "libwql.error.getinstance_failed"},
    {"malformed XML", "Enumerate", act(reply_fault::malformed_xml), 1,
     "libwql.error.getinstance_failed"},
    {"oversized", "Enumerate", act(reply_fault::oversized, {}, 500, 2 << 20), 1,
     "libwql.error.getinstance_failed"},
    {"HTTP 500 once", "Enumerate", act(reply_fault::http_error), 1, ""},
    {"HTTP 503 always", "Pull", act(reply_fault::http_error, {}, 503), 0, "libwql.error.transient"},
    {"slow", "Pull", act(reply_fault::slow, 50ms), 3, ""},
    {"slow past the deadline", "Enumerate", act(reply_fault::slow, 3s), 1,
     "libwql.error.dead_session"},
    {"Pull timed out", "Pull",
     with_body(reply_fault::none, 500, fault_body("w:TimedOut", 2150858793)), 2, ""},
    {"enumeration context expired", "Pull",
     with_body(reply_fault::none, 500, fault_body("w:InvalidEnumerationContext", {})), 1, ""},
    {"quota reached", "Enumerate",
     with_body(reply_fault::none, 500, fault_body("w:InternalError", {})), 0,
     "libwql.error.overload"},
    {"access denied", "Enumerate",
     with_body(reply_fault::none, 500, fault_body("w:AccessDenied", 5)), 0,
     "libwql.error.access_denied"},
    {"unsealed WMI fault", "Enumerate",
     with_body(reply_fault::plaintext, 500, fault_body("w:InvalidParameter", {}, 0x80041010)), 0,
     "libwql.error.invalid_class"},
    {"refused", "refuse", {}, 0, "libwql.error.newsession_failed"},
    {"reset mid-reply once", "Pull", act(reply_fault::reset), 1, ""},
    {"reset mid-reply always", "Enumerate", act(reply_fault::reset), 0,
     "libwql.error.dead_session"},
    {"silent server", "Pull", act(reply_fault::silent), 1, "libwql.error.dead_session"},
    {"slow drip", "Pull", act(reply_fault::drip, 2ms, 500, 700), 0, ""},
    {"drip past the deadline", "Enumerate", act(reply_fault::drip, 300ms, 500, 64), 1,
     "libwql.error.dead_session"},
    {"never ending", "Pull",
     with_body(reply_fault::none, 200,
               wsman_wire::write_pull_response("", "uuid:again", {}, false)),
     0, "libwql.error.getinstance_failed"},
};

// Faults as Windows hosts write them (tests/wire/windows_faults.json, also read by the wire's
// parser test), sent sealed by the simulator as its reply.
std::vector<fault_case> all_fault_cases() {
    static const nlohmann::json rows =
        nlohmann::json::parse(std::ifstream(WMI_WINDOWS_FAULTS_JSON));
    std::vector<fault_case> cases(std::begin(fault_cases), std::end(fault_cases));
    for (const auto& row : rows) {
        const auto text = [&](const char* key) -> const std::string& {
            return row[key].get_ref<const std::string&>();
        };
        cases.push_back({text("name").c_str(), text("action").c_str(),
                         with_body(reply_fault::none, 500, text("xml")), row["times"].get<int>(),
                         text("outcome").c_str(),
                         row.contains("detail") ? text("detail").c_str() : ""});
    }
    return cases;
}

TEST_F(wql_simulator, every_fault_is_recovered_or_reported_by_its_key) {
    for (const fault_case& c : all_fault_cases()) {
        SCOPED_TRACE(c.name);
        start_values();
        ASSERT_EQ(1u, count("SELECT Caption FROM Win32_OperatingSystem"));
        auto hits = std::make_shared<std::atomic<int>>(0);
        target_->set_script([&c, hits](const sim::request_info& r) -> sim::scripted_reply {
            if (c.action != nullptr && r.action != c.action) return {};
            if (c.times != 0 && ++*hits > c.times) return {};
            return c.reply;
        });
        const bool refuse = c.action != nullptr && std::string(c.action) == "refuse";
        if (refuse) target_->stop();
        std::string what;
        const std::string key = error_key([&] {
            try {
                EXPECT_EQ(250u, count(services));
            } catch (const std::exception& e) {
                what = e.what();
                throw;
            }
        });
        EXPECT_EQ(*c.expected ? c.expected : "no exception", key);
        EXPECT_NE(std::string::npos, what.find(c.detail)) << what;
        if (refuse) target_->start();
        // The client stays usable.
        target_->set_script({});
        EXPECT_EQ(250u, count(services));
    }
}

TEST_F(wql_simulator, wmi_faults_raise_the_typed_exceptions_and_spare_the_session) {
    start(sim::machine_model::load_file(models_dir + "/windows_server.json"), false);
    auto s = session();
    try {
        s->query("SELECT displayName FROM AntiVirusProduct", "root\\SecurityCenter2");
        ADD_FAILURE() << "no exception";
    } catch (const libwql::exceptions::invalid_namespace_error& e) {
        EXPECT_EQ("The WMI namespace does not exist on the target device: root\\SecurityCenter2",
                  std::string(e.what()));
    }
    EXPECT_THROW(s->query("SELECT Name FROM Win32_NoSuchClass", "root\\cimv2"),
                 libwql::exceptions::invalid_class_error);
    EXPECT_THROW(s->query("SELECT NoSuchProperty FROM Win32_Service", "root\\cimv2"),
                 libwql::exceptions::fatal_query_error);
    EXPECT_FALSE(s->query("SELECT Name FROM Win32_Service", "root\\cimv2")->get_rows().empty());
    EXPECT_EQ(1u, target_->statistics().handshakes);
}

// Parallel sessions and the bound on connections are the pool test's; here: a refused password
// poisons nothing and no secret or token reaches either side's log.
TEST_F(wql_simulator, a_refused_password_leaves_no_trace_and_the_right_one_works) {
    start_values();
    EXPECT_EQ("libwql.error.access_denied",
              error_key([&] { session("not-the-password")->query(services, "root\\cimv2"); }));
    EXPECT_EQ(1u, session()
                      ->query("SELECT Caption FROM Win32_OperatingSystem", "root\\cimv2")
                      ->get_rows()
                      .size());
    const auto stats = target_->statistics();
    EXPECT_EQ(stats.connections, stats.handshakes + 1);  // + the refused one
    EXPECT_TRUE(target_log_.contains("logon: LAB\\monitor"));
    EXPECT_TRUE(target_log_.contains("Enumerate root\\cimv2: SELECT Caption"));
    for (const auto* log : {log_.get(), &target_log_}) {
        EXPECT_FALSE(log->contains(password));
        EXPECT_FALSE(log->contains("not-the-password"));
    }
    EXPECT_FALSE(target_log_.contains("Negotiate "));  // no token either
}

TEST_F(wql_simulator, multi_page_results_arrive_whole_and_in_order) {
    for (const std::int64_t max_elements : {100, 7}) {
        SCOPED_TRACE(max_elements);
        settings_.max_elements = max_elements;
        start_values();
        const auto result = session()->query(services, "root\\cimv2");
        ASSERT_EQ(250u, result->get_rows().size());
        for (std::size_t i = 0; i < 250; ++i) {
            EXPECT_EQ("svc" + std::to_string(1000 + i),
                      result->get_rows()[i].at("Name").as_string());
        }
        // One item in the EnumerateResponse, then pages of min(32, MaxElements).
        const std::uint64_t page = std::min<std::int64_t>(32, max_elements);
        EXPECT_EQ(1 + (249 + page - 1) / page, target_->statistics().soap_requests);
        EXPECT_EQ(0u, target_->statistics().open_enumerations);
    }
}

TEST_F(wql_simulator, values_keep_their_wire_forms) {
    start_values();
    const auto result = session()->query(
        "SELECT Caption, Description, OtherTypeDescription, FreeVirtualMemory, LocalDateTime, "
        "InstallDate, MUILanguages FROM Win32_OperatingSystem",
        "root\\cimv2");
    ASSERT_EQ(1u, result->get_rows().size());
    const libwql::wql_query_row& row = result->get_rows()[0];
    EXPECT_EQ(7u, row.size());
    EXPECT_TRUE(row.at("OtherTypeDescription").is_null());
    EXPECT_EQ("", row.get("Description")->as_string());
    EXPECT_EQ(std::numeric_limits<std::uint64_t>::max(), row.at("FreeVirtualMemory").as_uint64_t());
    EXPECT_EQ((std::vector<std::string>{"en-US", "de-DE", ""}), row.at("MUILanguages").values());
    // The target renders "now" in its own offset (UTC-5) with the half second.
    EXPECT_EQ(fixed_now, row.at("LocalDateTime").as_timestamp_t());
    // 09:12:44.1234567 at +05:30 is 03:42:44.1234567 UTC.
    EXPECT_EQ(
        std::chrono::sys_days(std::chrono::year{2024} / 3 / 11) + 3h + 42min + 44s + 123456700ns,
        row.at("InstallDate").as_timestamp_t());
}

TEST_F(wql_simulator, quotes_and_backslashes_stay_inside_the_literal) {
    start_values();
    auto s = session();
    const auto names_of = [&](const std::string& value) {
        const auto query = libwql::wql_query_builder::select({"Name"})
                               .from("Win32_Printer")
                               .where_equals("Name", value)
                               .build();
        std::vector<std::string> names;
        const auto result = s->query(query.get(), "root\\cimv2");
        for (const auto& row : result->get_rows()) names.push_back(row.at("Name").as_string());
        return names;
    };
    for (const char* name : {"O'Brien \\ Laser", "O'Brien", "Back\\"}) {
        EXPECT_EQ(std::vector<std::string>{name}, names_of(name));
    }
    // Attempts to end the literal early and widen the condition find nothing.
    for (const char* attack : {"x' OR Name LIKE '%", "Back\\' OR Name LIKE '%", "\\", "\""}) {
        EXPECT_TRUE(names_of(attack).empty()) << attack;
    }
}

// The module's queries (module_queries.json, per shipped model) answer with the rows the
// module needs and exactly the fields it selects.
TEST_F(wql_simulator, the_shipped_models_answer_every_module_query) {
    std::ifstream file(std::string(WMI_E2E_DATA_DIR) + "/module_queries.json");
    const auto lists = nlohmann::json::parse(file);
    for (const auto& [model, queries] : lists.items()) {
        start(sim::machine_model::load_file(models_dir + "/" + model), false);
        auto s = session();
        for (const auto& q : queries) {
            const std::string wql = q["wql"];
            SCOPED_TRACE(model + ": " + wql);
            const std::size_t fields =
                std::count(wql.begin(), wql.begin() + wql.find(" FROM "), ',') + 1;
            try {
                const auto result = s->query(wql, q["ns"]);
                EXPECT_GE(result->get_rows().size(), q["min_rows"].get<std::size_t>());
                for (const auto& row : result->get_rows()) EXPECT_EQ(fields, row.size());
            } catch (const std::exception& e) {
                ADD_FAILURE() << e.what();
            }
        }
        EXPECT_EQ(1u, target_->statistics().handshakes);
    }
}

TEST_F(wql_simulator, unreachable_targets_and_bad_parameters_are_session_errors) {
    start_values();
    const std::uint16_t closed_port = target_->port();
    target_->stop();
    const std::pair<std::function<void(libwql::wsman_connection_parameters&)>, const char*>
        cases[] = {
            {[](auto&) {}, "libwql.error.newsession_failed"},  // nothing listens
            {[](auto& p) { p.host.clear(); }, "libwql.error.newsession_failed"},
            {[](auto& p) { p.authentication_mode = 7; },
             "libwql.error.adddestinationcredentials_failed"},
        };
    for (const auto& [change, key] : cases) {
        libwql::wsman_connection_parameters p{"127.0.0.1", "LAB", "monitor",
                                              password,    0,     closed_port};
        change(p);
        EXPECT_EQ(key, error_key([&] {
                      client_->open_session(p)->query("SELECT Name FROM X", "root\\cimv2");
                  }));
    }
}

TEST_F(wql_simulator, clients_share_a_bounded_pool_that_survives_closed_and_idle_connections) {
    start_values();
    const std::string os = "SELECT Caption FROM Win32_OperatingSystem";
    const auto scan = [&](libwql::wsman_client_interface& client) {
        return client.open_session(target())->query(os, "root\\cimv2")->get_rows().size();
    };
    // Every sensor holds its own client; they all share one authenticated connection.
    for (int i = 0; i < 10; ++i) EXPECT_EQ(1u, scan(*libwql::create_wsman_client(settings_, log_)));
    EXPECT_EQ(1u, target_->statistics().handshakes);
    // Eight sensors at once against a slow target: never more than four connections.
    target_->set_script([](const sim::request_info& r) {
        return r.action == "Enumerate" ? act(reply_fault::slow, 30ms) : sim::scripted_reply{};
    });
    std::vector<std::thread> sensors;
    for (int t = 0; t < 8; ++t) {
        sensors.emplace_back([&] {
            for (int i = 0; i < 3; ++i) EXPECT_EQ(1u, scan(*client_));
        });
    }
    for (auto& t : sensors) t.join();
    target_->set_script({});
    EXPECT_LE(target_->statistics().connections, 4u);
    // Connections the target closed while idle cost no query, even one without retries.
    target_->drop_connections();
    EXPECT_EQ(1u, scan(*libwql::create_wsman_client({8, 1, 1, 0, 1, 100}, log_, clock_)));
    // Idle past the expiry: closed, and a new connection authenticates.
    const auto handshakes = target_->statistics().handshakes;
    clock_->sleep_for(101s);
    EXPECT_EQ(1u, scan(*client_));
    EXPECT_EQ(handshakes + 1, target_->statistics().handshakes);
    // Retry pauses (50 ms, then 100 ms) run on the client's clock, not on the test's time.
    const auto before = clock_->now();
    target_->set_script([](const sim::request_info&) { return act(reply_fault::http_error); });
    EXPECT_EQ("libwql.error.transient", error_key([&] { scan(*client_); }));
    EXPECT_EQ(150ms, clock_->now() - before);
}

TEST_F(wql_simulator, the_session_time_limit_bounds_every_step) {
    settings_ = {8, 5, 5, 3, 3, 100};  // what the module passes
    start_values();
    const std::string os = "SELECT Caption FROM Win32_OperatingSystem";  // one request
    using family = libwql::address_family;
    // What the target does, the host and address family asked for, and the outcome.
    const std::tuple<sim::scripted_reply, const char*, family, const char*> cases[] = {
        {act(reply_fault::silent), "127.0.0.1", family::any, "libwql.error.dead_session"},
        {act(reply_fault::slow, 2s), "127.0.0.1", family::any, ""},
        {{}, "localhost", family::ipv4, ""},
        {{}, "localhost", family::ipv6, "libwql.error.newsession_failed"},
    };
    // Name lookups, connects and steps cut short by the deadline start no thread.
    const std::size_t threads = threads_of_process();
    for (const auto& [reply, host, address_family, expected] : cases) {
        SCOPED_TRACE(host + std::string(expected));
        target_->set_script([&reply](const sim::request_info&) { return reply; });
        auto p = target();
        std::tie(p.host, p.family, p.session_timeout) = std::tuple(host, address_family, 3s);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(*expected ? expected : "no exception", error_key([&] { count_over(p, os); }));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3500ms);
    }
    EXPECT_EQ(threads, threads_of_process());
}

TEST_F(wql_simulator, https_talks_only_to_a_verified_target_and_binds_the_logon_to_it) {
    const test_support::test_ca& ca = trusted_ca();
    const test_support::test_ca stranger("a CA nobody trusts");
    const std::pair<test_support::issued_certificate, const char*> cases[] = {
        {ca.issue("IP:127.0.0.1"), ""},
        {ca.issue("IP:127.0.0.1", -7200, -3600), "libwql.error.tls_certificate_expired"},
        {stranger.issue("IP:127.0.0.1"), "libwql.error.tls_unknown_issuer"},
        {ca.issue("DNS:other.example"), "libwql.error.tls_host_name_mismatch"},
        {{}, "libwql.error.tls_plain_http"},  // HTTPS asked of an HTTP port
    };
    for (const auto& [certificate, expected] : cases) {
        SCOPED_TRACE(expected);
        start_values([&](sim::simulator_options& o) {
            o.tls_certificate_pem = certificate.certificate_pem;
            o.tls_private_key_pem = certificate.key_pem;
            o.require_channel_binding = true;
        });
        auto p = target();
        p.use_https = true;
        std::string text;  // the user's message
        EXPECT_EQ(*expected ? expected : "no exception", error_key([&] {
            try {
                EXPECT_EQ(250u, count_over(p));
            } catch (const std::exception& e) {
                text = e.what();
                throw;
            }
        }));
        // Nothing reaches a target whose certificate failed; the plain port is named.
        EXPECT_EQ(*expected != '\0', target_->statistics().http_requests == 0);
        EXPECT_EQ(certificate.certificate_pem.empty(), text.find("5986") != std::string::npos);
        if (!*expected) {  // a verified connection is pooled: the next scan reuses it
            EXPECT_EQ(250u, count_over(p));
            EXPECT_EQ(1u, target_->statistics().handshakes);
        }
    }
    // A peer that ends the handshake with an alert.
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor listener(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    std::thread peer([&] {
        boost::system::error_code ignored;
        auto socket = listener.accept();
        char hello[4096];
        socket.read_some(boost::asio::buffer(hello), ignored);
        const unsigned char handshake_failure[] = {0x15, 0x03, 0x03, 0x00, 0x02, 0x02, 0x28};
        boost::asio::write(socket, boost::asio::buffer(handshake_failure), ignored);
    });
    auto p = target();
    std::tie(p.port, p.use_https) = std::tuple(listener.local_endpoint().port(), true);
    EXPECT_EQ("libwql.error.tls_handshake_failed", error_key([&] { count_over(p); }));
    peer.join();
}

}  // namespace
