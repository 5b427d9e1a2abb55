#include "wsman_wire/gss_context.hpp"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>

#include <openssl/crypto.h>

#include <cstring>
#include <optional>
#include <vector>

#include "ntlm_sealing.hpp"

namespace wsman_wire {

namespace {

gss_OID_desc spnego_oid{6, const_cast<char*>("\x2b\x06\x01\x05\x05\x02")};
gss_OID_desc krb5_oid{9, const_cast<char*>("\x2a\x86\x48\x86\xf7\x12\x01\x02\x02")};
// The krb5 OID as Windows' SPNEGO has long announced it, with a wrong byte.
gss_OID_desc krb5_ms_oid{9, const_cast<char*>("\x2a\x86\x48\x82\xf7\x12\x01\x02\x02")};
gss_OID_desc ntlm_oid{10, const_cast<char*>("\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a")};

// NTLM signatures are always this long; gss-ntlmssp puts it in front of the sealed data.
using detail::ntlm_signature_size;

std::string status_text(OM_uint32 code, int type, gss_OID mech) {
    std::string text;
    OM_uint32 context = 0;
    do {
        OM_uint32 minor = 0;
        gss_buffer_desc buffer{0, nullptr};
        if (gss_display_status(&minor, code, type, mech, &context, &buffer) != GSS_S_COMPLETE) {
            break;
        }
        if (!text.empty()) text += "; ";
        text.append(static_cast<const char*>(buffer.value), buffer.length);
        gss_release_buffer(&minor, &buffer);
    } while (context != 0);
    return text;
}

std::string describe(OM_uint32 major, OM_uint32 minor, gss_OID mech) {
    std::string text = status_text(major, GSS_C_GSS_CODE, GSS_C_NO_OID);
    if (minor != 0) {
        const auto inner = status_text(minor, GSS_C_MECH_CODE, mech);
        if (!inner.empty()) text += " (" + inner + ")";
    }
    return text;
}

void check(OM_uint32 major, OM_uint32 minor, const char* what, gss_OID mech = GSS_C_NO_OID) {
    if (GSS_ERROR(major))
        throw gss_error(std::string(what) + ": " + describe(major, minor, mech), major);
}

bool same_oid(gss_OID a, const gss_OID_desc& b) {
    return a != GSS_C_NO_OID && a->length == b.length &&
           std::memcmp(a->elements, b.elements, b.length) == 0;
}

gss_buffer_desc buffer_of(std::string_view text) {
    return gss_buffer_desc{text.size(), const_cast<char*>(text.data())};
}

std::string take(gss_buffer_desc& buffer) {
    std::string out;
    if (buffer.value != nullptr) out.assign(static_cast<const char*>(buffer.value), buffer.length);
    OM_uint32 minor = 0;
    gss_release_buffer(&minor, &buffer);
    return out;
}

// An established NTLM context's session key, and each direction once it seals natively.
struct ntlm_sealing {
    ntlm_sealing() = default;
    ntlm_sealing(const ntlm_sealing&) = delete;
    ntlm_sealing& operator=(const ntlm_sealing&) = delete;
    ~ntlm_sealing() { forget_key(); }

    void forget_key() { OPENSSL_cleanse(session_key.data(), session_key.size()); }

    // Called with the first message each way that the mechanism sealed or unsealed.
    void learn(bool outgoing_direction, bool client_to_server, std::string_view plain,
               std::string_view signature, std::string_view sealed) {
        bool& seen = outgoing_direction ? outgoing_seen : incoming_seen;
        if (seen) return;
        seen = true;
        (outgoing_direction ? outgoing : incoming) =
            detail::learn_direction(session_key, client_to_server, plain, signature, sealed);
        if (outgoing_seen && incoming_seen) forget_key();
    }

