// The cost of a warm scan on this machine, every figure printed: client CPU and instructions
// per warm one-row query (NTLM with sealing), python3-winrm's CPU for the same queries side by
// side, CPU per scan through the module's exports for each kind, and what 1,000 sensors on 10
// targets hold (RSS, threads, descriptors, connections per target) with the extrapolation to
// 10,000 sensors on 100 targets. Every target is a winrm-simulator process, so everything
// counted in this process is the client's.
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <valgrind/callgrind.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "libwql/libwql.hpp"
#include "offline_krb5.hpp"
#include "probe/module_host.hpp"
#include "probe/settings.hpp"
#include "test_support.hpp"
#include "valid_settings.hpp"

extern char** environ;

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const char* const domain = "LAB";
const char* const user = "monitor";
const char* const password = "Bench-Secret1";
const char* const one_row = "SELECT Caption FROM Win32_OperatingSystem";
// What the module passes.
const libwql::wsman_client_settings module_settings{8, 5, 5, 3, 3, 100};

double thread_cpu_us() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

std::size_t entries_of(const char* dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++n;
    return n;
}

double rss_mib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

// Open TCP connections of this process by the peer's port.
std::map<unsigned, unsigned> connections_by_port() {
    std::map<unsigned, unsigned> ports;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0) continue;
        if (peer.ss_family != AF_INET) continue;
        ++ports[ntohs(reinterpret_cast<const sockaddr_in*>(&peer)->sin_port)];
    }
    return ports;
}

// A child process; its standard output is read through `output` when captured.
class child {
public:
    child(const std::vector<std::string>& argv, bool capture) {
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int pipe_fds[2] = {-1, -1};
        if (capture) {
            if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
            posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
        }
        const int failed = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (capture) {
            ::close(pipe_fds[1]);
            output_ = ::fdopen(pipe_fds[0], "r");
        }
        if (failed != 0) throw std::runtime_error("cannot start " + argv[0]);
    }
    child(const child&) = delete;
    child& operator=(const child&) = delete;
    ~child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            wait();
        }
        if (output_) std::fclose(output_);
    }
    std::string line() {
        char buffer[512];
        if (!output_ || !std::fgets(buffer, sizeof buffer, output_)) return {};
        std::string text(buffer);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
    }
    pid_t pid() const { return pid_; }
    int wait() {
        int status = 0;
        if (pid_ > 0) ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    std::FILE* output_ = nullptr;
};

class simulator_process {
public:
    simulator_process(const std::string& binary, const std::string& model)
        : process_({binary, "--model", model, "--listen", "127.0.0.1:0", "--user",
                    std::string(domain) + "\\" + user + ":" + password},
                   true) {
        const std::string first = process_.line();
        std::smatch match;
        if (!std::regex_match(first, match, std::regex(R"(listening on 127\.0\.0\.1:(\d+))"))) {
            throw std::runtime_error("the simulator did not start: " + first);
        }
        port_ = static_cast<std::uint16_t>(std::stoi(match[1]));
    }
    std::uint16_t port() const { return port_; }
    pid_t pid() const { return process_.pid(); }

private:
    child process_;
    std::uint16_t port_ = 0;
};

libwql::wsman_connection_parameters target_at(std::uint16_t port) {
    return {"127.0.0.1", domain, user, password, 0, port, false};
}

// One scan's worth of client work, as the module does it: a session, one query.
void warm_query(libwql::wsman_client_interface& client, std::uint16_t port) {
    if (client.open_session(target_at(port))->query(one_row, "root\\cimv2")->get_rows().size() !=
        1) {
        throw std::runtime_error("the one-row query did not return one row");
    }
}

// Runs under callgrind: only the `queries` warm queries are instrumented.
int callgrind_child(std::uint16_t port, int queries) {
    offline_krb5::configure();
    auto client = libwql::create_wsman_client(module_settings, nullptr);
    for (int i = 0; i < 5; ++i) warm_query(*client, port);
    CALLGRIND_START_INSTRUMENTATION;
    CALLGRIND_TOGGLE_COLLECT;
    for (int i = 0; i < queries; ++i) warm_query(*client, port);
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_STOP_INSTRUMENTATION;
    return 0;
}

struct spread {
    double median, least, most;
};

