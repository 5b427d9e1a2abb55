#pragma once

#include <string>

#include "libi18n/i18n.hpp"
#include "libwql/wql_api.hpp"

namespace libwql::exceptions {

// Family base of the exceptions the module catches by type. Everything else libwql raises
// is a plain libi18n::i18n_exception with a "libwql.error." key.
class WQL_API exception : public libi18n::_i18n_exception<libi18n::i18n_exception> {
public:
    using _i18n_exception::_i18n_exception;
};

// A permanent failure of the query itself (malformed WQL, provider refused it).
// `code` is the WS-Management or WMI error code as decimal text, `detail` the target's text.
class WQL_API fatal_query_error : public libi18n::_i18n_exception<exceptions::exception> {
public:
    fatal_query_error(const std::string& code, const std::string& detail);
};

// The class named in the query does not exist in the namespace on the target.
class WQL_API invalid_class_error : public libi18n::_i18n_exception<exceptions::exception> {
public:
    explicit invalid_class_error(const std::string& detail);
};

// The namespace does not exist on the target (e.g. root\SecurityCenter2 on a server).
class WQL_API invalid_namespace_error : public libi18n::_i18n_exception<exceptions::exception> {
public:
    explicit invalid_namespace_error(const std::string& wmi_namespace);
};

}  // namespace libwql::exceptions
