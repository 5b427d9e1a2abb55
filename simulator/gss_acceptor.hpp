#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace winrm_simulator {

// A local account the target accepts: DOMAIN\name (domain optional) and its password.
struct user_account {
    std::string domain;
    std::string name;
    std::string password;
};

// Parses "DOMAIN\name:password" or "name:password"; the password may be empty but may not
// contain ':' or a line break (the NTLM user file cannot hold them).
user_account parse_user_account(std::string_view text);

class gss_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The accounts every simulator of this process accepts. The NTLM provider reads its users
// from the file named by NTLM_USER_FILE, which is one per process; so the registry keeps one
// private temporary file (mode 0600) holding the accounts of all live registrations, and
// removes it with the last one. Passwords sit in that file in clear, as the provider needs.
class ntlm_user_registration {
public:
    explicit ntlm_user_registration(const std::vector<user_account>& users);
    ~ntlm_user_registration();
    ntlm_user_registration(const ntlm_user_registration&) = delete;
    ntlm_user_registration& operator=(const ntlm_user_registration&) = delete;
    static std::filesystem::path current_file();

private:
    std::size_t id_ = 0;
};

// One security context, bound to one TCP connection.
class gss_server_context {
public:
    enum class step { continue_needed, complete, failed };
    struct step_result {
        step state = step::failed;
        std::string output_token;  // raw bytes; send base64 in WWW-Authenticate when not empty
        std::string error;         // for failed, never contains secrets
    };

    gss_server_context() = default;
    ~gss_server_context();
    gss_server_context(const gss_server_context&) = delete;
    gss_server_context& operator=(const gss_server_context&) = delete;

    step_result accept(std::string_view token);
    bool established() const { return established_; }
    // DOMAIN\name of the authenticated client.
    const std::string& client_name() const { return client_name_; }

    // Seal: 16-byte NTLM signature followed by the sealed data (same length as plain).
    std::string wrap(std::string_view plain);
    // Unseal signature ‖ data; throws gss_error when the signature or sequence is wrong.
    std::string unwrap(std::string_view sealed);

private:
    void* context_ = nullptr;  // gss_ctx_id_t
    bool established_ = false;
    std::string client_name_;
};

}  // namespace winrm_simulator
