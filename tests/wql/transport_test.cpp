#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>

#include <atomic>
#include <mutex>

#include "libwql/libwql.hpp"
#include "test_server.hpp"

namespace {

using namespace wql_test;
using how = reply_plan::how;

class recording_log : public liblog::log_interface {
public:
    void log(int level, const std::string& message) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::to_string(level) + " " + message);
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// "libwql.error.access_denied" from "#:libwql.error.access_denied[...]".
std::string error_key(const std::function<void()>& action) {
    try {
        action();
    } catch (const libi18n::i18n_exception& e) {
        const auto key = e.get_i18n_msg().key;
        return key.substr(2, key.find('[') - 2);
    } catch (const std::exception& e) {
        return std::string("std::exception: ") + e.what();
    }
    return "no exception";
}

std::string service_row(const std::string& name) {
    return fragment({{"Name", name}, {"State", "Running"}});
}

class transport : public ::testing::Test {
protected:
    libwql::wsman_client_settings settings{8, 2, 2, 2, 1, 100};
    std::shared_ptr<recording_log> log = std::make_shared<recording_log>();

    libwql::wsman_connection_parameters parameters(std::uint16_t port,
                                                   std::string password = test_password) {
        return {"127.0.0.1", test_domain, test_user, std::move(password), 0, port, false};
    }