// Rounds of `queries` each: CPU time in a virtual machine varies with the host's load, so the
// median of several rounds is the figure and the range shows the noise.
spread client_cpu_per_query(std::uint16_t port, int queries, int rounds) {
    auto client = libwql::create_wsman_client(module_settings, nullptr);
    for (int i = 0; i < 20; ++i) warm_query(*client, port);
    std::vector<double> per_round;
    for (int r = 0; r < rounds; ++r) {
        const double start = thread_cpu_us();
        for (int i = 0; i < queries; ++i) warm_query(*client, port);
        per_round.push_back((thread_cpu_us() - start) / queries);
    }
    std::sort(per_round.begin(), per_round.end());
    return {per_round[per_round.size() / 2], per_round.front(), per_round.back()};
}

// Keeps this thread, the children it starts from now on and the simulator's threads on one
// CPU until destroyed, so the client's CPU does not include waking the simulator on another
// core: on loopback the sender's kernel delivers each segment and wakes the receiver, and in
// a virtual machine a cross-core wake-up goes through the hypervisor. On a real network that
// work is the target's.
class one_core {
public:
    one_core(int cpu, pid_t simulator) : simulator_(simulator) {
        sched_getaffinity(0, sizeof before_, &before_);
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        apply(one);
    }
    one_core(const one_core&) = delete;
    one_core& operator=(const one_core&) = delete;
    ~one_core() { apply(before_); }

private:
    void apply(const cpu_set_t& set) const {
        sched_setaffinity(0, sizeof set, &set);
        const fs::path tasks = "/proc/" + std::to_string(simulator_) + "/task";
        for (const auto& task : fs::directory_iterator(tasks)) {
            sched_setaffinity(std::stoi(task.path().filename().string()), sizeof set, &set);
        }
    }

    pid_t simulator_;
    cpu_set_t before_;
};

double python_cpu_per_query(const std::string& script, std::uint16_t port, int queries) {
    child python({"/usr/bin/python3", script, "--port", std::to_string(port), "--queries",
                  std::to_string(queries), "--user", std::string(domain) + "\\" + user,
                  "--password", password},
                 true);
    const std::string figure = python.line();
    if (python.wait() != 0 || figure.empty()) return -1;
    return std::stod(figure);
}

double instructions_per_query(const std::string& self, std::uint16_t port, int queries) {
    const std::string out =
        (fs::temp_directory_path() / ("wql_scan_cost.callgrind." + std::to_string(::getpid())))
            .string();
    child valgrind(
        {"/usr/bin/valgrind", "--tool=callgrind", "--instr-atstart=no", "--collect-atstart=no",
         "--callgrind-out-file=" + out, self, "--callgrind-child", "--port", std::to_string(port),
         "--callgrind-queries", std::to_string(queries)},
        true);
    while (!valgrind.line().empty()) {
    }
    const int status = valgrind.wait();
    std::ifstream profile(out);
    std::string line;
    double total = -1;
    while (std::getline(profile, line)) {
        if (line.rfind("summary:", 0) == 0 || line.rfind("totals:", 0) == 0) {
            total = std::stod(line.substr(line.find(':') + 1));
        }
    }
    fs::remove(out);
    return status == 0 && total >= 0 ? total / queries : -1;
}

std::string document(const std::string& kind, std::uint16_t port, const json& settings) {
    auto all = settings;
    all.update(test_kinds::settings({{"host", "127.0.0.1"},
                                     {"logging", "disabled"},
                                     {test_kinds::credentials + "password", password},
                                     {test_kinds::compatibility + "port", std::to_string(port)}}));
    return test_support::settings_document(kind, all);
}

// A ready sensor of each kind the target can serve: the first entry of its meta-scan on the
// defaults, as a host creates it.
std::map<std::string, std::string> sensor_documents(wmiprobe::module_host& host,
                                                    std::uint16_t port) {
    const wmiprobe::module_catalogue catalogue(
        json::parse(host.module_information(false)).at("document"));
    std::map<std::string, std::string> documents;
    int id = 1'000'000;
    for (const auto* sensor : catalogue.kinds_of(wmiprobe::kind_role::sensor)) {
        json settings(catalogue.default_settings(*sensor));
        if (sensor->first_meta_step && sensor->discovered_section) {
            const auto discovered =
                host.meta_scan(++id, 1, document(*sensor->first_meta_step, port, json::object()));
            json entries;
            for (const auto& m : discovered.messages) {
                if (m.at("type") == "meta_scan_result" && m.at("response_code") == 0)
                    entries = m.at("entries");
            }
            if (entries.empty()) continue;
            settings.update(json(
                catalogue.entry_settings(*sensor->discovered_section, entries.at(0).at("values"))));
        }
        documents[sensor->name] = document(sensor->name, port, settings);
    }
    return documents;
}

