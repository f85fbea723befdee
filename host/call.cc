// host/call.cc - the call layer every front end shares (see host/call.h).
//
// What a call does, in order:
//  1. The catalogue row decides whether the call may run: the form (function
//     or CALL), the argument count and the argument types.  A Missing value
//     matches either type: where the function wants a number it is the host's
//     missing number (a NaN); where it wants a character value it is a
//     character argument without a value (FncArg.value null), which every
//     function answers as an absent optional argument.  A Direct function
//     (one character argument passed by itself) gets an empty text instead.
//  2. The argument block is built in the call site's FncArgList, whose
//     noteCount word and type fields persist between calls; the mark bytes
//     are cleared before each call so that a mark names this call's culprit.
//  3. The result record: a growable result (an allocator refusing more than
//     kMaxResultLength bytes) by default, else a fixed buffer of the declared
//     length; a CALL target is a fixed variable of the declared length,
//     blank-padded as a host keeps one.
//  4. The call runs under a SessionHold of its encoding, with a LogCapture
//     collecting the lines this thread writes.
#include "host/call.h"
#include "host/call_internal.h"
#include "charfn/entry_types.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace zeqhost {

using zeq::catalogue::Function;
using zeq::catalogue::Result;

namespace {

// ---------------------------------------------------------------------------
// Argument lists as the usage lines write them.
// ---------------------------------------------------------------------------

// "s1, s2 [, cutoff] [, modifiers]" -> s1 s2 cutoff modifiers; `required`
// counts the names outside brackets ("..." is never required).
std::vector<std::string> usage_names(std::string_view usage, int *required = nullptr) {
  std::vector<std::string> out;
  std::string cur;
  int depth = 0, req = 0, cur_depth = 0;
  auto flush = [&] {
    if (cur.empty()) return;
    if (cur_depth == 0 && cur != "...") req++;
    out.push_back(cur);
    cur.clear();
  };
  for (char c : usage) {
    if (c == ',') flush();
    else if (c == '[') depth++;
    else if (c == ']') depth--;
    else if (c != ' ') {
      if (cur.empty()) cur_depth = depth;
      cur += c;
    }
  }
  flush();
  if (required) *required = req;
  return out;
}

// The name of argument i (0-based); arguments past the list repeat the last
// name before "...".
std::string arg_name(const std::vector<std::string> &names, size_t i) {
  std::string last;
  for (size_t k = 0; k < names.size(); k++) {
    if (names[k] == "...") return last;
    last = names[k];
    if (k == i) return last;
  }
  return last;
}

std::string usage_line(const Function &fn, bool call_form) {
  return call_form ? "CALL " + std::string(fn.name) + "(" + std::string(fn.call_usage) + ")"
                   : std::string(fn.name) + "(" + std::string(fn.usage) + ")";
}

std::string plural(int n) { return std::to_string(n) + (n == 1 ? " argument" : " arguments"); }

// The arguments of one form of a function: names, counts and, for the CALL
// form, which arguments the CALL adds (targets and numeric variables).
struct Form {
  std::vector<std::string> names;
  int min = 0, max = 0;               // max zeq::catalogue::kAnyCount: no bound
  std::vector<size_t> added;           // 0-based, CALL form only
};

Form build_form(const Function &fn, bool call_form) {
  Form f;
  if (!call_form) {
    f.names = usage_names(fn.usage);
    f.min = fn.min_args;
    f.max = fn.max_args;
    return f;
  }
  f.names = usage_names(fn.call_usage, &f.min);
  bool open = false;
  for (const auto &n : f.names) open |= n == "...";
  f.max = open ? zeq::catalogue::kAnyCount : (int)f.names.size();
  const auto plain = usage_names(fn.usage);
  for (size_t i = 0; i < f.names.size(); i++)
    if (f.names[i] != "..." && std::find(plain.begin(), plain.end(), f.names[i]) == plain.end())
      f.added.push_back(i);
  return f;
}

// The row of `fn` in kFunctions, or kFunctionCount for a row of another table.
size_t row_of(const Function &fn) {
  const std::less<const Function *> before;
  const Function *first = zeq::catalogue::kFunctions, *end = first + zeq::catalogue::kFunctionCount;
  return !before(&fn, first) && before(&fn, end) ? (size_t)(&fn - first) : zeq::catalogue::kFunctionCount;
}

// Both forms of every catalogue row, parsed once for the process.
struct Forms {
  Form plain, call;
};

const std::vector<Forms> &form_table() {
  static const std::vector<Forms> table = [] {
    std::vector<Forms> t;
    t.reserve(zeq::catalogue::kFunctionCount);
    for (const Function &fn : zeq::catalogue::kFunctions) t.push_back({build_form(fn, false), build_form(fn, true)});
    return t;
  }();
  return table;
}

// The parsed form of a call of `fn`; a row of another table is parsed into `spare`.
const Form &form_of(const Function &fn, bool call_form, Form &spare) {
  const size_t row = row_of(fn);
  if (row == zeq::catalogue::kFunctionCount) return spare = build_form(fn, call_form);
  const Forms &f = form_table()[row];
  return call_form ? f.call : f.plain;
}

char kind_char(const Value &v) { return v.kind == Value::Text ? '2' : v.kind == Value::Number ? '1' : 'm'; }
const char *type_word(char t) { return t == '2' ? "character" : "numeric"; }

// Matches the kinds ('1', '2', 'm' missing) against the function's type
// patterns.  Returns "" and the resolved types ('1'/'2' per argument), or the
// sentence and the 1-based argument at fault (index into `map`).
std::string match_types(const Function &fn, CheckScratch &s, const Form &form, int &bad) {
  const std::string &kinds = s.kinds;
  std::string &resolved = s.resolved;
  if (fn.argtypes.empty()) {
    resolved = kinds;
    for (char &c : resolved) c = c == 'm' ? '1' : c;
    return "";
  }
  size_t best_at = 0;
  char best_want = 0;
  std::string_view rest = fn.argtypes;
  while (!rest.empty()) {
    const size_t sp = rest.find(' ');
    std::string_view pat = rest.substr(0, sp);
    rest = sp == std::string_view::npos ? std::string_view{} : rest.substr(sp + 1);
    const bool repeat = !pat.empty() && pat.back() == '*';
    if (repeat) pat.remove_suffix(1);
    if (pat.empty() || kinds.size() + (repeat ? 1 : 0) < pat.size()) continue;
    if (!repeat && kinds.size() != pat.size()) continue;
    resolved.assign(kinds);
    size_t i = 0;
    for (; i < kinds.size(); i++) {
      const char want = i < pat.size() ? pat[i] : pat.back();
      if (kinds[i] == 'm') resolved[i] = want == '2' ? '2' : '1';
      else if (want != 'x' && want != kinds[i]) break;
    }
    if (i == kinds.size()) return {};
    if (!best_want || i > best_at) best_at = i, best_want = i < pat.size() ? pat[i] : pat.back();
  }
  if (!best_want) return std::string(fn.name) + " does not accept these arguments; usage: " + usage_line(fn, false);
  const std::vector<size_t> &map = s.map;
  bad = (int)map[best_at] + 1;
  return std::string(fn.name) + ": argument " + std::to_string(bad) + " (" + arg_name(form.names, map[best_at]) +
         ") must be " + type_word(best_want);
}

}  // namespace

