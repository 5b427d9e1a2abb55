#include "libwql/exceptions.hpp"

#include "libi18n/catalogue.hpp"

namespace libwql::exceptions {

namespace cat = libi18n::catalogue;

fatal_query_error::fatal_query_error(const std::string& code, const std::string& detail)
    : _i18n_exception(cat::libwql_error_fatal_query(code, detail)) {}

invalid_class_error::invalid_class_error(const std::string& detail)
    : _i18n_exception(cat::libwql_error_invalid_class(detail)) {}

invalid_namespace_error::invalid_namespace_error(const std::string& wmi_namespace)
    : _i18n_exception(cat::libwql_error_invalid_namespace(wmi_namespace)) {}

}  // namespace libwql::exceptions
