// python/src/matrix.cc - every query against every choice (cdist) and the
// best choice of each query (extract_one), on the column path.
//
// The texts are read where Python keeps them (the UTF-8 form a str caches,
// the buffer of a bytes) into argument views while the interpreter lock is
// held; the loop runs without it, the query rows split between threads, each
// thread with a Worker and a prepared call of its own.
#include "python/src/matrix.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <pybind11/numpy.h>

#include "host/column.h"
#include "python/src/columns.h"
#include "python/src/process_host.h"

namespace py = pybind11;
using namespace pybind11::literals;
using zeq::catalogue::Function;
using zeqhost::Arg;
using zeqhost::ColumnCall;

namespace zeqpy {
namespace {

constexpr long kMaxThreads = 64;
constexpr size_t kBlockCells = 4096;  // rows of one session hold

// What a text's COMPLEV distance to any other is at least: the bytes it
// keeps (COMPLEV drops trailing blanks) counted in 64 classes (byte mod 64,
// at most 255 each).  An edit changes the length by at most 1 and the sum of
// the class count differences by at most 2, so with L that sum and n the
// length difference, every edit sequence has at least (L + n) / 2 edits;
// merged classes and capped counts only make L smaller.
struct Profile {
  alignas(16) uint8_t counts[64] = {};
  size_t length = 0;

  explicit Profile(const Arg &a) {
    length = a.size;
    while (length && a.data[length - 1] == ' ') length--;
    for (size_t k = 0; k < length; k++) {
      uint8_t &c = counts[(unsigned char)a.data[k] & 63];
      c += c < 255;
    }
  }
  double least_distance(const Profile &o) const {
    unsigned sum = 0;
#ifdef __SSE2__
    __m128i acc = _mm_setzero_si128();
    for (int k = 0; k < 64; k += 16) {
      const __m128i a = _mm_load_si128(reinterpret_cast<const __m128i *>(counts + k));
      const __m128i b = _mm_load_si128(reinterpret_cast<const __m128i *>(o.counts + k));
      acc = _mm_add_epi64(acc, _mm_sad_epu8(a, b));
    }
    sum = (unsigned)(_mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8)));
#else
    for (int k = 0; k < 64; k++) sum += (unsigned)std::abs(counts[k] - o.counts[k]);
#endif
    const size_t n = length > o.length ? length - o.length : o.length - length;
    return (double)((sum + n + 1) / 2);
  }
};

// One side of the matrix: a view per element and what keeps the texts alive.
struct Side {
  py::object items;                  // a list of its own, so the elements outlive the loop
  std::deque<std::string> converted;  // UTF-8 of a str that holds lone surrogates
  std::vector<Arg> args;
  std::vector<Profile> profiles;     // extract_one with COMPLEV and no modifiers
};

Arg text_arg(PyObject *o, Side &side, const std::string &where) {
  if (is_missing_marker(o)) return Arg::missing();
  if (PyBytes_Check(o)) return Arg::text(PyBytes_AS_STRING(o), (size_t)PyBytes_GET_SIZE(o));
  if (!PyUnicode_Check(o))
    throw py::type_error(where + ": expected str, bytes or None, got " + std::string(Py_TYPE(o)->tp_name));
  Arg view;
  if (!utf8_view(o, side.converted, view)) throw py::error_already_set();
  return view;
}

bool is_single(py::handle h) {
  return py::isinstance<py::str>(h) || py::isinstance<py::bytes>(h) || is_missing_marker(h.ptr());
}

Side side_of(py::handle seq, const std::string &where) {
  if (py::isinstance<py::str>(seq) || py::isinstance<py::bytes>(seq))
    throw py::type_error(where + " must be a sequence of texts, not a single text");
  PyObject *list = PySequence_List(seq.ptr());
  if (!list) throw py::error_already_set();
  Side side;
  side.items = py::reinterpret_steal<py::object>(list);
  const Py_ssize_t n = PyList_GET_SIZE(list);
  side.args.reserve((size_t)n);
  for (Py_ssize_t i = 0; i < n; i++)
    side.args.push_back(text_arg(PyList_GET_ITEM(list, i), side, where + ", element " + std::to_string(i)));
  return side;
}

// The call's settings.
struct Setup {
  const Function *fn = nullptr;
  std::optional<double> cutoff;
  std::string modifiers;
  bool has_modifiers = false;
  size_t threads = 1;
  // The largest cutoff the function reads as it is (a larger one counts as
  // this or as none); a best distance above it is not passed on.
  double cutoff_cap = 0;
  // The cutoff a COMPLEV call counts (999999 for a larger one), when the
  // caller gave one it accepts (whole, at least 1); else NaN.
  double counted_cutoff = NAN;
  // COMPLEV without modifiers: a pair whose least possible distance (see
  // Profile) is at least the best so far cannot beat it.
  bool least_bound = false;
};

