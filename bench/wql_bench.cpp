// Cost of the CPU-bound work per query on the wire: writing requests, reading a large reply
// page, and the sealed-body framing. Run: build/default/bench/wql_bench
#include <benchmark/benchmark.h>

#include "wsman_wire/envelope.hpp"
#include "wsman_wire/framing.hpp"

namespace {

using namespace wsman_wire;

request_header header() {
    return {"http://server.example.com:5985/wsman", resource_uri_for("root\\cimv2"),
            new_message_id()};
}

// A PullResponse with `items` class-qualified Win32_Service instances (about 1 KB each, as
// Windows sends them for SELECT *).
std::string large_page(int items) {
    page p{"Win32_Service", "root\\cimv2", false, {}};
    for (int i = 0; i < items; ++i) {
        const auto n = std::to_string(i);
        p.items.push_back({
            {"AcceptStop", {"true"}},
            {"Description",
             {"A fairly long description of what service " + n +
              " does on this machine, as Windows services usually have one."}},
            {"DisplayName", {"Display name of service " + n}},
            {"ExitCode", {"0"}},
            {"InstallDate", {}, property::form::plain, true},
            {"LastChange", {"2013-04-15T16:28:43.488171Z"}, property::form::datetime},
            {"Name", {"Service" + n}},
            {"PathName", {"C:\\Windows\\system32\\svchost.exe -k netsvcs"}},
            {"ProcessId", {n}},
            {"ServiceType", {"Share Process"}},
            {"StartMode", {"Auto"}},
            {"Started", {"true"}},
            {"State", {"Running"}},
            {"Status", {"OK"}},
        });
    }
    return write_pull_response("uuid:req", "uuid:0", p, false);
}

void write_enumerate_envelope(benchmark::State& state) {
    const auto h = header();
    for (auto _ : state) {
        benchmark::DoNotOptimize(write_enumerate(
            h, "SELECT Name, State, ProcessId FROM Win32_Service WHERE Name = 'Spooler'", 100));
    }
}
BENCHMARK(write_enumerate_envelope);

void parse_large_page(benchmark::State& state) {
    const auto body = large_page(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(parse_response(body));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(parse_large_page)->Arg(1)->Arg(50)->Arg(500);

void frame_and_parse_sealed_body(benchmark::State& state) {
    sealed_message m;
    m.protocol = std::string(spnego_protocol);
    m.original_type = std::string(soap_content_type);
    m.header = std::string(16, 's');
    m.data = large_page(50);
    m.original_length = m.data.size();
    for (auto _ : state) benchmark::DoNotOptimize(parse_body(build_body(m)));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * m.data.size()));
}
BENCHMARK(frame_and_parse_sealed_body);

}  // namespace

BENCHMARK_MAIN();
