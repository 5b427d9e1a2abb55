#pragma once

// A throw-away certification authority made at test time with OpenSSL: a CA certificate and
// server certificates it signs, as PEM text, for HTTPS tests against the simulator.

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace test_support {

struct issued_certificate {
    std::string certificate_pem;
    std::string key_pem;
};

class test_ca {
public:
    explicit test_ca(const std::string& name)
        : key_(new_key()), certificate_(X509_new(), &X509_free) {
        X509* ca = certificate_.get();
        fill(ca, name, -3600, 30 * 86400, key_.get());
        add(ca, ca, NID_basic_constraints, "critical,CA:TRUE");
        add(ca, ca, NID_key_usage, "critical,keyCertSign,cRLSign");
        add(ca, ca, NID_subject_key_identifier, "hash");
        X509_sign(ca, key_.get(), EVP_sha256());
    }

    // A server certificate for `subject_alt_names` ("DNS:localhost,IP:127.0.0.1"), valid
    // from `from_s` to `to_s` seconds around now.
    issued_certificate issue(const std::string& subject_alt_names, long from_s = -3600,
                             long to_s = 30 * 86400) const {
        auto key = new_key();
        std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), &X509_free);
        fill(cert.get(), "simulated target", from_s, to_s, key.get());
        X509_set_issuer_name(cert.get(), X509_get_subject_name(certificate_.get()));
        add(certificate_.get(), cert.get(), NID_subject_alt_name, subject_alt_names.c_str());
        add(certificate_.get(), cert.get(), NID_ext_key_usage, "serverAuth");
        add(certificate_.get(), cert.get(), NID_authority_key_identifier, "keyid:always");
        X509_sign(cert.get(), key_.get(), EVP_sha256());
        return {pem_of(cert.get()), pem_of(key.get())};
    }

    std::string certificate_pem() const { return pem_of(certificate_.get()); }

    // Writes the CA certificate to `path`, e.g. for SSL_CERT_FILE.
    void write(const std::string& path) const { std::ofstream(path) << certificate_pem(); }

private:
    using key_ptr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

    static key_ptr new_key() { return key_ptr(EVP_EC_gen("P-256"), &EVP_PKEY_free); }

    static void fill(X509* cert, const std::string& common_name, long from_s, long to_s,
                     EVP_PKEY* key) {
        static long serial = 1;
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), ++serial);
        X509_gmtime_adj(X509_getm_notBefore(cert), from_s);
        X509_gmtime_adj(X509_getm_notAfter(cert), to_s);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(common_name.c_str()), -1,
                                   -1, 0);
        X509_set_issuer_name(cert, name);
    }

    static void add(X509* issuer, X509* cert, int nid, const char* value) {
        X509V3_CTX context;
        X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
        if (extension == nullptr) throw std::runtime_error("bad certificate extension");
        X509_add_ext(cert, extension, -1);
        X509_EXTENSION_free(extension);
    }

    template <typename Object>
    static std::string pem_of(Object* object) {
        std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
        if constexpr (std::is_same_v<Object, X509>) {
            PEM_write_bio_X509(bio.get(), object);
        } else {
            PEM_write_bio_PrivateKey(bio.get(), object, nullptr, nullptr, 0, nullptr, nullptr);
        }
        char* data = nullptr;
        const long size = BIO_ctrl(bio.get(), BIO_CTRL_INFO, 0, &data);  // BIO_get_mem_data
        return std::string(data, static_cast<std::size_t>(size));
    }

    key_ptr key_;
    std::unique_ptr<X509, decltype(&X509_free)> certificate_;
};

}  // namespace test_support
