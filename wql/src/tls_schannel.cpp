// tls_session with Windows' Schannel through SSPI: the TLS records travel over socket_stream,
// so the socket's deadline bounds the handshake and every read exactly as on plain HTTP. The
// certificate is checked here (chain to a trusted root, then the host name) rather than inside
// Schannel, so each failure gets its own kind.

#define SECURITY_WIN32
// Asio needs winsock2.h before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <schannel.h>
#include <security.h>
#include <sspi.h>
#include <wincrypt.h>

#include <boost/asio/error.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "net_error.hpp"
#include "socket_stream.hpp"
#include "tls_session.hpp"
#include "wsman_wire/channel_binding.hpp"

namespace libwql::detail {

namespace asio = boost::asio;
using boost::system::error_code;

namespace {

// Large enough for any TLS record with its header.
constexpr std::size_t read_chunk = 16 * 1024 + 512;

std::wstring widen(const std::string& text) {
    if (text.empty()) return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            size);
    }
    return wide;
}

std::string hex(long status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status));
    return text;
}

struct certificate_free {
    void operator()(const CERT_CONTEXT* c) const { CertFreeCertificateContext(c); }
};
using certificate_ptr = std::unique_ptr<const CERT_CONTEXT, certificate_free>;

struct chain_free {
    void operator()(const CERT_CHAIN_CONTEXT* c) const { CertFreeCertificateChain(c); }
};

// The chain must lead to a trusted root and the certificate must name `host` (a DNS name or an
// IP address); throws the matching tls_* failure.
void verify_certificate(const CERT_CONTEXT* certificate, const std::string& host,
                        const std::string& prefix) {
    char server_auth[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {server_auth};
    CERT_CHAIN_PARA chain_para{};
    chain_para.cbSize = sizeof chain_para;
    chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
    chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    const CERT_CHAIN_CONTEXT* raw_chain = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore,
                                 &chain_para, 0, nullptr, &raw_chain)) {
        throw net_error(net_failure::tls_handshake,
                        prefix + "cannot build the certificate chain (" +
                            hex(static_cast<long>(GetLastError())) + ")");
    }
    const std::unique_ptr<const CERT_CHAIN_CONTEXT, chain_free> chain(raw_chain);
    std::wstring server_name = widen(host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl_para{};
    ssl_para.cbSize = sizeof ssl_para;
    ssl_para.dwAuthType = AUTHTYPE_SERVER;
    ssl_para.pwszServerName = server_name.data();
    CERT_CHAIN_POLICY_PARA policy_para{};
    policy_para.cbSize = sizeof policy_para;
    policy_para.pvExtraPolicyPara = &ssl_para;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy_para,
                                          &status)) {
        throw net_error(net_failure::tls_handshake, prefix + "cannot verify the certificate");
    }
    switch (static_cast<unsigned long>(status.dwError)) {
        case 0:
            return;
        case static_cast<unsigned long>(CERT_E_UNTRUSTEDROOT):
        case static_cast<unsigned long>(CERT_E_CHAINING):
        case static_cast<unsigned long>(TRUST_E_CERT_SIGNATURE):
            throw net_error(net_failure::tls_unknown_issuer,
                            prefix + "the certificate's issuer is not trusted");
        case static_cast<unsigned long>(CERT_E_EXPIRED):
            throw net_error(net_failure::tls_expired,
                            prefix + "a certificate of the chain is expired or not valid yet");
        case static_cast<unsigned long>(CERT_E_CN_NO_MATCH):
            throw net_error(net_failure::tls_host_name,
                            prefix + "the certificate does not name " + host);
        default:
            throw net_error(net_failure::tls_handshake,
                            prefix + "the certificate was refused (" + hex(status.dwError) + ")");
    }
}

class schannel_session final : public tls_session {
public:
    explicit schannel_session(socket_stream& socket) : socket_(socket) {}
    schannel_session(const schannel_session&) = delete;
    schannel_session& operator=(const schannel_session&) = delete;
    ~schannel_session() override {
        if (has_context_) DeleteSecurityContext(&context_);
        if (has_credential_) FreeCredentialsHandle(&credential_);
    }

