#include "wsman_reply.hpp"

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

}  // namespace

fault_kind classify(const wsman_wire::received_fault& fault) {
    // WMI HRESULTs may arrive in either code field; check both before the subcode.
    for (const std::string& c : {fault.wsman_code, fault.wmi_code}) {
        if (c == "2147749902") return fault_kind::invalid_namespace;  // 0x8004100E
        if (c == "2147749904") return fault_kind::invalid_class;      // 0x80041010
        if (c == "2147749911" || c == "2147749912") return fault_kind::invalid_query;
        if (c == "2147749891" || c == "2150859012" || c == "2150859013" || c == "5") {
            return fault_kind::access_denied;
        }
        if (c == "2150858793") return fault_kind::timed_out;  // 0x80338029
        if (c == "2147749889" || c == "2147749894" || c == "2147749907") {
            return fault_kind::transient;  // generic failure, out of memory, provider load
        }
    }
    if (fault.subcode == "TimedOut") return fault_kind::timed_out;
    if (fault.subcode == "InvalidEnumerationContext") return fault_kind::invalid_context;
    if (fault.subcode == "AccessDenied") return fault_kind::access_denied;
    if (fault.subcode == "InternalError" && fault.wsman_code.empty() && fault.wmi_code.empty()) {
        return fault_kind::overload;
    }
    return fault_kind::fatal;
}

wsman_response parse_response(std::string_view body) {
    wsman_wire::response parsed;
    try {
        parsed = wsman_wire::parse_response(body);
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