Setup setup_of(const char *caller, const std::string &scorer, py::object cutoff, py::object modifiers, long threads) {
  Setup s;
  std::string name;
  for (char c : scorer) name += (char)std::toupper((unsigned char)c);
  if (name != "COMPLEV" && name != "COMPGED")
    throw py::value_error(std::string(caller) + "(): scorer must be 'complev' or 'compged', not '" + scorer + "'");
  s.fn = zeq::catalogue::find(name);
  s.cutoff_cap = name == "COMPLEV" ? 999999 : 4294967294.0;
  if (!cutoff.is_none()) {
    if (!py::isinstance<py::int_>(cutoff) && !py::isinstance<py::float_>(cutoff))
      throw py::type_error(std::string(caller) + "(): cutoff must be a number or None");
    s.cutoff = cutoff.cast<double>();
  }
  if (!modifiers.is_none()) {
    if (!py::isinstance<py::str>(modifiers)) throw py::type_error(std::string(caller) + "(): modifiers must be a str or None");
    s.modifiers = modifiers.cast<std::string>();
    s.has_modifiers = true;
  }
  s.least_bound = name == "COMPLEV" && !s.has_modifiers;
  if (s.cutoff && *s.cutoff >= 1 && std::trunc(*s.cutoff) == *s.cutoff)
    s.counted_cutoff = std::min(*s.cutoff, s.cutoff_cap);
  if (threads < 1 || threads > kMaxThreads)
    throw py::value_error(std::string(caller) + "(): threads must be 1 to " + std::to_string(kMaxThreads));
  s.threads = (size_t)threads;
  return s;
}

// Workers of the module-level calls (UTF-8, the built-in COMPGED costs),
// kept between calls; each running call takes its own.
std::mutex g_pool_mu;
std::vector<std::unique_ptr<zeqhost::Worker>> g_pool;

std::vector<std::unique_ptr<zeqhost::Worker>> take_workers(size_t n) {
  std::vector<std::unique_ptr<zeqhost::Worker>> out;
  {
    std::lock_guard<std::mutex> lock(g_pool_mu);
    while (out.size() < n && !g_pool.empty()) {
      out.push_back(std::move(g_pool.back()));
      g_pool.pop_back();
    }
  }
  while (out.size() < n) out.push_back(std::make_unique<zeqhost::Worker>(process_host(), zeqhost::Encoding::Utf8));
  return out;
}

void give_back(std::vector<std::unique_ptr<zeqhost::Worker>> &workers) {
  std::lock_guard<std::mutex> lock(g_pool_mu);
  for (auto &w : workers) g_pool.push_back(std::move(w));
}

// The messages of one thread's cells: how many, and the first with its cell.
struct Notes {
  size_t count = 0, row = 0, col = 0;
  std::string first;
  std::string fault;  // an exception that ended the thread
  void add(size_t i, size_t j, std::string text) {
    if (count++ == 0) row = i, col = j, first = std::move(text);
  }
};

// One thread's scorer: (query, choice [, cutoff] [, modifiers]) on a
// prepared call, and a second one with a cutoff argument for extract_one
// when the caller gave none.
class Scorer {
 public:
  Scorer(zeqhost::Worker &w, const Setup &s)
      : s_(s), plain_(w, *s.fn, width(s.cutoff.has_value()), site()), capped_(w, *s.fn, width(true), site()) {
    for (ColumnCall *c : {&plain_, &capped_})
      if (!c->error().empty()) throw std::runtime_error(c->error());
  }
  ColumnCall &plain() { return plain_; }
  ColumnCall &capped() { return capped_; }

  // The distance of a pair, NaN when it has none (a message goes to notes).
  // `cutoff` (when not NaN) replaces the caller's.
  double score(const Arg &q, const Arg &c, double cutoff, Notes &notes, size_t i, size_t j) {
    // A missing text makes the pair's distance missing, as in the pairwise functions.
    if (q.kind == zeqhost::Value::Missing || c.kind == zeqhost::Value::Missing) return NAN;
    const bool cap = !std::isnan(cutoff);
    ColumnCall &call = cap || s_.cutoff ? capped_ : plain_;
    Arg args[4] = {q, c};
    size_t n = 2;
    if (cap || s_.cutoff) args[n++] = Arg::num(cap ? cutoff : *s_.cutoff);
    if (s_.has_modifiers) args[n++] = Arg::text(s_.modifiers);
    const zeqhost::Cell &cell = call.run(std::span<const Arg>(args, n));
    if (cell.noted || !cell.ok()) note(call, cell, notes, i, j);
    return cell.ok() && cell.kind == zeqhost::Value::Number ? cell.number : NAN;
  }

