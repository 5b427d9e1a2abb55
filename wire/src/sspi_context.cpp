// The security context through Windows' SSPI: the initiator only (a Windows build is a client).
#include "wsman_wire/gss_context.hpp"

#define SECURITY_WIN32
#include <windows.h>

#include <security.h>
#include <sspi.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace wsman_wire {

namespace {

std::wstring widen(const std::string& text) {
    if (text.empty()) return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0) throw gss_error("the user name, password or host is not valid UTF-8");
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string narrow(const wchar_t* text) {
    if (text == nullptr || *text == L'\0') return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.pop_back();
    return out;
}

// "what: <system text> (0x8009030C)"; the status is kept for callers that classify it.
[[noreturn]] void fail(const char* what, SECURITY_STATUS status) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
    std::string text = what;
    char* system_text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(status), 0, reinterpret_cast<char*>(&system_text), 0, nullptr);
    if (length > 0 && system_text != nullptr) {
        std::string message(system_text, length);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                    message.back() == ' ' || message.back() == '.')) {
            message.pop_back();
        }
        if (!message.empty()) text += ": " + message;
    }
    if (system_text != nullptr) LocalFree(system_text);
    throw gss_error(text + " (" + code + ")", static_cast<std::uint32_t>(status));
}

// "DOMAIN\name" and "name@REALM" become the identity's user and domain; "name" has none.
std::pair<std::string, std::string> split_user(const std::string& user) {
    if (const auto slash = user.find('\\'); slash != std::string::npos) {
        return {user.substr(slash + 1), user.substr(0, slash)};
    }
    if (const auto at = user.rfind('@'); at != std::string::npos) {
        return {user.substr(0, at), user.substr(at + 1)};
    }
    return {user, {}};
}

const wchar_t* package_name(gss_mechanism mechanism) {
    switch (mechanism) {
        case gss_mechanism::kerberos:
            return L"Kerberos";
        case gss_mechanism::ntlm:
            return L"NTLM";
        case gss_mechanism::negotiate:
            break;
    }
    return L"Negotiate";
}

SecBuffer buffer_of(unsigned long type, void* data, std::size_t size) {
    return SecBuffer{static_cast<unsigned long>(size), type, data};
}

}  // namespace

struct gss_context::state {
    state() = default;
    state(const state&) = delete;
    state& operator=(const state&) = delete;
    ~state() {
        if (has_context) DeleteSecurityContext(&context);
        if (has_credential) FreeCredentialsHandle(&credential);
        // The password stays in memory no longer than the context that may still need it.
        SecureZeroMemory(password.data(), password.size() * sizeof(wchar_t));
    }

    CredHandle credential{};
    CtxtHandle context{};
    bool has_credential = false;
    bool has_context = false;
    bool established = false;
    bool kerberos = false;
    gss_mechanism mechanism = gss_mechanism::negotiate;
    std::wstring user;
    std::wstring domain;
    std::wstring password;
    std::wstring target;
    // SEC_CHANNEL_BINDINGS followed by the application data; empty outside TLS.
    std::vector<unsigned char> bindings;
    SecPkgContext_Sizes sizes{};
};

gss_context::gss_context(std::unique_ptr<state> st) : state_(std::move(st)) {}
gss_context::gss_context(gss_context&& other) noexcept = default;
gss_context& gss_context::operator=(gss_context&& other) noexcept = default;
gss_context::~gss_context() = default;

gss_context::state& gss_context::live() {
    if (!state_) throw gss_error("the security context was moved away");
    return *state_;
}

bool gss_context::established() const { return state_ && state_->established; }
bool gss_context::uses_kerberos() const { return state_ && state_->kerberos; }
bool gss_context::channel_bound() const { return false; }
std::string gss_context::peer_name() const { return {}; }

gss_context gss_context::initiator(const std::string& user, const std::string& password,
                                   const std::string& target_host, gss_mechanism mechanism,
                                   std::string channel_binding) {
    auto ctx = std::make_unique<state>();
    const auto [name, domain] = split_user(user);
    ctx->user = widen(name);
    ctx->domain = widen(domain);
    ctx->password = widen(password);
    ctx->target = L"HTTP/" + widen(target_host);
    ctx->mechanism = mechanism;
    if (!channel_binding.empty()) {
        ctx->bindings.resize(sizeof(SEC_CHANNEL_BINDINGS) + channel_binding.size());
        SEC_CHANNEL_BINDINGS header{};
        header.cbApplicationDataLength = static_cast<unsigned long>(channel_binding.size());
        header.dwApplicationDataOffset = sizeof(SEC_CHANNEL_BINDINGS);
        std::memcpy(ctx->bindings.data(), &header, sizeof header);
        std::memcpy(ctx->bindings.data() + sizeof header, channel_binding.data(),
                    channel_binding.size());
    }

    SEC_WINNT_AUTH_IDENTITY_W identity{};
    identity.User = reinterpret_cast<unsigned short*>(ctx->user.data());
    identity.UserLength = static_cast<unsigned long>(ctx->user.size());
    identity.Domain = reinterpret_cast<unsigned short*>(ctx->domain.data());
    identity.DomainLength = static_cast<unsigned long>(ctx->domain.size());
    identity.Password = reinterpret_cast<unsigned short*>(ctx->password.data());
    identity.PasswordLength = static_cast<unsigned long>(ctx->password.size());
    identity.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;
    TimeStamp expiry{};
    const SECURITY_STATUS status = AcquireCredentialsHandleW(
        nullptr, const_cast<wchar_t*>(package_name(mechanism)), SECPKG_CRED_OUTBOUND, nullptr,
        &identity, nullptr, nullptr, &ctx->credential, &expiry);
    if (status != SEC_E_OK) fail("cannot acquire credentials", status);
    ctx->has_credential = true;
    return gss_context(std::move(ctx));
}

