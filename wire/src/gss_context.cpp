#include "wsman_wire/gss_context.hpp"

#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

namespace wsman_wire {

namespace {

gss_OID_desc spnego_oid{6, const_cast<char*>("\x2b\x06\x01\x05\x05\x02")};
gss_OID_desc krb5_oid{9, const_cast<char*>("\x2a\x86\x48\x86\xf7\x12\x01\x02\x02")};
// The krb5 OID as Windows' SPNEGO has long announced it, with a wrong byte.
gss_OID_desc krb5_ms_oid{9, const_cast<char*>("\x2a\x86\x48\x82\xf7\x12\x01\x02\x02")};
gss_OID_desc ntlm_oid{10, const_cast<char*>("\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a")};

// NTLM signatures are always this long; gss-ntlmssp puts it in front of the sealed data.
constexpr std::size_t ntlm_signature_size = 16;

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
        throw gss_error(std::string(what) + ": " + describe(major, minor, mech), major, minor);
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

}  // namespace

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

gss_error::gss_error(const std::string& what, OM_uint32 major, OM_uint32)
    : std::runtime_error(what), major_(major) {}

gss_context gss_context::initiator(const std::string& user, const std::string& password,
                                   const std::string& target_host, gss_mechanism mechanism,
                                   std::string channel_binding) {
    gss_context ctx;
    ctx.initiator_ = true;
    ctx.channel_binding_ = std::move(channel_binding);
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
                                       &mechs, GSS_C_INITIATE, &ctx.credential_, nullptr, nullptr);
    OM_uint32 ignored = 0;
    gss_release_name(&ignored, &user_name);
    check(major, minor, "cannot acquire credentials", mech);

    const std::string service = "HTTP@" + target_host;
    auto service_buffer = buffer_of(service);
    major = gss_import_name(&minor, &service_buffer, GSS_C_NT_HOSTBASED_SERVICE, &ctx.target_);
    check(major, minor, "cannot use the target name");
    ctx.mechanism_ = mech;
    return ctx;
}

gss_context gss_context::acceptor(std::string channel_binding) {
    gss_context ctx;
    ctx.channel_binding_ = std::move(channel_binding);
    return ctx;
}

gss_context::gss_context(gss_context&& other) noexcept { *this = std::move(other); }

gss_context& gss_context::operator=(gss_context&& other) noexcept {
    if (this != &other) {
        release();
        initiator_ = other.initiator_;
        established_ = other.established_;
        kerberos_ = other.kerberos_;
        context_ = std::exchange(other.context_, GSS_C_NO_CONTEXT);
        credential_ = std::exchange(other.credential_, GSS_C_NO_CREDENTIAL);
        target_ = std::exchange(other.target_, GSS_C_NO_NAME);
        peer_ = std::exchange(other.peer_, GSS_C_NO_NAME);
        mechanism_ = other.mechanism_;
        channel_binding_ = std::move(other.channel_binding_);
        channel_bound_ = other.channel_bound_;
    }
    return *this;
}

gss_context::~gss_context() { release(); }

void gss_context::release() noexcept {
    OM_uint32 minor = 0;
    if (context_ != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &context_, GSS_C_NO_BUFFER);
    if (credential_ != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &credential_);
    if (target_ != GSS_C_NO_NAME) gss_release_name(&minor, &target_);
    if (peer_ != GSS_C_NO_NAME) gss_release_name(&minor, &peer_);
}

