// Fuzz target: the expression language of zeq statements and zeq batch
// columns.  A statement that parses is written back in the language (strings
// quoted with doubled quotes, numbers with 17 digits, names as name literals)
// and must parse again to the same statement; one that does not parse must
// say where.  The catalogue check then runs on its constants as zeq would.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/call.h"
#include "tools/zeq/parser.h"
#include "tools/zeq/registry.h"
#include "tools/zeq/session.h"

using namespace zeqtool;

namespace {

std::string quoted(const std::string &s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

std::string written(const Statement &st) {
  std::string out = (st.call ? "CALL " : "") + st.name + "(";
  for (size_t i = 0; i < st.args.size(); i++) {
    const Arg &a = st.args[i];
    if (i) out += ", ";
    if (a.kind == Arg::String) out += quoted(a.text);
    else if (a.kind == Arg::Variable) out += quoted(a.text) + "n";
    else if (a.kind == Arg::Missing) out += ".";
    else {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", a.number);
      out += std::isinf(a.number) ? (a.number > 0 ? "1e999" : "-1e999") : buf;
    }
  }
  return out + ")";
}

bool same(const Arg &a, const Arg &b) {
  if (a.kind != b.kind) return false;
  if (a.kind == Arg::Number) return a.number == b.number;
  return a.kind == Arg::Missing || upper(a.text) == upper(b.text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  ParseError err;
  auto st = parse_statement(text, err);
  if (!st) {
    if (err.message.empty() || err.column < 1 || err.column > size + 1) std::abort();
    return 0;
  }
  if (st->name.empty() || st->name != upper(st->name)) std::abort();
  ParseError err2;
  auto again = parse_statement(written(*st), err2);
  if (!again || again->name != st->name || again->call != st->call || again->args.size() != st->args.size())
    std::abort();
  for (size_t i = 0; i < st->args.size(); i++)
    if (!same(st->args[i], again->args[i])) std::abort();

  std::string why;
  if (const Function *f = callable(st->name, st->call, why)) {
    std::vector<zeqhost::Value> args;
    for (const Arg &a : st->args) args.push_back(a.kind == Arg::Variable ? zeqhost::Value::str(a.text) : constant_value(a));
    (void)zeqhost::check_call(*f, args, st->call);
  } else if (why.empty()) {
    std::abort();
  }
  return 0;
}