bool scanned(const wmiprobe::call_outcome& outcome) {
    for (const auto& m : outcome.messages) {
        if (m.at("type") == "sensor_scan_result") return m.at("response_code") == 0;
    }
    return false;
}

void scans_per_kind(wmiprobe::module_host& host, std::uint16_t port, int scans) {
    std::cout << "\nCPU per scan through the exports (warm, " << scans << " scans each):\n";
    int id = 0;
    for (const auto& [kind, text] : sensor_documents(host, port)) {
        ++id;
        if (host.create_sensor(id, text).code != 0) {
            std::cout << "  " << kind << ": cannot be created\n";
            continue;
        }
        host.scan_sensor(id);  // first scan: connection, first sample
        bool ok = true;
        const double start = thread_cpu_us();
        for (int i = 0; i < scans; ++i) ok = scanned(host.scan_sensor(id)) && ok;
        const double per_scan = (thread_cpu_us() - start) / scans;
        std::printf("  %-28s %8.1f us%s\n", kind.c_str(), per_scan, ok ? "" : "  (scan failed)");
        host.destroy_sensor(id);
    }
}

void many_sensors(wmiprobe::module_host& host, const std::string& simulator,
                  const std::string& model, int sensors, int targets) {
    std::vector<std::unique_ptr<simulator_process>> servers;
    for (int t = 0; t < targets; ++t)
        servers.push_back(std::make_unique<simulator_process>(simulator, model));
    const auto kinds = sensor_documents(host, servers[0]->port());
    const std::string kind =
        kinds.count("service_sensor") ? "service_sensor" : kinds.begin()->first;
    const json settings = json::parse(kinds.at(kind)).at("settings");

    const auto connections = [&] {
        const auto by_port = connections_by_port();
        std::pair<unsigned, unsigned> total_and_most{0, 0};
        for (const auto& server : servers) {
            const auto it = by_port.find(server->port());
            const unsigned n = it == by_port.end() ? 0 : it->second;
            total_and_most.first += n;
            total_and_most.second = std::max(total_and_most.second, n);
        }
        return total_and_most;
    };
    const double rss_before = rss_mib();
    const std::size_t threads_before = entries_of("/proc/self/task");
    const std::size_t fds_before = entries_of("/proc/self/fd");
    const unsigned connections_before = connections().first;
    for (int i = 0; i < sensors; ++i) {
        const auto port = servers[static_cast<std::size_t>(i % targets)]->port();
        host.create_sensor(2'000'000 + i, document(kind, port, settings));
    }
    const double rss_created = rss_mib() - rss_before;
    // Eight host threads scan every sensor twice (two samples), as a host's workers would.
    constexpr int workers = 8;
    std::atomic<int> failures{0};
    std::atomic<long long> cpu_ns{0};
    for (int round = 0; round < 2; ++round) {
        std::vector<std::thread> pool;
        for (int w = 0; w < workers; ++w) {
            pool.emplace_back([&, w] {
                const double start = thread_cpu_us();
                for (int i = w; i < sensors; i += workers) {
                    if (!scanned(host.scan_sensor(2'000'000 + i))) ++failures;
                }
                cpu_ns += static_cast<long long>((thread_cpu_us() - start) * 1000);
            });
        }
        for (auto& t : pool) t.join();
    }
    const double rss_growth = rss_mib() - rss_before;
    const auto [total, most] = connections();
    const double cpu_per_scan_us = static_cast<double>(cpu_ns.load()) / 1000 / (2.0 * sensors);
    std::printf("\n%d %s sensors on %d targets, each scanned twice by %d host threads:\n", sensors,
                kind.c_str(), targets, workers);
    std::printf("  failed scans                   %d\n", failures.load());
    std::printf("  RSS growth, sensors created    %.1f MiB (%.1f KiB per sensor)\n", rss_created,
                rss_created * 1024 / sensors);
    std::printf(
        "  RSS growth, after the scans    %.1f MiB (%.1f KiB per sensor, connections "
        "included)\n",
        rss_growth, rss_growth * 1024 / sensors);
    std::printf("  threads before / after         %zu / %zu (the host's only)\n", threads_before,
                entries_of("/proc/self/task"));
    std::printf("  descriptors added              %zu for %u new connections\n",
                entries_of("/proc/self/fd") - fds_before, total - connections_before);
    std::printf("  connections per target         %u at most\n", most);
    std::printf("  client CPU per scan            %.1f us\n", cpu_per_scan_us);
    // 10,000 sensors on 100 targets: ten times as many sensors, targets and connections.
    const double scale = 10000.0 / sensors;
    std::printf("  10,000 sensors / 100 targets, one scan per 60 s: %.4f cores, %.0f MB\n",
                cpu_per_scan_us * 1e-6 * 10000 / 60, rss_growth * scale * 1.048576);
    for (int i = 0; i < sensors; ++i) host.destroy_sensor(2'000'000 + i);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Cost of warm WQL queries and scans: CPU, instructions, memory, threads"};
    std::string simulator = WQL_BENCH_SIMULATOR;
    std::string module = WQL_BENCH_MODULE;
    std::string model = WQL_BENCH_MODELS_DIR "/windows_server.json";
    std::string python_script = WQL_BENCH_PYTHON_SCRIPT;
    int queries = 300;
    int rounds = 5;
    int callgrind_queries = 100;
    int scans = 50;
    int sensors = 1000;
    int targets = 10;
    bool child_mode = false;
    int port = 0;
    app.add_option("--simulator", simulator, "winrm-simulator program")->capture_default_str();
    app.add_option("--module", module, "libwmi.so")->capture_default_str();
    app.add_option("--model", model, "machine model of every target")->capture_default_str();
    app.add_option("--queries", queries, "warm one-row queries timed")->capture_default_str();
    app.add_option("--rounds", rounds, "rounds of timed queries; the median is reported")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_option("--callgrind-queries", callgrind_queries, "queries counted under callgrind")
        ->capture_default_str();
    app.add_option("--scans", scans, "scans timed per kind")->capture_default_str();
    app.add_option("--sensors", sensors, "sensors created")->capture_default_str();
    app.add_option("--targets", targets, "targets they spread over")->capture_default_str();
    app.add_flag("--callgrind-child", child_mode)->group("");
    app.add_option("--port", port)->group("");
    CLI11_PARSE(app, argc, argv);
    if (child_mode) return callgrind_child(static_cast<std::uint16_t>(port), callgrind_queries);

    try {
        offline_krb5::configure();
        const std::size_t host_threads = entries_of("/proc/self/task");
        simulator_process target(simulator, model);
        std::printf(
            "warm one-row query (%s), NTLM with sealing, client CPU only;\n"
            "libwql: median (least-most) of %d rounds of %d queries; python3-winrm: %d queries\n",
            one_row, rounds, queries, queries);
        // Each CPU alone, then all: a virtual CPU is as fast as the host lets it be at the
        // time, so each placement measures both clients.
        cpu_set_t allowed;
        sched_getaffinity(0, sizeof allowed, &allowed);
        std::vector<int> placements;
        for (int cpu = 0; cpu < CPU_SETSIZE && placements.size() < 4; ++cpu) {
            if (CPU_ISSET(cpu, &allowed)) placements.push_back(cpu);
        }
        placements.push_back(-1);
        for (const int cpu : placements) {
            std::optional<one_core> pinned;
            if (cpu >= 0) pinned.emplace(cpu, target.pid());
            const spread ours = client_cpu_per_query(target.port(), queries, rounds);
            const double theirs = python_cpu_per_query(python_script, target.port(), queries);
            if (cpu >= 0) {
                std::printf("  client and simulator on CPU %d:\n", cpu);
            } else {
                std::printf("  on any CPU (the scheduler's choice):\n");
            }
            std::printf("    libwql          %8.1f us per query (%.1f-%.1f)\n", ours.median,
                        ours.least, ours.most);
            if (theirs > 0) {
                std::printf("    python3-winrm   %8.1f us per query\n", theirs);
                std::printf("    ratio           %8.1fx less CPU\n", theirs / ours.median);
            } else {
                std::printf("    python3-winrm   not measured (is python3-winrm installed?)\n");
            }
        }
        const double instructions =
            fs::exists("/usr/bin/valgrind")
                ? instructions_per_query(fs::canonical("/proc/self/exe").string(), target.port(),
                                         callgrind_queries)
                : -1;
        if (instructions > 0) {
            std::printf("  instructions    %8.0f per query (callgrind, %d queries)\n", instructions,
                        callgrind_queries);
        } else {
            std::printf("  instructions    not measured (valgrind missing or failed)\n");
        }
        std::printf("  threads started by libwql: %zd\n",
                    static_cast<std::ptrdiff_t>(entries_of("/proc/self/task")) -
                        static_cast<std::ptrdiff_t>(host_threads));

        wmiprobe::module_host host(module);
        scans_per_kind(host, target.port(), scans);
        many_sensors(host, simulator, model, sensors, targets);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "wql_scan_cost: " << e.what() << '\n';
        return 1;
    }
}
