#include "tools/zeq/batch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include <sys/stat.h>

#include "host/call.h"
#include "tools/zeq/csv.h"
#include "tools/zeq/parser.h"
#include "tools/zeq/registry.h"
#include "tools/zeq/session.h"

namespace zeqtool {

namespace {

using zeqhost::CallOutcome;
using zeqhost::Value;

constexpr size_t kBlockRows = 2048;            // rows handed to a thread at a time
constexpr size_t kBlockBytes = 1u << 20;       // ... or fewer when they are long

std::string trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

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
  Record header;
  std::vector<bool> numeric;  // per input column
  std::vector<Setup> setup;
  std::vector<Column> columns;
  zeqhost::CallOptions call;
  zeqhost::Encoding encoding = zeqhost::Encoding::Latin1;
  char delimiter = ',';
};

// A failed plan step: the sentence, and exit status 2.
struct PlanError {
  std::string message;
};

int find_column(const Plan &plan, const std::string &name) {
  const std::string u = upper(name);
  for (size_t i = 0; i < plan.header.size(); i++)
    if (upper(trim(plan.header[i])) == u) return (int)i;
  return -1;
}

std::string column_list(const Plan &plan) {
  std::string out;
  for (auto &h : plan.header) out += (out.empty() ? "" : ", ") + h;
  return out;
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

Column plan_column(const Plan &plan, const std::string &spec) {
  const size_t eq = spec.find('=');
  Column c;
  c.name = trim(spec.substr(0, eq));
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

Plan make_plan(const BatchOptions &opt, Record header) {
  Plan plan;
  plan.header = std::move(header);
  plan.numeric.assign(plan.header.size(), false);
  for (const std::string &name : opt.numeric) {
    int i = find_column(plan, name);
    if (i < 0) throw PlanError{"--num " + name + ": no such column (the columns are " + column_list(plan) + ")"};
    plan.numeric[i] = true;
  }
  for (const std::string &spec : opt.specs) {
    const bool is_call = upper(trim(spec)).rfind("CALL", 0) == 0 && spec.find('=') > spec.find('(');
    if (is_call && !plan.columns.empty())
      throw PlanError{"'" + spec + "': a CALL can only come before the NAME=EXPRESSION columns"};
    if (is_call) plan.setup.push_back(plan_setup(spec));
    else if (spec.find('=') == std::string::npos || trim(spec.substr(0, spec.find('='))).empty())
      throw PlanError{"'" + spec + "' is not NAME=EXPRESSION"};
    else plan.columns.push_back(plan_column(plan, spec));
  }
  if (plan.columns.empty()) throw PlanError{"no NAME=EXPRESSION column given"};
  plan.call.length = opt.length;
  plan.call.growable = opt.growable;
  plan.call.result_kind = opt.result_kind;
  plan.call.varchar = opt.varchar;
  plan.encoding = opt.utf8 ? zeqhost::Encoding::Utf8 : zeqhost::Encoding::Latin1;
  plan.delimiter = opt.tsv ? '\t' : ',';
  return plan;
}

struct Block {
  size_t index = 0;
  int64_t first_row = 0;  // 1-based data row of rows[0]
  std::vector<Record> rows;
};

// What a thread made of a block: the text to write and the messages.
struct Done {
  std::string text, messages;
  size_t rows = 0;
  bool failed = false, noted = false, stop = false;
};

// One thread's worker, with its call sites.
class Evaluator {
 public:
  Evaluator(zeqhost::Host &host, const Plan &plan, BatchOptions::OnError on_error)
      : plan_(plan), on_error_(on_error), worker_(host, plan.encoding) {
    zeqhost::CallOptions call = plan.call;
    call.call_form = true;
    for (const Setup &s : plan.setup) {
      CallOutcome o = worker_.call(*s.fn, s.args, call);
      if (!o.ok()) setup_errors_ += o.sentence() + "\n";
    }
    for (const Column &c : plan.columns) sites_.push_back(std::make_unique<zeqhost::CallSite>(worker_, *c.fn, plan.call));
  }

  // Why the leading CALL statements failed, one sentence a line ("" when they ran).
  const std::string &setup_errors() const { return setup_errors_; }

  Done run(Block &b) {
    Done d;
    std::vector<std::string> results(plan_.columns.size());
    for (size_t i = 0; i < b.rows.size() && !d.stop; i++) {
      const int64_t row = b.first_row + (int64_t)i;
      bool keep = true;
      for (size_t c = 0; c < plan_.columns.size() && keep; c++) {
        results[c].clear();
        if (evaluate(c, b.rows[i], row, results[c], d)) continue;
        d.failed = true;
        if (on_error_ == BatchOptions::OnError::Stop) d.stop = true;
        keep = on_error_ == BatchOptions::OnError::Empty;
        results[c].clear();
      }
      if (!keep) continue;
      append_row(d.text, b.rows[i], results);
      d.rows++;
    }
    return d;
  }

 private:
  void append_row(std::string &text, const Record &row, const std::vector<std::string> &results) const {
    for (size_t f = 0; f < row.size(); f++) {
      append_field(text, row[f], plan_.delimiter);
      text.push_back(plan_.delimiter);
    }
    for (size_t c = 0; c < results.size(); c++) {
      if (c) text.push_back(plan_.delimiter);
      append_field(text, results[c], plan_.delimiter);
    }
    text.push_back('\n');
  }

  // Computes one new column of a row into `field`; false (with the message)
  // when the call fails.
  bool evaluate(size_t c, const Record &row, int64_t rownum, std::string &field, Done &d) {
    const Column &col = plan_.columns[c];
    auto where = [&] { return "row " + std::to_string(rownum) + ", column " + col.name + ": "; };
    args_.clear();
    for (const Operand &op : col.operands) {
      if (op.column < 0) {
        args_.push_back(op.constant);
        continue;
      }
      const std::string &text = row[op.column];
      if (!op.numeric) {
        args_.push_back(Value::str(text));
        continue;
      }
      auto x = text.empty() ? std::optional<double>() : parse_number(trim(text));
      if (!text.empty() && !x) {
        d.messages += where() + "the value '" + text + "' of column " + plan_.header[op.column] + " is not a number\n";
        return false;
      }
      args_.push_back(x ? Value::num(*x) : Value::missing());
    }
    CallOutcome out = sites_[c]->call(args_);
    if (!out.ok()) {
      d.messages += where() + out.sentence() + "\n";
      return false;
    }
    for (const auto &m : out.messages) {
      if (m.level < 2) continue;
      d.noted = true;
      d.messages += where() + m.text + "\n";
    }
    if (out.result.kind == Value::Number) field = zeqhost::format_number(out.result.number);
    else if (out.result.kind == Value::Text) field = std::move(out.result.text);
    return true;
  }

  const Plan &plan_;
  BatchOptions::OnError on_error_;
  zeqhost::Worker worker_;
  std::vector<std::unique_ptr<zeqhost::CallSite>> sites_;
  std::vector<Value> args_;
  std::string setup_errors_;
};

// The progress line on stderr: rows, rows per second, elapsed, and percent
// and time left when the input's size is known.
class Progress {
 public:
  Progress(bool on, uint64_t total_bytes) : on_(on), total_(total_bytes), start_(Clock::now()), last_(start_) {}

  void update(uint64_t rows, uint64_t bytes, bool final) {
    if (!on_) return;
    auto now = Clock::now();
    if (!final && now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    const double secs = std::chrono::duration<double>(now - start_).count();
    char line[160];
    int n = std::snprintf(line, sizeof line, "\r%12llu rows  %10.0f rows/s  %s elapsed", (unsigned long long)rows,
                          secs > 0 ? rows / secs : 0.0, clock_text(secs).c_str());
    if (total_ && bytes && n > 0 && (size_t)n < sizeof line) {
      const double frac = std::min(1.0, (double)bytes / (double)total_);
      std::snprintf(line + n, sizeof line - n, "  %3.0f%%  %s left", frac * 100,
                    clock_text(frac > 0 ? secs / frac - secs : 0).c_str());
    }
    std::fprintf(stderr, "%s\033[K%s", line, final ? "\n" : "");
    std::fflush(stderr);
  }

  // Clears the bar before other lines go to stderr.
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

  void write(Progress &progress) {
    uint64_t rows = 0;
    for (;;) {
      Done d;
      {
        std::unique_lock lk(m);
        cv.wait(lk, [&] { return done.count(next_write) || (input_end && next_write == blocks_read); });
        auto it = done.find(next_write);
        if (it == done.end()) break;
        d = std::move(it->second);
        done.erase(it);
      }
      std::fwrite(d.text.data(), 1, d.text.size(), stdout);
      if (!d.messages.empty()) {
        std::fflush(stdout);
        progress.clear();
        std::fputs(d.messages.c_str(), stderr);
      }
      rows += d.rows;
      progress.update(rows, bytes, false);
      std::lock_guard lk(m);
      failed |= d.failed;
      noted |= d.noted;
      next_write++;
      stop |= d.stop;
      cv.notify_all();
      if (stop) break;
    }
    std::fflush(stdout);
    progress.update(rows, bytes, true);
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

// Reads the rows after the header into blocks; answers the input error ("" none).
std::string read_blocks(CsvReader &reader, size_t width, Pipeline &p) {
  Block b;
  size_t block_bytes = 0;
  int64_t row = 0;
  Record rec;
  std::string error;
  b.first_row = 1;
  while (reader.next(rec)) {
    if (rec.size() != width) {
      error = "line " + std::to_string(reader.line()) + ": " + std::to_string(rec.size()) +
              (rec.size() == 1 ? " field" : " fields") + " where the header has " + std::to_string(width);
      break;
    }
    for (auto &f : rec) block_bytes += f.size();
    b.rows.push_back(std::move(rec));
    rec = Record();
    row++;
    if (b.rows.size() < kBlockRows && block_bytes < kBlockBytes) continue;
    p.bytes = reader.bytes();
    if (!p.submit(b)) return {};
    b = Block();
    b.first_row = row + 1;
    block_bytes = 0;
  }
  p.bytes = reader.bytes();
  if (!b.rows.empty() && !p.submit(b)) return {};
  return error.empty() ? reader.error() : error;
}

}  // namespace

int run_batch(zeqhost::Host &host, const BatchOptions &opt) {
  std::FILE *in = opt.input == "-" ? stdin : std::fopen(opt.input.c_str(), "rb");
  if (!in) {
    std::fprintf(stderr, "zeq: batch: cannot open %s: %s\n", opt.input.c_str(), std::strerror(errno));
    return 2;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> closer(in == stdin ? nullptr : in, std::fclose);
  CsvReader reader(in, opt.tsv ? '\t' : ',');
  Record header;
  if (!reader.next(header)) {
    std::fprintf(stderr, "zeq: batch: %s\n", reader.error().empty() ? "the input has no header row" : reader.error().c_str());
    return 2;
  }
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

  std::string out;
  Record names = plan.header;
  for (const Column &c : plan.columns) names.push_back(c.name);
  append_record(out, names, plan.delimiter);
  std::fwrite(out.data(), 1, out.size(), stdout);

  Pipeline p;
  p.window = 2 * jobs + 2;
  Progress progress(show_progress(opt), file_size(in));
  std::vector<std::thread> threads;
  for (auto &ev : evaluators) threads.emplace_back([&p, e = ev.get()] { p.work(*e); });
  std::thread writer([&] { p.write(progress); });
  const std::string input_error = read_blocks(reader, plan.header.size(), p);
  p.finish_input();
  writer.join();
  for (auto &t : threads) t.join();
  if (!input_error.empty() && !p.stop) {
    std::fprintf(stderr, "zeq: batch: %s\n", input_error.c_str());
    return 2;
  }
  return p.failed || p.noted ? 1 : 0;
}

}  // namespace zeqtool
