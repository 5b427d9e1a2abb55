// The tls-server-end-point hash with the platform's own digests (CNG) over a certificate as
// Schannel hands it out.
#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include <vector>

#include "wsman_wire/channel_binding.hpp"

namespace wsman_wire {

namespace {

// The digest the certificate's signature uses, or SHA-256 where RFC 5929 says so.
const wchar_t* digest_for(const CERT_CONTEXT& certificate) {
    const char* signature = certificate.pCertInfo->SignatureAlgorithm.pszObjId;
    const auto* info = signature == nullptr
                           ? nullptr
                           : CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(signature),
                                              CRYPT_SIGN_ALG_OID_GROUP_ID);
    if (info != nullptr && info->Algid == CALG_SHA_384) return BCRYPT_SHA384_ALGORITHM;
    if (info != nullptr && info->Algid == CALG_SHA_512) return BCRYPT_SHA512_ALGORITHM;
    return BCRYPT_SHA256_ALGORITHM;
}

}  // namespace

std::string tls_server_end_point(const CERT_CONTEXT* certificate) {
    if (certificate == nullptr || certificate->pCertInfo == nullptr) return {};
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&algorithm, digest_for(*certificate), nullptr, 0))) {
        return {};
    }
    std::string out;
    DWORD length = 0;
    ULONG written = 0;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCRYPT_SUCCESS(BCryptGetProperty(algorithm, BCRYPT_HASH_LENGTH,
                                         reinterpret_cast<PUCHAR>(&length), sizeof length, &written,
                                         0)) &&
        BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
        std::vector<UCHAR> digest(length);
        if (BCRYPT_SUCCESS(
                BCryptHashData(hash, certificate->pbCertEncoded, certificate->cbCertEncoded, 0)) &&
            BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), length, 0))) {
            out = "tls-server-end-point:" +
                  std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
        }
        BCryptDestroyHash(hash);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return out;
}

}  // namespace wsman_wire
