#include "simulator/ntlm_users.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>

namespace winrm_simulator {

user_account parse_user_account(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        throw std::invalid_argument("a user is given as DOMAIN\\name:password or name:password");
    }
    user_account user;
    std::string_view who = text.substr(0, colon);
    user.password = std::string(text.substr(colon + 1));
    if (const auto slash = who.find('\\'); slash != std::string_view::npos) {
        user.domain = std::string(who.substr(0, slash));
        who.remove_prefix(slash + 1);
    }
    user.name = std::string(who);
    if (user.name.empty()) throw std::invalid_argument("the user name is empty");
    for (const std::string* part : {&user.domain, &user.name, &user.password}) {
        if (part->find_first_of(":\r\n") != std::string::npos) {
            throw std::invalid_argument(
                "user names and passwords cannot contain ':' or line breaks");
        }
    }
    if (user.domain.find('\\') != std::string::npos || user.name.find('\\') != std::string::npos) {
        throw std::invalid_argument("a user name holds at most one backslash (DOMAIN\\name)");
    }
    return user;
}

namespace {

struct registry {
    std::mutex mutex;
    std::map<std::size_t, std::vector<user_account>> accounts;
    std::size_t next_id = 1;
    std::filesystem::path file;
};

registry& users_registry() {
    static registry instance;
    return instance;
}

// Rewrites the shared file; called with the registry locked.
void rewrite_user_file(registry& r) {
    if (r.accounts.empty()) {
        std::error_code ignored;
        if (!r.file.empty()) std::filesystem::remove(r.file, ignored);
        r.file.clear();
        return;
    }
    if (r.file.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/winrm-simulator-users-XXXXXX";
        // mkstemp creates the file with mode 0600: only this user can read the passwords.
        const int fd = mkstemp(pattern.data());
        if (fd < 0) {
            throw user_file_error("cannot create the NTLM user file: " +
                                  std::string(strerror(errno)));
        }
        ::close(fd);
        r.file = pattern;
        setenv("NTLM_USER_FILE", r.file.c_str(), 1);
    }
    std::ofstream out(r.file, std::ios::trunc);
    for (const auto& [id, users] : r.accounts) {
        for (const user_account& user : users) {
            out << user.domain << ':' << user.name << ':' << user.password << '\n';
        }
    }
    out.close();
    if (!out) throw user_file_error("cannot write the NTLM user file " + r.file.string());
}

}  // namespace

ntlm_user_registration::ntlm_user_registration(const std::vector<user_account>& users) {
    registry& r = users_registry();
    std::lock_guard lock(r.mutex);
    id_ = r.next_id++;
    r.accounts[id_] = users;
    try {
        rewrite_user_file(r);
    } catch (...) {
        r.accounts.erase(id_);
        throw;
    }
}

ntlm_user_registration::~ntlm_user_registration() {
    registry& r = users_registry();
    std::lock_guard lock(r.mutex);
    r.accounts.erase(id_);
    try {
        rewrite_user_file(r);
    } catch (const user_file_error&) {
        // Nothing to report from a destructor; the stale file holds no more accounts than before.
    }
}

std::filesystem::path ntlm_user_registration::current_file() {
    registry& r = users_registry();
    std::lock_guard lock(r.mutex);
    return r.file;
}

}  // namespace winrm_simulator
