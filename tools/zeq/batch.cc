#include "tools/zeq/batch.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "host/call.h"
#include "host/column.h"
#include "tools/zeq/parser.h"
#include "tools/zeq/registry.h"
#include "tools/zeq/session.h"

namespace zeqtool {

namespace {

using zeqhost::CallOutcome;
using zeqhost::Value;

constexpr size_t kBlockRows = 2048;            // rows handed to a thread at a time
constexpr size_t kBlockBytes = 1u << 20;       // ... or fewer when they are long

std::string trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? std::string() : std::string(s.substr(b, e - b + 1));
}

// How a name compares: case-blind, without surrounding blanks.
std::string key(std::string_view name) { return upper(trim(name)); }

// One argument of a new column: a constant, or the value of an input column.
struct Operand {
  Value constant;
  int column = -1;
  bool numeric = false;
};

// One NAME=EXPRESSION.
struct Column {
  std::string name;
  const Function *fn = nullptr;
  std::vector<Operand> operands;
};

// A leading CALL statement, run once by every worker before its first row.
struct Setup {
  const Function *fn = nullptr;
  std::vector<Value> args;
};

struct Plan {
  Record header;              // the input's column names (c1, c2, ... without a header row)
  std::vector<bool> numeric;  // per input column
  std::vector<Setup> setup;
  std::vector<Column> columns;
  zeqhost::CallOptions call;
  zeqhost::Encoding encoding = zeqhost::Encoding::Utf8;
  Dialect dialect;
};

// A failed plan step: the sentence, and exit status 2.
struct PlanError {
  std::string message;
};

int find_column(const Plan &plan, const std::string &name) {
  const std::string u = key(name);
  for (size_t i = 0; i < plan.header.size(); i++)
    if (key(plan.header[i]) == u) return (int)i;
  return -1;
}

std::string column_list(const Plan &plan) {
  std::string out;
  for (auto &h : plan.header) out += (out.empty() ? "" : ", ") + h;
  return out;
}

// Every name the header gives more than once (case-blind), with its columns.
void check_header(const Record &header) {
  std::map<std::string, std::vector<size_t>> seen;
  for (size_t i = 0; i < header.size(); i++) seen[key(header[i])].push_back(i + 1);
  std::string dup;
  for (size_t i = 0; i < header.size(); i++) {
    const auto &at = seen[key(header[i])];
    if (at.size() < 2 || at.front() != i + 1) continue;
    dup += (dup.empty() ? "" : "; ") + ("'" + header[i] + "' in columns ");
    for (size_t k = 0; k < at.size(); k++) dup += (k ? k + 1 == at.size() ? " and " : ", " : "") + std::to_string(at[k]);
  }
  if (!dup.empty()) throw PlanError{"the header names a column twice: " + dup + " (a name must say which column it is)"};
}

Statement parse_or_throw(const std::string &text, const std::string &what) {
  ParseError err;
  auto st = parse_statement(text, err);
  if (!st) throw PlanError{what + ": parse error at column " + std::to_string(err.column) + ": " + err.message};
  return *st;
}

const Function &function_or_throw(const Statement &st, const std::string &what) {
  std::string error;
  const Function *fn = callable(st.name, st.call, error);
  if (!fn) throw PlanError{what + ": " + error};
  return *fn;
}

Setup plan_setup(const std::string &spec) {
  const std::string what = "'" + spec + "'";
  Statement st = parse_or_throw(spec, what);
  Setup s{&function_or_throw(st, what), {}};
  for (const Arg &a : st.args) {
    if (a.kind == Arg::Variable) throw PlanError{what + ": a CALL before the columns takes constants only"};
    s.args.push_back(constant_value(a));
  }
  if (std::string err = zeqhost::check_call(*s.fn, s.args, true); !err.empty()) throw PlanError{what + ": " + err};
  return s;
}

// A new column's name may be neither an input column's nor another new one's.
void check_new_name(const Plan &plan, const std::string &name) {
  if (find_column(plan, name) >= 0)
    throw PlanError{"column " + name + ": the input already has a column " + name + " (choose another name)"};
  for (const Column &c : plan.columns)
    if (key(c.name) == key(name)) throw PlanError{"column " + name + " is given twice"};
}

Column plan_column(const Plan &plan, const std::string &spec) {
  const size_t eq = spec.find('=');
  Column c;
  c.name = trim(spec.substr(0, eq));
  check_new_name(plan, c.name);
  const std::string what = "column " + c.name;
  Statement st = parse_or_throw(spec.substr(eq + 1), what);
  if (st.call) throw PlanError{what + ": a CALL can only come before the NAME=EXPRESSION columns"};
  c.fn = &function_or_throw(st, what);
  std::vector<Value> sample;  // the types every row will pass, for the check
  for (const Arg &a : st.args) {
    Operand op;
    if (a.kind == Arg::Variable) {
      op.column = find_column(plan, a.text);
      if (op.column < 0)
        throw PlanError{what + ": " + a.text + " names no input column (the columns are " + column_list(plan) + ")"};
      op.numeric = plan.numeric[op.column];
      sample.push_back(op.numeric ? Value::num(0) : Value::str(""));
    } else {
      op.constant = constant_value(a);
      sample.push_back(op.constant);
    }
    c.operands.push_back(std::move(op));
  }
  if (std::string err = zeqhost::check_call(*c.fn, sample, false); !err.empty()) throw PlanError{what + ": " + err};
  return c;
}

bool is_call(const std::string &spec) {
  return upper(trim(spec)).rfind("CALL", 0) == 0 && spec.find('=') > spec.find('(');
}

Plan make_plan(const BatchOptions &opt, Record header) {
  Plan plan;
  if (!opt.no_header) check_header(header);
  plan.header = std::move(header);
  plan.numeric.assign(plan.header.size(), false);
  for (const std::string &name : opt.numeric) {
    int i = find_column(plan, name);
    if (i < 0) throw PlanError{"--num " + name + ": no such column (the columns are " + column_list(plan) + ")"};
    plan.numeric[i] = true;
  }
  for (const std::string &spec : opt.specs) {
    if (is_call(spec) && !plan.columns.empty())
      throw PlanError{"'" + spec + "': a CALL can only come before the NAME=EXPRESSION columns"};
    if (is_call(spec)) plan.setup.push_back(plan_setup(spec));
    else if (spec.find('=') == std::string::npos || trim(spec.substr(0, spec.find('='))).empty())
      throw PlanError{"'" + spec + "' is not NAME=EXPRESSION"};
    else plan.columns.push_back(plan_column(plan, spec));
  }
  if (plan.columns.empty()) throw PlanError{"no NAME=EXPRESSION column given"};
  plan.call.length = opt.length;
  plan.call.growable = opt.growable;
  plan.call.max_length = zeqhost::kMaxGrowableLength;
  plan.call.result_kind = opt.result_kind;
  plan.call.varchar = opt.varchar;
  plan.encoding = opt.utf8 ? zeqhost::Encoding::Utf8 : zeqhost::Encoding::Latin1;
  plan.dialect = opt.dialect;
  return plan;
}

// Rows of the input, `width` fields each, in one buffer.
struct Block {
  size_t index = 0;
  int64_t first_row = 0;  // 1-based data row of the first row
  size_t rows = 0;
  Fields fields;
};

// What a thread made of a block: the text to write and the messages.
struct Done {
  std::string text, messages;
  size_t rows = 0;
  bool failed = false, noted = false, stop = false;
};

// One thread's worker, with a prepared call per new column (the column path:
// per row only the argument views, the entry call and the result).
class Evaluator {
 public:
  Evaluator(zeqhost::Host &host, const Plan &plan, BatchOptions::OnError on_error)
      : plan_(plan), width_(plan.header.size()), on_error_(on_error), worker_(host, plan.encoding) {
    zeqhost::CallOptions call = plan.call;
    call.call_form = true;
    for (const Setup &s : plan.setup) {
      CallOutcome o = worker_.call(*s.fn, s.args, call);
      if (!o.ok()) setup_errors_ += o.sentence() + "\n";
    }
    for (const Column &c : plan.columns) {
      calls_.push_back(std::make_unique<zeqhost::ColumnCall>(worker_, *c.fn, c.operands.size(), plan.call));
      args_.emplace_back();
      for (const Operand &op : c.operands) args_.back().push_back(zeqhost::Arg::of(op.constant));
    }
    results_.resize(plan.columns.size());
  }

