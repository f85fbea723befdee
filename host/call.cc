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

// Buffers one check reuses from call to call: the kinds ('1', '2', 'm'
// missing) of the arguments the usage line names, their positions, and the
// resolved types ('1'/'2') of every argument.
struct CheckScratch {
  std::string kinds, resolved, types;
  std::vector<size_t> map;
};

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

// ---------------------------------------------------------------------------
// Records of one call.
// ---------------------------------------------------------------------------

// A growable result: the host's allocator record backed by realloc, never
// beyond kMaxResultLength.  The block the result ends in is kept for the next
// call, so a call whose result fits the room of the last one allocates nothing.
struct Growable {
  FncStringAllocator rec{};
  int64_t limit = kMaxResultLength;  // the call's max_length
  struct Block {
    void *data;
    int64_t size;
  };
  std::vector<Block> blocks;  // blocks[0] is the block kept from the last call

  static void *resize(FncStringAllocator *self, void *old, int64_t size, uint32_t) {
    auto *g = reinterpret_cast<Growable *>(self);
    if (size > g->limit) return nullptr;
    if (size <= 0) size = 1;
    auto held = std::find_if(g->blocks.begin(), g->blocks.end(), [&](const Block &b) { return old && b.data == old; });
    if (held != g->blocks.end() && held->size >= size) return old;
    void *p = std::realloc(old, (size_t)size);
    if (!p) return nullptr;
    if (held != g->blocks.end()) *held = {p, size};
    else g->blocks.push_back({p, size});
    return p;
  }
  // A result block of `room` bytes for the next call.
  char *start(int64_t room) {
    return static_cast<char *>(resize(&rec, blocks.empty() ? nullptr : blocks[0].data, room, 0));
  }
  // After a call: keeps the block `live` (the result's) unless it is large,
  // and frees the others.
  void settle(const void *live) {
    constexpr int64_t kKeep = int64_t(1) << 16;
    size_t kept = 0;
    for (const Block &b : blocks) {
      if (b.data == live && b.size <= kKeep && kept == 0) blocks[kept++] = b;
      else std::free(b.data);
    }
    blocks.resize(kept);
  }
  Growable() { rec.resize = resize; }
  ~Growable() { settle(nullptr); }
  Growable(const Growable &) = delete;
  Growable &operator=(const Growable &) = delete;
};

std::string text_of(const FncString &s) {
  int64_t n = s.length;
  const int64_t room = s.allocator ? s.capacity : s.maxLength;
  if (n > room) n = room;
  if (!s.data || n <= 0) return {};
  return std::string(s.data, (size_t)n);
}

