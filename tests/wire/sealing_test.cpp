// NTLM sealing between two contexts in this process, raw NTLM and SPNEGO: each side seals
// either itself or, with its session key withheld, through gss-ntlmssp's gss_wrap/gss_unwrap,
// so every message one side seals itself is checked by the mechanism on the other, and the
// other way round. Calls reaching the mechanism are counted to tell which side did the work.
#include <dlfcn.h>
#include <gssapi/gssapi_ext.h>
#include <gtest/gtest.h>

#include <fstream>

#include "offline_krb5.hpp"
#include "wsman_wire/gss_context.hpp"

namespace {

int mechanism_calls = 0;
bool withhold_session_key = false;
#define NEXT(function) reinterpret_cast<decltype(&function)>(dlsym(RTLD_NEXT, #function))

}  // namespace

extern "C" OM_uint32 gss_wrap(OM_uint32* m, gss_ctx_id_t c, int conf, gss_qop_t q, gss_buffer_t in,
                              int* state, gss_buffer_t out) {
    ++mechanism_calls;
    return NEXT(gss_wrap)(m, c, conf, q, in, state, out);
}
extern "C" OM_uint32 gss_unwrap(OM_uint32* m, gss_ctx_id_t c, gss_buffer_t in, gss_buffer_t out,
                                int* conf, gss_qop_t* q) {
    ++mechanism_calls;
    return NEXT(gss_unwrap)(m, c, in, out, conf, q);
}
extern "C" OM_uint32 gss_inquire_sec_context_by_oid(OM_uint32* m, const gss_ctx_id_t c,
                                                    const gss_OID oid, gss_buffer_set_t* data) {
    if (withhold_session_key) return GSS_S_UNAVAILABLE;
    return NEXT(gss_inquire_sec_context_by_oid)(m, c, oid, data);
}

namespace {

using namespace wsman_wire;

std::pair<gss_context, gss_context> connect(gss_mechanism mechanism, bool client_seals,
                                            bool server_seals) {
    [[maybe_unused]] static const bool users = [] {
        offline_krb5::configure();
        const std::string file = ::testing::TempDir() + "sealing_test_users";
        std::ofstream(file) << "LAB:monitor:Seal-Secret1\n";
        return setenv("NTLM_USER_FILE", file.c_str(), 1) == 0;
    }();
    std::pair c{gss_context::initiator("LAB\\monitor", "Seal-Secret1", "localhost", mechanism),
                gss_context::acceptor()};
    std::string token;
    for (int leg = 0; leg < 6 && !(c.first.established() && c.second.established()); ++leg) {
        withhold_session_key = !(leg % 2 == 0 ? client_seals : server_seals);
        token = (leg % 2 == 0 ? c.first : c.second).step(token);
    }
    withhold_session_key = false;
    return c;
}

std::string deliver(gss_context& from, gss_context& to, const std::string& plain) {
    const auto [header, data] = from.seal(plain);
    return to.unseal(header, data);
}

// What the receiver makes of a broken sequence after three good messages each way, and of
// the next good message after it (gss-ntlmssp takes it after a tampered one).
enum class fault { tampered, replayed, out_of_order };
std::string refusal(gss_mechanism mechanism, bool client_seals, bool server_seals, fault f,
                    bool to_server) {
    auto [client, server] = connect(mechanism, client_seals, server_seals);
    gss_context& from = to_server ? client : server;
    gss_context& to = to_server ? server : client;
    std::pair<std::string, std::string> last;  // the last message `to` accepted
    for (int i = 0; i < 3; ++i) {
        deliver(to, from, "message " + std::to_string(i));
        last = from.seal("message " + std::to_string(i));
        to.unseal(last.first, last.second);
    }
    auto [header, data] = from.seal("the broken one");
    if (f == fault::tampered) data[3] ^= 0x20;
    if (f == fault::replayed) std::tie(header, data) = last;
    if (f == fault::out_of_order) std::tie(header, data) = from.seal("overtaking");
    std::string refused;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            to.unseal(header, data);
            refused += "accepted; ";
        } catch (const gss_error& e) {
            refused += std::string(e.what()) + " " + std::to_string(e.status()) + "; ";
        }
        std::tie(header, data) = from.seal("a good one after it");
    }
    return refused;
}

TEST(ntlm_sealing, each_side_agrees_with_the_mechanism_and_refuses_as_it_does) {
    using enum gss_mechanism;
    const struct {
        gss_mechanism mechanism;
        bool client_seals, server_seals;
    } rows[] = {{ntlm, true, true},      {ntlm, true, false},      {ntlm, false, true},
                {negotiate, true, true}, {negotiate, true, false}, {negotiate, false, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << static_cast<int>(row.mechanism) << row.client_seals << row.server_seals);
        auto [client, server] = connect(row.mechanism, row.client_seals, row.server_seals);
        mechanism_calls = 0;
        constexpr int rounds = 5;
        for (int i = 0; i < rounds; ++i) {
            // Lengths vary so the RC4 streams' positions differ from message to message.
            const std::string request = std::string(i * 37 + 1, 'q') + "\xc3\xa9\r\n<&>";
            const std::string reply =
                "<r n='" + std::to_string(i) + "'>" + std::string(i * 1000, '\0') + "</r>";
            EXPECT_EQ(request, deliver(client, server, request));
            EXPECT_EQ(reply, deliver(server, client, reply));
        }
        // A side sealing itself leaves the mechanism only its first message each way.
        EXPECT_EQ((row.client_seals ? 2 : 2 * rounds) + (row.server_seals ? 2 : 2 * rounds),
                  mechanism_calls);
        for (const fault f : {fault::tampered, fault::replayed, fault::out_of_order}) {
            for (const bool to_server : {true, false}) {
                const std::string today = refusal(row.mechanism, false, false, f, to_server);
                EXPECT_EQ(0u, today.find("cannot unseal the message: ")) << today;
                EXPECT_EQ(today,
                          refusal(row.mechanism, row.client_seals, row.server_seals, f, to_server))
                    << static_cast<int>(f) << to_server;
            }
        }
    }
}

}  // namespace
