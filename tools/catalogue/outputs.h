// tools/catalogue/outputs.h - what the catalogue tool prints: each output is
// a whole file, or the part of a file between two marker lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zeqcat {

struct Output {
  std::string_view name;   // the subcommand that prints it
  std::string_view file;   // relative to the source root
  std::string_view begin;  // marker line before the part, "" for a whole file
  std::string_view end;    // start of the marker line after the part
  std::string (*render)();
};

const std::vector<Output> &outputs();

std::string exports_map();
std::string entry_types_header();
std::string readme_functions();
std::string sql_names();

}  // namespace zeqcat