 private:
  size_t width(bool cutoff) const { return 2 + (cutoff ? 1 : 0) + (s_.has_modifiers ? 1 : 0); }
  // A call site that keeps call-site caches (a result kind of the limited
  // family): the module then prepares a query's match table once for all
  // the choices of its row.
  static zeqhost::CallOptions site() {
    zeqhost::CallOptions o;
    o.result_kind = 0x48;
    return o;
  }
  void note(ColumnCall &call, const zeqhost::Cell &cell, Notes &notes, size_t i, size_t j) {
    zeqhost::CallOutcome o = call.outcome();
    if (!cell.ok()) return notes.add(i, j, o.sentence());
    for (const auto &m : o.messages)
      if (m.level >= 2) return notes.add(i, j, o.function + ": " + m.text);
  }
  const Setup &s_;
  ColumnCall plain_, capped_;
};

// Runs rows [0, rows) split between the setup's threads, the interpreter
// lock released; `body(scorer, begin, end, notes)` does one thread's part.
template <class Body>
std::vector<Notes> run_split(const Setup &s, size_t rows, Body body) {
  const size_t threads = std::max<size_t>(1, std::min(s.threads, rows));
  std::vector<Notes> notes(threads);
  std::vector<std::unique_ptr<zeqhost::Worker>> workers = take_workers(threads);
  {
    py::gil_scoped_release unlocked;
    auto part = [&](size_t t) {
      try {
        Scorer scorer(*workers[t], s);
        body(scorer, rows * t / threads, rows * (t + 1) / threads, notes[t]);
      } catch (const std::exception &e) {
        notes[t].fault = e.what();
      }
    };
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; t++) pool.emplace_back(part, t);
    part(0);
    for (auto &th : pool) th.join();
  }
  give_back(workers);
  return notes;
}

// A RuntimeWarning naming the first message and the number of them, as the
// pairwise functions warn; a thread's fault is raised.
void report(const std::vector<Notes> &notes, const char *caller) {
  const Notes *first = nullptr;
  size_t count = 0;
  for (const Notes &n : notes) {
    if (!n.fault.empty()) throw std::runtime_error(std::string(caller) + "(): " + n.fault);
    if (n.count && !first) first = &n;
    count += n.count;
  }
  if (!first) return;
  std::string text = first->first + " (query " + std::to_string(first->row) + ", choice " +
                     std::to_string(first->col) + ")";
  if (count > 1) text += "; " + std::to_string(count) + " messages in all";
  if (PyErr_WarnEx(PyExc_RuntimeWarning, text.c_str(), 2) < 0) throw py::error_already_set();
}

// float64 values as int64 when every one is a whole number (no NaN).
py::array whole_or_float(py::array_t<double> a) {
  const double *p = a.data();
  for (py::ssize_t k = 0; k < a.size(); k++)
    if (!(std::nearbyint(p[k]) == p[k] && std::fabs(p[k]) < 9.2e18)) return a;
  return a.attr("astype")("int64");
}

py::array cdist(py::object queries, py::object choices, const std::string &scorer, py::object cutoff,
                py::object modifiers, long threads) {
  const Setup s = setup_of("cdist", scorer, cutoff, modifiers, threads);
  Side q = side_of(queries, "cdist() queries"), c = side_of(choices, "cdist() choices");
  const size_t rows = q.args.size(), cols = c.args.size();
  // With a cutoff, a pair that cannot come below it is the cutoff without a call.
  const bool bound = s.least_bound && !std::isnan(s.counted_cutoff);
  if (bound)
    for (Side *side : {&q, &c})
      for (const Arg &a : side->args) side->profiles.emplace_back(a);
  py::array_t<double> out({(py::ssize_t)rows, (py::ssize_t)cols});
  double *cells = out.mutable_data();
  auto notes = run_split(s, rows, [&](Scorer &scorer, size_t begin, size_t end, Notes &n) {
    std::optional<ColumnCall::Block> block;
    size_t in_block = kBlockCells;
    for (size_t i = begin; i < end; i++) {
      if (in_block >= kBlockCells) block.reset(), block.emplace(s.cutoff ? scorer.capped() : scorer.plain()), in_block = 0;
      in_block += cols;
      for (size_t j = 0; j < cols; j++) {
        const bool both = q.args[i].kind == zeqhost::Value::Text && c.args[j].kind == zeqhost::Value::Text;
        cells[i * cols + j] = bound && both && q.profiles[i].least_distance(c.profiles[j]) >= s.counted_cutoff
                                  ? s.counted_cutoff
                                  : scorer.score(q.args[i], c.args[j], NAN, n, i, j);
      }
    }
  });
  report(notes, "cdist");
  return whole_or_float(out);
}

