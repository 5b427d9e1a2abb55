#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "libi18n/i18n.hpp"
#include "wsman_envelope.hpp"

namespace {

using namespace libwql::detail;

request_header sample_header() {
    request_header h;
    h.to = "http://host:5985/wsman";
    h.resource_uri = resource_uri_for("root\\cimv2");
    h.message_id = "uuid:11111111-2222-4333-8444-555555555555";
    h.operation_timeout_s = 5;
    h.max_envelope_size = 512000;
    return h;
}

std::string text_at(const pugi::xml_document& doc, const char* xpath) {
    return doc.select_node(xpath).node().text().get();
}

TEST(wsman_envelope, maps_namespaces_to_resource_uris) {
    EXPECT_EQ("http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/*",
              resource_uri_for("root\\cimv2"));
    EXPECT_EQ(
        "http://schemas.microsoft.com/wbem/wsman/1/wmi/root/Microsoft/SqlServer/"
        "ComputerManagement15/*",
        resource_uri_for("root\\Microsoft\\SqlServer\\ComputerManagement15"));
    EXPECT_NE(new_message_id(), new_message_id());
    EXPECT_EQ(0u, new_message_id().rfind("uuid:", 0));
}

TEST(wsman_envelope, enumerate_carries_header_and_escaped_filter) {
    const std::string wql = "SELECT Name FROM Win32_Service WHERE Name = 'a<b&c'";
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(build_enumerate(sample_header(), wql, 100).c_str()));
    EXPECT_EQ(ns::soap, std::string(doc.first_child().attribute("xmlns:s").value()));
    EXPECT_EQ("http://host:5985/wsman", text_at(doc, "/s:Envelope/s:Header/a:To"));
    EXPECT_EQ(action::enumerate, text_at(doc, "/s:Envelope/s:Header/a:Action"));
    EXPECT_EQ("uuid:11111111-2222-4333-8444-555555555555",
              text_at(doc, "/s:Envelope/s:Header/a:MessageID"));
    EXPECT_EQ("PT5S", text_at(doc, "/s:Envelope/s:Header/w:OperationTimeout"));
    EXPECT_EQ("512000", text_at(doc, "/s:Envelope/s:Header/w:MaxEnvelopeSize"));
    EXPECT_EQ(resource_uri_for("root\\cimv2"), text_at(doc, "/s:Envelope/s:Header/w:ResourceURI"));
    EXPECT_TRUE(doc.select_node("/s:Envelope/s:Body/n:Enumerate/w:OptimizeEnumeration"));
    EXPECT_EQ("100", text_at(doc, "/s:Envelope/s:Body/n:Enumerate/w:MaxElements"));
    const auto filter = doc.select_node("/s:Envelope/s:Body/n:Enumerate/w:Filter").node();
    EXPECT_EQ(wql, std::string(filter.text().get()));
    EXPECT_EQ(ns::wql_dialect, std::string(filter.attribute("Dialect").value()));
    EXPECT_EQ(
        "false",
        std::string(doc.select_node("//w:Locale").node().attribute("s:mustUnderstand").value()));
}

TEST(wsman_envelope, pull_and_release_carry_the_context) {
    pugi::xml_document pull;
    ASSERT_TRUE(pull.load_string(build_pull(sample_header(), "uuid:ctx-1", 7).c_str()));
    EXPECT_EQ(action::pull, text_at(pull, "//a:Action"));
    EXPECT_EQ("uuid:ctx-1", text_at(pull, "/s:Envelope/s:Body/n:Pull/n:EnumerationContext"));
    EXPECT_EQ("7", text_at(pull, "/s:Envelope/s:Body/n:Pull/n:MaxElements"));
    pugi::xml_document release;
    ASSERT_TRUE(release.load_string(build_release(sample_header(), "uuid:ctx-2").c_str()));
    EXPECT_EQ(action::release, text_at(release, "//a:Action"));
    EXPECT_EQ("uuid:ctx-2", text_at(release, "/s:Envelope/s:Body/n:Release/n:EnumerationContext"));
}