std::string trim_right(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

double missing_number() {
  const uint64_t bits = FNC_MISSING_BITS;
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

Value number_value(double x) { return std::isnan(x) ? Value::missing() : Value::num(x); }

int level_of(const LogEntry &e) {
  if (e.kind != LogEntry::Catalogue) return e.level;
  static const std::pair<const char *, int> words[] = {{"INFO:", 1}, {"NOTE:", 2}, {"WARNING:", 3}, {"ERROR:", 4}};
  for (const auto &[w, l] : words)
    if (e.text.rfind(w, 0) == 0) return l;
  return 0;
}

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
  auto r = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

std::string CallOutcome::sentence() const {
  if (!error.empty()) return error;
  if (ok()) return "";
  std::string s = function + ": " + status_phrase(status);
  if (bad_argument > 0) {
    s += ", argument " + std::to_string(bad_argument);
    if (const Function *fn = zeq::catalogue::find(function)) {
      Form spare;
      const std::string name = arg_name(form_of(*fn, call_form, spare).names, (size_t)bad_argument - 1);
      if (!name.empty()) s += " (" + name + ")";
    }
  }
  const char *sep = ": ";
  for (const Message &m : messages) {
    s += sep + body_of(m.text);
    if (m.number > 0 && m.number < 1000) s += " (message " + std::to_string(m.number) + ")";  // not a status
    sep = " ";
  }
  return s;
}

// ---------------------------------------------------------------------------
// Worker and call sites.
// ---------------------------------------------------------------------------

namespace {

// The values behind one execution's argument entries, one slot per argument;
// the texts keep their capacity from call to call.
struct Frame {
  std::vector<std::string> texts;
  std::vector<FncString> strings;
  std::vector<double> numbers;

  void reset(size_t n) {
    constexpr size_t kKeep = size_t(1) << 16;  // a larger text is not kept for the next call
    for (std::string &t : texts)
      if (t.capacity() > kKeep) std::string().swap(t);
    if (texts.size() < n) texts.resize(n);
    strings.assign(n, FncString{});
    numbers.assign(n, 0);
  }
  FncString *text(size_t i, const std::string &t, int64_t padded_to = -1) {
    std::string &b = texts[i];
    b.assign(t);
    // A fixed variable is blank-padded to its declared length.
    if (padded_to >= 0 && (int64_t)b.size() < padded_to) b.resize((size_t)padded_to, ' ');
    FncString &s = strings[i];
    s.maxLength = s.length = (int64_t)b.size();
    s.data = b.data();
    return &s;
  }
  double *number(size_t i, double x) {
    numbers[i] = x;
    return &numbers[i];
  }
};

// What a worker's calls reuse from one call to the next (calls of one worker
// never overlap).
struct CallBuffers {
  CheckScratch check;
  Frame frame;
  Growable grow;
  std::string fixed;
  std::vector<LogEntry> lines;
  std::vector<uint64_t> block;  // the argument block of Worker::call
};

}  // namespace

struct Worker::Impl {
  Host &host;
  FncTask *task;
  Encoding encoding;
  std::vector<void *> entries, twins;  // by catalogue row, looked up once
  std::vector<bool> looked;
  CallBuffers buffers;
  Impl(Host &h, Encoding e)
      : host(h), task(h.new_task()), encoding(e), entries(zeq::catalogue::kFunctionCount),
        twins(zeq::catalogue::kFunctionCount), looked(zeq::catalogue::kFunctionCount) {}
  void lookup(const Function &fn, void *&entry, void *&twin) {
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
};

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
    void *entry = nullptr, *twin = nullptr;
    int target = -1;                  // the CALL target's argument, or -1
    ZeqStringService *svc = nullptr;  // set: the multibyte twin runs
    FncString result{};
    FncString *result_rec = nullptr;  // `result`, or the CALL target's record
    double number = std::nan("");
  };
  // The steps of run(), in order.  admit returns "" or why the call is refused.
  std::string admit(std::span<const Value> args, const std::string &name, Execution &x, int &bad);
  FncArgList *fill(std::span<const Value> args, bool utf8, int target);
  ZeqStringService *twin_service(FncArgList *a, bool utf8, void *twin);
  void prepare_result(FncArgList *a, Execution &x);
  int32_t enter(FncArgList *a, Execution &x, const std::string &name);
  void collect(CallOutcome &out, const FncArgList *a, const Execution &x);

  // A call-site cache the module hung on noteCount goes back to the task's
  // pool with the call site, as the host gives it back.
  void release_cache() {
    if (raw.empty() || !block()->noteCount) return;
    void *cache = reinterpret_cast<void *>((uintptr_t)block()->noteCount);
    if (w.host.pool_of(w.task).holds(cache)) w.task->pool->release(w.task->pool, cache);
    block()->noteCount = 0;
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
  x.svc = twin_service(a, utf8, x.twin);
  prepare_result(a, x);

  CallOutcome out;
  out.function = name;
  out.call_form = opt.call_form;
  out.status = enter(a, x, name);
  collect(out, a, x);
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
  w.lookup(fn, x.entry, x.twin);
  if (!x.entry) return name + " is not available in this module build";
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

// The multibyte twin the host calls itself when the first argument holds a
// multibyte character: the service it gets, or null for the plain entry.
ZeqStringService *CallSite::Impl::twin_service(FncArgList *a, bool utf8, void *twin) {
  if (!utf8 || !twin || !fn.has(zeq::catalogue::ZEQ_FN_HOST_ROUTES)) return nullptr;
  auto routes = w.host.fn<ZeqStringService *(*)(FncArgList *)>("CheckVarcharAndMultibyte");
  return routes ? routes(a) : nullptr;
}

namespace {

// Room for any character result the arguments can give: every byte quoted
// or written in hexadecimal, every number in full, and a separator (at most
// as long as the longest argument) after every item.  CATQ fills only the
// room a result already has and never grows a growable one, so a growable
// result starts with this much.
int64_t room_for(const FncArgList *a) {
  int64_t room = 64, longest = 0;
  for (int i = 0; i < a->argCount; i++) {
    const FncArg &g = a->args[i];
    const auto *text = (g.type & FNC_ARG_ISCHAR) && g.value ? static_cast<const FncString *>(g.value) : nullptr;
    const int64_t n = text && text->length > 0 ? text->length : 0;
    room += 3 * n + 48;
    longest = std::max(longest, n);
  }
  return std::min(room + longest * a->argCount, kMaxResultLength);
}

}  // namespace

void CallSite::Impl::prepare_result(FncArgList *a, Execution &x) {
  FncString &result = x.result;
  x.result_rec = &result;
  if (x.target >= 0) {
    x.result_rec = static_cast<FncString *>(a->args[x.target].value);
  } else if (fn.result == Result::Char && opt.growable) {
    const int64_t limit = std::clamp<int64_t>(opt.max_length, 1, kMaxGrowableLength);
    w.buffers.grow.limit = limit;
    result.maxLength = limit;
    result.allocator = &w.buffers.grow.rec;
    // A growable result starts with the declared length as its room, as a
    // host's does, or with room for whatever the arguments can give.
    const int64_t room = std::clamp<int64_t>(std::max(opt.length, room_for(a)), 1, limit);
    result.data = w.buffers.grow.start(room);
    if (result.data) result.capacity = room;
  } else if (fn.result == Result::Char || fn.result == Result::Direct) {
    std::string &fixed = w.buffers.fixed;
    fixed.assign((size_t)opt.length, ' ');
    result.maxLength = opt.length;
    result.data = fixed.data();
  }
}

// Runs the entry (or its multibyte twin) with this thread's log lines
// captured in the worker's buffer.
int32_t CallSite::Impl::enter(FncArgList *a, Execution &x, const std::string &name) {
  std::vector<LogEntry> &lines = w.buffers.lines;
  lines.clear();
  LogCapture capture(lines);
  using MbChar = int32_t (*)(FncArgList *, FncString *, ZeqStringService *, int32_t, const char *);
  using MbNum = int32_t (*)(FncArgList *, double *, ZeqStringService *, int32_t, const char *);
  switch (fn.result) {
    case Result::Char:
      return x.svc ? reinterpret_cast<MbChar>(x.twin)(a, opt.call_form ? nullptr : x.result_rec, x.svc, 0,
                                                      name.c_str())
                   : reinterpret_cast<FncCharEntry>(x.entry)(a, x.result_rec);
    case Result::Number:
      return x.svc ? reinterpret_cast<MbNum>(x.twin)(a, &x.number, x.svc, 0, name.c_str())
                   : reinterpret_cast<FncNumEntry>(x.entry)(a, &x.number);
    case Result::Direct:
      return reinterpret_cast<FncDirectEntry>(x.entry)(static_cast<FncString *>(a->args[0].value), &x.result);
    case Result::Routine:
      return reinterpret_cast<int32_t (*)(FncArgList *)>(x.entry)(a);
  }
  return 0;
}

// The messages, the marked argument, the result and, for a CALL, the values
// the arguments hold after it.
void CallSite::Impl::collect(CallOutcome &out, const FncArgList *a, const Execution &x) {
  std::vector<LogEntry> &lines = w.buffers.lines;
  if (!lines.empty()) {
    out.messages.reserve(lines.size());
    for (LogEntry &e : lines) out.messages.push_back({level_of(e), e.number, std::move(e.text)});
    lines.clear();
  }
  const int n = a->argCount;
  for (int i = 0; i < n && !out.bad_argument; i++)
    if (a->args[i].mark & FNC_MARK_BAD) out.bad_argument = i + 1;
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