    detail::ntlm_session_key session_key{};
    bool outgoing_seen = false;
    bool incoming_seen = false;
    std::optional<detail::ntlm_direction> outgoing;
    std::optional<detail::ntlm_direction> incoming;
};

// NTLM session security by this library when the mechanism exports the session key; null for
// Kerberos, which GSSAPI keeps sealing.
std::unique_ptr<ntlm_sealing> ntlm_sealing_for(gss_ctx_id_t context) {
    OM_uint32 minor = 0;
    gss_buffer_set_t data = GSS_C_NO_BUFFER_SET;
    if (GSS_ERROR(
            gss_inquire_sec_context_by_oid(&minor, context, GSS_C_INQ_SSPI_SESSION_KEY, &data))) {
        return nullptr;
    }
    std::unique_ptr<ntlm_sealing> sealing;
    if (data != GSS_C_NO_BUFFER_SET && data->count >= 1 &&
        data->elements[0].length == sizeof sealing->session_key) {
        sealing = std::make_unique<ntlm_sealing>();
        std::memcpy(sealing->session_key.data(), data->elements[0].value,
                    sealing->session_key.size());
    }
    if (data != GSS_C_NO_BUFFER_SET) {
        for (std::size_t i = 0; i < data->count; ++i) {
            OPENSSL_cleanse(data->elements[i].value, data->elements[i].length);
        }
        gss_release_buffer_set(&minor, &data);
    }
    return sealing;
}

}  // namespace

struct gss_context::state {
    state() = default;
    state(const state&) = delete;
    state& operator=(const state&) = delete;
    ~state() {
        OM_uint32 minor = 0;
        if (context != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &context, GSS_C_NO_BUFFER);
        if (credential != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &credential);
        if (target != GSS_C_NO_NAME) gss_release_name(&minor, &target);
        if (peer != GSS_C_NO_NAME) gss_release_name(&minor, &peer);
    }

    bool initiator = false;
    bool established = false;
    bool kerberos = false;
    gss_ctx_id_t context = GSS_C_NO_CONTEXT;
    gss_cred_id_t credential = GSS_C_NO_CREDENTIAL;
    gss_name_t target = GSS_C_NO_NAME;
    gss_name_t peer = GSS_C_NO_NAME;
    gss_OID mechanism = GSS_C_NO_OID;
    std::string channel_binding;
    bool channel_bound = false;
    std::unique_ptr<ntlm_sealing> ntlm;