// Prefixes differ from ours on purpose: only namespace URIs may matter.
constexpr const char* fragment_reply = R"(<?xml version="1.0"?>
<env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope"
    xmlns:wsa="http://schemas.xmlsoap.org/ws/2004/08/addressing"
    xmlns:en="http://schemas.xmlsoap.org/ws/2004/09/enumeration"
    xmlns:wm="http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd"
    xmlns:x="http://www.w3.org/2001/XMLSchema-instance"
    xmlns:c="http://schemas.dmtf.org/wbem/wscim/1/common">
 <env:Header><wsa:RelatesTo>uuid:req-1</wsa:RelatesTo></env:Header>
 <env:Body><en:EnumerateResponse>
  <en:EnumerationContext>uuid:ctx-9</en:EnumerationContext>
  <wm:Items>
   <wm:XmlFragment>
    <Caption>Windows &amp; more</Caption><DriveLetter x:nil="true"/><Label></Label>
    <LastBootUpTime><c:Datetime>2013-04-15T16:28:43.488171Z</c:Datetime></LastBootUpTime>
    <Up><c:Interval>P0DT0H1M40S</c:Interval></Up><Space> </Space>
   </wm:XmlFragment>
  </wm:Items>
 </en:EnumerateResponse></env:Body></env:Envelope>)";

TEST(wsman_envelope, parses_an_xml_fragment_item) {
    const auto r = parse_response(fragment_reply);
    ASSERT_FALSE(r.fault);
    EXPECT_EQ("uuid:req-1", r.relates_to);
    EXPECT_EQ("uuid:ctx-9", r.context);
    EXPECT_FALSE(r.end_of_sequence);
    ASSERT_EQ(1u, r.rows.size());
    const auto& row = r.rows[0];
    EXPECT_EQ("Windows & more", row.at("Caption").as_string());
    EXPECT_TRUE(row.at("DriveLetter").is_null());
    EXPECT_FALSE(row.at("Label").is_null());
    EXPECT_EQ("", row.at("Label").as_string());
    EXPECT_EQ(" ", row.at("Space").as_string());
    EXPECT_EQ(libwql::wql_query_field::kind::datetime, row.at("LastBootUpTime").value_kind());
    EXPECT_NO_THROW((void)row.at("LastBootUpTime").as_timestamp_t());
    EXPECT_EQ(std::chrono::seconds(100), row.at("Up").as_interval());
}

constexpr const char* class_reply = R"(<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope"
    xmlns:n="http://schemas.xmlsoap.org/ws/2004/09/enumeration"
    xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
 <s:Body><n:PullResponse><n:Items>
  <p:Win32_NetworkAdapterConfiguration xmlns:p="http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/Win32_NetworkAdapterConfiguration" xsi:type="p:Win32_NetworkAdapterConfiguration_Type">
   <p:Index>7</p:Index><p:IPAddress>10.0.0.5</p:IPAddress><p:IPAddress>fe80::5</p:IPAddress>
   <p:DefaultIPGateway xsi:nil="true"/><p:MACAddress>12:4A:CE:9E:11:23</p:MACAddress>
   <p:Big>18446744073709551615</p:Big>
  </p:Win32_NetworkAdapterConfiguration>
  <p:Win32_NetworkAdapterConfiguration xmlns:p="http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/Win32_NetworkAdapterConfiguration">
   <p:Index>8</p:Index><p:IPAddress>10.0.0.6</p:IPAddress>
  </p:Win32_NetworkAdapterConfiguration>
 </n:Items><n:EndOfSequence/></n:PullResponse></s:Body></s:Envelope>)";

TEST(wsman_envelope, parses_class_qualified_instances_with_arrays) {
    const auto r = parse_response(class_reply);
    ASSERT_EQ(2u, r.rows.size());
    EXPECT_TRUE(r.end_of_sequence);
    EXPECT_EQ("", r.context);
    const auto& first = r.rows[0];
    EXPECT_TRUE(first.at("IPAddress").is_array());
    EXPECT_EQ((std::vector<std::string>{"10.0.0.5", "fe80::5"}), first.at("IPAddress").values());
    EXPECT_TRUE(first.at("DefaultIPGateway").is_null());
    EXPECT_EQ(18446744073709551615u, first.at("Big").as_uint64_t());
    // A one-element array looks like a scalar on the wire.
    EXPECT_FALSE(r.rows[1].at("IPAddress").is_array());
    EXPECT_EQ(8, r.rows[1].get_as_converted_to_int64_t("Index"));
}

std::string fault_reply(const std::string& subcode, const std::string& detail) {
    return R"(<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope"
        xmlns:w="http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd"
        xmlns:n="http://schemas.xmlsoap.org/ws/2004/09/enumeration"><s:Body><s:Fault>
        <s:Code><s:Value>s:Sender</s:Value><s:Subcode><s:Value>)" +
           subcode + R"(</s:Value></s:Subcode></s:Code>
        <s:Reason><s:Text xml:lang="en-US">reason text</s:Text></s:Reason>
        <s:Detail>)" +
           detail + "</s:Detail></s:Fault></s:Body></s:Envelope>";
}

