#pragma once

#include <string>
#include <vector>

#include "libexception/exception.hpp"

namespace libstringutils {

namespace exceptions {

class exception : public libexception::_exception<libexception::exception> {
public:
    using _exception::_exception;
};

// A lone "%" that starts neither "%N:s" nor "%%".
class format_string_error : public libexception::_exception<exceptions::exception> {
public:
    format_string_error();
};

// "%N:s" with N not below the number of arguments.
class placeholder_index_not_in_arguments : public libexception::_exception<exceptions::exception> {
public:
    explicit placeholder_index_not_in_arguments(const std::string& index_as_written);
};

}  // namespace exceptions

// Replaces "%N:s" (N decimal, leading zeros allowed) by arguments[N] and "%%" by "%".
// Arguments are inserted verbatim and never re-scanned. Throws the two exceptions above,
// or std::out_of_range when N does not fit a long.
std::string format(const std::string& templ, const std::vector<std::string>& arguments);

// The placeholders of a template in order as written: "%N:s" and "%%". A lone "%" throws
// format_string_error, as format would.
std::vector<std::string> placeholders(const std::string& templ);

}  // namespace libstringutils
