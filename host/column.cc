// host/column.cc - the column path (see host/column.h).
//
// A row goes: the kinds of its values (one byte each) compared with the last
// row's; on a change, the types those kinds resolve to (checked against the
// catalogue once per mix and remembered); the argument entries pointed at
// the row's values; the result record reset (the growable block of the last
// row is reused); the entry called; the result read where the module left it.
#include "host/column.h"

#include <limits>
#include <optional>

#include "host/call_internal.h"

namespace zeqhost {

using zeq::catalogue::Function;
using zeq::catalogue::Result;

namespace {

char kind_byte(Value::Kind k) { return k == Value::Text ? '2' : k == Value::Number ? '1' : 'm'; }

std::string takes_sentence(const Function &fn, size_t argc, size_t got) {
  return std::string(fn.name) + ": this call site takes " + std::to_string(argc) +
         (argc == 1 ? " argument" : " arguments") + ", got " + std::to_string(got);
}

}  // namespace

struct ColumnCall::Impl {
  Worker::Impl &w;
  const Function &fn;
  const CallOptions opt;
  const size_t argc;
  const std::string name;  // upper case, as the entries and sentences use it
  std::string error;
  Entry entry;
  std::unique_ptr<CallSite> site;  // the CALL form: every row through it

  // The argument block and the records its entries point at.
  std::vector<uint64_t> raw;
  std::vector<FncString> strings;
  std::vector<double> numbers;
  FncArgList *block() { return reinterpret_cast<FncArgList *>(raw.data()); }

  // The mixes of kinds seen so far and the types each resolves to ("" and
  // the sentence when the function refuses them).
  struct Mix {
    std::string kinds, types, error;
    int bad = 0;
  };
  std::vector<Mix> mixes;
  size_t mix = 0;      // the last row's
  std::string kinds;   // this row's
  CheckScratch scratch;

  // The open Block (blocks nest on one thread).
  int depth = 0;
  bool utf8 = false;
  std::optional<SessionHold> hold;
  std::vector<LogEntry> lines;  // the last row's

  // The last row.
  Cell cell;
  FncString result{};
  double number = 0;
  Growable grow;
  std::string fixed;
  std::string refusal;   // the sentence of a refused row
  int refused_bad = 0;
  std::string marked_value;  // the argument the module marked, as a sentence shows it
  CallOutcome slow;      // the outcome of a row run through `site`
  std::vector<Value> values;

  Impl(Worker::Impl &worker, const Function &f, size_t n, const CallOptions &o)
      : w(worker), fn(f), opt(o), argc(n), name(f.name), kinds(n, ' ') {}
  ~Impl() {
    if (!raw.empty()) w.release_cache(block());
  }

