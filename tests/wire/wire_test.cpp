// Both ends of the wire in one process: what the client writes the service must read, what
// the service writes the client must read, and the Windows forms of either.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "request_writer.hpp"
#include "wsman_wire/auth.hpp"
#include "wsman_wire/envelope.hpp"
#include "wsman_wire/framing.hpp"
#include "wsman_wire/gss_context.hpp"

namespace {

using namespace wsman_wire;

request_header sample_header() {
    return {"http://host:5985/wsman", resource_uri_for("root\\Microsoft\\SqlServer\\"), "uuid:req",
            5, 153600};
}

TEST(wsman_wire, requests_round_trip_to_the_service) {
    const std::string wql = "SELECT Name FROM Win32_Service WHERE Name = 'a<b&c'";
    const request e = parse_request(write_enumerate(sample_header(), wql, 100));
    EXPECT_EQ(action::enumerate, e.action);
    EXPECT_EQ("uuid:req", e.message_id);
    EXPECT_EQ("root\\Microsoft\\SqlServer", namespace_from_resource_uri(e.resource_uri));
    EXPECT_EQ(wql, e.filter);
    EXPECT_EQ(ns::wql_dialect, e.filter_dialect);
    EXPECT_TRUE(e.optimize);
    EXPECT_EQ(100u, e.max_elements);
    EXPECT_FALSE(parse_request(write_enumerate(sample_header(), wql, 1, false)).optimize);

    const request p = parse_request(write_pull(sample_header(), "uuid:ctx-1", 7));
    EXPECT_EQ(action::pull, p.action);
    EXPECT_EQ("uuid:ctx-1", p.enumeration_context);
    EXPECT_EQ(7u, p.max_elements);
    EXPECT_EQ("uuid:ctx-2",
              parse_request(write_release(sample_header(), "uuid:ctx-2")).enumeration_context);

    // Message ids are random version 4 UUIDs as Windows writes them.
    const std::regex uuid_v4(
        "uuid:[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    const std::string id = new_message_id();
    EXPECT_TRUE(std::regex_match(id, uuid_v4)) << id;
    EXPECT_NE(id, new_message_id());
}

TEST(wsman_wire, request_templates_write_what_pugixml_writes) {
    using enum detail::request_kind;
    const std::string hostile[] = {"it's \"quoted\" <a & b> ]]>", "caf\xc3\xa9 \xe2\x82\xac \xff",
                                   std::string("nul\0after", 9), "\x01\x1f\t\r\n\x7f", ""};
    for (const std::string& v : hostile) {
        const request_header h{v + "to", v + "uri", v + "id", 7, 9000};
        const auto pugixml = [&](detail::request_kind kind, std::vector<std::string> body) {
            body.insert(body.begin(), {v + "to", v + "id", v + "uri", "9000", "PT7S"});
            return detail::write_request_with_pugixml(kind, body);
        };
        EXPECT_EQ(pugixml(enumerate_optimized, {"12", v}), write_enumerate(h, v, 12));
        EXPECT_EQ(pugixml(enumerate, {v}), write_enumerate(h, v, 12, false));
        EXPECT_EQ(pugixml(pull, {v, "3"}), write_pull(h, v, 3));
        EXPECT_EQ(pugixml(release, {v}), write_release(h, v));
    }
}

TEST(wsman_wire, unusable_requests_get_the_fault_windows_sends) {
    const std::string good = write_enumerate(sample_header(), "SELECT * FROM X", 1);
    auto with = [&](const std::string& from, const std::string& to) {
        std::string copy = good;
        copy.replace(copy.find(from), from.size(), to);
        return copy;
    };
    const std::pair<std::string, std::string> cases[] = {
        {"<not xml", "w:SchemaValidationError"},
        {"<Envelope/>", "w:SchemaValidationError"},
        {with("uuid:req", ""), "a:InvalidMessageInformationHeader"},
        {with("enumeration/Enumerate<", "transfer/Get<"), "a:ActionNotSupported"},
        {with("<w:MaxElements>1<", "<w:MaxElements>many<"), "w:SchemaValidationError"},
        {with("153600", "4096"), "w:EncodingLimit"},
        {with("n:Enumerate>", "n:Pull>"), "w:SchemaValidationError"},
    };
    for (const auto& [xml, subcode] : cases) {
        try {
            parse_request(xml);
            ADD_FAILURE() << "accepted: " << xml;
        } catch (const fault_error& e) {
            EXPECT_EQ(subcode, e.fault().subcode) << xml;
        }
    }
    // No proper prefix of a request is a complete envelope, and none escapes as anything else.
    for (std::size_t n = 0; n < good.size(); n += 7) {
        EXPECT_THROW(parse_request(std::string_view(good).substr(0, n)), fault_error);
    }
    for (const char* uri : {"http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/Win32_OS",
                            "http://schemas.dmtf.org/wbem/wscim/1/cim-schema/2/*"}) {
        EXPECT_THROW(namespace_from_resource_uri(uri), fault_error) << uri;
    }
}

TEST(wsman_wire, pages_round_trip_to_the_client_in_both_item_forms) {
    const instance row = {{"Big", {"18446744073709551615"}},
                          {"Empty", {""}},
                          {"IPAddress", {"10.0.0.1", "fe80::1"}},
                          {"Name", {"Spooler & Co"}},
                          {"Other", {}, property::form::plain, true},
                          {"When", {"20261205173000.500000+060"}, property::form::datetime}};
    for (const bool fragment : {true, false}) {
        const page items{"Win32_Service", "root\\cimv2", fragment, {row, row}};
        const response first =
            parse_response(write_enumerate_response("uuid:req", "uuid:next", &items, false));
        EXPECT_EQ("uuid:req", first.relates_to);
        EXPECT_EQ("uuid:next", first.context);
        EXPECT_FALSE(first.end_of_sequence);
        ASSERT_EQ(2u, first.items.size());
        EXPECT_EQ(row.size(), first.items[0].size());
        for (std::size_t i = 0; i < row.size(); ++i) {
            EXPECT_EQ(row[i].name, first.items[0][i].name);
            EXPECT_EQ(row[i].values, first.items[0][i].values) << row[i].name;
            EXPECT_EQ(row[i].nil, first.items[0][i].nil);
            EXPECT_EQ(row[i].type, first.items[0][i].type);
        }
        const response last = parse_response(write_pull_response("uuid:r2", "", items, true));
        EXPECT_TRUE(last.end_of_sequence);
        EXPECT_EQ("", last.context);
    }
}

// Prefixes differ from ours on purpose: only namespace URIs may matter.
constexpr const char* windows_reply = R"(<?xml version="1.0"?>
<env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope"
    xmlns:en="http://schemas.xmlsoap.org/ws/2004/09/enumeration"
    xmlns:wm="http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd"
    xmlns:x="http://www.w3.org/2001/XMLSchema-instance"
    xmlns:c="http://schemas.dmtf.org/wbem/wscim/1/common">
 <env:Body><en:PullResponse><en:Items>
  <wm:XmlFragment><Up><c:Interval>P0DT0H1M40S</c:Interval></Up><D x:nil="1"/><D>x</D></wm:XmlFragment>
  <a:EndpointReference xmlns:a="http://schemas.xmlsoap.org/ws/2004/08/addressing"/>
 </en:Items><wm:EndOfSequence/></en:PullResponse></env:Body></env:Envelope>)";

TEST(wsman_wire, reads_the_forms_windows_writes) {
    const response r = parse_response(windows_reply);
    EXPECT_TRUE(r.end_of_sequence);
    ASSERT_EQ(1u, r.items.size());  // the reference-only item carries nothing
    ASSERT_EQ(2u, r.items[0].size());
    EXPECT_EQ(property::form::interval, r.items[0][0].type);
    EXPECT_EQ(std::vector<std::string>{"P0DT0H1M40S"}, r.items[0][0].values);
    EXPECT_TRUE(r.items[0][1].nil);  // a NULL array never gains members
    EXPECT_TRUE(r.items[0][1].values.empty());
}

TEST(wsman_wire, faults_round_trip_with_their_codes_and_the_best_text) {
    struct {
        fault written;
        std::string subcode, code, message;
    } cases[] = {
        {{"s:Sender", "w:InvalidParameter", "Invalid class ", {}, 0x80041010u},
         "InvalidParameter",
         "2147749904",
         "Invalid class"},
        {{"s:Sender", "w:AccessDenied", "denied", 5u, {}}, "AccessDenied", "5", "denied"},
        {{"s:Receiver", "n:InvalidEnumerationContext", "gone", {}, {}},
         "InvalidEnumerationContext",
         "InvalidEnumerationContext",
         "gone"},
    };
    for (const auto& c : cases) {
        const response r = parse_response(write_fault("uuid:req", c.written, "WIN-1"));
        ASSERT_TRUE(r.fault);
        EXPECT_EQ(c.subcode, r.fault->subcode);
        EXPECT_EQ(c.code, r.fault->code());
        EXPECT_EQ(c.message, r.fault->message);
    }
    // A hostile detail nested far deeper than any stack survives.
    std::string deep = write_fault("", {"s:Receiver", "w:InternalError", "busy", {}, {}}, "W");
    std::string nest;
    for (int i = 0; i < 100000; ++i) nest += "<d>";
    for (int i = 0; i < 100000; ++i) nest += "</d>";
    const auto detail = deep.find("<s:Detail");
    deep.replace(detail, deep.find('>', detail) + 1 - detail, "<s:Detail>" + nest + "</s:Detail>");
    EXPECT_EQ("InternalError", parse_response(deep).fault->code());
}

// Faults as Windows hosts write them (windows_faults.json; the end-to-end test sends the same
// replies through the simulator and checks what the module sees).
TEST(wsman_wire, windows_faults_keep_every_code_and_the_providers_own_text) {
    std::ifstream file(WMI_WINDOWS_FAULTS_JSON);
    for (const auto& row : nlohmann::json::parse(file)) {
        SCOPED_TRACE(row["name"].get<std::string>());
        const response r = parse_response(row["xml"].get<std::string>());
        ASSERT_TRUE(r.fault);
        const auto& expected = row["parsed"];
        EXPECT_EQ(expected["subcode"], r.fault->subcode);
        EXPECT_EQ(expected["code"], r.fault->code());
        EXPECT_EQ(expected["machine"], r.fault->machine);
        EXPECT_EQ(expected["message"], r.fault->message);
        EXPECT_EQ(r.fault->code(), r.fault->codes.front());
    }
}

TEST(wsman_wire, foreign_or_broken_replies_are_malformed) {
    const std::string good = windows_reply;
    const std::string cases[] = {
        "", "not xml", good.substr(0, good.size() / 2),
        "<a:Envelope xmlns:a=\"urn:other\"><a:Body/></a:Envelope>",
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"/>",
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Body><x/></s:Body>"
        "</s:Envelope>",
        // Neither a context to continue with nor the end of the sequence.
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
        "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\"><s:Body>"
        "<n:PullResponse/></s:Body></s:Envelope>"};
    for (const auto& body : cases) EXPECT_THROW(parse_response(body), malformed_reply) << body;
}

sealed_message sample_frame() {
    // Sealed bytes may contain CRLF and even the boundary text.
    static const std::string data("\r\n--Encrypted Boundary\r\n\0\xff", 27);
    static const std::string signature(16, 'S');
    return {spnego_protocol, soap_content_type, data.size(), signature, data};
}

TEST(wsman_wire, frames_round_trip_leniently_and_refuse_broken_bodies) {
    const std::string body = build_body(sample_frame());
    EXPECT_EQ(sample_frame().data, parse_body(body).data);
    EXPECT_EQ(sample_frame().header, parse_body(body).header);
    // Without tabs, with a CRLF before the closing boundary, another boundary and lower case.
    sealed_message plain = sample_frame();
    plain.data = "0123456789";
    plain.original_length = plain.data.size();
    std::string lenient = build_body(plain);
    std::erase(lenient, '\t');
    lenient.insert(lenient.rfind("--Encrypted Boundary--"), "\r\n");
    for (std::size_t at; (at = lenient.find("Encrypted Boundary")) != std::string::npos;) {
        lenient.replace(at, 18, "XyZ");
    }
    lenient.replace(lenient.find("Length="), 7, "length=");
    EXPECT_EQ(plain.data,
              parse_body(lenient, boundary_of("multipart/encrypted;BOUNDARY=XyZ")).data);
    EXPECT_EQ("Encrypted Boundary", boundary_of(content_type(kerberos_protocol)));
    EXPECT_THROW(boundary_of("multipart/encrypted;boundary=\"open"), framing_error);

    auto with = [&](const std::string& from, const std::string& to) {
        std::string copy = body;
        copy.replace(copy.find(from), from.size(), to);
        return copy;
    };
    const std::string broken[] = {"",
                                  body.substr(0, body.size() / 2),
                                  body.substr(0, body.rfind("--Encrypted Boundary--")),
                                  with("Length=27", "Length=28"),
                                  with("Length=27", "Length=x"),
                                  with("Length=27", "Length=99999999999999999999999"),
                                  with("OriginalContent", "Original"),
                                  with("application/octet-stream", "text/plain"),
                                  with(std::string("\x10\0\0\0", 4), std::string("\xff\0\0\0", 4))};
    for (const auto& b : broken) EXPECT_THROW(parse_body(b), framing_error) << b.substr(0, 80);
}

TEST(wsman_wire, header_tokens_and_principals) {
    EXPECT_EQ("Negotiate", auth_header("Negotiate", ""));
    EXPECT_EQ("tok", auth_token(auth_header("Negotiate", "tok"), "negotiate"));
    EXPECT_EQ("", auth_token("Negotiate !!!not-base64", "Negotiate"));
    EXPECT_EQ(std::nullopt, auth_token("Basic dXNlcjpwYXNz", "Negotiate"));
    EXPECT_EQ(std::nullopt, auth_token("NegotiateX", "Negotiate"));

    const struct {
        const char *user, *domain;
        bool kerberos_only;
        const char* principal;
    } principals[] = {
        {"LAB\\monitor", "ignored", false, "LAB\\monitor"},
        {"monitor@LAB.TEST", "ignored", true, "monitor@LAB.TEST"},
        {"monitor", "LAB", false, "LAB\\monitor"},
        {"monitor", "lab", true, "monitor@LAB"},
        {"monitor", "lab.example.com", false, "monitor@LAB.EXAMPLE.COM"},
        {"monitor", "", true, "monitor"},
    };
    for (const auto& p : principals) {
        EXPECT_EQ(p.principal, principal_name(p.user, p.domain, p.kerberos_only)) << p.user;
    }
}

}  // namespace