    void handshake(const std::string& host, const std::string& where) {
        const std::string prefix = "TLS handshake with " + where + ": ";
        SCHANNEL_CRED cred{};
        cred.dwVersion = SCHANNEL_CRED_VERSION;
        // TLS 1.2: Schannel hands TLS 1.3's post-handshake messages back as renegotiation
        // requests, which this session does not run.
        cred.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        TimeStamp expiry{};
        SECURITY_STATUS status = AcquireCredentialsHandleW(
            nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, &cred,
            nullptr, nullptr, &credential_, &expiry);
        if (status != SEC_E_OK) {
            throw net_error(net_failure::tls_handshake,
                            prefix + "cannot acquire TLS credentials (" + hex(status) + ")");
        }
        has_credential_ = true;

        std::wstring target = widen(host);
        const unsigned long flags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                    ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                    ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR;
        bool need_input = false;
        for (;;) {
            if (need_input && !receive_more(prefix)) {
                // An HTTP status line read as a record header announces a record that never
                // ends.
                if (incoming_.rfind("HTTP/", 0) == 0) {
                    throw net_error(net_failure::tls_plain_http,
                                    prefix + "the port answered in plain HTTP");
                }
                throw net_error(net_failure::tls_handshake,
                                prefix + "the peer ended the handshake");
            }
            SecBuffer in[2] = {
                {static_cast<unsigned long>(incoming_.size()), SECBUFFER_TOKEN, incoming_.data()},
                {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
            SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out};
            unsigned long granted = 0;
            status = InitializeSecurityContextW(
                &credential_, has_context_ ? &context_ : nullptr, target.data(), flags, 0, 0,
                has_context_ ? &in_desc : nullptr, 0, &context_, &out_desc, &granted, &expiry);
            // The first call creates the context unless it fails outright.
            if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED ||
                status == SEC_E_INCOMPLETE_MESSAGE) {
                has_context_ = true;
            }
            if (out.pvBuffer != nullptr) {
                std::string token(static_cast<const char*>(out.pvBuffer), out.cbBuffer);
                FreeContextBuffer(out.pvBuffer);
                error_code ec;
                if (!token.empty()) socket_.write_some(asio::buffer(token), ec);
                if (ec) throw socket_failure(ec, prefix);
            }
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                need_input = true;
                continue;
            }
            if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
                if (incoming_.rfind("HTTP/", 0) == 0) {
                    throw net_error(net_failure::tls_plain_http,
                                    prefix + "the port answered in plain HTTP");
                }
                throw net_error(net_failure::tls_handshake,
                                prefix + "the handshake failed (" + hex(status) + ")");
            }
            keep_extra(in[1]);
            if (status == SEC_E_OK) break;
            need_input = incoming_.empty();
        }

        const CERT_CONTEXT* raw = nullptr;
        status = QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &raw);
        if (status != SEC_E_OK || raw == nullptr) {
            throw net_error(net_failure::tls_handshake, prefix + "the peer sent no certificate");
        }
        const certificate_ptr certificate(raw);
        verify_certificate(certificate.get(), host, prefix);
        channel_binding_ = wsman_wire::tls_server_end_point(certificate.get());
        status = QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
        if (status != SEC_E_OK) {
            throw net_error(net_failure::tls_handshake,
                            prefix + "cannot query the record sizes (" + hex(status) + ")");
        }
    }

    std::size_t read_some(void* data, std::size_t size, error_code& ec) override {
        ec = {};
        while (plain_.empty()) {
            if (!incoming_.empty() && decrypt(ec)) continue;
            if (ec) return 0;
            std::string chunk(read_chunk, '\0');
            const std::size_t n = socket_.read_some(asio::buffer(chunk), ec);
            if (ec) {
                // The peer closed inside a record: the stream was cut short.
                if (ec == asio::error::eof && !incoming_.empty())
                    ec = asio::error::connection_aborted;
                return 0;
            }
            incoming_.append(chunk.data(), n);
        }
        const std::size_t n = std::min(size, plain_.size());
        std::memcpy(data, plain_.data(), n);
        plain_.erase(0, n);
        return n;
    }

    std::size_t write(const asio::const_buffer* parts, std::size_t count, error_code& ec) override {
        staging_.clear();
        for (std::size_t i = 0; i < count; ++i)
            staging_.append(static_cast<const char*>(parts[i].data()), parts[i].size());
        // Records of at most the maximum message, each [header][data][trailer], sent at once.
        std::string records;
        for (std::size_t offset = 0; offset < staging_.size();) {
            const std::size_t n =
                std::min<std::size_t>(sizes_.cbMaximumMessage, staging_.size() - offset);
            std::string record(sizes_.cbHeader + n + sizes_.cbTrailer, '\0');
            std::memcpy(record.data() + sizes_.cbHeader, staging_.data() + offset, n);
            SecBuffer buffers[4] = {
                {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                {static_cast<unsigned long>(n), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
                {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + n},
                {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            if (EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) {
                ec = asio::error::connection_aborted;
                return 0;
            }
            records.append(record.data(),
                           buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
            offset += n;
        }
        socket_.write_some(asio::buffer(records), ec);
        return ec ? 0 : staging_.size();
    }

    const std::string& channel_binding() const override { return channel_binding_; }

private:
    // Reads more handshake bytes; false when the peer closed.
    bool receive_more(const std::string& prefix) {
        std::string chunk(read_chunk, '\0');
        error_code ec;
        const std::size_t n = socket_.read_some(asio::buffer(chunk), ec);
        if (ec == asio::error::eof) return false;
        if (ec) throw socket_failure(ec, prefix);
        incoming_.append(chunk.data(), n);
        return true;
    }

    static net_error socket_failure(const error_code& ec, const std::string& prefix) {
        if (ec == asio::error::timed_out) {
            return {net_failure::timeout, prefix + "no answer in time"};
        }
        return {net_failure::tls_handshake, prefix + ec.message()};
    }

    // Unused bytes Schannel left after a handshake step: the start of the next message.
    void keep_extra(const SecBuffer& extra) {
        if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer <= incoming_.size()) {
            incoming_.erase(0, incoming_.size() - extra.cbBuffer);
        } else {
            incoming_.clear();
        }
    }

    // Decrypts one record from incoming_ into plain_. False with no error when the record is
    // not complete yet; false with `ec` at the peer's close or a broken record.
    bool decrypt(error_code& ec) {
        SecBuffer buffers[4] = {
            {static_cast<unsigned long>(incoming_.size()), SECBUFFER_DATA, incoming_.data()},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = DecryptMessage(&context_, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) return false;
        if (status == SEC_I_CONTEXT_EXPIRED) {
            ec = asio::error::eof;
            return false;
        }
        if (status != SEC_E_OK) {
            ec = asio::error::connection_aborted;
            return false;
        }
        std::string extra;
        for (const auto& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.pvBuffer != nullptr)
                plain_.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
            if (b.BufferType == SECBUFFER_EXTRA && b.pvBuffer != nullptr)
                extra.assign(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
        }
        incoming_ = std::move(extra);
        return true;
    }

    socket_stream& socket_;
    CredHandle credential_{};
    CtxtHandle context_{};
    bool has_credential_ = false;
    bool has_context_ = false;
    SecPkgContext_StreamSizes sizes_{};
    std::string incoming_;  // received, not yet decrypted
    std::string plain_;     // decrypted, not yet read
    std::string staging_;
    std::string channel_binding_;
};

}  // namespace

std::unique_ptr<tls_session> tls_session::handshake(socket_stream& socket, const std::string& host,
                                                    const std::string& where) {
    auto session = std::make_unique<schannel_session>(socket);
    session->handshake(host, where);
    return session;
}

}  // namespace libwql::detail