std::string gss_context::step(std::string_view input) {
    if (established_) {
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
    binding.application_data = buffer_of(channel_binding_);
    const gss_channel_bindings_t bindings =
        channel_binding_.empty() ? GSS_C_NO_CHANNEL_BINDINGS : &binding;
    if (initiator_) {
        const OM_uint32 flags = GSS_C_MUTUAL_FLAG | GSS_C_INTEG_FLAG | GSS_C_CONF_FLAG |
                                GSS_C_REPLAY_FLAG | GSS_C_SEQUENCE_FLAG;
        major = gss_init_sec_context(
            &minor, credential_, &context_, target_, mechanism_, flags, GSS_C_INDEFINITE, bindings,
            input.empty() ? GSS_C_NO_BUFFER : &in, &actual, &out, nullptr, nullptr);
    } else {
        major = gss_accept_sec_context(&minor, &context_, GSS_C_NO_CREDENTIAL, &in, bindings,
                                       &peer_, &actual, &out, &granted, nullptr, nullptr);
    }
    std::string token = take(out);
    check(major, minor, "authentication failed", mechanism_);
    if (!(major & GSS_S_CONTINUE_NEEDED)) {
        established_ = true;
        kerberos_ = same_oid(actual, krb5_oid) || same_oid(actual, krb5_ms_oid);
        channel_bound_ = (granted & GSS_C_CHANNEL_BOUND_FLAG) != 0;
    }
    return token;
}

std::string gss_context::peer_name() const {
    if (peer_ == GSS_C_NO_NAME) return {};
    OM_uint32 minor = 0;
    gss_buffer_desc buffer{0, nullptr};
    if (GSS_ERROR(gss_display_name(&minor, peer_, &buffer, nullptr))) return {};
    std::string name = take(buffer);
    // Some mechanisms count the terminating NUL in the length.
    while (!name.empty() && name.back() == '\0') name.pop_back();
    return name;
}

std::pair<std::string, std::string> gss_context::seal(std::string_view plain) {
    if (!established_) throw gss_error("cannot seal before authentication", GSS_S_NO_CONTEXT, 0);
    OM_uint32 minor = 0;
    int conf = 0;
    if (kerberos_) {
        std::string data(plain);
        gss_iov_buffer_desc iov[3] = {};
        iov[0].type = GSS_IOV_BUFFER_TYPE_HEADER | GSS_IOV_BUFFER_FLAG_ALLOCATE;
        iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
        iov[1].buffer = buffer_of(data);
        iov[2].type = GSS_IOV_BUFFER_TYPE_PADDING | GSS_IOV_BUFFER_FLAG_ALLOCATE;
        const OM_uint32 major = gss_wrap_iov(&minor, context_, 1, GSS_C_QOP_DEFAULT, &conf, iov, 3);
        check(major, minor, "cannot seal the message", mechanism_);
        std::string header(static_cast<const char*>(iov[0].buffer.value), iov[0].buffer.length);
        data.append(static_cast<const char*>(iov[2].buffer.value), iov[2].buffer.length);
        gss_release_iov_buffer(&minor, iov, 3);
        return {std::move(header), std::move(data)};
    }
    auto in = buffer_of(plain);
    gss_buffer_desc out{0, nullptr};
    const OM_uint32 major = gss_wrap(&minor, context_, 1, GSS_C_QOP_DEFAULT, &in, &conf, &out);
    std::string wrapped = take(out);
    check(major, minor, "cannot seal the message", mechanism_);
    if (!conf) throw gss_error("the mechanism did not encrypt the message", GSS_S_FAILURE, 0);
    if (wrapped.size() < ntlm_signature_size) {
        throw gss_error("sealed message shorter than its signature", GSS_S_FAILURE, 0);
    }
    return {wrapped.substr(0, ntlm_signature_size), wrapped.substr(ntlm_signature_size)};
}

std::string gss_context::unseal(std::string_view header, std::string_view data) {
    if (!established_) throw gss_error("cannot unseal before authentication", GSS_S_NO_CONTEXT, 0);
    OM_uint32 minor = 0;
    int conf = 0;
    if (kerberos_) {
        std::string head(header);
        std::string body(data);
        gss_iov_buffer_desc iov[3] = {};
        iov[0].type = GSS_IOV_BUFFER_TYPE_HEADER;
        iov[0].buffer = buffer_of(head);
        iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
        iov[1].buffer = buffer_of(body);
        iov[2].type = GSS_IOV_BUFFER_TYPE_DATA;
        const OM_uint32 major = gss_unwrap_iov(&minor, context_, &conf, nullptr, iov, 3);
        check(major, minor, "cannot unseal the message", mechanism_);
        if (!conf) throw gss_error("the message was not encrypted", GSS_S_FAILURE, 0);
        body.resize(iov[1].buffer.length);
        return body;
    }
    std::string joined;
    joined.reserve(header.size() + data.size());
    joined.append(header).append(data);
    auto in = buffer_of(joined);
    gss_buffer_desc out{0, nullptr};
    const OM_uint32 major = gss_unwrap(&minor, context_, &in, &out, &conf, nullptr);
    std::string plain = take(out);
    check(major, minor, "cannot unseal the message", mechanism_);
    if (!conf) throw gss_error("the message was not encrypted", GSS_S_FAILURE, 0);
    return plain;
}

}  // namespace wsman_wire
