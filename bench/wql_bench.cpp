// Cost of the CPU-bound work per query on the wire: writing requests, reading a large reply
// page, the sealed-body framing and NTLM sealing. Run: build/default/bench/wql_bench
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "wsman_wire/envelope.hpp"
#include "wsman_wire/framing.hpp"
#include "wsman_wire/sealing.hpp"

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
    const std::string signature(16, 's');
    const std::string data = large_page(50);
    const sealed_message m{spnego_protocol, soap_content_type, data.size(), signature, data};
    for (auto _ : state) {
        const std::string body = build_body(m);
        benchmark::DoNotOptimize(parse_body(body));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * m.data.size()));
}
BENCHMARK(frame_and_parse_sealed_body);

// An NTLM client and service context in this process (gss-ntlmssp's user file names the
// account), authenticated with each other.
std::pair<gss_context, gss_context> ntlm_pair() {
    const auto users = std::filesystem::temp_directory_path() / "wql_bench_ntlm_users";
    std::ofstream(users) << "LAB:monitor:Bench-Secret1\n";
    setenv("NTLM_USER_FILE", users.c_str(), 1);
    setenv("NETBIOS_COMPUTER_NAME", "TARGET", 1);
    setenv("NETBIOS_DOMAIN_NAME", "LAB", 1);
    auto client =
        gss_context::initiator("LAB\\monitor", "Bench-Secret1", "localhost", gss_mechanism::ntlm);
    auto server = gss_context::acceptor();
    for (std::string token; !client.established() || !server.established();) {
        token = client.step(token);
        if (!server.established()) token = server.step(token);
    }
    return {std::move(client), std::move(server)};
}

// The sealing of a warm one-row query: its Enumerate request and a one-instance reply, each
// sealed and framed by one end and unsealed by the other (the client does half the work).
void seal_and_unseal_a_round_trip(benchmark::State& state) {
    auto [client, server] = ntlm_pair();
    const std::string request =
        write_enumerate(header(), "SELECT Caption FROM Win32_OperatingSystem", 32000);
    const std::string reply = large_page(1);
    const auto exchange = [](gss_context& from, gss_context& to, const std::string& soap) {
        const http_body sealed = seal_message(from, soap, spnego_protocol);
        return unseal_message(to, sealed.content_type, sealed.body);
    };
    exchange(client, server, request);  // the first message each way is the mechanism's
    exchange(server, client, reply);
    for (auto _ : state) {
        benchmark::DoNotOptimize(exchange(client, server, request));
        benchmark::DoNotOptimize(exchange(server, client, reply));
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * (request.size() + reply.size())));
}
BENCHMARK(seal_and_unseal_a_round_trip);

}  // namespace

BENCHMARK_MAIN();
