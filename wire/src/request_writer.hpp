#pragma once

// Requests are filled into templates that pugixml rendered once (request.cpp); the rendering
// itself stays callable, so tests can hold every template to it.

#include <string>
#include <vector>

namespace wsman_wire::detail {

enum class request_kind { enumerate_optimized, enumerate, pull, release };

// The variable parts in document order: To, MessageID, ResourceURI, MaxEnvelopeSize,
// OperationTimeout, then for Enumerate MaxElements (when optimized) and the filter, for Pull
// the context and MaxElements, for Release the context.
std::size_t variable_parts(request_kind kind);

// One document per call, as every request was written before the templates.
std::string write_request_with_pugixml(request_kind kind, const std::vector<std::string>& values);

}  // namespace wsman_wire::detail