// Count and types; s.types receives '1' or '2' for every argument.  Nothing
// is allocated on the way to "" once the scratch buffers have grown.
std::string check(const Function &fn, std::span<const Value> args, bool call_form, CheckScratch &s, int &bad) {
  const auto name = [&] { return std::string(fn.name); };
  if (fn.has(zeq::catalogue::ZEQ_FN_HIDDEN)) return name() + " is a table entry that programs do not call";
  if (call_form && !fn.has_call()) return name() + " has no CALL form; usage: " + usage_line(fn, false);
  if (!call_form && !fn.has(zeq::catalogue::ZEQ_FN_FUNCTION))
    return name() + " is a call routine; usage: " + usage_line(fn, true);
  Form spare;
  const Form &form = form_of(fn, call_form, spare);
  const int n = (int)args.size();
  if (n < form.min || (form.max != zeq::catalogue::kAnyCount && n > form.max)) {
    std::string takes = form.max == zeq::catalogue::kAnyCount ? "at least " + plural(form.min)
                        : form.min == form.max             ? plural(form.min)
                                                           : std::to_string(form.min) + " to " + plural(form.max);
    return (call_form ? "CALL " : "") + std::string(fn.name) + " takes " + takes + ", got " + std::to_string(n) +
           "; usage: " + usage_line(fn, call_form);
  }
  std::string &kinds = s.kinds, &types = s.types;
  std::vector<size_t> &map = s.map;
  kinds.clear();
  map.clear();
  types.assign((size_t)n, '1');
  for (int i = 0; i < n; i++) {
    const bool added = std::find(form.added.begin(), form.added.end(), (size_t)i) != form.added.end();
    if (!added) {
      kinds += kind_char(args[i]);
      map.push_back((size_t)i);
      continue;
    }
    // A CALL target is a character variable; the other added arguments are
    // numeric variables.
    const bool target = fn.call_result == i + 1;
    const char want = target ? '2' : '1';
    const char have = kind_char(args[i]);
    if (have != want && !(have == 'm' && !target)) {
      bad = i + 1;
      return "CALL " + std::string(fn.name) + ": argument " + std::to_string(i + 1) + " (" +
             arg_name(form.names, (size_t)i) + ") must be a " + type_word(want) + " variable";
    }
    types[(size_t)i] = want;
  }
  std::string err = match_types(fn, s, form, bad);
  if (!err.empty()) return err;
  for (size_t k = 0; k < map.size(); k++) types[map[k]] = s.resolved[k];
  return "";
}

