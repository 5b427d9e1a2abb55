// Whole WQL queries through libwql against the simulated Windows target (server model) over
// loopback, warm connection vs first connection. Wall time is the query's latency; CPU time is
// the calling thread's, which is all of the client's work (libwql runs on the caller's thread,
// the simulator on its own). Counters per query come from the target's statistics: HTTP round
// trips (handshake legs included), SOAP requests (Enumerate + Pulls), handshakes, connections.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

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
    void drop_connections() { server_->drop_connections(); }

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
        // The pool is the process's: the target drops its connections, so the query
        // connects and authenticates again.
        state.PauseTiming();
        t.drop_connections();
        state.ResumeTiming();
        auto client = libwql::create_wsman_client({8, 5, 5, 3, 3, 100}, nullptr);
        rows = run_query(*client, t, q.wql);
    }
    report(state, before, t.statistics(), rows);
}

// The calling thread's CPU time, in microseconds.
double thread_cpu_us() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// 1,000 sensors (each with its own client, as in the module) on 10 targets, scanned by 8
// threads as a host's dispatcher would. Counters: connections each target saw (at most the
// pool's bound of 4), handshakes per connection, and the client's CPU per warm scan.
void thousand_sensors_on_ten_targets(benchmark::State& state) {
    constexpr std::size_t targets = 10;
    constexpr std::size_t sensors = 1000;
    constexpr int threads = 8;
    std::vector<std::unique_ptr<target>> fleet;
    for (std::size_t i = 0; i < targets; ++i) fleet.push_back(std::make_unique<target>());
    std::vector<std::unique_ptr<libwql::wsman_client_interface>> clients;
    for (std::size_t i = 0; i < sensors; ++i) {
        clients.push_back(libwql::create_wsman_client({8, 5, 5, 3, 3, 100}, nullptr));
    }
    // Each sensor scans once; returns the client CPU of all scans.
    const auto scan_all = [&] {
        std::atomic<std::size_t> next{0};
        std::atomic<std::size_t> rows{0};
        std::vector<double> cpu(threads, 0.0);
        std::vector<std::thread> workers;
        for (int w = 0; w < threads; ++w) {
            workers.emplace_back([&, w] {
                const double start = thread_cpu_us();
                for (std::size_t i; (i = next++) < sensors;) {
                    rows += run_query(*clients[i], *fleet[i % targets], small.wql);
                }
                cpu[w] = thread_cpu_us() - start;
            });
        }
        for (auto& w : workers) w.join();
        if (rows != sensors) state.SkipWithError("a scan lost its row");
        double total = 0;
        for (const double c : cpu) total += c;
        return total;
    };
    scan_all();  // the first scans connect and authenticate
    double warm_cpu = 0;
    for (auto _ : state) warm_cpu += scan_all();
    std::uint64_t connections = 0;
    std::uint64_t most = 0;
    std::uint64_t handshakes = 0;
    for (const auto& t : fleet) {
        const auto s = t->statistics();
        connections += s.connections;
        handshakes += s.handshakes;
        most = std::max(most, s.connections);
    }
    state.counters["max_connections/target"] = static_cast<double>(most);
    state.counters["handshakes/connection"] =
        static_cast<double>(handshakes) / static_cast<double>(connections);
    state.counters["client_cpu_us/warm_scan"] =
        warm_cpu / static_cast<double>(state.iterations() * sensors);
}

BENCHMARK(thousand_sensors_on_ten_targets)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(query_warm_connection, one_row, small)->UseRealTime();
BENCHMARK_CAPTURE(query_warm_connection, three_pages, paged)->UseRealTime();
BENCHMARK_CAPTURE(query_first_connection, one_row, small)->UseRealTime();
BENCHMARK_CAPTURE(query_first_connection, three_pages, paged)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