  // Why the leading CALL statements failed, one sentence a line ("" when they ran).
  const std::string &setup_errors() const { return setup_errors_; }

  Done run(const Block &b) {
    Done d;
    std::vector<std::unique_ptr<zeqhost::ColumnCall::Block>> holds;  // the session hold, per block of rows
    for (auto &call : calls_) holds.push_back(std::make_unique<zeqhost::ColumnCall::Block>(*call));
    for (size_t i = 0; i < b.rows && !d.stop; i++) {
      const size_t first = i * width_;
      const int64_t row = b.first_row + (int64_t)i;
      bool keep = true;
      for (size_t c = 0; c < plan_.columns.size() && keep; c++) {
        results_[c].clear();
        if (evaluate(c, b.fields, first, row, results_[c], d)) continue;
        d.failed = true;
        if (on_error_ == BatchOptions::OnError::Stop) d.stop = true;
        keep = on_error_ == BatchOptions::OnError::Empty;
        results_[c].clear();
      }
      if (!keep) continue;
      append_row(d.text, b.fields, first);
      d.rows++;
    }
    return d;
  }

 private:
  void append_row(std::string &text, const Fields &fields, size_t first) const {
    const char d = plan_.dialect.delimiter;
    for (size_t f = 0; f < width_; f++) {
      append_field(text, fields[first + f], plan_.dialect);
      text.push_back(d);
    }
    for (size_t c = 0; c < results_.size(); c++) {
      if (c) text.push_back(d);
      append_field(text, results_[c], plan_.dialect);
    }
    text.push_back('\n');
  }

