// python/src/module.cc - zeqwucha._core: a function for every catalogue
// row callable as a function, the same functions as Session methods, random
// streams, and the catalogue itself for the package and its tests.
#include <deque>

#include <pybind11/stl.h>

#include "host/rng_draw.h"
#include "python/src/matrix.h"
#include "python/src/process_host.h"
#include "python/src/session.h"
#include "python/src/stream.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace zeqpy {
namespace {

const char *result_word(zeq::catalogue::Result r) {
  switch (r) {
    case zeq::catalogue::Result::Number: return "number";
    case zeq::catalogue::Result::Routine: return "routine";
    default: return "text";
  }
}

py::list catalogue() {
  py::list out;
  for (const auto &fn : zeq::catalogue::kFunctions) {
    if (!fn.has(zeq::catalogue::ZEQ_FN_FUNCTION)) continue;
    Signature sig = signature_of(fn);
    py::list params;
    std::string types;  // what each parameter holds: 1 number, 2 text, x either
    for (const auto &p : sig.params) {
      params.append(p.name);
      types += p.type;
    }
    out.append(py::dict("name"_a = sig.lower, "result"_a = result_word(fn.result), "unit"_a = std::string(fn.unit()),
                        "min_args"_a = fn.min_args, "max_args"_a = fn.max_args, "params"_a = params, "types"_a = types,
                        "variadic"_a = sig.variadic, "usage"_a = std::string(fn.usage),
                        "summary"_a = std::string(fn.summary), "examples"_a = std::string(fn.examples),
                        "reads_task"_a = fn.has(zeq::catalogue::ZEQ_FN_READS_TASK)));
  }
  return out;
}

void define_functions(py::module_ &m, py::class_<Session> &session) {
  static std::deque<Signature> signatures;  // the bound functions refer to them
  static std::deque<std::string> docs;
  for (const auto &fn : zeq::catalogue::kFunctions) {
    if (!fn.has(zeq::catalogue::ZEQ_FN_FUNCTION)) continue;
    const Signature &sig = signatures.emplace_back(signature_of(fn));
    m.def(sig.lower.c_str(),
          [&sig](py::args a, py::kwargs k) { return default_session().call(sig, a, std::move(k)); },
          docs.emplace_back(sig.doc()).c_str());
    session.def(sig.lower.c_str(),
                [&sig](Session &s, py::args a, py::kwargs k) { return s.call(sig, a, std::move(k)); },
                docs.emplace_back(sig.doc(true)).c_str());
  }
}

std::unique_ptr<Session> session_from(const py::tuple &t) {
  if (t.size() != 2) throw std::runtime_error("Session: not a pickled Session");
  auto s = std::make_unique<Session>(t[0].cast<std::string>());
  py::dict costs = t[1];
  if (!costs.empty()) s->compcost(costs);
  return s;
}

std::unique_ptr<Stream> make_stream(const std::string &method, py::object seed, py::object key, py::object thread,
                                    py::object position) {
  auto s = std::make_unique<Stream>(method, to_u64(seed, "seed"), key.is_none() ? 0 : to_u64(key, "key"),
                                    thread.is_none() ? 0 : to_u64(thread, "thread"));
  if (!position.is_none()) s->position(to_u64(position, "position"));
  return s;
}

}  // namespace
}  // namespace zeqpy

PYBIND11_MODULE(_core, m) {
  using namespace zeqpy;
  py::options options;
  options.disable_function_signatures();  // each docstring starts with the signature itself
  m.doc() = "zeqwucha's character functions and random streams (the compiled part)";
  m.attr("__version__") = ZEQ_VERSION;
  try {
    process_host();
  } catch (const std::exception &e) {
    throw py::import_error(e.what());
  }

  py::class_<Session> session(m, "Session", R"(Session(encoding='utf-8')

A host task of its own: COMPCOST costs and call-site caches belong to it, and
its text is UTF-8 or Latin-1.  It offers every function as a method.  Calls
of one session from several threads run in parallel; compcost() waits until
they end.  A Session pickles with its encoding and costs.)");
  session.def(py::init<const std::string &>(), "encoding"_a = "utf-8")
      .def("compcost", [](Session &s, const py::kwargs &costs) { s.compcost(costs); }, R"(compcost($self, /, **costs)
--


Sets the COMPGED costs of this session, e.g. compcost(insert=5, delete=5).
Operations: match, insert, delete, replace, finsert, fdelete, freplace,
append, truncate, double, single, swap, blank, punctuation.)")
      .def_property_readonly("encoding", &Session::encoding)
      .def(py::pickle([](Session &s) { return py::make_tuple(s.encoding(), s.costs()); }, &session_from))
      .def("__repr__", [](const Session &s) { return "Session(encoding='" + s.encoding() + "')"; });
  define_functions(m, session);

  py::class_<Stream>(m, "Stream", R"(Stream(method, seed, key=None, thread=None, position=None)

One random stream of the module: the same draws as `zeq rand` with the same
method, seed, key and thread.  Give each parallel piece of work (a Dask
partition, a worker) its own thread= number for an independent,
reproducible stream.  A method that ignores the key or the thread number
refuses one (zeqwucha.methods() shows what each takes).  A Stream pickles
through its state, so Dask can ship one.)")
      .def(py::init(&make_stream), "method"_a, "seed"_a, "key"_a = py::none(), "thread"_a = py::none(),
           "position"_a = py::none())
      .def("draw", &Stream::draw, "n"_a, "conversion"_a = "default", R"(draw(n, conversion='default')

The next n values as a numpy array: float64, or uint32/uint64 for the
conversions 'uint32' and 'uint64'.)")
      .def("generator", &Stream::generator, "conversion"_a = "default", R"(generator($self, /, conversion='default')
--

A numpy.random.Generator whose bits are this stream's words: its
distributions run on the stream, random() gives the stream's conversion
(equal to draw()), and draws through either continue one sequence.)")
      .def(py::pickle([](const Stream &s) { return s.state(); },
                      [](const py::bytes &b) { return Stream::from_state(b); }))
      .def("state", &Stream::state, "state() -> bytes: the stream where it stands, for Stream.from_state")
      .def_static("from_state", &Stream::from_state, "state"_a, "from_state(state) -> Stream that continues where the saved one stood")
      .def("dump", &Stream::dump, "dump() -> the state blob as lines, as the journal shows it")
      .def_property_readonly("method", &Stream::method)
      .def_property_readonly("seed", &Stream::seed)
      .def_property_readonly("key", &Stream::key)
      .def_property_readonly("thread", &Stream::thread)
      .def("__repr__", [](const Stream &s) {
        return "Stream('" + s.method() + "', seed=" + std::to_string(s.seed()) + ", key=" + std::to_string(s.key()) +
               ", thread=" + std::to_string(s.thread()) + ")";
      });

  define_generator(m);
  m.def("methods", &methods, R"(methods()
--

The random-stream methods this processor runs, each with the options it
takes: {'MT64': ('seed',), 'FRY4X64': ('seed', 'key', 'thread', 'position'), ...}.)");
  m.def("conversions", [] {
    std::vector<std::string> names;
    for (const auto &c : zeqhost::rng::conversions()) names.push_back(c.name);
    return names;
  }, "conversions() -> the names Stream.draw takes");
  define_matrix(m);
  m.def("catalogue", &catalogue, "catalogue() -> one dict per function: name, result, params, usage, examples");
}
