#pragma once

// A throw-away certification authority made at test time with OpenSSL: a CA certificate and
// server certificates it signs, as PEM text, for HTTPS tests against the simulator.

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

namespace test_support {

struct issued_certificate {
    std::string certificate_pem;
    std::string key_pem;
};

class test_ca {
public:
    explicit test_ca(const std::string& name) {
        certificate_ = make(name, key_.get(), -3600, 30 * 86400,
                            {{NID_basic_constraints, "critical,CA:TRUE"},
                             {NID_key_usage, "critical,keyCertSign,cRLSign"}});
    }

    // A server certificate for `subject_alt_names` ("DNS:localhost,IP:127.0.0.1"), valid
    // from `from_s` to `to_s` seconds around now.
    issued_certificate issue(const std::string& subject_alt_names, long from_s = -3600,
                             long to_s = 30 * 86400) const {
        const key_ptr key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
        const auto certificate = make(
            "simulated target", key.get(), from_s, to_s,
            {{NID_subject_alt_name, subject_alt_names.c_str()}, {NID_ext_key_usage, "serverAuth"}});
        return {pem(PEM_write_bio_X509, certificate.get()), pem(write_key, key.get())};
    }

    std::string certificate_pem() const { return pem(PEM_write_bio_X509, certificate_.get()); }

private:
    using key_ptr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
    using certificate_ptr = std::unique_ptr<X509, decltype(&X509_free)>;

    // A certificate for `key`, signed by this CA (by itself while the CA is being made).
    certificate_ptr make(const std::string& name, EVP_PKEY* key, long from_s, long to_s,
                         std::initializer_list<std::pair<int, const char*>> extensions) const {
        static long serial = 1;
        certificate_ptr cert(X509_new(), &X509_free);
        X509_set_version(cert.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), ++serial);
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), from_s);
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), to_s);
        X509_set_pubkey(cert.get(), key);
        X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
        X509* issuer = certificate_ ? certificate_.get() : cert.get();
        X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer));
        for (const auto& [nid, value] : extensions) {
            X509V3_CTX context;
            X509V3_set_ctx(&context, issuer, cert.get(), nullptr, nullptr, 0);
            X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
            X509_add_ext(cert.get(), extension, -1);
            X509_EXTENSION_free(extension);
        }
        X509_sign(cert.get(), key_.get(), EVP_sha256());
        return cert;
    }

    static int write_key(BIO* out, EVP_PKEY* key) {
        return PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
    }

    template <typename Write, typename Object>
    static std::string pem(Write write, Object* object) {
        const std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), &BIO_free);
        write(out.get(), object);
        char* data = nullptr;
        const long size = BIO_ctrl(out.get(), BIO_CTRL_INFO, 0, &data);  // BIO_get_mem_data
        return std::string(data, static_cast<std::size_t>(size));
    }

    key_ptr key_{EVP_EC_gen("P-256"), &EVP_PKEY_free};
    certificate_ptr certificate_{nullptr, &X509_free};
};

}  // namespace test_support