std::string wsman_fault_detail(const std::string& code) {
    return R"(<f:WSManFault xmlns:f="http://schemas.microsoft.com/wbem/wsman/1/wsmanfault" Code=")" +
           code + R"(" Machine="h"><f:Message>fault message</f:Message></f:WSManFault>)";
}

std::string wmi_error_detail(const std::string& code) {
    return R"(<p:MSFT_WmiError xmlns:p="http://schemas.dmtf.org/wbem/wscim/1/cim-schema/2/MSFT_WmiError"><p:Message>wmi message</p:Message><p:error_Code>)" +
           code + "</p:error_Code></p:MSFT_WmiError>";
}

TEST(wsman_envelope, classifies_faults) {
    struct {
        std::string body;
        fault_kind expected;
        std::string message;
    } cases[] = {
        {fault_reply("w:InternalError", wsman_fault_detail("2147749902")),
         fault_kind::invalid_namespace, "fault message"},
        {fault_reply("w:InternalError", wmi_error_detail("2147749904")), fault_kind::invalid_class,
         "wmi message"},
        {fault_reply("w:InvalidParameter", wsman_fault_detail("2147749911")),
         fault_kind::invalid_query, "fault message"},
        {fault_reply("w:InvalidParameter", wsman_fault_detail("2147749912")),
         fault_kind::invalid_query, "fault message"},
        {fault_reply("w:AccessDenied", wsman_fault_detail("5")), fault_kind::access_denied,
         "fault message"},
        {fault_reply("w:InternalError", wmi_error_detail("2147749891")), fault_kind::access_denied,
         "wmi message"},
        {fault_reply("w:TimedOut", wsman_fault_detail("2150858793")), fault_kind::timed_out,
         "fault message"},
        {fault_reply("w:TimedOut", ""), fault_kind::timed_out, "reason text"},
        {fault_reply("n:InvalidEnumerationContext", ""), fault_kind::invalid_context,
         "reason text"},
        {fault_reply("w:InternalError", ""), fault_kind::overload, "reason text"},
        {fault_reply("w:InternalError", wmi_error_detail("2147749907")), fault_kind::transient,
         "wmi message"},
        {fault_reply("w:SchemaValidationError", wsman_fault_detail("2150858817")),
         fault_kind::fatal, "fault message"},
    };
    for (const auto& c : cases) {
        const auto r = parse_response(c.body);
        ASSERT_TRUE(r.fault) << c.body;
        EXPECT_EQ(c.expected, classify(*r.fault)) << c.body;
        EXPECT_EQ(c.message, r.fault->message) << c.body;
    }
    const auto r = parse_response(fault_reply("w:InternalError", wsman_fault_detail("2147749902")));
    EXPECT_EQ("2147749902", r.fault->code());
    EXPECT_EQ("InternalError", r.fault->subcode);
}

TEST(wsman_envelope, malformed_or_foreign_replies_are_errors) {
    const std::string good = class_reply;
    const std::string cases[] = {
        "",
        "not xml at all",
        good.substr(0, good.size() / 2),  // truncated
        "<a:Envelope xmlns:a=\"urn:other\"><a:Body/></a:Envelope>",
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"/>",
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Body><x/></s:Body>"
        "</s:Envelope>",
        // Neither a context to continue with nor the end of the sequence.
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
        "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\"><s:Body>"
        "<n:PullResponse/></s:Body></s:Envelope>",
    };
    for (const auto& body : cases) {
        try {
            (void)parse_response(body);
            ADD_FAILURE() << "accepted: " << body;
        } catch (const libi18n::i18n_exception& e) {
            EXPECT_EQ(0u, e.get_i18n_msg().key.find("#:libwql.error.getinstance_failed["));
        }
    }
}

TEST(wsman_envelope, survives_deeply_nested_details) {
    std::string detail;
    for (int i = 0; i < 100000; ++i) detail += "<d>";
    for (int i = 0; i < 100000; ++i) detail += "</d>";
    const auto r = parse_response(fault_reply("w:InternalError", detail));
    ASSERT_TRUE(r.fault);
    EXPECT_EQ(fault_kind::overload, classify(*r.fault));
}

}  // namespace
