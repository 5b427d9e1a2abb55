// tls_session with OpenSSL: the records go through a BIO over socket_stream, so the socket's
// deadline bounds every handshake and record read exactly as on plain HTTP.

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <boost/asio/error.hpp>
#include <boost/asio/ip/address.hpp>

#include <climits>
#include <memory>

#include "net_error.hpp"
#include "socket_stream.hpp"
#include "tls_session.hpp"
#include "wsman_wire/channel_binding.hpp"

namespace libwql::detail {

namespace asio = boost::asio;
using boost::system::error_code;

namespace {

// One client context for the process: loading the trust store is costly, and it is the
// same for every connection. OpenSSL's default paths honour SSL_CERT_FILE and SSL_CERT_DIR.
SSL_CTX* client_context() {
    static SSL_CTX* context = [] {
        SSL_CTX* c = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
        SSL_CTX_set_default_verify_paths(c);
        SSL_CTX_set_verify(c, SSL_VERIFY_PEER, nullptr);
        // Whole socket reads rather than header-then-body per record; record buffers are
        // given back while a pooled connection is idle.
        SSL_CTX_set_read_ahead(c, 1);
        SSL_CTX_set_mode(c, SSL_MODE_RELEASE_BUFFERS);
        return c;
    }();
    return context;
}

net_error tls_failure(long verify_result, unsigned long library_error, const error_code& io_error,
                      const std::string& where) {
    const std::string prefix = "TLS handshake with " + where + ": ";
    switch (verify_result) {
        case X509_V_OK:
            break;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
            return {net_failure::tls_unknown_issuer,
                    prefix + X509_verify_cert_error_string(verify_result)};
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return {net_failure::tls_expired,
                    prefix + X509_verify_cert_error_string(verify_result)};
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return {net_failure::tls_host_name,
                    prefix + X509_verify_cert_error_string(verify_result)};
        default:
            return {net_failure::tls_handshake,
                    prefix + X509_verify_cert_error_string(verify_result)};
    }
    if (io_error == asio::error::timed_out) {
        return {net_failure::timeout, prefix + "no answer in time"};
    }
    // An HTTP status line read as a TLS record header has a version no TLS ever had.
    if (ERR_GET_REASON(library_error) == SSL_R_WRONG_VERSION_NUMBER) {
        return {net_failure::tls_plain_http, prefix + "the port answered in plain HTTP"};
    }
    if (library_error != 0) {
        char text[256];
        ERR_error_string_n(library_error, text, sizeof text);
        return {net_failure::tls_handshake, prefix + text};
    }
    return {net_failure::tls_handshake,
            prefix + (io_error ? io_error.message() : "the peer ended the handshake")};
}

class openssl_session final : public tls_session {
public:
    explicit openssl_session(socket_stream& socket)
        : socket_(socket), ssl_(SSL_new(client_context())) {
        if (!ssl_) throw net_error(net_failure::tls_handshake, "cannot create a TLS session");
        BIO* bio = BIO_new(socket_method());
        if (!bio) throw net_error(net_failure::tls_handshake, "cannot create a TLS session");
        BIO_set_data(bio, this);
        BIO_set_init(bio, 1);
        SSL_set_bio(ssl_.get(), bio, bio);
    }

    void handshake(const std::string& host, const std::string& where) {
        SSL* ssl = ssl_.get();
        error_code not_an_address;
        asio::ip::make_address(host, not_an_address);
        X509_VERIFY_PARAM* verify = SSL_get0_param(ssl);
        X509_VERIFY_PARAM_set_hostflags(verify, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (!not_an_address) {
            X509_VERIFY_PARAM_set1_ip_asc(verify, host.c_str());
        } else {
            SSL_set1_host(ssl, host.c_str());
            // SSL_set_tlsext_host_name without the macro's C cast.
            SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                     const_cast<char*>(host.c_str()));
        }
        ERR_clear_error();
        io_error_ = {};
        const int result = SSL_connect(ssl);
        const long verify_result = SSL_get_verify_result(ssl);
        if (result == 1 && verify_result == X509_V_OK) {
            std::unique_ptr<X509, decltype(&X509_free)> certificate(SSL_get1_peer_certificate(ssl),
                                                                    &X509_free);
            channel_binding_ = wsman_wire::tls_server_end_point(certificate.get());
            return;
        }
        const unsigned long library_error = ERR_peek_last_error();
        ERR_clear_error();
        throw tls_failure(verify_result, library_error, io_error_, where);
    }

