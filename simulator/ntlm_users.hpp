#pragma once

#include <filesystem>
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

// The NTLM user file cannot be written.
class user_file_error : public std::runtime_error {
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

}  // namespace winrm_simulator
