#include "wsman_wire/channel_binding.hpp"

#include <openssl/evp.h>
#include <openssl/objects.h>

namespace wsman_wire {

std::string tls_server_end_point(X509* certificate) {
    if (certificate == nullptr) return {};
    int digest_nid = NID_undef;
    OBJ_find_sigid_algs(X509_get_signature_nid(certificate), &digest_nid, nullptr);
    const EVP_MD* digest = nullptr;
    if (digest_nid != NID_md5 && digest_nid != NID_sha1 && digest_nid != NID_undef) {
        digest = EVP_get_digestbynid(digest_nid);
    }
    if (digest == nullptr) digest = EVP_sha256();
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, digest, hash, &length) != 1) return {};
    return "tls-server-end-point:" + std::string(reinterpret_cast<const char*>(hash), length);
}

}  // namespace wsman_wire