    std::size_t read_some(void* data, std::size_t size, error_code& ec) override {
        ERR_clear_error();
        io_error_ = {};
        std::size_t read = 0;
        const int result = SSL_read_ex(ssl_.get(), data, size, &read);
        if (result == 1) {
            ec = {};
            return read;
        }
        ec = failure(result);
        return 0;
    }

    std::size_t write(const asio::const_buffer* parts, std::size_t count, error_code& ec) override {
        // One record for header and body: one send instead of one per part.
        const void* data = count == 1 ? parts[0].data() : nullptr;
        std::size_t size = count == 1 ? parts[0].size() : 0;
        if (count != 1) {
            staging_.clear();
            for (std::size_t i = 0; i < count; ++i)
                staging_.append(static_cast<const char*>(parts[i].data()), parts[i].size());
            data = staging_.data();
            size = staging_.size();
        }
        ERR_clear_error();
        io_error_ = {};
        std::size_t written = 0;
        const int result = SSL_write_ex(ssl_.get(), data, size, &written);
        if (result == 1) {
            ec = {};
            return written;
        }
        ec = failure(result);
        return 0;
    }

    const std::string& channel_binding() const override { return channel_binding_; }

private:
    // The socket's error when the socket failed (time-out, reset), else the TLS layer's.
    error_code failure(int result) {
        const int kind = SSL_get_error(ssl_.get(), result);
        ERR_clear_error();
        if (kind == SSL_ERROR_ZERO_RETURN) return asio::error::eof;
        if (io_error_) return io_error_;
        // A broken record, an alert, or the stream cut short inside a record.
        return asio::error::connection_aborted;
    }

    static int bio_read(BIO* bio, char* out, int size) {
        auto* self = static_cast<openssl_session*>(BIO_get_data(bio));
        BIO_clear_retry_flags(bio);
        if (size <= 0) return 0;
        const std::size_t n = self->socket_.read_some(
            asio::buffer(out, static_cast<std::size_t>(size)), self->io_error_);
        if (self->io_error_) return self->io_error_ == asio::error::eof ? 0 : -1;
        return static_cast<int>(n);
    }

    static int bio_write(BIO* bio, const char* in, int size) {
        auto* self = static_cast<openssl_session*>(BIO_get_data(bio));
        BIO_clear_retry_flags(bio);
        const std::size_t n = self->socket_.write_some(
            asio::buffer(in, static_cast<std::size_t>(size)), self->io_error_);
        if (self->io_error_) return -1;
        return static_cast<int>(n);
    }

    static long bio_ctrl(BIO*, int command, long, void*) {
        // Writes go straight to the socket: nothing to flush, nothing pending.
        return command == BIO_CTRL_FLUSH ? 1 : 0;
    }

    static BIO_METHOD* socket_method() {
        static BIO_METHOD* method = [] {
            BIO_METHOD* m =
                BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "libwql socket");
            BIO_meth_set_read(m, &bio_read);
            BIO_meth_set_write(m, &bio_write);
            BIO_meth_set_ctrl(m, &bio_ctrl);
            return m;
        }();
        return method;
    }

    struct ssl_free {
        void operator()(SSL* ssl) const { SSL_free(ssl); }
    };

    socket_stream& socket_;
    std::unique_ptr<SSL, ssl_free> ssl_;
    error_code io_error_;
    std::string staging_;
    std::string channel_binding_;
};

}  // namespace

std::unique_ptr<tls_session> tls_session::handshake(socket_stream& socket, const std::string& host,
                                                    const std::string& where) {
    auto session = std::make_unique<openssl_session>(socket);
    session->handshake(host, where);
    return session;
}

}  // namespace libwql::detail