namespace {

// ---------------------------------------------------------------------------
// Records of one call.
// ---------------------------------------------------------------------------

std::string trim_right(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

Value number_value(double x) { return std::isnan(x) ? Value::missing() : Value::num(x); }

// The line without its level word.
std::string body_of(const std::string &text) {
  for (const char *w : {"INFO: ", "NOTE: ", "WARNING: ", "ERROR: "})
    if (text.rfind(w, 0) == 0) return text.substr(std::strlen(w));
  return text;
}

// A plain word for a status, with what it means where that helps.
std::string status_phrase(int32_t status) {
  switch (status) {
    case FNC_RC_NOTE: return "note";
    case FNC_RC_MISSING: return "missing (a numeric argument the result depends on was missing)";
    case FNC_RC_NOROOM: return "no room (the result could not be enlarged)";
    case FNC_RC_NOMEM: return "out of memory";
    default: {
      char buf[48];
      std::snprintf(buf, sizeof buf, "error 0x%08X", (unsigned)status);
      return buf;
    }
  }
}

std::string upper(std::string_view s) {
  std::string out(s);
  for (char &c : out) c = (char)std::toupper((unsigned char)c);
  return out;
}

CallOutcome refused(std::string_view function, std::string error, int bad = 0) {
  CallOutcome out;
  out.function = std::string(function);
  out.error = std::move(error);
  out.bad_argument = bad;
  return out;
}

}  // namespace

std::string check_call(const Function &fn, std::span<const Value> args, bool call_form) {
  CheckScratch scratch;
  int bad = 0;
  return check(fn, args, call_form, scratch, bad);
}

std::string format_number(double x) {
  if (std::isnan(x)) return "";
  if (x == 0) return "0";
  char buf[64];
  // Whole numbers print in full (1000000, not 1e+06), so that integer readers
  // take them; beyond 1e21 the exponent is the clearer form.
  const bool whole = std::fabs(x) < 1e21 && x == std::trunc(x);
  auto r = whole ? std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed)
                 : std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

namespace {

// What an argument the module marks without a message of its own must be,
// by function (empty: any function) and argument name.  The module marks the
// argument and answers a note; these say why, as the functions' notes in the
// catalogue do.
struct ArgumentRule {
  std::string_view function, argument, rule;
};

constexpr ArgumentRule kArgumentRules[] = {
    {"", "cutoff", "a whole number of at least 1 (values above 999999 count as 999999)"},
    {"SCAN", "n", "a whole number from -2147483648 to 2147483647 other than 0"},
    {"SCANQ", "n", "a whole number from -2147483648 to 2147483647"},
    {"SUBPAD", "length", "a number of at least 0"},
    {"", "start", "a number"},
    {"", "mode", "V7, ANY or NLITERAL"},
    {"FINDLEV", "level", "a number"},
};

std::string_view argument_rule(std::string_view function, std::string_view argument) {
  for (const ArgumentRule &r : kArgumentRules)
    if ((r.function.empty() || r.function == function) && r.argument == argument) return r.rule;
  return {};
}

}  // namespace

// "COMPLEV: argument 3 (cutoff) must be a whole number of at least 1 ...,
// got 2.5" where the module marks an argument without a message of its own
// and the argument's rule is known; else the status, the argument and the
// module's messages ("CAT: note, argument 2 (item): Invalid argument ...
// (message 28)").
const Message *CallOutcome::cut_note() const {
  for (const Message &m : messages)
    if (m.number == 8 || (m.number >= 27 && m.number <= 29)) return &m;
  return nullptr;
}

std::string CallOutcome::sentence() const {
  if (!error.empty()) return error;
  if (ok()) return "";
  std::string argument, rule;
  if (bad_argument > 0) {
    argument = "argument " + std::to_string(bad_argument);
    if (const Function *fn = zeq::catalogue::find(function)) {
      Form spare;
      const std::string name = arg_name(form_of(*fn, call_form, spare).names, (size_t)bad_argument - 1);
      if (!name.empty()) argument += " (" + name + ")";
      if (messages.empty()) rule = argument_rule(function, name);
    }
  }
  if (!rule.empty()) return function + ": " + argument + " must be " + rule + (bad_value.empty() ? "" : ", got " + bad_value);
  std::string s = function + ": " + status_phrase(status);
  if (!argument.empty()) s += ", " + argument;
  const char *sep = ": ";
  for (const Message &m : messages) {
    s += sep + body_of(m.text);
    if (m.number > 0 && m.number < 1000) s += " (message " + std::to_string(m.number) + ")";  // not a status
    sep = " ";
  }
  return s;
}

std::string describe_value(const Value &v) {
  if (v.kind == Value::Missing || (v.kind == Value::Number && std::isnan(v.number))) return "a missing value";
  if (v.kind == Value::Number) return format_number(v.number);
  constexpr size_t kShown = 40;
  return "'" + v.text.substr(0, kShown) + (v.text.size() > kShown ? "...'" : "'");
}

// ---------------------------------------------------------------------------
// Worker and call sites.
// ---------------------------------------------------------------------------

void Worker::Impl::lookup(const Function &fn, void *&entry, void *&twin) {
  const size_t row = row_of(fn);
  if (row >= entries.size()) {  // a row not of this catalogue
    entry = host.symbol(std::string(fn.entry).c_str());
    twin = fn.mb_entry.empty() ? nullptr : host.symbol(std::string(fn.mb_entry).c_str());
    return;
  }
  if (!looked[row]) {
    entries[row] = host.symbol(std::string(fn.entry).c_str());
    twins[row] = fn.mb_entry.empty() ? nullptr : host.symbol(std::string(fn.mb_entry).c_str());
    looked[row] = true;
  }
  entry = entries[row];
  twin = twins[row];
}

struct CallSite::Impl {
  Worker::Impl &w;
  const Function &fn;
  CallOptions opt;
  std::vector<uint64_t> raw;  // the FncArgList, kept across calls
  int argc = -1;

