// sqlite/functions.cc - the body of every catalogue function: SQL values to
// the call layer's values by SQL's rules for NULL, the call through the
// connection's call site, and the result back as SQL users expect it.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <string_view>

#include "sqlite/connection.h"

SQLITE_EXTENSION_INIT3

namespace zeqsql {

using zeq::catalogue::Function;
using zeqhost::Arg;
using zeqhost::CallOutcome;
using zeqhost::Value;

namespace {

// ---------------------------------------------------------------------------
// Arguments.
// ---------------------------------------------------------------------------

// A view of an SQL value: TEXT and BLOB are character values (the bytes as
// stored), INTEGER and REAL numeric ones, NULL a missing value.
Arg arg_of(sqlite3_value *v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return Arg::num((double)sqlite3_value_int64(v));
    case SQLITE_FLOAT: return Arg::num(sqlite3_value_double(v));
    case SQLITE_TEXT: {
      const unsigned char *p = sqlite3_value_text(v);
      const int n = sqlite3_value_bytes(v);
      if (!p && n > 0) throw std::bad_alloc();
      return Arg::text(reinterpret_cast<const char *>(p), (size_t)n);
    }
    case SQLITE_BLOB: {
      const void *p = sqlite3_value_blob(v);
      const int n = sqlite3_value_bytes(v);
      if (!p && n > 0) throw std::bad_alloc();
      return Arg::text(static_cast<const char *>(p), (size_t)n);
    }
    default: return Arg::missing();
  }
}

// The name the usage line gives argument i (0-based), "" when it has none.
std::string_view parameter(const Function &fn, size_t i) {
  std::string_view rest = fn.usage, last;
  for (size_t k = 0; !rest.empty(); k++) {
    const size_t comma = rest.find(',');
    std::string_view name = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    const auto mark = [](char c) { return c == ' ' || c == '[' || c == ']'; };
    while (!name.empty() && mark(name.front())) name.remove_prefix(1);
    while (!name.empty() && mark(name.back())) name.remove_suffix(1);
    if (name == "...") return last;
    if (k == i) return name;
    last = name;
  }
  return {};
}

// SQL's rules for NULL: a NULL required argument makes the result NULL; a
// NULL optional argument is one left out: trailing ones are dropped, a NULL
// cutoff followed by modifiers is dropped (the modifiers take its place),
// and any other NULL followed by given arguments is an empty text (no
// delimiters, characters or modifiers).  A NULL item of a concatenation is
// an empty text, as concat() has it.  Returns false for a NULL result;
// `dropped` is the 0-based argument dropped from the middle, or -1.
bool apply_nulls(const Function &fn, std::vector<Arg> &args, int &dropped) {
  dropped = -1;
  const size_t required = (size_t)fn.min_args;
  if (fn.max_args == zeq::catalogue::kAnyCount) {
    for (size_t i = 0; i < args.size(); i++) {
      if (args[i].kind != Value::Missing) continue;
      if (i + 1 < required) return false;  // a separator or the modifiers
      args[i] = Arg::text("", 0);
    }
    return true;
  }
  for (size_t i = 0; i < required && i < args.size(); i++)
    if (args[i].kind == Value::Missing) return false;
  while (args.size() > required && args.back().kind == Value::Missing) args.pop_back();
  for (size_t i = required; i < args.size(); i++) {
    if (args[i].kind != Value::Missing) continue;
    if (parameter(fn, i) == "cutoff" && dropped < 0 && args[i + 1].kind == Value::Text) {
      args.erase(args.begin() + (std::ptrdiff_t)i);
      dropped = (int)i;
      i--;
      continue;
    }
    args[i] = Arg::text("", 0);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Results.
// ---------------------------------------------------------------------------

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// code points beyond U+10FFFF).
bool utf8(std::string_view s) {
  const auto *p = reinterpret_cast<const unsigned char *>(s.data());
  const auto *end = p + s.size();
  while (p < end) {
    const unsigned c = *p;
    if (c < 0x80) {
      p++;
      continue;
    }
    const int n = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : -1;
    if (n < 0 || c > 0xF4 || end - p <= n) return false;
    const unsigned c1 = p[1];
    if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 > 0x8F))
      return false;
    for (int k = 1; k <= n; k++)
      if ((p[k] & 0xC0) != 0x80) return false;
    p += n + 1;
  }
  return true;
}

// A whole number an INTEGER holds exactly is returned as INTEGER, every other
// number as REAL, the missing number (NaN) as NULL.  A character result is
// TEXT when it is UTF-8, else the BLOB of its bytes (a byte of a multibyte
// character, Latin-1 text).
void set_number(sqlite3_context *ctx, double x) {
  if (std::isnan(x)) sqlite3_result_null(ctx);
  else if (x == std::trunc(x) && std::fabs(x) <= 9007199254740992.0) sqlite3_result_int64(ctx, (sqlite3_int64)x);
  else sqlite3_result_double(ctx, x);
}

void set_text(sqlite3_context *ctx, std::string_view t) {
  const char *p = t.data() ? t.data() : "";  // a null pointer would be SQL NULL
  if (utf8(t)) sqlite3_result_text64(ctx, p, t.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  else sqlite3_result_blob64(ctx, p, t.size(), SQLITE_TRANSIENT);
}

void set_value(sqlite3_context *ctx, const Value &r) {
  if (r.kind == Value::Number) set_number(ctx, r.number);
  else if (r.kind == Value::Text) set_text(ctx, r.text);
  else sqlite3_result_null(ctx);
}

// A missing result the module gives without a word (COMPGED after a refused
// COMPCOST) is NULL, as the host has it; any other status is an error.
bool quietly_missing(const CallOutcome &out) {
  if (!out.error.empty() || out.status != FNC_RC_MISSING) return false;
  for (const auto &m : out.messages)
    if (m.level >= 2) return false;
  return true;
}

std::string too_long(const std::string &function, int64_t limit) {
  return function + ": the result is longer than " + std::to_string(limit) +
         " bytes, the connection's SQLITE_LIMIT_LENGTH";
}

void set_outcome(sqlite3_context *ctx, Connection &c, const CallOutcome &out) {
  const bool over = (out.error.empty() && out.status == FNC_RC_NOROOM) ||
                        (out.result.kind == Value::Text && (int64_t)out.result.text.size() > c.length_limit());
  if (over) return fail(ctx, too_long(out.function, c.length_limit()));
  if (const zeqhost::Message *m = out.error.empty() ? out.cut_note() : nullptr)
    return fail(ctx, too_long(out.function, c.length_limit()) + " (" + m->text.substr(m->text.find(' ') + 1) + ")");
  if (out.ok() || quietly_missing(out)) return set_value(ctx, out.result);
  std::string why = out.sentence();
  if (why.empty()) why = out.function + " failed with status " + std::to_string(out.status);
  fail(ctx, why);
}

// A Direct result (a name literal) is a fixed buffer: room for the text with
// every character doubled and quoted.  Beyond the prepared call's declared
// length it takes the slow path.
int64_t direct_room(const std::vector<Arg> &args) { return 2 * (int64_t)(args.empty() ? 0 : args[0].size) + 3; }

Value value_of(const Arg &a) {
  return a.kind == Value::Text ? Value::str(std::string(a.view())) : a.kind == Value::Number ? Value::num(a.number) : Value::missing();
}

CallOutcome call_direct(Connection &c, const Function &fn, const std::vector<Arg> &args) {
  std::vector<Value> values;
  for (const Arg &a : args) values.push_back(value_of(a));
  zeqhost::CallOptions opt;
  opt.length = std::min({direct_room(args), zeqhost::kMaxResultLength, c.length_limit()});
  return c.worker().call(fn, values, opt);
}

zeqhost::ColumnCall &prepared(Binding &b, Connection &c, int argc) {
  if (!b.call || b.call_argc != argc || b.call_generation != c.generation()) {
    b.call = &c.column(*b.fn, argc);
    b.call_argc = argc;
    b.call_generation = c.generation();
  }
  return *b.call;
}

// A row whose call did not simply succeed: its whole outcome, with the
// argument numbers of the SQL call.
void report(sqlite3_context *ctx, Connection &c, CallOutcome out, const std::vector<Arg> &args, int dropped) {
  if (out.bad_argument > 0 && out.bad_value.empty() && (size_t)out.bad_argument <= args.size())
    out.bad_value = zeqhost::describe_value(value_of(args[(size_t)out.bad_argument - 1]));
  if (dropped >= 0 && out.bad_argument > dropped) out.bad_argument++;
  set_outcome(ctx, c, out);
}

}  // namespace

zeqhost::Value to_value(sqlite3_value *v) { return value_of(arg_of(v)); }

// Whether `text` holds `name` (upper case), ignoring case.
bool names(const char *text, std::string_view name) {
  for (const char *p = text; *p; p++) {
    size_t i = 0;
    while (i < name.size() && std::toupper((unsigned char)p[i]) == name[i]) i++;
    if (i == name.size()) return true;
  }
  return false;
}

// A direct call names its function in the text of a statement running on
// the connection.  A call that no running statement names comes from the
// schema: SQLite keeps direct-only functions out of views, triggers, indexes
// and generated columns, but runs them in a CHECK constraint, where a
// function that reads the connection's costs would let a later cost change
// break rows the constraint accepted.
bool called_directly(sqlite3 *db, std::string_view name) {
  for (sqlite3_stmt *s = sqlite3_next_stmt(db, nullptr); s; s = sqlite3_next_stmt(db, s))
    if (sqlite3_stmt_busy(s) && sqlite3_sql(s) && names(sqlite3_sql(s), name)) return true;
  return false;
}

void call_function(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  guarded(ctx, [&] {
    Binding &b = binding(ctx);
    if (!b.fn->deterministic() && !called_directly(sqlite3_context_db_handle(ctx), b.fn->name))
      return fail(ctx, std::string(b.fn->name) +
                           " cannot run in a CHECK constraint: its result depends on the connection's costs");
    Connection &c = *b.conn;
    std::vector<Arg> &args = c.scratch;
    args.resize((size_t)argc);
    for (int i = 0; i < argc; i++) args[(size_t)i] = arg_of(argv[i]);
    int dropped = -1;
    if (!apply_nulls(*b.fn, args, dropped)) return sqlite3_result_null(ctx);
    if (b.fn->result == zeq::catalogue::Result::Direct && direct_room(args) > kDirectRoom)
      return report(ctx, c, call_direct(c, *b.fn, args), args, dropped);
    const int64_t limit = c.length_limit();  // drops the prepared calls when the limit changed
    zeqhost::ColumnCall &col = prepared(b, c, (int)args.size());
    const zeqhost::Cell &cell = col.run(args);
    if (!cell.ok() || cell.noted) return report(ctx, c, col.outcome(), args, dropped);
    if (cell.kind == Value::Number) return set_number(ctx, cell.number);
    if (b.fn->result == zeq::catalogue::Result::Number) return sqlite3_result_null(ctx);
    if ((int64_t)cell.text.size() > limit) return fail(ctx, too_long(std::string(b.fn->name), limit));
    set_text(ctx, cell.text);
  });
}

}  // namespace zeqsql