  void prepare(Worker &worker);
  size_t mix_for(const std::string &k);
  void open() {
    if (depth++ > 0) return;
    utf8 = w.encoding == Encoding::Utf8;
    hold.emplace(w.host.hold_session(utf8));
  }
  void close() {
    if (--depth > 0) return;
    hold.reset();
  }
  const Cell &run(std::span<const Arg> args);
  const Cell &refuse(std::string why, int bad);
  const Cell &run_slow(std::span<const Arg> args);
  const Cell &run_row(std::span<const Arg> args, const Mix &m);
  void reset_result(FncArgList *a);
};

void ColumnCall::Impl::prepare(Worker &worker) {
  if (opt.length < 0 || opt.length > kMaxResultLength) {
    error = name + ": the declared length " + std::to_string(opt.length) + " is outside 0 to " +
            std::to_string(kMaxResultLength);
    return;
  }
  // Missing values match every type: what is refused now is refused for
  // every row (the form, the count).
  std::vector<Value> probe(argc);
  int bad = 0;
  if (std::string err = check(fn, probe, opt.call_form, scratch, bad); !err.empty()) {
    error = std::move(err);
    return;
  }
  if (opt.call_form) {
    site = std::make_unique<CallSite>(worker, fn, opt);
    return;
  }
  w.lookup(fn, entry.entry, entry.twin);
  if (!entry.entry) {
    error = name + " is not available in this module build";
    return;
  }
  raw.assign((FNC_ARGLIST_SIZE(argc ? argc : 1) + 7) / 8, 0);
  FncArgList *a = block();
  a->task = w.task;
  a->callForm = FNC_FORM_FUNCTION;
  a->resultKind = (uint8_t)opt.result_kind;
  a->argCount = (int)argc;
  strings.assign(argc, FncString{});
  numbers.assign(argc, 0);
}

size_t ColumnCall::Impl::mix_for(const std::string &k) {
  for (size_t i = 0; i < mixes.size(); i++)
    if (mixes[i].kinds == k) return i;
  values.assign(argc, Value{});
  for (size_t i = 0; i < argc; i++)
    if (k[i] != 'm') values[i] = k[i] == '2' ? Value::str({}) : Value::num(0);
  Mix m{k, {}, {}, 0};
  m.error = check(fn, values, false, scratch, m.bad);
  if (m.error.empty()) m.types = scratch.types;
  mixes.push_back(std::move(m));
  return mixes.size() - 1;
}

const Cell &ColumnCall::Impl::refuse(std::string why, int bad) {
  cell = {};
  cell.refused = true;
  refusal = std::move(why);
  refused_bad = bad;
  return cell;
}

const Cell &ColumnCall::Impl::run(std::span<const Arg> args) {
  if (!error.empty()) return refuse(error, 0);
  if (args.size() != argc) return refuse(takes_sentence(fn, argc, args.size()), 0);
  if (site) return run_slow(args);
  bool same = !mixes.empty();
  for (size_t i = 0; i < argc; i++) {
    kinds[i] = kind_byte(args[i].kind);
    same = same && mixes[mix].kinds[i] == kinds[i];
  }
  if (!same) mix = mix_for(kinds);
  const Mix &m = mixes[mix];
  if (!m.error.empty()) return refuse(m.error, m.bad);
  if (depth > 0) return run_row(args, m);
  utf8 = w.encoding == Encoding::Utf8;
  const SessionHold hold = w.host.hold_session(utf8);
  return run_row(args, m);
}

const Cell &ColumnCall::Impl::run_slow(std::span<const Arg> args) {
  values.resize(argc);
  for (size_t i = 0; i < argc; i++) {
    const Arg &g = args[i];
    values[i] = g.kind == Value::Text ? Value::str(std::string(g.view()))
                : g.kind == Value::Number ? Value::num(g.number) : Value::missing();
  }
  slow = site->call(values);
  cell = {};
  cell.refused = !slow.error.empty();
  if (cell.refused) {
    refusal = slow.error;
    refused_bad = slow.bad_argument;
  }
  cell.status = slow.status;
  cell.noted = !slow.messages.empty();
  cell.kind = slow.result.kind;
  cell.number = slow.result.number;
  cell.text = slow.result.text;
  return cell;
}

// The result record of a row: the growable block the last row ended in
// (freed first when it grew large), or the fixed buffer of the declared
// length filled with blanks.
void ColumnCall::Impl::reset_result(FncArgList *a) {
  if (fn.result == Result::Number || fn.result == Result::Routine) return;
  grow.settle(result.data);
  result = FncString{};
  if (fn.result == Result::Char && opt.growable) start_growable(grow, result, opt, a);
  else if (fn.result == Result::Char || fn.result == Result::Direct) {
    fixed.assign((size_t)opt.length, ' ');
    result.maxLength = opt.length;
    result.data = fixed.data();
  }
}

const Cell &ColumnCall::Impl::run_row(std::span<const Arg> args, const Mix &m) {
  static char empty[1] = {0};
  FncArgList *a = block();
  const uint8_t str_type = (opt.varchar || utf8) ? FNC_ARG_VARCHAR : FNC_ARG_CHAR;
  const bool direct = fn.result == Result::Direct;
  for (size_t i = 0; i < argc; i++) {
    const Arg &v = args[i];
    FncArg &g = a->args[i];
    g.mark = 0;
    if (m.types[i] == '1') {
      g.type = FNC_ARG_NUMERIC;
      numbers[i] = v.kind == Value::Number ? v.number : missing_number();
      g.value = &numbers[i];
    } else if (v.kind == Value::Text || direct) {
      g.type = str_type;
      FncString &s = strings[i];
      // The module reads its arguments; the record's pointer is not const
      // only because the same record carries CALL targets.
      s.data = v.size ? const_cast<char *>(v.data) : empty;
      s.maxLength = s.length = (int64_t)v.size;
      g.value = &s;
    } else {
      g.type = str_type;
      g.value = nullptr;
    }
  }
  if (utf8 && entry.twin) entry.svc = w.twin_service(fn, a, utf8, entry.twin);
  reset_result(a);
  number = std::numeric_limits<double>::quiet_NaN();
  if (!lines.empty()) lines.clear();
  cell = {};
  {
    // Per row, not per block: the rows of several prepared calls may
    // interleave on one thread (several functions of one statement).
    LogCapture capture(lines);
    cell.status = call_entry(fn, a, entry, &result, &number, false, name.c_str());
  }
  cell.noted = !lines.empty();
  if (const int bad = cell.status ? marked_argument(a) : 0; bad > 0 && (size_t)bad <= argc) {
    const Arg &v = args[(size_t)bad - 1];
    marked_value = describe_value(v.kind == Value::Text ? Value::str(std::string(v.view()))
                                  : v.kind == Value::Number ? Value::num(v.number) : Value::missing());
  }
  if (fn.result == Result::Number) {
    if (!std::isnan(number)) cell.kind = Value::Number, cell.number = number;
  } else if (fn.result == Result::Char || direct) {
    cell.kind = Value::Text;
    cell.text = text_view(result);
  }
  // The row's values end here: no entry may point at them.
  for (size_t i = 0; i < argc; i++) a->args[i].value = nullptr;
  return cell;
}

ColumnCall::ColumnCall(Worker &worker, const Function &fn, size_t argc, const CallOptions &opt)
    : impl_(std::make_unique<Impl>(*worker.impl_, fn, argc, opt)) {
  impl_->prepare(worker);
}

ColumnCall::~ColumnCall() = default;

const std::string &ColumnCall::error() const { return impl_->error; }
const Function &ColumnCall::function() const { return impl_->fn; }
size_t ColumnCall::arg_count() const { return impl_->argc; }

ColumnCall::Block::Block(ColumnCall &call) : call_(call) { call_.impl_->open(); }
ColumnCall::Block::~Block() { call_.impl_->close(); }

const Cell &ColumnCall::run(std::span<const Arg> args) { return impl_->run(args); }

CallOutcome ColumnCall::outcome() const {
  const Impl &m = *impl_;
  if (m.site && !m.cell.refused) return m.slow;
  CallOutcome out;
  out.function = m.name;
  if (m.cell.refused) {
    out.error = m.refusal;
    out.bad_argument = m.refused_bad;
    return out;
  }
  out.status = m.cell.status;
  if (m.cell.kind == Value::Number) out.result = Value::num(m.cell.number);
  else if (m.cell.kind == Value::Text) out.result = Value::str(std::string(m.cell.text));
  for (const LogEntry &e : m.lines) out.messages.push_back({level_of(e), e.number, e.text});
  out.bad_argument = marked_argument(const_cast<Impl &>(m).block());
  if (out.bad_argument > 0) out.bad_value = m.marked_value;
  return out;
}

}  // namespace zeqhost