    std::vector<libwql::wql_query_row> run(libwql::wsman_client_interface& client,
                                           std::uint16_t port,
                                           const std::string& wmi_namespace = "root\\cimv2") {
        auto session = client.open_session(parameters(port));
        auto result = session->query("SELECT Name, State FROM Win32_Service", wmi_namespace);
        return result->get_rows();
    }
};

// Serves three services over three pages, handing out a new context with every page.
reply_plan paged(const request_view& r, std::vector<std::string>* contexts) {
    if (contexts) contexts->push_back(r.action + ":" + r.context);
    if (r.action == "Enumerate") {
        return {200, enumerate_response(r.message_id, service_row("A"), "uuid:c1", false)};
    }
    if (r.context == "uuid:c1") {
        return {200,
                pull_response(r.message_id, service_row("B") + service_row("C"), "uuid:c2", false)};
    }
    if (r.context == "uuid:c2")
        return {200, pull_response(r.message_id, service_row("D"), "", true)};
    return {500, fault_response(r.message_id, "n:InvalidEnumerationContext", "", "stale")};
}

TEST_F(transport, pages_through_results_on_one_authenticated_connection) {
    std::vector<std::string> seen;
    test_server server([&](const request_view& r) { return paged(r, &seen); });
    auto client = libwql::create_wsman_client(settings, log);

    auto rows = run(*client, server.port());
    ASSERT_EQ(4u, rows.size());
    EXPECT_EQ("A", rows[0].at("Name").as_string());
    EXPECT_EQ("D", rows[3].at("Name").as_string());
    EXPECT_EQ((std::vector<std::string>{"Enumerate:", "Pull:uuid:c1", "Pull:uuid:c2"}), seen);

    // A second session and query of the same client pay no new connection or handshake.
    rows = run(*client, server.port());
    EXPECT_EQ(4u, rows.size());
    EXPECT_EQ(1, server.connections());
    EXPECT_EQ(1, server.handshakes());

    const auto lines = log->lines();
    int enumerates = 0;
    for (const auto& line : lines) {
        EXPECT_EQ(std::string::npos, line.find(test_password)) << line;
        EXPECT_NE(std::string::npos, line.find("http://127.0.0.1:" + std::to_string(server.port())))
            << line;
        if (line.find(" Enumerate: HTTP 200 in ") != std::string::npos) ++enumerates;
    }
    EXPECT_EQ(2, enumerates);
}

TEST_F(transport, wrong_password_is_access_denied_without_leaking_it) {
    test_server server([](const request_view& r) { return paged(r, nullptr); });
    auto client = libwql::create_wsman_client(settings, log);
    auto session = client->open_session(parameters(server.port(), "not-the-password"));
    EXPECT_EQ("libwql.error.access_denied",
              error_key([&] { session->query("SELECT Name FROM Win32_Service", "root\\cimv2"); }));
    for (const auto& line : log->lines()) {
        EXPECT_EQ(std::string::npos, line.find("not-the-password")) << line;
    }
}

TEST_F(transport, faults_become_typed_exceptions) {
    struct {
        std::string subcode, code;
        unsigned status;
        how mode;
    } cases[] = {
        {"w:InternalError", "2147749902", 500, how::normal},
        {"w:InternalError", "2147749904", 500, how::normal},
        {"w:InvalidParameter", "2147749911", 500, how::plaintext},
        {"w:AccessDenied", "5", 500, how::normal},
        {"w:SchemaValidationError", "2150858817", 400, how::plaintext},
    };
    std::size_t index = 0;
    test_server server([&](const request_view& r) {
        const auto& c = cases[index];
        return reply_plan{c.status, fault_response(r.message_id, c.subcode, c.code, "msg"), c.mode};
    });
    auto client = libwql::create_wsman_client(settings, log);
    auto session = client->open_session(parameters(server.port()));
    auto query = [&] { session->query("SELECT Name FROM X", "root\\SecurityCenter2"); };

    index = 0;
    EXPECT_THROW(query(), libwql::exceptions::invalid_namespace_error);
    try {
        query();
    } catch (const libwql::exceptions::invalid_namespace_error& e) {
        EXPECT_EQ("The WMI namespace does not exist on the target device: root\\SecurityCenter2",
                  std::string(e.what()));
    }
    index = 1;
    EXPECT_THROW(query(), libwql::exceptions::invalid_class_error);
    index = 2;
    EXPECT_THROW(query(), libwql::exceptions::fatal_query_error);
    index = 3;
    EXPECT_EQ("libwql.error.access_denied", error_key(query));
    index = 4;
    EXPECT_THROW(query(), libwql::exceptions::fatal_query_error);
    // Faults are answers, not broken connections.
    EXPECT_EQ(1, server.connections());
}

TEST_F(transport, lost_context_re_authenticates_once) {
    std::atomic<int> lose{0};
    test_server server([&](const request_view& r) {
        if (lose > 0) {
            --lose;
            return reply_plan{401, "", how::lose_context};
        }
        return paged(r, nullptr);
    });
    auto client = libwql::create_wsman_client(settings, log);
    EXPECT_EQ(4u, run(*client, server.port()).size());
    lose = 1;
    EXPECT_EQ(4u, run(*client, server.port()).size());
    EXPECT_EQ(2, server.handshakes());
    // A context lost again right after a fresh handshake means the credentials are refused.
    lose = 1000;
    EXPECT_EQ("libwql.error.access_denied", error_key([&] { run(*client, server.port()); }));
}

TEST_F(transport, dropped_connections_are_retried_on_a_fresh_one) {
    std::atomic<int> drop{0};
    std::atomic<int> mode{static_cast<int>(how::close_now)};
    test_server server([&](const request_view& r) {
        if (drop > 0) {
            --drop;
            return reply_plan{200, enumerate_response(r.message_id, service_row("X"), "", true),
                              static_cast<how>(mode.load())};
        }
        return paged(r, nullptr);
    });
    auto client = libwql::create_wsman_client(settings, log);
    EXPECT_EQ(4u, run(*client, server.port()).size());

    // Killed between scans: the next query connects again.
    server.kill_connections();
    EXPECT_EQ(4u, run(*client, server.port()).size());

    // Closed or cut short in the middle of a reply, once: recovered within the query.
    for (how m : {how::close_now, how::truncate}) {
        mode = static_cast<int>(m);
        drop = 1;
        EXPECT_EQ(4u, run(*client, server.port()).size());
    }
    // Always: a clear error once the retries are spent.
    drop = 1000;
    EXPECT_EQ("libwql.error.dead_session", error_key([&] { run(*client, server.port()); }));
}

TEST_F(transport, timed_out_pull_keeps_its_context_and_overload_gives_up) {
    std::atomic<int> timeouts{1};
    std::atomic<bool> overloaded{false};
    std::vector<std::string> seen;
    test_server server([&](const request_view& r) {
        if (overloaded) {
            return reply_plan{500, fault_response(r.message_id, "w:InternalError", "", "busy")};
        }
        if (r.action == "Pull" && timeouts > 0) {
            --timeouts;
            seen.push_back("timeout:" + r.context);
            return reply_plan{500, fault_response(r.message_id, "w:TimedOut", "2150858793", "")};
        }
        return paged(r, &seen);
    });
    auto client = libwql::create_wsman_client(settings, log);
    EXPECT_EQ(4u, run(*client, server.port()).size());
    EXPECT_EQ(
        (std::vector<std::string>{"Enumerate:", "timeout:uuid:c1", "Pull:uuid:c1", "Pull:uuid:c2"}),
        seen);
    overloaded = true;
    EXPECT_EQ("libwql.error.overload", error_key([&] { run(*client, server.port()); }));
}

TEST_F(transport, broken_replies_are_clear_errors_and_release_the_enumeration) {
    std::atomic<int> mode{0};
    std::vector<std::string> seen;
    test_server server([&](const request_view& r) {
        seen.push_back(r.action + ":" + r.context);
        if (r.action == "Enumerate") {
            return reply_plan{200,
                              enumerate_response(r.message_id, service_row("A"), "uuid:c1", false)};
        }
        if (r.action == "Release") {
            return reply_plan{200,
                              "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
                              "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\">"
                              "<s:Body><n:ReleaseResponse/></s:Body></s:Envelope>"};
        }
        switch (mode.load()) {
            case 0:
                return reply_plan{200, "<s:Envelope><unclosed>"};
            case 1:
                return reply_plan{200, std::string(2 * 1024 * 1024, 'x')};
            case 2:
                return reply_plan{200, pull_response(r.message_id, "", "", true),
                                  how::garbage_sealed};
            default:
                return reply_plan{200, pull_response(r.message_id, "", "", true), how::plaintext};
        }
    });
    auto client = libwql::create_wsman_client(settings, log);

    mode = 0;
    EXPECT_EQ("libwql.error.getinstance_failed", error_key([&] { run(*client, server.port()); }));
    EXPECT_EQ((std::vector<std::string>{"Enumerate:", "Pull:uuid:c1", "Release:uuid:c1"}), seen);

    for (int m : {1, 2, 3}) {
        mode = m;
        EXPECT_EQ("libwql.error.getinstance_failed",
                  error_key([&] { run(*client, server.port()); }))
            << "mode " << m;
    }
    // The client still works afterwards.
    mode = 0;
    seen.clear();
    EXPECT_EQ("libwql.error.getinstance_failed", error_key([&] { run(*client, server.port()); }));
    EXPECT_EQ(3u, seen.size());
}

TEST_F(transport, a_target_that_never_answers_times_out) {
    test_server server([](const request_view&) { return reply_plan{200, "", how::hang}; });
    settings.operation_timeout_s = 1;
    settings.connect_timeout_s = 1;
    auto client = libwql::create_wsman_client(settings, log);
    EXPECT_EQ("libwql.error.dead_session", error_key([&] { run(*client, server.port()); }));
}

TEST_F(transport, unreachable_targets_and_bad_parameters_are_session_errors) {
    std::uint16_t closed_port = 0;
    {
        boost::asio::io_context io;
        boost::asio::ip::tcp::acceptor probe(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
        closed_port = probe.local_endpoint().port();
    }
    auto client = libwql::create_wsman_client(settings, log);
    EXPECT_EQ("libwql.error.newsession_failed", error_key([&] { run(*client, closed_port); }));

    // (Name lookups are not tested: they would leave loopback.)
    auto bad = parameters(closed_port);
    bad.host.clear();
    EXPECT_EQ("libwql.error.newsession_failed", error_key([&] { client->open_session(bad); }));
    bad = parameters(closed_port);
    bad.authentication_mode = 7;
    EXPECT_EQ("libwql.error.adddestinationcredentials_failed",
              error_key([&] { client->open_session(bad); }));
    bad = parameters(closed_port);
    bad.use_https = true;
    EXPECT_EQ("libwql.error.newdestinationoptions_failed",
              error_key([&] { client->open_session(bad); }));
}

}  // namespace

namespace {

TEST_F(transport, an_enumeration_that_never_ends_is_abandoned) {
    std::atomic<int> pulls{0};
    std::atomic<int> releases{0};
    test_server server([&](const request_view& r) {
        if (r.action == "Release") {
            ++releases;
            return reply_plan{
                500, fault_response(r.message_id, "n:InvalidEnumerationContext", "", "gone")};
        }
        ++pulls;
        // Empty pages, each with a fresh context, never the end.
        return reply_plan{200,
                          pull_response(r.message_id, "", "uuid:n" + std::to_string(pulls), false)};
    });
    settings.max_retries = 0;
    auto client = libwql::create_wsman_client(settings, nullptr);
    EXPECT_EQ("libwql.error.getinstance_failed", error_key([&] { run(*client, server.port()); }));
    EXPECT_EQ(1, releases.load());
    EXPECT_GT(pulls.load(), 100);
}

}  // namespace