    // A seal that does not verify, refused in the mechanism's own words, so callers see the
    // same error whichever side checked it. The mechanism's copy of a direction sealed here
    // is idle, and a signature of version 0 never verifies.
    [[noreturn]] void refuse_unverified() {
        const std::string token(ntlm_signature_size + 1, '\0');
        auto in = buffer_of(token);
        gss_buffer_desc out{0, nullptr};
        OM_uint32 minor = 0;
        OM_uint32 major = gss_unwrap(&minor, context, &in, &out, nullptr, nullptr);
        take(out);
        if (!GSS_ERROR(major)) {
            major = GSS_S_BAD_SIG;
            minor = 0;
        }
        check(major, minor, "cannot unseal the message", mechanism);
        throw gss_error("cannot unseal the message", GSS_S_BAD_SIG);
    }
};

gss_context::gss_context(std::unique_ptr<state> s) : state_(std::move(s)) {}
gss_context::gss_context(gss_context&& other) noexcept = default;
gss_context& gss_context::operator=(gss_context&& other) noexcept = default;
gss_context::~gss_context() = default;

gss_context::state& gss_context::live() {
    if (!state_) throw gss_error("the security context was moved away", GSS_S_NO_CONTEXT);
    return *state_;
}

bool gss_context::established() const { return state_ && state_->established; }
bool gss_context::uses_kerberos() const { return state_ && state_->kerberos; }
bool gss_context::channel_bound() const { return state_ && state_->channel_bound; }

gss_context gss_context::initiator(const std::string& user, const std::string& password,
                                   const std::string& target_host, gss_mechanism mechanism,
                                   std::string channel_binding) {
    auto ctx = std::make_unique<state>();
    ctx->initiator = true;
    ctx->channel_binding = std::move(channel_binding);
    OM_uint32 minor = 0;
    gss_name_t user_name = GSS_C_NO_NAME;
    auto user_buffer = buffer_of(user);
    OM_uint32 major = gss_import_name(&minor, &user_buffer, GSS_C_NT_USER_NAME, &user_name);
    check(major, minor, "cannot use the user name");
    gss_OID_desc* mech = mechanism == gss_mechanism::negotiate  ? &spnego_oid
                         : mechanism == gss_mechanism::kerberos ? &krb5_oid
                                                                : &ntlm_oid;
    gss_OID_set_desc mechs{1, mech};
    auto password_buffer = buffer_of(password);
    major =
        gss_acquire_cred_with_password(&minor, user_name, &password_buffer, GSS_C_INDEFINITE,
                                       &mechs, GSS_C_INITIATE, &ctx->credential, nullptr, nullptr);
    OM_uint32 ignored = 0;
    gss_release_name(&ignored, &user_name);
    check(major, minor, "cannot acquire credentials", mech);

    const std::string service = "HTTP@" + target_host;
    auto service_buffer = buffer_of(service);
    major = gss_import_name(&minor, &service_buffer, GSS_C_NT_HOSTBASED_SERVICE, &ctx->target);
    check(major, minor, "cannot use the target name");
    ctx->mechanism = mech;
    return gss_context(std::move(ctx));
}

gss_context gss_context::acceptor(std::string channel_binding) {
    auto ctx = std::make_unique<state>();
    ctx->channel_binding = std::move(channel_binding);
    return gss_context(std::move(ctx));
}

std::string gss_context::step(std::string_view input) {
    auto& st = live();
    if (st.established) {
        if (input.empty()) return {};
    }
    OM_uint32 minor = 0;
    OM_uint32 major = 0;
    auto in = buffer_of(input);
    gss_buffer_desc out{0, nullptr};
    gss_OID actual = GSS_C_NO_OID;
    OM_uint32 granted = 0;
    // Address fields stay zero: NTLM refuses anything else, and TLS binds the channel.
    gss_channel_bindings_struct binding{};
    binding.application_data = buffer_of(st.channel_binding);
    const gss_channel_bindings_t bindings =
        st.channel_binding.empty() ? GSS_C_NO_CHANNEL_BINDINGS : &binding;
    if (st.initiator) {
        const OM_uint32 flags = GSS_C_MUTUAL_FLAG | GSS_C_INTEG_FLAG | GSS_C_CONF_FLAG |
                                GSS_C_REPLAY_FLAG | GSS_C_SEQUENCE_FLAG;
        major = gss_init_sec_context(
            &minor, st.credential, &st.context, st.target, st.mechanism, flags, GSS_C_INDEFINITE,
            bindings, input.empty() ? GSS_C_NO_BUFFER : &in, &actual, &out, nullptr, nullptr);
    } else {
        major = gss_accept_sec_context(&minor, &st.context, GSS_C_NO_CREDENTIAL, &in, bindings,
                                       &st.peer, &actual, &out, &granted, nullptr, nullptr);
    }
    std::string token = take(out);
    check(major, minor, "authentication failed", st.mechanism);
    if (!(major & GSS_S_CONTINUE_NEEDED)) {
        st.established = true;
        st.kerberos = same_oid(actual, krb5_oid) || same_oid(actual, krb5_ms_oid);
        st.channel_bound = (granted & GSS_C_CHANNEL_BOUND_FLAG) != 0;
        if (same_oid(actual, ntlm_oid)) st.ntlm = ntlm_sealing_for(st.context);
    }
    return token;
}

std::string gss_context::peer_name() const {
    if (!state_) return {};
    const auto& st = *state_;
    if (st.peer == GSS_C_NO_NAME) return {};
    OM_uint32 minor = 0;
    gss_buffer_desc buffer{0, nullptr};
    if (GSS_ERROR(gss_display_name(&minor, st.peer, &buffer, nullptr))) return {};
    std::string name = take(buffer);
    // Some mechanisms count the terminating NUL in the length.
    while (!name.empty() && name.back() == '\0') name.pop_back();
    return name;
}

void gss_context::seal(std::string_view plain, std::string& header, std::string& data) {
    auto& st = live();
    if (!st.established) throw gss_error("cannot seal before authentication", GSS_S_NO_CONTEXT);
    OM_uint32 minor = 0;
    int conf = 0;
    if (st.kerberos) {
        data.assign(plain);
        gss_iov_buffer_desc iov[3] = {};
        iov[0].type = GSS_IOV_BUFFER_TYPE_HEADER | GSS_IOV_BUFFER_FLAG_ALLOCATE;
        iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
        iov[1].buffer = buffer_of(data);
        iov[2].type = GSS_IOV_BUFFER_TYPE_PADDING | GSS_IOV_BUFFER_FLAG_ALLOCATE;
        const OM_uint32 major =
            gss_wrap_iov(&minor, st.context, 1, GSS_C_QOP_DEFAULT, &conf, iov, 3);
        check(major, minor, "cannot seal the message", st.mechanism);
        header.assign(static_cast<const char*>(iov[0].buffer.value), iov[0].buffer.length);
        data.append(static_cast<const char*>(iov[2].buffer.value), iov[2].buffer.length);
        gss_release_iov_buffer(&minor, iov, 3);
        return;
    }
    if (st.ntlm && st.ntlm->outgoing) {
        // Sizes only: every byte is overwritten.
        header.resize(ntlm_signature_size);
        data.resize(plain.size());
        try {
            st.ntlm->outgoing->seal(plain, header.data(), data.data());
        } catch (const std::runtime_error& e) {
            throw gss_error(std::string("cannot seal the message: ") + e.what(), GSS_S_FAILURE);
        }
        return;
    }
    auto in = buffer_of(plain);
    gss_buffer_desc out{0, nullptr};
    const OM_uint32 major = gss_wrap(&minor, st.context, 1, GSS_C_QOP_DEFAULT, &in, &conf, &out);
    std::string wrapped = take(out);
    check(major, minor, "cannot seal the message", st.mechanism);
    if (!conf) throw gss_error("the mechanism did not encrypt the message", GSS_S_FAILURE);
    if (wrapped.size() < ntlm_signature_size) {
        throw gss_error("sealed message shorter than its signature", GSS_S_FAILURE);
    }
    header.assign(wrapped, 0, ntlm_signature_size);
    data.assign(wrapped, ntlm_signature_size);
    if (st.ntlm) st.ntlm->learn(true, st.initiator, plain, header, data);
}

std::string gss_context::unseal(std::string_view header, std::string_view data) {
    auto& st = live();
    if (!st.established) throw gss_error("cannot unseal before authentication", GSS_S_NO_CONTEXT);
    OM_uint32 minor = 0;
    int conf = 0;
    if (st.kerberos) {
        std::string head(header);
        std::string body(data);
        gss_iov_buffer_desc iov[3] = {};
        iov[0].type = GSS_IOV_BUFFER_TYPE_HEADER;
        iov[0].buffer = buffer_of(head);
        iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
        iov[1].buffer = buffer_of(body);
        iov[2].type = GSS_IOV_BUFFER_TYPE_DATA;
        const OM_uint32 major = gss_unwrap_iov(&minor, st.context, &conf, nullptr, iov, 3);
        check(major, minor, "cannot unseal the message", st.mechanism);
        if (!conf) throw gss_error("the message was not encrypted", GSS_S_FAILURE);
        body.resize(iov[1].buffer.length);
        return body;
    }
    // The mechanism splits header and data at the signature, whatever the frame announced.
    std::string joined;
    if (header.size() != ntlm_signature_size || !st.ntlm || !st.ntlm->incoming) {
        joined.reserve(header.size() + data.size());
        joined.append(header).append(data);
    }
    if (st.ntlm && st.ntlm->incoming && header.size() + data.size() >= ntlm_signature_size) {
        if (!joined.empty()) {
            header = std::string_view(joined).substr(0, ntlm_signature_size);
            data = std::string_view(joined).substr(ntlm_signature_size);
        }
        std::string plain;
        try {
            if (st.ntlm->incoming->unseal(header, data, plain)) return plain;
        } catch (const std::runtime_error& e) {
            throw gss_error(std::string("cannot unseal the message: ") + e.what(), GSS_S_FAILURE);
        }
        st.refuse_unverified();
    }
    auto in = buffer_of(joined);
    gss_buffer_desc out{0, nullptr};
    const OM_uint32 major = gss_unwrap(&minor, st.context, &in, &out, &conf, nullptr);
    std::string plain = take(out);
    check(major, minor, "cannot unseal the message", st.mechanism);
    if (!conf) throw gss_error("the message was not encrypted", GSS_S_FAILURE);
    if (st.ntlm && joined.size() >= ntlm_signature_size) {
        const std::string_view sealed(joined);
        st.ntlm->learn(false, !st.initiator, plain, sealed.substr(0, ntlm_signature_size),
                       sealed.substr(ntlm_signature_size));
    }
    return plain;
}

}  // namespace wsman_wire
