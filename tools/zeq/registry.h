// tools/zeq/registry.h - the functions zeq knows: language name, the entry
// the host calls, its shape and how its call-routine form is wired.
// Adding a function is adding one row to the table in registry.cc.
#pragma once

#include <string>
#include <vector>

namespace zeqtool {

enum class Shape {
  Char,     // (FncArgList*, FncString* result)
  Number,   // (FncArgList*, double* result)
  Direct,   // (FncString* argument, FncString* result)
  Routine,  // (FncArgList*) -- call routine without a result
};

struct FunctionInfo {
  const char *name;       // language name, upper case
  const char *symbol;     // exported entry of the byte route
  int slot;               // function-table slot holding the entry, -1 when outside the table
  Shape shape;
  const char *mb_symbol;  // multibyte twin the host calls itself (COMPARE, SCAN), or null
  int call_result_arg;    // CALL form: 1-based argument whose record is also the result; 0 none
  bool call_allowed;      // whether CALL NAME(...) is valid
  bool function_allowed;  // whether NAME(...) is valid as a function
  const char *usage;
};

const std::vector<FunctionInfo> &functions();
const FunctionInfo *find_function(const std::string &upper_name);

}  // namespace zeqtool
