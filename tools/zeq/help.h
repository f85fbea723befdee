// tools/zeq/help.h - `zeq help` and `zeq help NAME`, written from the catalogue.
#pragma once

#include <string>

namespace zeqtool {

// One line per function: name, unit (bytes or characters in a UTF-8 session) and summary.
std::string function_list();
// Usage, arguments, modifier letters, limits and examples of one function;
// "" when no function has that name (any case).
std::string function_help(const std::string &name);

}  // namespace zeqtool