gss_context gss_context::acceptor(std::string /*channel_binding*/) {
    throw gss_error("accepting logons is not supported in the Windows form");
}

std::string gss_context::step(std::string_view input) {
    auto& st = live();
    // SSPI may finish before the server's last token (mutual authentication in the 200); a
    // finished context has nothing left to check in it.
    if (st.established) return {};

    std::string in_token(input);
    SecBuffer in_buffers[2];
    unsigned long in_count = 0;
    if (!in_token.empty()) {
        in_buffers[in_count++] = buffer_of(SECBUFFER_TOKEN, in_token.data(), in_token.size());
    }
    if (!st.bindings.empty()) {
        in_buffers[in_count++] =
            buffer_of(SECBUFFER_CHANNEL_BINDINGS, st.bindings.data(), st.bindings.size());
    }
    SecBufferDesc in_desc{SECBUFFER_VERSION, in_count, in_buffers};

    SecBuffer out_buffer = buffer_of(SECBUFFER_TOKEN, nullptr, 0);
    SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out_buffer};
    const unsigned long flags = ISC_REQ_CONFIDENTIALITY | ISC_REQ_INTEGRITY | ISC_REQ_MUTUAL_AUTH |
                                ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_ALLOCATE_MEMORY;
    unsigned long granted = 0;
    TimeStamp expiry{};
    SECURITY_STATUS status = InitializeSecurityContextW(
        &st.credential, st.has_context ? &st.context : nullptr, st.target.data(), flags, 0,
        SECURITY_NATIVE_DREP, in_count > 0 ? &in_desc : nullptr, 0, &st.context, &out_desc,
        &granted, &expiry);
    std::string token;
    if (out_buffer.pvBuffer != nullptr) {
        token.assign(static_cast<const char*>(out_buffer.pvBuffer), out_buffer.cbBuffer);
        FreeContextBuffer(out_buffer.pvBuffer);
    }
    if (status == SEC_I_COMPLETE_NEEDED || status == SEC_I_COMPLETE_AND_CONTINUE) {
        st.has_context = true;
        const SECURITY_STATUS completed = CompleteAuthToken(&st.context, &out_desc);
        if (completed != SEC_E_OK) fail("authentication failed", completed);
        status = status == SEC_I_COMPLETE_NEEDED ? SEC_E_OK : SEC_I_CONTINUE_NEEDED;
    }
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
        fail("authentication failed", status);
    }
    st.has_context = true;
    if (status == SEC_E_OK) {
        const SECURITY_STATUS sized =
            QueryContextAttributesW(&st.context, SECPKG_ATTR_SIZES, &st.sizes);
        if (sized != SEC_E_OK) fail("cannot query the security context", sized);
        st.kerberos = st.mechanism == gss_mechanism::kerberos;
        SecPkgContext_NegotiationInfoW negotiated{};
        if (QueryContextAttributesW(&st.context, SECPKG_ATTR_NEGOTIATION_INFO, &negotiated) ==
                SEC_E_OK &&
            negotiated.PackageInfo != nullptr) {
            st.kerberos = narrow(negotiated.PackageInfo->Name) == "Kerberos";
            FreeContextBuffer(negotiated.PackageInfo);
        }
        st.established = true;
        // Nothing needs the password once the logon is complete.
        SecureZeroMemory(st.password.data(), st.password.size() * sizeof(wchar_t));
    }
    return token;
}

void gss_context::seal(std::string_view plain, std::string& header, std::string& data) {
    auto& st = live();
    if (!st.established) throw gss_error("cannot seal before authentication");
    // NTLM: {signature, data}, the signature being the WinRM header. Kerberos adds a padding
    // buffer that WinRM appends to the data.
    header.assign(st.sizes.cbSecurityTrailer, '\0');
    data.assign(plain);
    std::string padding(st.kerberos ? st.sizes.cbBlockSize : 0, '\0');
    SecBuffer buffers[3] = {buffer_of(SECBUFFER_TOKEN, header.data(), header.size()),
                            buffer_of(SECBUFFER_DATA, data.data(), data.size()),
                            buffer_of(SECBUFFER_PADDING, padding.data(), padding.size())};
    SecBufferDesc desc{SECBUFFER_VERSION, st.kerberos ? 3UL : 2UL, buffers};
    const SECURITY_STATUS status = EncryptMessage(&st.context, 0, &desc, 0);
    if (status != SEC_E_OK) fail("cannot seal the message", status);
    header.resize(buffers[0].cbBuffer);
    data.resize(buffers[1].cbBuffer);
    if (st.kerberos) data.append(padding.data(), buffers[2].cbBuffer);
}

std::string gss_context::unseal(std::string_view header, std::string_view data) {
    auto& st = live();
    if (!st.established) throw gss_error("cannot unseal before authentication");
    std::string head(header);
    std::string body(data);
    SecBuffer buffers[2] = {buffer_of(SECBUFFER_TOKEN, head.data(), head.size()),
                            buffer_of(SECBUFFER_DATA, body.data(), body.size())};
    SecBufferDesc desc{SECBUFFER_VERSION, 2, buffers};
    unsigned long quality = 0;
    const SECURITY_STATUS status = DecryptMessage(&st.context, &desc, 0, &quality);
    if (status != SEC_E_OK) fail("cannot unseal the message", status);
    if (quality == SECQOP_WRAP_NO_ENCRYPT) throw gss_error("the message was not encrypted");
    // Decryption is in place; the data buffer may have moved within the message.
    const auto* plain = static_cast<const char*>(buffers[1].pvBuffer);
    return std::string(plain, buffers[1].cbBuffer);
}

}  // namespace wsman_wire