// The first choice with the least distance to `query`: (index, distance),
// index -1 when no choice has a distance.  Each call after the first best
// takes the best so far as its cutoff (a result is the distance, or the
// cutoff when the distance reaches it, so a result below the cutoff is
// exact and one at it cannot be better); a distance of 0 ends the search.
std::pair<int64_t, double> best_of(Scorer &scorer, const Setup &s, const Arg &query, const Side &c, Notes &n,
                                   size_t row) {
  int64_t index = -1;
  double best = NAN;
  if (query.kind == zeqhost::Value::Missing) return {index, best};
  const Profile qp(query);
  for (size_t j = 0; j < c.args.size(); j++) {
    if (s.least_bound && index >= 0 && qp.least_distance(c.profiles[j]) >= best) continue;
    const bool pass = index >= 0 && best >= 1 && best <= s.cutoff_cap;
    const double d = scorer.score(query, c.args[j], pass ? best : NAN, n, row, j);
    if (std::isnan(d) || (index >= 0 && !(d < best))) continue;
    index = (int64_t)j, best = d;
    if (best == 0) break;
  }
  return {index, best};
}

py::object extract_one(py::object query, py::object choices, const std::string &scorer, py::object cutoff,
                       py::object modifiers, long threads) {
  const Setup s = setup_of("extract_one", scorer, cutoff, modifiers, threads);
  const bool single = is_single(query);
  Side q;
  if (single) {
    q.args.push_back(text_arg(query.ptr(), q, "extract_one() query"));
  } else {
    q = side_of(query, "extract_one() queries");
  }
  Side c = side_of(choices, "extract_one() choices");
  if (s.least_bound)
    for (const Arg &a : c.args) c.profiles.emplace_back(a);
  const size_t rows = q.args.size();
  py::array_t<int64_t> index((py::ssize_t)rows);
  py::array_t<double> dist((py::ssize_t)rows);
  int64_t *ix = index.mutable_data();
  double *dx = dist.mutable_data();
  auto notes = run_split(s, rows, [&](Scorer &scorer, size_t begin, size_t end, Notes &n) {
    for (size_t i = begin; i < end; i++) {
      ColumnCall::Block plain(scorer.plain()), capped(scorer.capped());
      std::tie(ix[i], dx[i]) = best_of(scorer, s, q.args[i], c, n, i);
    }
  });
  report(notes, "extract_one");
  if (!single) return py::make_tuple(index, whole_or_float(dist));
  if (ix[0] < 0) return py::none();
  return py::make_tuple(ix[0], whole_or_float(dist)[py::int_(0)]);
}

}  // namespace

void define_matrix(py::module_ &m) {
  m.def("cdist", &cdist, "queries"_a, "choices"_a, "scorer"_a = "complev", "cutoff"_a = py::none(),
        "modifiers"_a = py::none(), "threads"_a = 1,
        R"(cdist(queries, choices, scorer='complev', cutoff=None, modifiers=None, threads=1)

The distance of every query to every choice: a len(queries) x len(choices)
numpy array whose cell [i, j] is complev(queries[i], choices[j], cutoff,
modifiers) (or compged).  int64, or float64 with NaN when a cell has no
distance (a missing text, a refused cutoff; a RuntimeWarning then says why).
Texts are str (UTF-8) or bytes; None, NaN and pandas.NA are missing.
threads=N splits the queries between N threads.)");
  m.def("extract_one", &extract_one, "query"_a, "choices"_a, "scorer"_a = "complev", "cutoff"_a = py::none(),
        "modifiers"_a = py::none(), "threads"_a = 1,
        R"(extract_one(query_or_queries, choices, scorer='complev', cutoff=None, modifiers=None, threads=1)

The best choice for a query: (index, distance) of the first choice with the
least distance, or None when no choice has one (no choices, a missing
query).  For a sequence of queries: two numpy arrays, the indices (int64,
-1 where none) and the distances (int64, or float64 with NaN where none).
The same cell values as cdist; the search of a query stops at distance 0.)");
}

}  // namespace zeqpy
