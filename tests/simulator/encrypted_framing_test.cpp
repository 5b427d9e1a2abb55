#include "simulator/encrypted_framing.hpp"

#include <gtest/gtest.h>

namespace winrm_simulator {
namespace {

const std::string type(encrypted_content_type);
const std::string signature(16, '\x5a');

TEST(encrypted_framing, round_trips_a_sealed_message) {
    const std::string data = std::string("sealed\0bytes\r\n--Encrypted Boundary", 35);
    const sealed_message m =
        parse_encrypted_body(type, build_encrypted_body(signature + data, data.size()));
    EXPECT_EQ(m.header_length, 16u);
    EXPECT_EQ(m.original_length, data.size());
    EXPECT_EQ(m.header_and_data, signature + data);
}

TEST(encrypted_framing, accepts_the_variants_clients_send) {
    const std::string data = "0123456789";
    const std::string binary = std::string("\x10\0\0\0", 4) + signature + data;
    struct variant {
        const char* name;
        std::string content_type;
        std::string body;
    };
    const std::vector<variant> cases = {
        {"without tabs", type,
         "--Encrypted Boundary\r\nContent-Type: application/HTTP-SPNEGO-session-encrypted\r\n"
         "OriginalContent: type=application/soap+xml;charset=UTF-8;Length=10\r\n"
         "--Encrypted Boundary\r\nContent-Type: application/octet-stream\r\n" +
             binary + "--Encrypted Boundary--\r\n"},
        {"other boundary, unquoted",
         "multipart/encrypted;protocol=\"application/HTTP-SPNEGO-session-encrypted\";boundary=XyZ",
         "--XyZ\r\n\tContent-Type: application/HTTP-SPNEGO-session-encrypted\r\n"
         "\tOriginalContent: type=application/soap+xml;charset=UTF-16;length=10\r\n"
         "--XyZ\r\n\tContent-Type: application/octet-stream\r\n" +
             binary + "--XyZ--\r\n"},
    };
    for (const variant& c : cases) {
        SCOPED_TRACE(c.name);
        const sealed_message m = parse_encrypted_body(c.content_type, c.body);
        EXPECT_EQ(m.header_and_data, signature + data);
    }
}

TEST(encrypted_framing, rejects_broken_frames) {
    const std::string data = "0123456789";
    const std::string good = build_encrypted_body(signature + data, data.size());
    std::string wrong_length = good;
    wrong_length.replace(wrong_length.find("Length=10"), 9, "Length=11");
    std::string long_header = good;
    long_header[long_header.find("octet-stream\r\n") + 14] = '\x7f';
    std::string no_length = good;
    no_length.replace(no_length.find("Length=10"), 9, "Size=10");
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"truncated", good.substr(0, good.size() - 20)},
        {"no closing boundary", good.substr(0, good.find("--Encrypted Boundary--"))},
        {"wrong Length", wrong_length},
        {"header length past the end", long_header},
        {"no Length", no_length},
        {"plain SOAP", "<s:Envelope/>"},
    };
    for (const auto& [name, body] : cases) {
        SCOPED_TRACE(name);
        EXPECT_THROW(parse_encrypted_body(type, body), framing_error);
    }
}

TEST(encrypted_framing, recognises_the_content_type) {
    EXPECT_TRUE(is_encrypted_content_type(type));
    EXPECT_TRUE(is_encrypted_content_type(
        "Multipart/Encrypted; protocol=\"application/http-spnego-session-encrypted\""));
    EXPECT_FALSE(is_encrypted_content_type("application/soap+xml;charset=UTF-8"));
    EXPECT_FALSE(is_encrypted_content_type(
        "multipart/encrypted;protocol=\"application/HTTP-CredSSP-session-encrypted\""));
}

}  // namespace
}  // namespace winrm_simulator

namespace winrm_simulator {
namespace {

TEST(encrypted_framing, survives_every_truncation) {
    const std::string data = "<s:Envelope/>";
    const std::string body = build_encrypted_body(std::string(16, '\x01') + data, data.size());
    // The CRLF after the closing boundary is optional; anything shorter is incomplete.
    const std::size_t complete = body.size() - 2;
    for (std::size_t n = 0; n < complete; ++n) {
        SCOPED_TRACE(n);
        EXPECT_THROW(parse_encrypted_body(type, std::string_view(body).substr(0, n)),
                     framing_error);
    }
    EXPECT_EQ(
        parse_encrypted_body(type, std::string_view(body).substr(0, complete)).original_length,
        data.size());
}

}  // namespace
}  // namespace winrm_simulator
