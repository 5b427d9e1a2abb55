#include "simulator/wsman_soap.hpp"

#include <gtest/gtest.h>

#include <pugixml.hpp>

namespace winrm_simulator {
namespace {

std::string envelope(const std::string& action, const std::string& header_extra,
                     const std::string& body, const std::string& message_id = "uuid:1") {
    return R"(<env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope"
        xmlns:wsa="http://schemas.xmlsoap.org/ws/2004/08/addressing"
        xmlns:en="http://schemas.xmlsoap.org/ws/2004/09/enumeration"
        xmlns:ws="http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd"><env:Header>)" +
           (action.empty() ? "" : "<wsa:Action>" + action + "</wsa:Action>") +
           (message_id.empty() ? "" : "<wsa:MessageID>" + message_id + "</wsa:MessageID>") +
           header_extra + "</env:Header><env:Body>" + body + "</env:Body></env:Envelope>";
}

const std::string resource =
    "<ws:ResourceURI>http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/*</ws:ResourceURI>";

TEST(wsman_request, reads_enumerate_with_any_prefixes) {
    const wsman_request r = parse_wsman_request(envelope(
        wsman_action::enumerate, resource + "<ws:MaxEnvelopeSize>153600</ws:MaxEnvelopeSize>",
        "<en:Enumerate><ws:OptimizeEnumeration/><ws:MaxElements>32000</ws:MaxElements>"
        "<ws:Filter Dialect=\"http://schemas.microsoft.com/wbem/wsman/1/WQL\">"
        "SELECT * FROM Win32_Printer WHERE Name = 'A &amp; B'</ws:Filter></en:Enumerate>"));
    EXPECT_EQ(r.action, wsman_action::enumerate);
    EXPECT_EQ(r.message_id, "uuid:1");
    EXPECT_TRUE(r.optimize);
    EXPECT_EQ(r.max_elements, 32000u);
    EXPECT_EQ(r.filter, "SELECT * FROM Win32_Printer WHERE Name = 'A & B'");
    EXPECT_EQ(namespace_from_resource_uri(r.resource_uri), "root\\cimv2");
}

TEST(wsman_request, reads_pull_and_release_contexts) {
    const wsman_request pull = parse_wsman_request(
        envelope(wsman_action::pull, resource,
                 "<en:Pull><en:EnumerationContext> uuid:ctx </en:EnumerationContext>"
                 "<en:MaxElements>5</en:MaxElements></en:Pull>"));
    EXPECT_EQ(pull.enumeration_context, "uuid:ctx");
    EXPECT_EQ(pull.max_elements, 5u);
    const wsman_request release = parse_wsman_request(
        envelope(wsman_action::release, resource,
                 "<en:Release><en:EnumerationContext>uuid:x</en:EnumerationContext></en:Release>"));
    EXPECT_EQ(release.enumeration_context, "uuid:x");
}

TEST(wsman_request, faults_like_windows_on_unusable_requests) {
    struct bad_request {
        std::string xml;
        std::string subcode;
    };
    const std::string enumerate_body = "<en:Enumerate/>";
    const std::vector<bad_request> cases = {
        {"<not xml", "w:SchemaValidationError"},
        {"", "w:SchemaValidationError"},
        {"<Envelope/>", "w:SchemaValidationError"},
        {envelope(wsman_action::enumerate, resource, enumerate_body).substr(0, 200),
         "w:SchemaValidationError"},
        {envelope("", resource, enumerate_body), "a:InvalidMessageInformationHeader"},
        {envelope(wsman_action::enumerate, resource, enumerate_body, ""),
         "a:InvalidMessageInformationHeader"},
        {envelope("http://schemas.xmlsoap.org/ws/2004/09/transfer/Get", resource, ""),
         "a:ActionNotSupported"},
        {envelope(wsman_action::enumerate, resource, "<en:Pull/>"), "w:SchemaValidationError"},
        {envelope(wsman_action::enumerate, resource,
                  "<en:Enumerate><ws:MaxElements>many</ws:MaxElements></en:Enumerate>"),
         "w:SchemaValidationError"},
        {envelope(wsman_action::pull, resource,
                  "<en:Pull><en:MaxElements>0</en:MaxElements></en:Pull>"),
         "w:SchemaValidationError"},
        {envelope(wsman_action::enumerate,
                  resource + "<ws:MaxEnvelopeSize>4096</ws:MaxEnvelopeSize>", enumerate_body),
         "w:EncodingLimit"},
    };
    for (const bad_request& c : cases) {
        SCOPED_TRACE(c.xml);
        try {
            parse_wsman_request(c.xml);
            ADD_FAILURE() << "accepted";
        } catch (const wsman_fault_error& e) {
            EXPECT_EQ(e.fault().subcode, c.subcode);
        }
    }
}

TEST(wsman_request, maps_resource_uris_to_namespaces) {
    const std::string base = "http://schemas.microsoft.com/wbem/wsman/1/wmi/";
    EXPECT_EQ(namespace_from_resource_uri(base + "root/Microsoft/SqlServer/ComputerManagement16/*"),
              "root\\Microsoft\\SqlServer\\ComputerManagement16");
    EXPECT_EQ(namespace_from_resource_uri(base + "root/SecurityCenter2/*"),
              "root\\SecurityCenter2");
    for (const std::string& uri :
         {base + "root/cimv2/Win32_Service", base + "*",
          std::string("http://schemas.dmtf.org/wbem/wscim/1/cim-schema/2/*")}) {
        SCOPED_TRACE(uri);
        EXPECT_THROW(namespace_from_resource_uri(uri), wsman_fault_error);
    }
}

// Reads a rendered reply back by namespace URI, as a client would.
class reply {
public:
    explicit reply(const std::string& xml) { EXPECT_TRUE(doc_.load_string(xml.c_str())) << xml; }
    pugi::xpath_node_set select(const char* xpath) const { return doc_.select_nodes(xpath); }
    std::string text(const char* xpath) const {
        return doc_.select_node(xpath).node().child_value();
    }

private:
    pugi::xml_document doc_;
};

rendered_instance sample_row() {
    property_value name{property_value::type::text, false, {"Spooler & Co"}};
    property_value empty{property_value::type::text, false, {""}};
    property_value null;
    property_value ips{property_value::type::text, true, {"10.0.0.1", "fe80::1"}};
    property_value when{property_value::type::datetime, false, {"2026-12-05T17:30:00.5+01:00"}};
    property_value big{property_value::type::integer, false, {"18446744073709551615"}};
    return {{"Big", big},   {"Description", empty}, {"IPAddress", ips},
            {"Name", name}, {"Other", null},        {"When", when}};
}

TEST(wsman_reply, renders_select_star_as_class_qualified_instances) {
    const rendered_instance row = sample_row();
    rendered_page page{"Win32_Service", "root\\cimv2", false, {&row}};
    const std::string xml = render_enumerate_response("uuid:req", "", &page, true);
    reply r(xml);
    EXPECT_EQ(r.text("//*[local-name()='RelatesTo']"), "uuid:req");
    EXPECT_EQ(r.select("//*[local-name()='EndOfSequence']").size(), 1u);
    const pugi::xml_node instance = r.select("//*[local-name()='Items']/*").first().node();
    EXPECT_STREQ(instance.name(), "p:Win32_Service");
    EXPECT_STREQ(instance.attribute("xmlns:p").value(),
                 "http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/Win32_Service");
    EXPECT_EQ(instance.child("p:Name").child_value(), std::string("Spooler & Co"));
    EXPECT_EQ(instance.child("p:Big").child_value(), std::string("18446744073709551615"));
    // Empty text is an empty element; NULL carries xsi:nil.
    EXPECT_FALSE(instance.child("p:Description").attribute("xsi:nil"));
    EXPECT_STREQ(instance.child("p:Other").attribute("xsi:nil").value(), "true");
    // Arrays repeat the element, in order.
    std::vector<std::string> ips;
    for (pugi::xml_node n : instance.children("p:IPAddress")) ips.emplace_back(n.child_value());
    EXPECT_EQ(ips, (std::vector<std::string>{"10.0.0.1", "fe80::1"}));
    EXPECT_EQ(instance.child("p:When").child("cim:Datetime").child_value(),
              std::string("2026-12-05T17:30:00.5+01:00"));
}

TEST(wsman_reply, renders_selected_properties_as_unqualified_fragments) {
    const rendered_instance row = sample_row();
    rendered_page page{"Win32_Service", "root\\cimv2", true, {&row, &row}};
    reply r(render_pull_response("uuid:req", "uuid:next", page, false));
    EXPECT_EQ(r.text("//*[local-name()='EnumerationContext']"), "uuid:next");
    EXPECT_EQ(r.select("//*[local-name()='EndOfSequence']").size(), 0u);
    const auto fragments = r.select("//*[local-name()='Items']/*[local-name()='XmlFragment']");
    ASSERT_EQ(fragments.size(), 2u);
    const pugi::xml_node first = fragments.first().node();
    EXPECT_EQ(first.child("When").child("Datetime").child_value(),
              std::string("2026-12-05T17:30:00.5+01:00"));
    EXPECT_STREQ(first.child("Other").attribute("xsi:nil").value(), "true");
    std::vector<std::string> order;
    for (pugi::xml_node n : first.children()) order.emplace_back(n.name());
    EXPECT_EQ(order, (std::vector<std::string>{"Big", "Description", "IPAddress", "IPAddress",
                                               "Name", "Other", "When"}));

    // The last page has no context and ends the sequence.
    reply last(render_pull_response("uuid:req", "", page, true));
    EXPECT_EQ(last.select("//*[local-name()='EnumerationContext']").size(), 0u);
    EXPECT_EQ(last.select("//*[local-name()='EndOfSequence']").size(), 1u);
}

TEST(wsman_reply, wmi_faults_carry_the_hresult_where_clients_look) {
    for (const std::uint32_t hr :
         {wbem_e_invalid_namespace, wbem_e_invalid_class, wbem_e_invalid_query}) {
        SCOPED_TRACE(hr);
        reply r(render_fault("uuid:req", fault_from_wmi_error(wmi_error(hr, "x")), "WIN-SRV01"));
        EXPECT_EQ(r.text("//*[local-name()='Action']"),
                  "http://schemas.dmtf.org/wbem/wsman/1/wsman/fault");
        EXPECT_EQ(r.text("//*[local-name()='Code']/*[local-name()='Value']"), "s:Sender");
        EXPECT_EQ(r.text("//*[local-name()='MSFT_WmiError']/*[local-name()='error_Code']"),
                  std::to_string(hr));
        EXPECT_FALSE(r.text("//*[local-name()='Reason']/*[local-name()='Text']").empty());
    }
    wsman_fault context{"s:Receiver", "n:InvalidEnumerationContext", "gone", {}, {}};
    reply r(render_fault("uuid:req", context, "WIN-SRV01"));
    EXPECT_EQ(r.text("//*[local-name()='Action']"),
              "http://schemas.xmlsoap.org/ws/2004/09/enumeration/fault");
    EXPECT_EQ(r.text("//*[local-name()='Subcode']/*[local-name()='Value']"),
              "n:InvalidEnumerationContext");
    wsman_fault denied{"s:Sender", "w:AccessDenied", "no", 5u, {}};
    reply d(render_fault("", denied, "WIN-SRV01"));
    EXPECT_STREQ(
        d.select("//*[local-name()='WSManFault']").first().node().attribute("Code").value(), "5");
}

}  // namespace
}  // namespace winrm_simulator

namespace winrm_simulator {
namespace {

// Every prefix of a valid request either parses or is refused with a fault; nothing else
// escapes (a crash or another exception type would fail the test).
TEST(wsman_request, survives_every_truncation) {
    const std::string full = envelope(
        wsman_action::enumerate, resource + "<ws:MaxEnvelopeSize>153600</ws:MaxEnvelopeSize>",
        "<en:Enumerate><ws:OptimizeEnumeration/><ws:MaxElements>32000</ws:MaxElements>"
        "<ws:Filter Dialect=\"http://schemas.microsoft.com/wbem/wsman/1/WQL\">"
        "SELECT * FROM Win32_Service</ws:Filter></en:Enumerate>");
    std::size_t parsed = 0;
    for (std::size_t n = 0; n < full.size(); ++n) {
        try {
            parse_wsman_request(std::string_view(full).substr(0, n));
            ++parsed;
        } catch (const wsman_fault_error&) {
        }
    }
    EXPECT_EQ(parsed, 0u);  // no proper prefix is a complete envelope
    EXPECT_NO_THROW(parse_wsman_request(full));
}

}  // namespace
}  // namespace winrm_simulator
