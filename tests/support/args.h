// tests/support/args.h - argument rows for table-driven calls: each row says
// what one argument of a call is, and add_args writes the rows into a Call.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/call.h"
#include "zeq/abi.h"

namespace zeqtest {

// One argument: a fixed or varying character value, a number, a missing
// number, or an optional argument that is not written (of `absent_type`).
struct Arg {
  enum K { Chr, Var, Num, Miss, Absent } k;
  std::string s;
  double x = 0;
  uint8_t absent_type = FNC_ARG_CHAR;
};
inline Arg C(std::string s) { return {Arg::Chr, std::move(s)}; }
inline Arg V(std::string s) { return {Arg::Var, std::move(s)}; }
inline Arg N(double x) { return {Arg::Num, {}, x}; }
inline Arg Miss() { return {Arg::Miss, {}}; }
inline Arg Absent() { return {Arg::Absent, {}}; }
inline Arg AbsentNum() { return {Arg::Absent, {}, 0, FNC_ARG_NUMERIC}; }

void add_args(Call &call, const std::vector<Arg> &args);

}  // namespace zeqtest