  // Computes one new column of a row into `field`; false (with the message)
  // when the call fails.
  bool evaluate(size_t c, const Fields &fields, size_t first, int64_t rownum, std::string &field, Done &d) {
    const Column &col = plan_.columns[c];
    auto where = [&] { return "row " + std::to_string(rownum) + ", column " + col.name + ": "; };
    std::vector<zeqhost::Arg> &args = args_[c];
    for (size_t k = 0; k < col.operands.size(); k++) {
      const Operand &op = col.operands[k];
      if (op.column < 0) continue;
      const std::string_view text = fields[first + (size_t)op.column];
      if (!op.numeric) {
        args[k] = zeqhost::Arg::text(text);
        continue;
      }
      auto x = text.empty() ? std::optional<double>() : parse_number(trim(text));
      if (!text.empty() && !x) {
        d.messages += where() + "the value '" + std::string(text) + "' of column " + plan_.header[op.column] +
                      " is not a number\n";
        return false;
      }
      args[k] = x ? zeqhost::Arg::num(*x) : zeqhost::Arg::missing();
    }
    zeqhost::ColumnCall &call = *calls_[c];
    const zeqhost::Cell &cell = call.run(args);
    if (!cell.ok()) {
      d.messages += where() + call.outcome().sentence() + "\n";
      return false;
    }
    if (cell.noted)
      for (const auto &m : call.outcome().messages) {
        if (m.level < 2) continue;
        d.noted = true;
        d.messages += where() + m.text + "\n";
      }
    if (cell.kind == Value::Number) field = zeqhost::format_number(cell.number);
    else if (cell.kind == Value::Text) field.assign(cell.text);
    return true;
  }

  const Plan &plan_;
  size_t width_;
  BatchOptions::OnError on_error_;
  zeqhost::Worker worker_;
  std::vector<std::unique_ptr<zeqhost::ColumnCall>> calls_;
  std::vector<std::vector<zeqhost::Arg>> args_;  // per column; constants set once
  std::vector<std::string> results_;
  std::string setup_errors_;
};

// The progress line on stderr: rows, rows per second, elapsed, and percent
// and time left when the input's size is known.  It is cut to the terminal's
// width, so it never wraps, and it is gone when the run ends.
class Progress {
 public:
  Progress(bool on, uint64_t total_bytes) : on_(on), total_(total_bytes), start_(Clock::now()), last_(start_) {}

