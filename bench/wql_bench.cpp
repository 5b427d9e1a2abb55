// Cost of the CPU-bound work per query: building requests, parsing a large reply page,
// and the sealed-body framing. Run: build/default/bench/wql_bench
#include <benchmark/benchmark.h>

#include "winrm_framing.hpp"
#include "wsman_envelope.hpp"

namespace {

using namespace libwql::detail;

request_header header() {
    request_header h;
    h.to = "http://server.example.com:5985/wsman";
    h.resource_uri = resource_uri_for("root\\cimv2");
    h.message_id = new_message_id();
    return h;
}

// A PullResponse with `items` class-qualified Win32_Service instances (about 1 KB each,
// as Windows sends them for SELECT *).
std::string large_page(int items) {
    std::string xml =
        R"(<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope" )"
        R"(xmlns:n="http://schemas.xmlsoap.org/ws/2004/09/enumeration" )"
        R"(xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" )"
        R"(xmlns:cim="http://schemas.dmtf.org/wbem/wscim/1/common"><s:Body><n:PullResponse>)"
        R"(<n:EnumerationContext>uuid:0</n:EnumerationContext><n:Items>)";
    for (int i = 0; i < items; ++i) {
        const auto n = std::to_string(i);
        xml +=
            R"(<p:Win32_Service xmlns:p="http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/Win32_Service">)";
        xml += "<p:Name>Service" + n + "</p:Name><p:DisplayName>Display name of service " + n +
               "</p:DisplayName><p:Description>A fairly long description of what service " + n +
               " does on this machine, as Windows services usually have one.</p:Description>"
               "<p:State>Running</p:State><p:StartMode>Auto</p:StartMode><p:Status>OK</p:Status>"
               "<p:ProcessId>" +
               n +
               "</p:ProcessId><p:ExitCode>0</p:ExitCode>"
               "<p:InstallDate xsi:nil=\"true\"/><p:PathName>C:\\Windows\\system32\\svchost.exe "
               "-k netsvcs</p:PathName><p:ServiceType>Share Process</p:ServiceType>"
               "<p:Started>true</p:Started><p:AcceptStop>true</p:AcceptStop>"
               "<p:LastChange><cim:Datetime>2013-04-15T16:28:43.488171Z</cim:Datetime>"
               "</p:LastChange></p:Win32_Service>";
    }
    return xml + "</n:Items></n:PullResponse></s:Body></s:Envelope>";
}

void build_enumerate_envelope(benchmark::State& state) {
    const auto h = header();
    for (auto _ : state) {
        benchmark::DoNotOptimize(build_enumerate(
            h, "SELECT Name, State, ProcessId FROM Win32_Service WHERE Name = 'Spooler'", 100));
    }
}
BENCHMARK(build_enumerate_envelope);

void parse_large_page(benchmark::State& state) {
    const auto page = large_page(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(parse_response(page));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(parse_large_page)->Arg(1)->Arg(50)->Arg(500);

void frame_and_parse_sealed_body(benchmark::State& state) {
    winrm_framing::sealed_message m;
    m.protocol = std::string(winrm_framing::spnego_protocol);
    m.original_type = std::string(winrm_framing::soap_content_type);
    m.header = std::string(16, 's');
    m.data = large_page(50);
    m.original_length = m.data.size();
    for (auto _ : state) {
        benchmark::DoNotOptimize(winrm_framing::parse_body(winrm_framing::build_body(m)));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * m.data.size()));
}
BENCHMARK(frame_and_parse_sealed_body);

}  // namespace

BENCHMARK_MAIN();
