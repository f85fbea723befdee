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
    for (const auto &p : sig.params) params.append(p.name);
    out.append(py::dict("name"_a = sig.lower, "result"_a = result_word(fn.result),
                        "min_args"_a = fn.min_args, "max_args"_a = fn.max_args, "params"_a = params,
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
    const char *doc = docs.emplace_back(sig.doc()).c_str();
    m.def(sig.lower.c_str(),
          [&sig](py::args a, py::kwargs k) { return default_session().call(sig, a, std::move(k)); }, doc);
    session.def(sig.lower.c_str(),
                [&sig](Session &s, py::args a, py::kwargs k) { return s.call(sig, a, std::move(k)); }, doc);
  }
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
  try {
    process_host();
  } catch (const std::exception &e) {
    throw py::import_error(e.what());
  }

  py::class_<Session> session(m, "Session", R"(Session(encoding='utf-8')

A host task of its own: COMPCOST costs and call-site caches belong to it, and
its text is UTF-8 or Latin-1.  It offers every function as a method.)");
  session.def(py::init<const std::string &>(), "encoding"_a = "utf-8")
      .def("compcost", &Session::compcost, R"(compcost(**costs)

Sets the COMPGED costs of this session, e.g. compcost(insert=5, delete=5).
Operations: match, insert, delete, replace, finsert, fdelete, freplace,
append, truncate, double, single, swap, blank, punctuation.)")
      .def_property_readonly("encoding", &Session::encoding)
      .def("__repr__", [](const Session &s) { return "Session(encoding='" + s.encoding() + "')"; });
  define_functions(m, session);

  py::class_<Stream>(m, "Stream", R"(Stream(method, seed, key=None, thread=None, position=None)

One random stream of the module: the same draws as `zeq rand` with the same
method, seed, key and thread.  Give each parallel piece of work (a Dask
partition, a worker) its own thread= number for an independent,
reproducible stream.)")
      .def(py::init(&make_stream), "method"_a, "seed"_a, "key"_a = py::none(), "thread"_a = py::none(),
           "position"_a = py::none())
      .def("draw", &Stream::draw, "n"_a, "conversion"_a = "default", R"(draw(n, conversion='default')

The next n values as a numpy array: float64, or uint32/uint64 for the
conversions 'uint32' and 'uint64'.)")
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

  m.def("methods", &methods, "methods() -> names of the random-stream methods this processor runs");
  m.def("conversions", [] {
    std::vector<std::string> names;
    for (const auto &c : zeqhost::rng::conversions()) names.push_back(c.name);
    return names;
  }, "conversions() -> the names Stream.draw takes");
  define_matrix(m);
  m.def("catalogue", &catalogue, "catalogue() -> one dict per function: name, result, params, usage, examples");
}
