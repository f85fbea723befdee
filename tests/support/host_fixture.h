// tests/support/host_fixture.h - the reference host a test executable shares,
// and small helpers over it: calling a numeric table entry by name (once, on
// both routes, or again and again at one call site), checking numeric table
// rows, switching the session to UTF-8, reading the catalogue messages in the
// log.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "charfn/entry_types.h"
#include "host/host.h"
#include "tests/support/args.h"
#include "tests/support/call.h"

namespace zeqtest {

using NumEntry = zeq::typed::NumberEntry;
using MbNumEntry = zeq::typed::MbNumberEntry;

// One host for the whole executable, built on first use and never torn down
// (tests run in one thread; the module stays loaded until exit).
inline zeqhost::Host &host() {
  static zeqhost::Host *h = new zeqhost::Host();
  return *h;
}

// The table entry `name` of the shared host as an F; an entry the module
// does not export fails the test (and answers null).
template <class F>
F entry_named(const char *name) {
  auto f = host().fn<F>(name);
  EXPECT_NE(f, nullptr) << name;
  return f;
}

// Calls the numeric entry `entry` with `args` and answers the value it
// wrote.  The return code goes to *rc when given, else it must be OK.
inline double call_number(const char *entry, const std::vector<Arg> &args, int32_t *rc = nullptr) {
  Call c;
  add_args(c, args);
  double out = -1;
  const int32_t r = host().fn<NumEntry>(entry)(c.block(), &out);
  if (rc)
    *rc = r;
  else
    EXPECT_EQ(r, FNC_RC_OK);
  return out;
}

// A row of a numeric table: the arguments, the value expected, and how many
// catalogue messages 6 (invalid argument) the call should report.
struct NumberCase {
  const char *name;
  std::vector<Arg> args;
  double expected;
  int reports = 0;
};

// Checks one NumberCase row against the numeric entry `entry`: the value,
// and as many messages 6 as the row says (none when it says none).
inline void expect_number_case(const char *entry, const NumberCase &tc) {
  host().clear_log();
  EXPECT_EQ(call_number(entry, tc.args), tc.expected);
  EXPECT_EQ(host().message_numbers(), std::vector<int>(tc.reports, 6));
}

// The test name of a NumberCase row, for INSTANTIATE_TEST_SUITE_P.
inline std::string number_case_name(const ::testing::TestParamInfo<NumberCase> &info) { return info.param.name; }

// Calls the multibyte-route entry `entry` with the block of `call` and the
// session's string service, as the function `name`; answers the status.
inline int32_t call_multibyte(const char *entry, const char *name, Call &call, double *out) {
  return host().fn<MbNumEntry>(entry)(call.block(), out, host().string_service(), 0, name);
}

// One argument list through both routes of a function: the byte-route entry
// and the multibyte-route entry, each with its own block.  The outputs start
// apart (-1 and -2), so that a route that writes nothing cannot agree.
struct RouteOutcomes {
  int32_t byte_rc, multibyte_rc;
  double byte, multibyte;
};
inline RouteOutcomes call_both_routes(const char *byte_entry, const char *multibyte_entry, const char *name,
                                      const std::vector<Arg> &args) {
  Call byte_call, multibyte_call;
  add_args(byte_call, args);
  add_args(multibyte_call, args);
  RouteOutcomes o{0, 0, -1, -2};
  o.byte_rc = host().fn<NumEntry>(byte_entry)(byte_call.block(), &o.byte);
  o.multibyte_rc = call_multibyte(multibyte_entry, name, multibyte_call, &o.multibyte);
  return o;
}

// One call site of a numeric entry: a block built once and called again and
// again, as a host calls the same site; `out` keeps the last value written
// (-1 before any).
struct NumberSite {
  NumEntry fn;
  Call call;
  double out = -1;
  explicit NumberSite(const char *entry, uint8_t kind = 0) : fn(host().fn<NumEntry>(entry)) { call.kind(kind); }
  int32_t operator()() { return fn(call.block(), &out); }
  // The same call with the task pool refusing its first allocation.
  int32_t refusing_allocation() {
    host().task_pool().fail_nth(1);
    const int32_t rc = (*this)();
    host().task_pool().fail_nth(0);
    return rc;
  }
};

// A fixed result whose buffer runs 16 bytes past maxLength, so that a write
// beyond the room shows in the guard bytes; it may start with a text.
struct Fixed {
  std::string buf;
  FncString rec{};
  explicit Fixed(int64_t max_length, std::string initial = {}) {
    buf.assign((size_t)max_length + 16, '#');
    std::memcpy(buf.data(), initial.data(), initial.size());
    rec.maxLength = max_length;
    rec.length = (int64_t)initial.size();
    rec.data = buf.data();
  }
  std::string text() const { return std::string(rec.data, (size_t)rec.length); }
  bool guard_intact() const { return buf.compare((size_t)rec.maxLength, 16, std::string(16, '#')) == 0; }
};

// Holds the shared host's session in UTF-8 while it lives.
struct Utf8Session {
  Utf8Session() { host().set_utf8(true); }
  ~Utf8Session() { host().set_utf8(false); }
};

// The catalogue messages in the log, each as "number:arg,arg,...".
inline std::vector<std::string> catalogue_lines() {
  std::vector<std::string> out;
  for (const auto &e : host().log()) {
    if (e.kind != zeqhost::LogEntry::Catalogue) continue;
    std::string line = std::to_string(e.number) + ":";
    for (size_t i = 0; i < e.args.size(); i++) line += (i ? "," : "") + e.args[i];
    out.push_back(line);
  }
  return out;
}

}  // namespace zeqtest
