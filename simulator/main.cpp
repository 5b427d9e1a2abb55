// winrm-simulator: serves a machine model as a WinRM endpoint on loopback until SIGINT/SIGTERM.
#include <pthread.h>
#include <CLI/CLI.hpp>
#include <csignal>
#include <fstream>
#include <iostream>
#include <sstream>

#include "simulator/simulator.hpp"

// gss-ntlmssp 1.2 never frees the digests it fetches from OpenSSL for each credential and
// context; LeakSanitizer builds would otherwise fail on that library's leak, not ours. The
// fast unwinder stops inside libcrypto (no frame pointers), so the rule names it too; this
// binary uses OpenSSL only through gss-ntlmssp.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:gssntlmssp.so\nleak:libcrypto.so\n";
}

namespace {

// host:port with host a loopback IPv4 address; port 0 lets the OS pick.
void parse_listen(const std::string& text, winrm_simulator::simulator_options& options) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        throw std::invalid_argument("--listen takes 127.0.0.1:PORT");
    }
    const std::string port = text.substr(colon + 1);
    std::size_t used = 0;
    const unsigned long value = std::stoul(port, &used);
    if (used != port.size() || value > 65535) {
        throw std::invalid_argument("--listen: the port must be 0 to 65535");
    }
    options.address = text.substr(0, colon);
    options.port = static_cast<std::uint16_t>(value);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Simulated Windows target answering WQL over WS-Management (WinRM) on loopback"};
    std::string model_path;
    std::string listen = "127.0.0.1:0";
    std::vector<std::string> users;
    std::string fault = "none";
    std::uint32_t fault_count = 0;
    std::size_t first_page = 1;
    std::size_t page = 32;
    std::uint64_t enumeration_timeout_ms = 60'000;
    bool verbose = false;
    std::string tls_certificate;
    std::string tls_key;
    bool require_channel_binding = false;
    app.add_option("--model", model_path, "machine model (JSON)")
        ->required()
        ->check(CLI::ExistingFile);
    app.add_option("--listen", listen, "loopback address and port; port 0 picks a free one")
        ->capture_default_str();
    app.add_option("--user", users, "accepted account DOMAIN\\name:password (repeatable)")
        ->required();
    app.add_option("--fault", fault,
                   "none, wrong-credentials, slow:<ms>, drop, malformed-xml or server-error")
        ->capture_default_str();
    app.add_option("--fault-count", fault_count,
                   "requests the fault hits before normal service resumes (0: all)")
        ->capture_default_str();
    app.add_option("--first-page", first_page, "items in an optimized EnumerateResponse")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_option("--page", page, "items per PullResponse at most")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_option("--enumeration-timeout-ms", enumeration_timeout_ms,
                   "idle time after which an enumeration context expires")
        ->capture_default_str();
    app.add_flag("--verbose", verbose, "one line per connection, logon and request on stderr");
    auto* certificate_option =
        app.add_option("--tls-certificate", tls_certificate,
                       "serve HTTPS with this certificate chain (PEM, leaf first)")
            ->check(CLI::ExistingFile);
    app.add_option("--tls-key", tls_key, "the certificate's private key (PEM)")
        ->check(CLI::ExistingFile)
        ->needs(certificate_option);
    certificate_option->needs("--tls-key");
    app.add_flag("--require-channel-binding", require_channel_binding,
                 "HTTPS logons must carry the certificate's channel binding")
        ->needs(certificate_option);
    CLI11_PARSE(app, argc, argv);

    try {
        winrm_simulator::simulator_options options;
        parse_listen(listen, options);
        for (const std::string& user : users) {
            options.users.push_back(winrm_simulator::parse_user_account(user));
        }
        auto plan = winrm_simulator::parse_fault_plan(fault);
        plan.count = fault_count;
        options.script = winrm_simulator::script_of(plan);
        options.first_page_size = first_page;
        options.page_size = page;
        options.enumeration_timeout = std::chrono::milliseconds(enumeration_timeout_ms);
        if (!tls_certificate.empty()) {
            options.tls_certificate_pem = read_file(tls_certificate);
            options.tls_private_key_pem = read_file(tls_key);
            options.require_channel_binding = require_channel_binding;
        }
        if (verbose) {
            options.log = [](const std::string& line) { std::cerr << line << std::endl; };
        }

        // Block the stop signals before the I/O thread starts so only sigwait sees them.
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);

        const std::string address = options.address;
        winrm_simulator::simulator server(winrm_simulator::machine_model::load_file(model_path),
                                          std::move(options));
        server.start();
        std::cout << "listening on " << address << ":" << server.port() << std::endl;
        int received = 0;
        sigwait(&signals, &received);
        server.stop();
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "winrm-simulator: " << e.what() << '\n';
        return 1;
    }
}
