#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "demo_target.hpp"
#include "simulator/simulator.hpp"

namespace wmiprobe {

namespace {

namespace fs = std::filesystem;

constexpr const char* model_file = "windows_server.json";

fs::path executable_directory() {
    std::error_code ignored;
    const auto self = fs::read_symlink("/proc/self/exe", ignored);
    return ignored ? fs::path{} : self.parent_path();
}

// The build copies the models beside wmiprobe (models/); a build tree that was moved or a
// test program that is not wmiprobe falls back to the source tree the build came from.
fs::path find_model() {
    std::vector<fs::path> candidates;
    if (const auto dir = executable_directory(); !dir.empty()) {
        candidates.push_back(dir / "models" / model_file);
    }
    candidates.push_back(fs::path(WMIPROBE_SOURCE_MODELS_DIR) / model_file);
    for (const auto& candidate : candidates) {
        std::error_code ignored;
        if (fs::is_regular_file(candidate, ignored)) {
            return candidate;
        }
    }
    std::string tried;
    for (const auto& candidate : candidates) {
        tried += (tried.empty() ? "" : ", ") + candidate.string();
    }
    throw std::runtime_error(std::string("the simulated target's model ") + model_file +
                             " is not there (looked at " + tried + ")");
}

// 20 characters from 58 (no I, O, l) give about 117 bits; the alphabet avoids ':' and line
// breaks, which the simulator's account format cannot carry.
std::string random_password() {
    static constexpr char alphabet[] =
        "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz0123456789";
    std::random_device source;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(alphabet) - 2);
    std::string password;
    for (int i = 0; i < 20; ++i) {
        password += alphabet[pick(source)];
    }
    return password;
}

// SPNEGO clients try Kerberos before NTLM. Without a configuration that forbids DNS, krb5
// asks the resolver about the realm of 127.0.0.1 and waits for its timeout on a machine
// without a network. The simulator offers no Kerberos anyway, so for as long as the target
// lives the process uses a private configuration; the previous value comes back afterwards.
class krb5_config_override {
public:
    krb5_config_override() {
        if (const char* old = std::getenv("KRB5_CONFIG")) {
            previous_ = old;
        }
        const auto dir = fs::temp_directory_path();
        std::string pattern = (dir / "wmiprobe-demo-krb5-XXXXXX").string();
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) {
            throw std::runtime_error("cannot create a temporary file in " + dir.string());
        }
        ::close(fd);
        path_ = pattern;
        std::ofstream out(path_, std::ios::trunc);
        out << "[libdefaults]\n dns_lookup_realm = false\n dns_lookup_kdc = false\n"
               " rdns = false\n dns_canonicalize_hostname = false\n";
        ::setenv("KRB5_CONFIG", path_.c_str(), 1);
    }
    ~krb5_config_override() {
        if (previous_) {
            ::setenv("KRB5_CONFIG", previous_->c_str(), 1);
        } else {
            ::unsetenv("KRB5_CONFIG");
        }
        std::error_code ignored;
        fs::remove(path_, ignored);
    }
    krb5_config_override(const krb5_config_override&) = delete;
    krb5_config_override& operator=(const krb5_config_override&) = delete;

private:
    std::optional<std::string> previous_;
    fs::path path_;
};

class simulated_target : public demo_target {
public:
    demo_endpoint start() override {
        if (server_) {
            return endpoint_;
        }
        auto model = winrm_simulator::machine_model::load_file(find_model());
        krb5_ = std::make_unique<krb5_config_override>();
        // A local account of the simulated machine, valid only while this process runs.
        endpoint_.host = "127.0.0.1";
        endpoint_.domain = model.machine_name();
        endpoint_.user = "wmiprobe-demo";
        endpoint_.password = random_password();
        winrm_simulator::simulator_options options;
        options.users = {{endpoint_.domain, endpoint_.user, endpoint_.password}};
        server_ = std::make_unique<winrm_simulator::simulator>(std::move(model), options);
        server_->start();
        endpoint_.port = server_->port();
        return endpoint_;
    }

    ~simulated_target() override {
        // Stop serving before the Kerberos configuration goes away.
        server_.reset();
        krb5_.reset();
    }

private:
    std::unique_ptr<krb5_config_override> krb5_;
    std::unique_ptr<winrm_simulator::simulator> server_;
    demo_endpoint endpoint_;
};

}  // namespace

std::unique_ptr<demo_target> make_simulated_target() {
    return std::make_unique<simulated_target>();
}

}  // namespace wmiprobe
