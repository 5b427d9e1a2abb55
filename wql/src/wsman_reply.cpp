#include "wsman_reply.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>

#include "libi18n/catalogue.hpp"

namespace libwql::detail {

namespace {

wql_query_row row_of(wsman_wire::instance&& properties) {
    wql_query_row::map_type fields;
    for (auto& p : properties) {
        if (p.nil) {
            fields.try_emplace(p.name, wql_query_field::null(p.name));
            continue;
        }
        auto k = p.values.size() > 1                              ? wql_query_field::kind::array
                 : p.type == wsman_wire::property::form::datetime ? wql_query_field::kind::datetime
                 : p.type == wsman_wire::property::form::interval ? wql_query_field::kind::interval
                                                                  : wql_query_field::kind::scalar;
        fields.try_emplace(p.name, p.name, std::move(p.values), k);
    }
    return wql_query_row(std::move(fields));
}

struct code_class {
    std::uint32_t code;
    fault_kind kind;
};

// Every documented code a target can put into a fault's detail, WMI HRESULTs first: they
// name the cause, while the service's own codes may only say which stage failed.
constexpr code_class code_classes[] = {
    // WMI (WBEM_E_*), in MSFT_WmiError@error_Code or, on older hosts, in f:WSManFault@Code.
    {0x8004100E, fault_kind::invalid_namespace},
    {0x80041010, fault_kind::invalid_class},
    {0x80041017, fault_kind::invalid_query},  // invalid query
    {0x80041018, fault_kind::invalid_query},  // invalid query type
    {0x80041003, fault_kind::access_denied},  // WMI access denied
    {0x80070005, fault_kind::access_denied},  // E_ACCESSDENIED
    {0x8004106C, fault_kind::overload},       // quota violation
    {0x80041045, fault_kind::overload},       // server too busy
    {0x80041001, fault_kind::transient},      // generic failure
    {0x80041006, fault_kind::transient},      // out of memory
    {0x80041013, fault_kind::transient},      // provider load failure
    {0x80041033, fault_kind::transient},      // shutting down
    {0x80041069, fault_kind::transient},      // timed out inside WMI
    // The WS-Management service (ERROR_WSMAN_*).
    {5, fault_kind::access_denied},             // ERROR_ACCESS_DENIED: RootSDDL refuses the user
    {2150858806, fault_kind::access_denied},    // failed authentication
    {2150859012, fault_kind::access_denied},    // WMI service access denied
    {2150859013, fault_kind::access_denied},    // WMI provider access denied
    {2150859014, fault_kind::access_denied},    // WMI cannot connect, access denied
    {2150858793, fault_kind::timed_out},        // OperationTimeout reached
    {2150858780, fault_kind::timed_out},        // enumeration timed out
    {2150858779, fault_kind::invalid_context},  // invalid enumeration context
    {2150858802, fault_kind::overload},         // concurrency
    {2150858815, fault_kind::overload},         // quota limit
    {2150859173, fault_kind::overload},         // max shells
    {2150859174, fault_kind::overload},         // max concurrent operations (per user)
    {2150859175, fault_kind::overload},         // user quota
    {2150859176, fault_kind::overload},         // system quota
    {2150859179, fault_kind::overload},         // max shell users
    {2150859236, fault_kind::overload},         // max shells, plug-in quota
    {2150859237, fault_kind::overload},         // max users, plug-in quota
    {2150859238, fault_kind::overload},         // max plug-in shells
    {2150859239, fault_kind::overload},         // max plug-in operations
    {2150859240, fault_kind::overload},         // max operations per user, plug-in quota
    {2150859241, fault_kind::overload},         // max commands per shell
    {2150859242, fault_kind::overload},         // minimum quota not available
    {2150858755, fault_kind::transient},        // provider failure
    {2150858906, fault_kind::transient},        // provider load failed
    {2150858778, fault_kind::invalid_query},    // the filter cannot be processed
};

constexpr std::uint32_t cannot_process_filter = 2150858778;

// Older hosts (the first WMI plug-in) report a missing class only in the provider's text.
bool names_a_missing_class(const std::string& text) {
    return text.find("class does not exist") != std::string::npos;
}

std::optional<std::uint32_t> number(const std::string& text) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

fault_kind classify(const wsman_wire::received_fault& fault) {
    std::vector<std::uint32_t> codes;
    for (const std::string& c : fault.codes) {
        if (auto n = number(c)) codes.push_back(*n);
    }
    // The table's order decides: a WMI cause nested under a service code wins.
    for (const auto& c : code_classes) {
        if (std::find(codes.begin(), codes.end(), c.code) == codes.end()) continue;
        if (c.code == cannot_process_filter && names_a_missing_class(fault.message)) {
            return fault_kind::invalid_class;
        }
        return c.kind;
    }
    if (fault.subcode == "CannotProcessFilter") {
        return names_a_missing_class(fault.message) ? fault_kind::invalid_class
                                                    : fault_kind::invalid_query;
    }
    if (fault.subcode == "TimedOut") return fault_kind::timed_out;
    if (fault.subcode == "InvalidEnumerationContext") return fault_kind::invalid_context;
    if (fault.subcode == "AccessDenied") return fault_kind::access_denied;
    if (fault.subcode == "Concurrency") return fault_kind::overload;
    // Quota faults of hosts that write no code; with a code not in the table the service
    // itself failed for good (e.g. a resource URI it cannot serve).
    if (fault.subcode == "InternalError" && fault.codes.empty()) return fault_kind::overload;
    return fault_kind::fatal;
}

wsman_response parse_response(std::string& body) {
    wsman_wire::response parsed;
    try {
        parsed = wsman_wire::parse_response_in_place(body);
    } catch (const wsman_wire::malformed_reply& e) {
        throw libi18n::i18n_exception(libi18n::catalogue::libwql_error_getinstance_failed(
            std::string("malformed reply: ") + e.what()));
    }
    wsman_response r;
    r.fault = std::move(parsed.fault);
    r.relates_to = std::move(parsed.relates_to);
    r.context = std::move(parsed.context);
    r.end_of_sequence = parsed.end_of_sequence;
    r.rows.reserve(parsed.items.size());
    for (auto& item : parsed.items) r.rows.push_back(row_of(std::move(item)));
    return r;
}

}  // namespace libwql::detail
