#include <gtest/gtest.h>

#include <string>

#include "gss_context.hpp"
#include "test_server.hpp"
#include "winrm_framing.hpp"

namespace {

using libwql::detail::gss_context;
using libwql::detail::gss_error;
using libwql::detail::gss_mechanism;

winrm_framing::sealed_message sample() {
    winrm_framing::sealed_message m;
    m.protocol = std::string(winrm_framing::spnego_protocol);
    m.original_type = std::string(winrm_framing::soap_content_type);
    m.header = std::string("\x01\x00\x00\x00sig-bytes-16...", 16);
    // Sealed bytes may contain CRLF and even the boundary text.
    m.data = std::string("\r\n--Encrypted Boundary\r\n\0\xff", 27);
    m.original_length = m.data.size();
    return m;
}

TEST(winrm_framing, round_trips_and_has_the_wire_layout) {
    const auto m = sample();
    const auto body = winrm_framing::build_body(m);
    EXPECT_EQ(0u, body.find("--Encrypted Boundary\r\n\tContent-Type: "
                            "application/HTTP-SPNEGO-session-encrypted\r\n\tOriginalContent: "
                            "type=application/soap+xml;charset=UTF-8;Length=27\r\n"
                            "--Encrypted Boundary\r\n\tContent-Type: application/octet-stream\r\n"
                            "\x10\x00\x00\x00"));
    EXPECT_EQ(body.size() - 24, body.rfind("--Encrypted Boundary--\r\n"));
    const auto parsed = winrm_framing::parse_body(body);
    EXPECT_EQ(m.protocol, parsed.protocol);
    EXPECT_EQ(m.original_type, parsed.original_type);
    EXPECT_EQ(m.original_length, parsed.original_length);
    EXPECT_EQ(m.header, parsed.header);
    EXPECT_EQ(m.data, parsed.data);
    EXPECT_EQ(
        "multipart/encrypted;protocol=\"application/HTTP-SPNEGO-session-encrypted\";"
        "boundary=\"Encrypted Boundary\"",
        winrm_framing::content_type(winrm_framing::spnego_protocol));
    EXPECT_TRUE(winrm_framing::is_sealed_content_type(
        winrm_framing::content_type(winrm_framing::kerberos_protocol)));
    EXPECT_FALSE(winrm_framing::is_sealed_content_type("application/soap+xml;charset=UTF-8"));
}

TEST(winrm_framing, accepts_the_lenient_forms_windows_accepts) {
    auto body = winrm_framing::build_body(sample());
    std::string no_tabs;
    for (char c : body.substr(0, body.find("\x10\x00\x00\x00", 0, 4))) {
        if (c != '\t') no_tabs += c;
    }
    no_tabs += body.substr(body.find("\x10\x00\x00\x00", 0, 4));
    EXPECT_EQ(sample().data, winrm_framing::parse_body(no_tabs).data);
    // A CRLF before the closing boundary is not part of the data.
    auto with_crlf = body;
    with_crlf.insert(with_crlf.rfind("--Encrypted Boundary--"), "\r\n");
    EXPECT_EQ(sample().data, winrm_framing::parse_body(with_crlf).data);
}

TEST(winrm_framing, reads_the_boundary_and_parameter_case_other_clients_use) {
    EXPECT_EQ(
        "Encrypted Boundary",
        winrm_framing::boundary_of(winrm_framing::content_type(winrm_framing::spnego_protocol)));
    EXPECT_EQ("XyZ", winrm_framing::boundary_of("multipart/encrypted;protocol=\"p\";boundary=XyZ"));
    EXPECT_EQ("a b", winrm_framing::boundary_of("multipart/encrypted;BOUNDARY=\"a b\";x=y"));
    EXPECT_EQ("Encrypted Boundary", winrm_framing::boundary_of("multipart/encrypted"));
    EXPECT_THROW(winrm_framing::boundary_of("multipart/encrypted;boundary=\"open"),
                 winrm_framing::framing_error);

    const std::string binary = std::string("\x10\0\0\0", 4) + std::string(16, 'S') + "0123456789";
    const std::string body =
        "--XyZ\r\n\tContent-Type: application/HTTP-SPNEGO-session-encrypted\r\n"
        "\tOriginalContent: type=application/soap+xml;charset=UTF-16;length=10\r\n"
        "--XyZ\r\n\tContent-Type: application/octet-stream\r\n" +
        binary + "--XyZ--\r\n";
    const auto m = winrm_framing::parse_body(body, "XyZ");
    EXPECT_EQ(10u, m.original_length);
    EXPECT_EQ("application/soap+xml;charset=UTF-16", m.original_type);
    EXPECT_EQ(std::string(16, 'S'), m.header);
    EXPECT_EQ("0123456789", m.data);
    // The default boundary does not frame it.
    EXPECT_THROW(winrm_framing::parse_body(body), winrm_framing::framing_error);
}

TEST(winrm_framing, rejects_broken_bodies) {
    const auto body = winrm_framing::build_body(sample());
    auto replace = [&](const std::string& from, const std::string& to) {
        auto copy = body;
        copy.replace(copy.find(from), from.size(), to);
        return copy;
    };
    const std::string cases[] = {
        "",
        body.substr(0, body.size() / 2),                       // truncated
        body.substr(0, body.rfind("--Encrypted Boundary--")),  // no closing boundary
        replace("Length=27", "Length=28"),                     // data shorter than Length
        replace("Length=27", "Length=x"),
        replace("Length=27", "Length=99999999999999999999999"),
        replace("OriginalContent", "Original"),
        replace("application/octet-stream", "text/plain"),
        replace(std::string("\x10\x00\x00\x00", 4), std::string("\xff\x00\x00\x00", 4)),
        "--Encrypted Boundary\r\n",
    };
    for (const auto& c : cases) {
        EXPECT_THROW((void)winrm_framing::parse_body(c), winrm_framing::framing_error)
            << c.substr(0, 80);
    }
}

// Runs a handshake between an in-process initiator and acceptor.
void handshake(gss_context& client, gss_context& server) {
    std::string token = client.step({});
    for (int leg = 0; leg < 6 && !(client.established() && server.established()); ++leg) {
        const auto reply = server.step(token);
        if (client.established()) break;
        token = client.step(reply);
        if (server.established() && token.empty()) break;
    }
    ASSERT_TRUE(client.established());
    ASSERT_TRUE(server.established());
}

class gss_sealing : public ::testing::TestWithParam<gss_mechanism> {
protected:
    void SetUp() override { wql_test::ensure_ntlm_environment(); }
};

TEST_P(gss_sealing, seal_and_unseal_round_trip_through_the_framing) {
    auto client =
        gss_context::initiator(std::string(wql_test::test_domain) + "\\" + wql_test::test_user,
                               wql_test::test_password, "localhost", GetParam());
    auto server = gss_context::acceptor();
    handshake(client, server);
    EXPECT_FALSE(client.uses_kerberos());
    EXPECT_EQ("TESTDOM\\testuser", server.peer_name());

    for (const std::string& plain : {std::string("<s:Envelope/>"), std::string(70000, 'x'),
                                     std::string("\0\r\n--Encrypted Boundary--\r\n", 28)}) {
        auto [header, data] = client.seal(plain);
        EXPECT_EQ(16u, header.size());
        EXPECT_EQ(plain.size(), data.size());
        EXPECT_NE(plain, data) << "not encrypted";
        winrm_framing::sealed_message m{std::string(winrm_framing::spnego_protocol),
                                        std::string(winrm_framing::soap_content_type), plain.size(),
                                        header, data};
        const auto parsed = winrm_framing::parse_body(winrm_framing::build_body(m));
        EXPECT_EQ(plain, server.unseal(parsed.header, parsed.data));
        // And the other direction.
        auto [h2, d2] = server.seal(plain);
        EXPECT_EQ(plain, client.unseal(h2, d2));
    }
}

TEST_P(gss_sealing, a_replayed_or_tampered_message_is_refused) {
    auto client = gss_context::initiator("TESTDOM\\testuser", wql_test::test_password, "localhost",
                                         GetParam());
    auto server = gss_context::acceptor();
    handshake(client, server);
    auto [h1, d1] = client.seal("first");
    auto [h2, d2] = client.seal("second");
    // Out of order: the second message arrives first.
    EXPECT_THROW((void)server.unseal(h2, d2), gss_error);

    auto fresh_client = gss_context::initiator("TESTDOM\\testuser", wql_test::test_password,
                                               "localhost", GetParam());
    auto fresh_server = gss_context::acceptor();
    handshake(fresh_client, fresh_server);
    auto [h3, d3] = fresh_client.seal("payload");
    d3[0] = static_cast<char>(d3[0] ^ 1);
    EXPECT_THROW((void)fresh_server.unseal(h3, d3), gss_error);
}

TEST_P(gss_sealing, a_wrong_password_fails_the_handshake) {
    auto client = gss_context::initiator("TESTDOM\\testuser", "wrong", "localhost", GetParam());
    auto server = gss_context::acceptor();
    EXPECT_THROW(
        {
            std::string token = client.step({});
            for (int leg = 0; leg < 6; ++leg) {
                token = client.step(server.step(token));
                if (server.established()) break;
            }
        },
        gss_error);
    EXPECT_FALSE(server.established());
}

INSTANTIATE_TEST_SUITE_P(mechanisms, gss_sealing,
                         ::testing::Values(gss_mechanism::negotiate, gss_mechanism::ntlm),
                         [](const auto& param_info) {
                             return param_info.param == gss_mechanism::negotiate ? "spnego"
                                                                                 : "ntlm";
                         });

}  // namespace