  Impl(Worker::Impl &worker, const Function &f, CallOptions o) : w(worker), fn(f), opt(o) {}
  ~Impl() { release_cache(); }
  FncArgList *block() { return reinterpret_cast<FncArgList *>(raw.data()); }
  CallOutcome run(std::span<const Value> args);

  // What one execution carries from step to step.
  struct Execution {
    Entry e;
    int target = -1;                  // the CALL target's argument, or -1
    FncString result{};
    FncString *result_rec = nullptr;  // `result`, or the CALL target's record
    double number = std::nan("");
  };
  // The steps of run(), in order.  admit returns "" or why the call is refused.
  std::string admit(std::span<const Value> args, const std::string &name, Execution &x, int &bad);
  FncArgList *fill(std::span<const Value> args, bool utf8, int target);
  void prepare_result(FncArgList *a, Execution &x);
  int32_t enter(FncArgList *a, Execution &x, const std::string &name);
  void collect(CallOutcome &out, const FncArgList *a, const Execution &x, std::span<const Value> args);

  // A call-site cache the module hung on noteCount goes back to the task's
  // pool with the call site, as the host gives it back.
  void release_cache() {
    if (!raw.empty()) w.release_cache(block());
  }
};

CallOutcome CallSite::Impl::run(std::span<const Value> args) {
  const std::string name(fn.name);
  Execution x;
  int bad = 0;
  if (std::string err = admit(args, name, x, bad); !err.empty()) return refused(name, err, bad);
  const bool utf8 = w.encoding == Encoding::Utf8;
  SessionHold session = w.host.hold_session(utf8);
  FncArgList *a = fill(args, utf8, x.target);
  x.e.svc = w.twin_service(fn, a, utf8, x.e.twin);
  prepare_result(a, x);

  CallOutcome out;
  out.function = name;
  out.call_form = opt.call_form;
  out.status = enter(a, x, name);
  collect(out, a, x, args);
  // The records of this execution end here: no entry may point at them.
  for (int i = 0; i < a->argCount; i++) a->args[i].value = nullptr;
  w.buffers.grow.settle(x.result.data);
  return out;
}

std::string CallSite::Impl::admit(std::span<const Value> args, const std::string &name, Execution &x, int &bad) {
  if (opt.length < 0 || opt.length > kMaxResultLength)
    return name + ": the declared length " + std::to_string(opt.length) + " is outside 0 to " +
           std::to_string(kMaxResultLength);
  if (std::string err = check(fn, args, opt.call_form, w.buffers.check, bad); !err.empty()) return err;
  const int n = (int)args.size();
  if (argc >= 0 && n != argc) return name + ": this call site takes " + plural(argc) + ", got " + std::to_string(n);
  w.lookup(fn, x.e.entry, x.e.twin);
  if (!x.e.entry) return name + " is not available in this module build";
  x.target = opt.call_form && fn.call_result > 0 ? fn.call_result - 1 : -1;
  return "";
}

FncArgList *CallSite::Impl::fill(std::span<const Value> args, bool utf8, int target) {
  const int n = (int)args.size();
  if (raw.empty()) {
    raw.assign((FNC_ARGLIST_SIZE(n ? n : 1) + 7) / 8, 0);
    argc = n;
  }
  FncArgList *a = block();
  a->task = w.task;
  a->callForm = opt.call_form ? FNC_FORM_CALL : FNC_FORM_FUNCTION;
  a->resultKind = (uint8_t)opt.result_kind;
  a->argCount = n;

  const std::string &types = w.buffers.check.types;
  const uint8_t str_type = (opt.varchar || utf8) ? FNC_ARG_VARCHAR : FNC_ARG_CHAR;
  Frame &frame = w.buffers.frame;
  frame.reset((size_t)n);
  for (int i = 0; i < n; i++) {
    const Value &v = args[(size_t)i];
    FncArg &g = a->args[i];
    g.mark = 0;
    if (types[(size_t)i] == '1') {
      g.type = FNC_ARG_NUMERIC;
      g.value = frame.number((size_t)i, v.kind == Value::Number ? v.number : missing_number());
    } else if (i == target) {
      g.type = FNC_ARG_CHAR;
      g.value = frame.text((size_t)i, v.text, opt.length);
    } else {
      g.type = str_type;
      const bool direct = fn.result == Result::Direct;
      g.value = v.kind == Value::Text || direct ? frame.text((size_t)i, v.text) : nullptr;
    }
  }
  return a;
}

ZeqStringService *Worker::Impl::twin_service(const Function &fn, FncArgList *a, bool utf8, void *twin) {
  if (!utf8 || !twin || !fn.has(zeq::catalogue::ZEQ_FN_HOST_ROUTES)) return nullptr;
  if (!routes_looked_) {
    routes_ = host.fn<Routes>("CheckVarcharAndMultibyte");
    routes_looked_ = true;
  }
  return routes_ ? routes_(a) : nullptr;
}

void Worker::Impl::release_cache(FncArgList *a) {
  if (!a->noteCount) return;
  void *cache = reinterpret_cast<void *>((uintptr_t)a->noteCount);
  if (host.pool_of(task).holds(cache)) task->pool->release(task->pool, cache);
  a->noteCount = 0;
}

void CallSite::Impl::prepare_result(FncArgList *a, Execution &x) {
  FncString &result = x.result;
  x.result_rec = &result;
  if (x.target >= 0) {
    x.result_rec = static_cast<FncString *>(a->args[x.target].value);
  } else if (fn.result == Result::Char && opt.growable) {
    start_growable(w.buffers.grow, result, opt, a);
  } else if (fn.result == Result::Char || fn.result == Result::Direct) {
    std::string &fixed = w.buffers.fixed;
    fixed.assign((size_t)opt.length, ' ');
    result.maxLength = opt.length;
    result.data = fixed.data();
  }
}

void start_growable(Growable &grow, FncString &result, const CallOptions &opt, const FncArgList *a) {
  const int64_t limit = std::clamp<int64_t>(opt.max_length, 1, kMaxGrowableLength);
  grow.limit = limit;
  result.maxLength = limit;
  result.allocator = &grow.rec;
  // A growable result starts with the declared length as its room, as a
  // host's does, or with room for whatever the arguments can give.
  const int64_t room = std::clamp<int64_t>(std::max(opt.length, room_for(a)), 1, limit);
  result.data = grow.start(room);
  if (result.data) result.capacity = room;
}

// Runs the entry (or its multibyte twin) with this thread's log lines
// captured in the worker's buffer.
int32_t CallSite::Impl::enter(FncArgList *a, Execution &x, const std::string &name) {
  std::vector<LogEntry> &lines = w.buffers.lines;
  lines.clear();
  LogCapture capture(lines);
  FncString *result = fn.result == Result::Direct ? &x.result : x.result_rec;
  return call_entry(fn, a, x.e, result, &x.number, opt.call_form, name.c_str());
}

int32_t call_entry(const Function &fn, FncArgList *a, const Entry &x, FncString *result, double *number,
                   bool call_form, const char *name) {
  using namespace zeq::typed;  // the entry shapes of the catalogue's rows
  switch (fn.result) {
    case Result::Char:
      return x.svc ? reinterpret_cast<MbCharEntry>(x.twin)(a, call_form ? nullptr : result, x.svc, 0, name)
                   : reinterpret_cast<CharEntry>(x.entry)(a, result);
    case Result::Number:
      return x.svc ? reinterpret_cast<MbNumberEntry>(x.twin)(a, number, x.svc, 0, name)
                   : reinterpret_cast<NumberEntry>(x.entry)(a, number);
    case Result::Direct:
      return reinterpret_cast<DirectEntry>(x.entry)(static_cast<FncString *>(a->args[0].value), result);
    case Result::Routine:
      return reinterpret_cast<RoutineEntry>(x.entry)(a);
  }
  return 0;
}

// The messages, the marked argument, the result and, for a CALL, the values
// the arguments hold after it.
void CallSite::Impl::collect(CallOutcome &out, const FncArgList *a, const Execution &x,
                             std::span<const Value> args) {
  take_messages(w.buffers.lines, out.messages);
  out.bad_argument = marked_argument(a);
  if (out.bad_argument > 0 && (size_t)out.bad_argument <= args.size())
    out.bad_value = describe_value(args[(size_t)out.bad_argument - 1]);
  const int n = a->argCount;
  if (fn.result == Result::Number) out.result = number_value(x.number);
  else if (x.target >= 0) out.result = Value::str(trim_right(text_of(*x.result_rec)));
  else if ((fn.result == Result::Char && !opt.call_form) || fn.result == Result::Direct)
    out.result = Value::str(text_of(x.result));
  if (!opt.call_form) return;
  for (int i = 0; i < n; i++) {
    const FncArg &g = a->args[i];
    if (!g.value) out.outputs.push_back(Value::missing());
    else if (g.type == FNC_ARG_NUMERIC) out.outputs.push_back(number_value(*static_cast<double *>(g.value)));
    else if (i == x.target) out.outputs.push_back(out.result);
    else out.outputs.push_back(Value::str(text_of(*static_cast<FncString *>(g.value))));
  }
}

void take_messages(std::vector<LogEntry> &lines, std::vector<Message> &out) {
  if (lines.empty()) return;
  out.reserve(out.size() + lines.size());
  for (LogEntry &e : lines) out.push_back({level_of(e), e.number, std::move(e.text)});
  lines.clear();
}

int marked_argument(const FncArgList *a) {
  for (int i = 0; i < a->argCount; i++)
    if (a->args[i].mark & FNC_MARK_BAD) return i + 1;
  return 0;
}

Worker::Worker(Host &host, Encoding encoding) : impl_(std::make_unique<Impl>(host, encoding)) {}
Worker::~Worker() { impl_->host.free_task(impl_->task); }

CallOutcome Worker::call(std::string_view name, std::span<const Value> args, const CallOptions &opt) {
  const std::string up = upper(name);
  const Function *fn = zeq::catalogue::find(up);
  if (!fn) return refused(up, "unknown function " + up);
  return call(*fn, args, opt);
}

CallOutcome Worker::call(const Function &fn, std::span<const Value> args, const CallOptions &opt) {
  // A fresh argument block for every call, in memory kept from the last one.
  CallSite::Impl site(*impl_, fn, opt);
  site.raw.swap(impl_->buffers.block);
  site.raw.clear();
  CallOutcome out = site.run(args);
  site.release_cache();
  site.raw.swap(impl_->buffers.block);
  return out;
}

Encoding Worker::encoding() const { return impl_->encoding; }
void Worker::set_encoding(Encoding e) { impl_->encoding = e; }
FncTask *Worker::task() const { return impl_->task; }
Host &Worker::host() const { return impl_->host; }

CallSite::CallSite(Worker &worker, const Function &fn, CallOptions opt)
    : impl_(std::make_unique<Impl>(*worker.impl_, fn, opt)) {}
CallSite::~CallSite() = default;
CallOutcome CallSite::call(std::span<const Value> args) { return impl_->run(args); }

}  // namespace zeqhost
