// Whole WQL queries through libwql against the simulated Windows target (server model) over
// loopback, warm connection vs first connection. Wall time is the query's latency; CPU time is
// the calling thread's, which is all of the client's work (libwql runs on the caller's thread,
// the simulator on its own). Counters per query come from the target's statistics: HTTP round
// trips (handshake legs included), SOAP requests (Enumerate + Pulls), handshakes, connections.
#include <benchmark/benchmark.h>

#include "libwql/libwql.hpp"
#include "offline_krb5.hpp"
#include "simulator/simulator.hpp"

// gss-ntlmssp 1.2 never frees the OpenSSL digests it fetches per credential and context.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:gssntlmssp.so\nleak:libcrypto.so\n";
}

namespace {

namespace sim = winrm_simulator;

const char* const account = "LAB\\monitor:Bench-Secret1";

struct query_case {
    const char* wql;
};
// 1 row (the EnumerateResponse carries it) and 43 rows (Enumerate + 2 Pulls of 32).
const query_case small{"SELECT Caption FROM Win32_OperatingSystem"};
const query_case paged{"SELECT Name, State, DisplayName, Description FROM Win32_Service"};

class target {
public:
    target() {
        offline_krb5::configure();
        sim::simulator_options options;
        options.users = {sim::parse_user_account(account)};
        server_ = std::make_unique<sim::simulator>(
            sim::machine_model::load_file(WMI_SIMULATOR_MODELS_DIR "/windows_server.json"),
            options);
        server_->start();
    }
    libwql::wsman_connection_parameters parameters() const {
        return {"127.0.0.1", "LAB", "monitor", "Bench-Secret1", 0, server_->port(), false};
    }
    sim::simulator_statistics statistics() const { return server_->statistics(); }

private:
    std::unique_ptr<sim::simulator> server_;
};

std::size_t run_query(libwql::wsman_client_interface& client, const target& t, const char* wql) {
    auto session = client.open_session(t.parameters());
    return session->query(wql, "root\\cimv2")->get_rows().size();
}

void report(benchmark::State& state, const sim::simulator_statistics& before,
            const sim::simulator_statistics& after, std::size_t rows) {
    const auto per_query = [&](std::uint64_t a, std::uint64_t b) {
        return benchmark::Counter(static_cast<double>(b - a) /
                                  static_cast<double>(state.iterations()));
    };
    state.counters["http/query"] = per_query(before.http_requests, after.http_requests);
    state.counters["soap/query"] = per_query(before.soap_requests, after.soap_requests);
    state.counters["handshakes/query"] = per_query(before.handshakes, after.handshakes);
    state.counters["connections/query"] = per_query(before.connections, after.connections);
    state.counters["rows"] = benchmark::Counter(static_cast<double>(rows));
}

void query_warm_connection(benchmark::State& state, const query_case& q) {
    target t;
    auto client = libwql::create_wsman_client({8, 5, 5, 3, 3, 100}, nullptr);
    std::size_t rows = run_query(*client, t, q.wql);  // authenticates once, outside the timing
    const auto before = t.statistics();
    for (auto _ : state) rows = run_query(*client, t, q.wql);
    report(state, before, t.statistics(), rows);
}

void query_first_connection(benchmark::State& state, const query_case& q) {
    target t;
    std::size_t rows = 0;
    const auto before = t.statistics();
    for (auto _ : state) {
        // A new client has no pooled connection: connect and authenticate, then query.
        auto client = libwql::create_wsman_client({8, 5, 5, 3, 3, 100}, nullptr);
        rows = run_query(*client, t, q.wql);
    }
    report(state, before, t.statistics(), rows);
}

BENCHMARK_CAPTURE(query_warm_connection, one_row, small)->UseRealTime();
BENCHMARK_CAPTURE(query_warm_connection, three_pages, paged)->UseRealTime();
BENCHMARK_CAPTURE(query_first_connection, one_row, small)->UseRealTime();
BENCHMARK_CAPTURE(query_first_connection, three_pages, paged)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
