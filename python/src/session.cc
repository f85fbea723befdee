#include "python/src/session.h"

#include <algorithm>
#include <cctype>
#include <thread>

#include "python/src/columns.h"
#include "python/src/process_host.h"

namespace py = pybind11;
using zeqhost::CallOutcome;
using zeqhost::Encoding;
using zeqhost::Value;

namespace zeqpy {
namespace {

Encoding parse_encoding(std::string word) {
  for (auto &c : word) c = (char)std::tolower((unsigned char)c);
  word.erase(std::remove(word.begin(), word.end(), '-'), word.end());
  word.erase(std::remove(word.begin(), word.end(), '_'), word.end());
  if (word == "utf8") return Encoding::Utf8;
  if (word == "latin1" || word == "iso88591") return Encoding::Latin1;
  throw py::value_error("encoding must be 'utf-8' or 'latin-1', not '" + word + "'");
}

// What a row's argument types lead to: '1' number, '2' text, 'm' a missing
// number, 't' a missing element of a text argument.
enum class Plan { Call, Missing, Refuse };

Plan plan_for(const zeq::catalogue::Function &fn, const std::string &types) {
  if (types.find('t') != std::string::npos) return Plan::Missing;
  // A missing value may stand for either type: as numbers the call runs;
  // where only text fits, a text argument is missing and so is the result.
  std::vector<size_t> open;
  for (size_t i = 0; i < types.size(); i++)
    if (types[i] == 'm') open.push_back(i);
  // Every mix for a few missing values; for many, all numbers or all text.
  const bool few = open.size() <= 12;
  const size_t last = few ? (size_t(1) << open.size()) - 1 : SIZE_MAX;
  std::string tried = types;
  for (size_t mask = 0;; mask = few ? mask + 1 : last) {
    for (size_t k = 0; k < open.size(); k++) tried[open[k]] = mask == SIZE_MAX || ((mask >> k) & 1) ? '2' : '1';
    if (zeq::catalogue::accepts_types(fn, tried)) return mask == 0 ? Plan::Call : Plan::Missing;
    if (mask == last) break;
  }
  return Plan::Refuse;
}

struct PlanCache {
  std::vector<std::pair<std::string, Plan>> seen;
  size_t last = 0;  // rows mostly repeat the kinds of the row before
  Plan get(const zeq::catalogue::Function &fn, const std::string &types) {
    if (last < seen.size() && seen[last].first == types) return seen[last].second;
    for (last = 0; last < seen.size(); last++)
      if (seen[last].first == types) return seen[last].second;
    seen.emplace_back(types, plan_for(fn, types));
    return seen.back().second;
  }
};

std::string refusal(const zeq::catalogue::Function &fn, std::span<const zeqhost::Arg> row) {
  std::vector<Value> args;
  for (const auto &a : row)
    args.push_back(a.kind == Value::Text ? Value::str(std::string(a.view())) : a.kind == Value::Number ? Value::num(a.number) : Value::missing());
  std::string why = zeqhost::check_call(fn, args, false);
  if (!why.empty()) return why;
  std::string kinds;
  for (const auto &v : args) kinds += std::string(kinds.empty() ? "" : ", ") + (v.kind == Value::Text ? "text" : "number");
  return std::string(fn.name) + " does not take (" + kinds + "); usage: " + std::string(fn.name) + "(" +
         std::string(fn.usage) + ")";
}

// What one thread's rows reported.
struct Report {
  size_t fault_row = SIZE_MAX;
  bool type_fault = false;
  std::string fault;
  size_t noted_rows = 0, first_noted_row = 0;  // messages, and the row of the first
  std::string first_note;
};

void note(size_t row, const std::string &text, Report &rep) {
  if (rep.noted_rows++ == 0) {
    rep.first_noted_row = row;
    rep.first_note = text;
  }
}

// A row that did not simply succeed: its status, a cut, its notes.  Returns
// false when the row's result is missing.
bool settle(const zeqhost::ColumnCall &col, const zeqhost::Cell &cell, size_t row, Report &rep) {
  const std::string name(col.function().name);
  CallOutcome o = col.outcome();
  if (cell.status != 0) {
    note(row, o.sentence(), rep);
    return false;
  }
  if (const zeqhost::Message *cut = o.cut_note()) {
    note(row, name + ": the result was cut, so it is missing: " + cut->text, rep);
    return false;
  }
  for (const auto &m : o.messages)
    if (m.level >= 2) note(row, name + ": " + m.text, rep);
  return true;
}

constexpr size_t kBlockRows = 4096;  // rows of one session hold

void run_rows(zeqhost::Worker &w, const zeq::catalogue::Function &fn, const Inputs &in, Results &out,
              size_t begin, size_t end, Report &rep) {
  zeqhost::CallOptions opt;
  opt.max_length = zeqhost::kMaxGrowableLength;  // the most a result record can carry
  zeqhost::ColumnCall col(w, fn, in.columns.size(), opt);
  PlanCache plans;
  std::vector<zeqhost::Arg> args(in.columns.size());
  std::string types(in.columns.size(), ' ');
  for (size_t block = begin; block < end; block += kBlockRows) {
    zeqhost::ColumnCall::Block hold(col);
    for (size_t row = block; row < std::min(end, block + kBlockRows); row++) {
      for (size_t i = 0; i < in.columns.size(); i++) {
        const zeqhost::Arg &v = in.columns[i].at(row);
        types[i] = v.kind == Value::Number ? '1' : v.kind == Value::Text ? '2' : in.columns[i].text ? 't' : 'm';
        args[i] = v;
      }
      Plan plan = plans.get(fn, types);
      if (plan == Plan::Missing) {
        if (out.text) out.missing[row] = 1;
        continue;
      }
      if (plan == Plan::Refuse) {
        rep = {row, true, refusal(fn, args)};
        return;
      }
      const zeqhost::Cell &cell = col.run(args);
      if (cell.refused) {
        rep.fault_row = row;
        rep.fault = col.outcome().sentence();
        return;
      }
      bool kept = cell.ok() && !cell.noted ? true : settle(col, cell, row, rep);
      if (out.text) {
        if (kept && cell.kind == Value::Text) out.texts[row].assign(cell.text);
        else out.missing[row] = 1;
      } else if (kept && cell.kind == Value::Number) {
        out.numbers[row] = cell.number;
      }
    }
  }
}

std::string row_label(const Inputs &in, size_t row) {
  return in.shape.empty() ? "" : " (row " + std::to_string(row) + ")";
}

size_t take_threads(const Signature &sig, py::kwargs &kwargs) {
  if (!kwargs.contains("threads")) return 1;
  py::object t = kwargs.attr("pop")("threads");
  if (!py::isinstance<py::int_>(t) || py::isinstance<py::bool_>(t))
    throw py::type_error(sig.lower + "(): threads must be an int");
  long n = t.cast<long>();
  if (n < 0 || n > Session::kMaxThreads)
    throw py::value_error(sig.lower + "(): threads must be 0 (one per core) to " + std::to_string(Session::kMaxThreads));
  if (n == 0) n = std::max(1u, std::thread::hardware_concurrency());
  return (size_t)n;
}

// A keyword argument must hold the type of its parameter.
void check_keywords(const Signature &sig, const Bound &b, const Inputs &in) {
  for (size_t i = 0; i < b.keyword_types.size(); i++) {
    const char want = b.keyword_types[i];
    const Column &c = in.columns[i];
    if ((want == '2' && c.number) || (want == '1' && c.text)) wrong_keyword_type(sig, b.names[i], want, c.type_name);
  }
}

// Runs the rows in `threads` parts, one worker each.
std::vector<Report> run(const Signature &sig, std::vector<std::unique_ptr<zeqhost::Worker>> &workers,
                        const Inputs &in, Results &out) {
  const size_t rows = in.count, threads = workers.size();
  std::vector<Report> reports(threads);
  auto part = [&](size_t t) {
    size_t begin = rows * t / threads, end = rows * (t + 1) / threads;
    try {
      run_rows(*workers[t], *sig.fn, in, out, begin, end, reports[t]);
    } catch (const std::exception &e) {
      reports[t].fault_row = begin;
      reports[t].fault = e.what();
    }
  };
  std::vector<std::thread> pool;
  for (size_t t = 1; t < threads; t++) pool.emplace_back(part, t);
  part(0);
  for (auto &th : pool) th.join();
  return reports;
}

// Raises the first fault, warns of the rows that got a missing result.
void report(const std::vector<Report> &reports, const Inputs &in) {
  const Report *fault = nullptr, *noted = nullptr;
  size_t noted_rows = 0;
  for (const auto &r : reports) {
    if (r.fault_row != SIZE_MAX && (!fault || r.fault_row < fault->fault_row)) fault = &r;
    if (r.noted_rows && !noted) noted = &r;
    noted_rows += r.noted_rows;
  }
  if (fault) {
    std::string text = fault->fault + row_label(in, fault->fault_row);
    if (fault->type_fault) throw py::type_error(text);
    throw py::value_error(text);
  }
  if (noted) {
    std::string text = noted->first_note + row_label(in, noted->first_noted_row);
    if (noted_rows > 1) text += "; " + std::to_string(noted_rows) + " messages in all";
    if (PyErr_WarnEx(PyExc_RuntimeWarning, text.c_str(), 1) < 0) throw py::error_already_set();  // warnings as errors
  }
}

}  // namespace

Session::Session(const std::string &encoding) : encoding_(parse_encoding(encoding)) {
  process_host();  // a module that cannot load is reported now
}

Session::~Session() = default;

std::string Session::encoding() const { return encoding_ == Encoding::Utf8 ? "utf-8" : "latin-1"; }

std::vector<Session::WorkerPtr> Session::take(size_t n) {
  std::vector<WorkerPtr> out;
  {
    std::lock_guard<std::mutex> lock(idle_mu_);
    while (out.size() < n && !idle_.empty()) {
      out.push_back(std::move(idle_.back()));
      idle_.pop_back();
    }
  }
  while (out.size() < n) {
    auto w = std::make_unique<zeqhost::Worker>(process_host(), encoding_);
    if (!costs_.empty()) {  // read under the shared hold: compcost cannot change them now
      zeqhost::CallOptions opt;
      opt.call_form = true;
      w->call("COMPCOST", costs_, opt);  // accepted once already
    }
    out.push_back(std::move(w));
  }
  return out;
}

void Session::give_back(std::vector<WorkerPtr> &workers) {
  std::lock_guard<std::mutex> lock(idle_mu_);
  for (auto &w : workers) idle_.push_back(std::move(w));
  workers.clear();
}

py::object Session::call(const Signature &sig, const py::args &args, py::kwargs kwargs) {
  size_t threads = take_threads(sig, kwargs);
  Bound bound = bind(sig, args, kwargs);
  std::vector<std::string> names;
  for (const auto &n : bound.names) names.push_back(sig.lower + "() argument '" + n + "'");
  Inputs in = gather(bound.args, names, encoding_);
  check_keywords(sig, bound, in);
  Results out;
  out.text = sig.fn->result == zeq::catalogue::Result::Char || sig.fn->result == zeq::catalogue::Result::Direct;
  out.resize(in.count);
  std::vector<Report> reports;
  {
    py::gil_scoped_release unlocked;
    std::shared_lock<std::shared_mutex> hold(calls_);
    std::vector<WorkerPtr> workers = take(std::max<size_t>(1, std::min(threads, in.count)));
    reports = run(sig, workers, in, out);
    give_back(workers);
  }
  report(reports, in);
  return wrap(out, in, encoding_);
}

py::dict Session::costs() const {
  py::dict out;
  for (size_t i = 0; i + 1 < costs_.size(); i += 2) {
    std::string op = costs_[i].text;
    op.pop_back();  // "insert=" -> insert
    out[py::str(op)] = (long long)costs_[i + 1].number;  // COMPCOST takes whole numbers
  }
  return out;
}

void Session::compcost(const py::dict &costs) {
  if (costs.empty()) throw py::type_error("compcost() needs operation=cost pairs, e.g. compcost(insert=5)");
  std::vector<Value> wanted;
  for (auto [key, value] : costs) {
    if (!py::isinstance<py::int_>(value) && !py::isinstance<py::float_>(value))
      throw py::type_error("compcost(): the cost of " + py::cast<std::string>(key) + " must be a number");
    wanted.push_back(Value::str(py::cast<std::string>(key) + "="));
    wanted.push_back(Value::num(value.cast<double>()));
  }
  std::string refused;
  {
    py::gil_scoped_release unlocked;
    std::unique_lock<std::shared_mutex> hold(calls_);  // no call runs now
    std::lock_guard<std::mutex> lock(idle_mu_);
    if (idle_.empty()) idle_.push_back(std::make_unique<zeqhost::Worker>(process_host(), encoding_));
    zeqhost::CallOptions opt;
    opt.call_form = true;
    for (auto &w : idle_) {
      CallOutcome o = w->call("COMPCOST", wanted, opt);
      if (!o.ok()) {
        refused = o.sentence();
        break;
      }
    }
    if (refused.empty()) costs_ = std::move(wanted);
    else idle_.clear();  // remade with the costs that were accepted before
  }
  if (!refused.empty()) throw py::value_error(refused);
}

Session &default_session() {
  static Session *session = new Session("utf-8");  // lives as long as the process
  return *session;
}

}  // namespace zeqpy