  void update(uint64_t rows, uint64_t bytes) {
    if (!on_) return;
    auto now = Clock::now();
    if (now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    const double secs = std::chrono::duration<double>(now - start_).count();
    char line[200];
    int n = std::snprintf(line, sizeof line, "%llu rows  %.0f rows/s  %s elapsed", (unsigned long long)rows,
                          secs > 0 ? rows / secs : 0.0, clock_text(secs).c_str());
    if (total_ && bytes && n > 0 && (size_t)n < sizeof line) {
      const double frac = std::min(1.0, (double)bytes / (double)total_);
      std::snprintf(line + n, sizeof line - n, "  %.0f%%  %s left", frac * 100,
                    clock_text(frac > 0 ? secs / frac - secs : 0).c_str());
    }
    std::string text(line);
    text.resize(std::min(text.size(), columns() - 1));  // the last column would wrap on some terminals
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    std::fflush(stderr);
  }

  // Takes the bar away (before other lines go to stderr, and at the end).
  void clear() {
    if (on_) std::fputs("\r\033[K", stderr);
  }

 private:
  using Clock = std::chrono::steady_clock;
  static std::string clock_text(double secs) {
    char buf[32];
    long s = (long)secs;
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return buf;
  }
  static size_t columns() {
    struct winsize ws {};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 ? ws.ws_col : 80;
  }
  bool on_;
  uint64_t total_;
  Clock::time_point start_, last_;
};

// The reader, the threads and the writer share this.
struct Pipeline {
  std::mutex m;
  std::condition_variable cv;
  std::deque<Block> todo;
  std::map<size_t, Done> done;
  size_t blocks_read = 0, next_write = 0, window = 4;
  bool input_end = false, stop = false;
  bool failed = false, noted = false;
  std::atomic<uint64_t> bytes{0};

  // Queues a block unless the run was stopped; waits while `window` blocks
  // are on their way, which bounds memory.
  bool submit(Block &b) {
    std::unique_lock lk(m);
    cv.wait(lk, [&] { return blocks_read - next_write < window || stop; });
    if (stop) return false;
    b.index = blocks_read++;
    todo.push_back(std::move(b));
    cv.notify_all();
    return true;
  }

  void finish_input() {
    std::lock_guard lk(m);
    input_end = true;
    cv.notify_all();
  }

  void work(Evaluator &ev) {
    for (;;) {
      Block b;
      {
        std::unique_lock lk(m);
        cv.wait(lk, [&] { return !todo.empty() || input_end || stop; });
        if (stop || todo.empty()) return;
        b = std::move(todo.front());
        todo.pop_front();
      }
      Done d = ev.run(b);
      std::lock_guard lk(m);
      done.emplace(b.index, std::move(d));
      cv.notify_all();
    }
  }

  // Writes the blocks in input order; a write that fails stops everything.
  void write(Output &out, Progress &progress) {
    uint64_t rows = 0;
    for (;;) {
      Done d;
      {
        std::unique_lock lk(m);
        cv.wait(lk, [&] { return done.count(next_write) || (input_end && next_write == blocks_read) || stop; });
        auto it = done.find(next_write);
        if (it == done.end()) break;
        d = std::move(it->second);
        done.erase(it);
      }
      const bool written = out.write(d.text);
      if (!d.messages.empty()) {
        out.flush();
        progress.clear();
        std::fputs(d.messages.c_str(), stderr);
      }
      rows += d.rows;
      progress.update(rows, bytes);
      std::lock_guard lk(m);
      failed |= d.failed;
      noted |= d.noted;
      next_write++;
      stop |= d.stop || !written;
      cv.notify_all();
      if (stop) break;
    }
    out.flush();
    progress.clear();
  }
};

bool show_progress(const BatchOptions &opt) {
  if (opt.progress == BatchOptions::Progress::Auto) return isatty(STDERR_FILENO) != 0;
  return opt.progress == BatchOptions::Progress::On;
}

uint64_t file_size(std::FILE *f) {
  struct stat st;
  return fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) ? (uint64_t)st.st_size : 0;
}

// Reads the rows into blocks, starting with `first` (a data row already read,
// or none); answers the input error ("" none).  `shape` says where the width
// comes from ("the header has").
std::string read_blocks(CsvReader &reader, Fields first, size_t width, const std::string &shape, Pipeline &p) {
  Block b;
  b.first_row = 1;
  b.fields = std::move(first);
  b.rows = b.fields.size() ? 1 : 0;
  int64_t row = (int64_t)b.rows;
  std::string error;
  for (;;) {
    const size_t n = reader.next(b.fields);
    if (n == 0) break;
    if (n != width) {
      b.fields.bytes.resize(b.rows ? b.fields.ends[b.rows * width - 1] : 0);
      b.fields.ends.resize(b.rows * width);
      error = "line " + std::to_string(reader.line()) + ": " + std::to_string(n) + (n == 1 ? " field" : " fields") +
              " where " + shape + " " + std::to_string(width);
      break;
    }
    b.rows++;
    row++;
    if (b.rows < kBlockRows && b.fields.bytes.size() < kBlockBytes) continue;
    p.bytes = reader.bytes();
    if (!p.submit(b)) return {};
    b = Block();
    b.first_row = row + 1;
  }
  p.bytes = reader.bytes();
  if (b.rows && !p.submit(b)) return {};
  return error.empty() ? reader.error() : error;
}

}  // namespace

