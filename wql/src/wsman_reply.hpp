#pragma once

// What a reply means to the client: rows in libwql's types and faults sorted by what to do
// about them. The envelopes themselves are the wire library's.

#include <string_view>
#include <vector>

#include "libwql/wql_query.hpp"
#include "wsman_wire/envelope.hpp"

namespace libwql::detail {

enum class fault_kind {
    invalid_namespace,
    invalid_class,
    invalid_query,
    access_denied,
    timed_out,        // OperationTimeout hit: pull again with the same context
    invalid_context,  // enumeration expired: enumerate again
    overload,         // quota reached: retry later
    transient,        // WMI hiccup: retry
    fatal,            // anything else: the request itself is wrong
};

fault_kind classify(const wsman_wire::received_fault& fault);

// One parsed reply with its items as rows.
struct wsman_response {
    std::optional<wsman_wire::received_fault> fault;
    std::string relates_to;
    std::vector<wql_query_row> rows;
    std::string context;
    bool end_of_sequence = false;
};

// Throws i18n_exception "libwql.error.getinstance_failed" when the text is not well-formed
// XML or not a SOAP envelope of a known reply. Parses in place: `body` is left overwritten.
wsman_response parse_response(std::string& body);

}  // namespace libwql::detail
