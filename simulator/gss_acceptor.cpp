#include "simulator/gss_acceptor.hpp"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>

namespace winrm_simulator {
namespace {

std::string status_text(OM_uint32 major, OM_uint32 minor) {
    std::string text;
    for (const auto& [code, type] : {std::pair{major, GSS_C_GSS_CODE}, {minor, GSS_C_MECH_CODE}}) {
        if (code == 0) continue;
        OM_uint32 context = 0;
        do {
            OM_uint32 ignored = 0;
            gss_buffer_desc message = GSS_C_EMPTY_BUFFER;
            if (gss_display_status(&ignored, code, type, GSS_C_NO_OID, &context, &message) !=
                GSS_S_COMPLETE) {
                break;
            }
            if (!text.empty()) text += "; ";
            text.append(static_cast<const char*>(message.value), message.length);
            gss_release_buffer(&ignored, &message);
        } while (context != 0);
    }
    return text.empty() ? "unknown GSSAPI failure" : text;
}

std::string take(gss_buffer_desc& buffer) {
    std::string out(static_cast<const char*>(buffer.value), buffer.length);
    OM_uint32 minor = 0;
    gss_release_buffer(&minor, &buffer);
    return out;
}

}  // namespace

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
            throw gss_error("cannot create the NTLM user file: " + std::string(strerror(errno)));
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
    if (!out) throw gss_error("cannot write the NTLM user file " + r.file.string());
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
    } catch (const gss_error&) {
        // Nothing to report from a destructor; the stale file holds no more accounts than before.
    }
}

std::filesystem::path ntlm_user_registration::current_file() {
    registry& r = users_registry();
    std::lock_guard lock(r.mutex);
    return r.file;
}

gss_server_context::~gss_server_context() {
    OM_uint32 minor = 0;
    auto context = static_cast<gss_ctx_id_t>(context_);
    if (context != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &context, GSS_C_NO_BUFFER);
}

gss_server_context::step_result gss_server_context::accept(std::string_view token) {
    step_result result;
    if (established_) {
        result.error = "the context is already established";
        return result;
    }
    gss_buffer_desc input{token.size(), const_cast<char*>(token.data())};
    gss_buffer_desc output = GSS_C_EMPTY_BUFFER;
    gss_name_t client = GSS_C_NO_NAME;
    auto context = static_cast<gss_ctx_id_t>(context_);
    OM_uint32 minor = 0;
    const OM_uint32 major = gss_accept_sec_context(&minor, &context, GSS_C_NO_CREDENTIAL, &input,
                                                   GSS_C_NO_CHANNEL_BINDINGS, &client, nullptr,
                                                   &output, nullptr, nullptr, nullptr);
    context_ = context;
    result.output_token = take(output);
    if (GSS_ERROR(major)) {
        result.state = step::failed;
        result.error = status_text(major, minor);
        if (client != GSS_C_NO_NAME) gss_release_name(&minor, &client);
        return result;
    }
    if (major & GSS_S_CONTINUE_NEEDED) {
        result.state = step::continue_needed;
    } else {
        result.state = step::complete;
        established_ = true;
        gss_buffer_desc name = GSS_C_EMPTY_BUFFER;
        if (client != GSS_C_NO_NAME &&
            gss_display_name(&minor, client, &name, nullptr) == GSS_S_COMPLETE) {
            client_name_ = take(name);
        }
    }
    if (client != GSS_C_NO_NAME) gss_release_name(&minor, &client);
    return result;
}

std::string gss_server_context::wrap(std::string_view plain) {
    gss_buffer_desc input{plain.size(), const_cast<char*>(plain.data())};
    gss_buffer_desc output = GSS_C_EMPTY_BUFFER;
    int sealed = 0;
    OM_uint32 minor = 0;
    const OM_uint32 major = gss_wrap(&minor, static_cast<gss_ctx_id_t>(context_), 1,
                                     GSS_C_QOP_DEFAULT, &input, &sealed, &output);
    if (GSS_ERROR(major)) throw gss_error("cannot seal the reply: " + status_text(major, minor));
    if (sealed == 0) {
        gss_release_buffer(&minor, &output);
        throw gss_error("the security context offers no confidentiality");
    }
    return take(output);
}

std::string gss_server_context::unwrap(std::string_view sealed) {
    gss_buffer_desc input{sealed.size(), const_cast<char*>(sealed.data())};
    gss_buffer_desc output = GSS_C_EMPTY_BUFFER;
    int confidential = 0;
    OM_uint32 minor = 0;
    const OM_uint32 major = gss_unwrap(&minor, static_cast<gss_ctx_id_t>(context_), &input, &output,
                                       &confidential, nullptr);
    if (GSS_ERROR(major)) {
        throw gss_error("cannot unseal the request: " + status_text(major, minor));
    }
    if (confidential == 0) {
        gss_release_buffer(&minor, &output);
        throw gss_error("the request was signed but not sealed");
    }
    return take(output);
}

}  // namespace winrm_simulator