int run_batch(zeqhost::Host &host, const BatchOptions &opt, Output &out) {
  std::FILE *in = opt.input == "-" ? stdin : std::fopen(opt.input.c_str(), "rb");
  if (!in) {
    std::fprintf(stderr, "zeq: batch: cannot open %s: %s\n", opt.input.c_str(), std::strerror(errno));
    return 2;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> closer(in == stdin ? nullptr : in, std::fclose);
  CsvReader reader(in, opt.dialect);
  Fields first;
  const size_t width = reader.next(first);
  if (!width && (opt.no_header && reader.error().empty())) return 0;  // nothing to do
  if (!width) {
    std::fprintf(stderr, "zeq: batch: %s\n", reader.error().empty() ? "the input has no header row" : reader.error().c_str());
    return 2;
  }
  Record header;
  for (size_t i = 0; i < width; i++) header.push_back(opt.no_header ? "c" + std::to_string(i + 1) : std::string(first[i]));
  if (!opt.no_header) first.clear();
  Plan plan;
  try {
    plan = make_plan(opt, header);
  } catch (const PlanError &e) {
    std::fprintf(stderr, "zeq: batch: %s\n", e.message.c_str());
    return 2;
  }
  const unsigned jobs = std::max(1u, opt.jobs);
  std::vector<std::unique_ptr<Evaluator>> evaluators;
  for (unsigned j = 0; j < jobs; j++) evaluators.push_back(std::make_unique<Evaluator>(host, plan, opt.on_error));
  if (std::string err = evaluators.front()->setup_errors(); !err.empty()) {
    std::fprintf(stderr, "zeq: batch: %s", err.c_str());
    return 1;
  }

  if (!opt.no_header) {
    std::string line;
    Record names = plan.header;
    for (const Column &c : plan.columns) names.push_back(c.name);
    append_record(line, names, plan.dialect);
    if (!out.write(line)) {
      std::fprintf(stderr, "zeq: %s\n", out.sentence().c_str());
      return 2;
    }
  }
  Pipeline p;
  p.window = 2 * jobs + 2;
  Progress progress(show_progress(opt), file_size(in));
  std::vector<std::thread> threads;
  for (auto &ev : evaluators) threads.emplace_back([&p, e = ev.get()] { p.work(*e); });
  std::thread writer([&] { p.write(out, progress); });
  const std::string input_error =
      read_blocks(reader, std::move(first), width, opt.no_header ? "the first row has" : "the header has", p);
  p.finish_input();
  writer.join();
  for (auto &t : threads) t.join();
  if (out.failed()) {
    std::fprintf(stderr, "zeq: %s\n", out.sentence().c_str());
    return 2;
  }
  if (!input_error.empty() && !p.stop) {
    std::fprintf(stderr, "zeq: batch: %s\n", input_error.c_str());
    return 2;
  }
  return p.failed || p.noted ? 1 : 0;
}

}  // namespace zeqtool
