// One WQL query (Enumerate + one Pull, 20 rows) through the real client over loopback.
// Counters: handshakes and TCP connections per query.
#include <benchmark/benchmark.h>

#include "libwql/libwql.hpp"
#include "test_server.hpp"

namespace {

using namespace wql_test;

reply_plan two_pages(const request_view& r) {
    std::string items;
    for (int i = 0; i < 10; ++i) {
        items += fragment({{"Name", "svc" + std::to_string(i)}, {"State", "Running"}});
    }
    if (r.action == "Enumerate")
        return {200, enumerate_response(r.message_id, items, "uuid:c", false)};
    return {200, pull_response(r.message_id, items, "", true)};
}

libwql::wsman_connection_parameters parameters(std::uint16_t port) {
    return {"127.0.0.1", test_domain, test_user, test_password, 0, port, false};
}

void run_query(libwql::wsman_client_interface& client, std::uint16_t port) {
    auto session = client.open_session(parameters(port));
    auto result = session->query("SELECT Name, State FROM Win32_Service", "root\\cimv2");
    benchmark::DoNotOptimize(result->get_rows().size());
}

void query_warm_connection(benchmark::State& state) {
    test_server server(two_pages);
    auto client = libwql::create_wsman_client({8, 5, 5, 3, 3, 100}, nullptr);
    run_query(*client, server.port());
    for (auto _ : state) run_query(*client, server.port());
    state.counters["handshakes/query"] =
        benchmark::Counter((server.handshakes() - 1.0) / static_cast<double>(state.iterations()));
    state.counters["connections/query"] =
        benchmark::Counter((server.connections() - 1.0) / static_cast<double>(state.iterations()));
}
BENCHMARK(query_warm_connection)->UseRealTime();

void query_first_connection(benchmark::State& state) {
    test_server server(two_pages);
    for (auto _ : state) {
        auto client = libwql::create_wsman_client({8, 5, 5, 3, 3, 100}, nullptr);
        run_query(*client, server.port());
    }
    state.counters["handshakes/query"] =
        benchmark::Counter(server.handshakes() / static_cast<double>(state.iterations()));
    state.counters["connections/query"] =
        benchmark::Counter(server.connections() / static_cast<double>(state.iterations()));
}
BENCHMARK(query_first_connection)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
