// Uses libwql.so exactly as the module does: public headers only, failures caught by type.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "libi18n/catalogue.hpp"
#include "libwql/libwql.hpp"
#include "test_server.hpp"

namespace {

using namespace wql_test;

libwql::wsman_connection_parameters parameters(std::uint16_t port) {
    return {"127.0.0.1", test_domain, test_user, test_password, 0, port, false};
}

reply_plan by_namespace(const request_view& r) {
    if (r.soap.find("/wmi/root/SecurityCenter2/*") != std::string::npos) {
        return {500, fault_response(r.message_id, "w:InternalError", "2147749902", "no ns")};
    }
    if (r.filter.find("FROM MSFT_Printer") != std::string::npos) {
        return {500, fault_response(r.message_id, "w:InternalError", "2147749904", "no class")};
    }
    if (r.filter.find("FROM Broken") != std::string::npos) {
        return {500, fault_response(r.message_id, "w:InvalidParameter", "2147749911", "bad")};
    }
    return {200, enumerate_response(r.message_id,
                                    fragment({{"Caption", "Windows Server"},
                                              {"FreePhysicalMemory", "18446744073709551615"}}),
                                    "", true)};
}

TEST(wql_shared_library, typed_exceptions_cross_the_library_boundary) {
    test_server server(by_namespace);
    auto client = libwql::create_wsman_client({8, 5, 5, 3, 3, 100}, nullptr);
    auto session = client->open_session(parameters(server.port()));

    EXPECT_THROW(
        session->query("SELECT displayName FROM AntiVirusProduct", "root\\SecurityCenter2"),
        libwql::exceptions::invalid_namespace_error);
    EXPECT_THROW(session->query("SELECT Name FROM MSFT_Printer", "root\\PrintManagement"),
                 libwql::exceptions::invalid_class_error);
    EXPECT_THROW(session->query("SELECT Name FROM Broken", "root\\cimv2"),
                 libwql::exceptions::fatal_query_error);
    // The typed exceptions are i18n exceptions with the catalogue's texts.
    try {
        session->query("SELECT Name FROM MSFT_Printer", "root\\PrintManagement");
        FAIL() << "no exception";
    } catch (const libi18n::i18n_exception& e) {
        EXPECT_EQ(libi18n::catalogue::libwql_error_invalid_class("no class"), e.get_i18n_msg());
        EXPECT_EQ(e.get_i18n_msg().text, std::string(e.what()));
    }

    const auto query = libwql::wql_query_builder::select({"Caption", "FreePhysicalMemory"})
                           .from("Win32_OperatingSystem")
                           .build();
    const auto result = session->query(query.get(), "root\\cimv2");
    ASSERT_EQ(1u, result->get_rows().size());
    const libwql::wql_query_row row = result->get_rows().front();
    EXPECT_EQ("Windows Server", row.at("Caption").as_string());
    EXPECT_EQ(18446744073709551615u, row.at("FreePhysicalMemory").as_uint64_t());
}

TEST(wql_shared_library, sessions_of_one_client_run_in_parallel) {
    test_server server(by_namespace);
    std::shared_ptr<libwql::wsman_client_interface> client =
        libwql::create_wsman_client({8, 5, 5, 3, 3, 100}, nullptr);
    std::atomic<int> rows{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5; ++i) {
                try {
                    auto session = client->open_session(parameters(server.port()));
                    rows += static_cast<int>(
                        session->query("SELECT Caption FROM Win32_OperatingSystem", "root\\cimv2")
                            ->get_rows()
                            .size());
                } catch (const std::exception&) {
                    ++failures;
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(20, rows.load());
    // Connections are reused once returned: never more than the threads that ran at once.
    EXPECT_LE(server.connections(), 4);
    EXPECT_EQ(server.connections(), server.handshakes());
}

}  // namespace
