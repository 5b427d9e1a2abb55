#include "wsman_wire/gss_context.hpp"

#include <algorithm>
#include <cctype>

namespace wsman_wire {

std::string principal_name(const std::string& user, const std::string& domain, bool kerberos_only) {
    if (user.find('\\') != std::string::npos || user.find('@') != std::string::npos ||
        domain.empty()) {
        return user;
    }
    // Kerberos needs user@REALM; a DNS-style domain is taken as the realm. A NetBIOS domain
    // only makes sense to NTLM.
    if (kerberos_only || domain.find('.') != std::string::npos) {
        std::string realm = domain;
        std::transform(realm.begin(), realm.end(), realm.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        return user + "@" + realm;
    }
    return domain + "\\" + user;
}

}  // namespace wsman_wire
