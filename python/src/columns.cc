#include "python/src/columns.h"

#include <cmath>

namespace py = pybind11;
using namespace pybind11::literals;
using zeqhost::Arg;
using zeqhost::Encoding;
using zeqhost::Value;

namespace zeqpy {
namespace {

bool is_pandas(py::handle obj, const char *type) {
  py::object cls = py::type::of(obj);
  std::string module = py::str(cls.attr("__module__"));
  if (module.rfind("pandas", 0) != 0) return false;
  return py::isinstance(obj, py::module_::import("pandas").attr(type));
}

// An argument, or an element of one, in a message; built only for a message.
struct Where {
  const std::string &name;
  long index = -1;
  std::string text() const { return index < 0 ? name : name + ", element " + std::to_string(index); }
};

[[noreturn]] void bad_text(const Where &where, Encoding encoding) {
  PyErr_Clear();
  throw py::value_error(where.text() + ": text that " +
                        (encoding == Encoding::Latin1
                             ? std::string("Latin-1 cannot hold; use Session(encoding='utf-8')")
                             : std::string("is not valid Unicode (a lone surrogate)")));
}

// A view of a str's text in the encoding: the UTF-8 form CPython caches,
// or a Latin-1 str's own characters; a copy only for a str with lone
// surrogates (kept as the bytes surrogateescape gives).
Arg encode(PyObject *s, Encoding encoding, const Where &where, Inputs &in) {
  if (encoding == Encoding::Latin1) {
    if (PyUnicode_KIND(s) != PyUnicode_1BYTE_KIND) bad_text(where, encoding);
    return Arg::text(static_cast<const char *>(PyUnicode_DATA(s)), (size_t)PyUnicode_GET_LENGTH(s));
  }
  Arg view;
  if (!utf8_view(s, in.converted, view)) bad_text(where, encoding);
  return view;
}

Arg element(PyObject *o, Encoding encoding, const Where &where, Inputs &in) {
  if (PyUnicode_Check(o)) return encode(o, encoding, where, in);
  if (PyBytes_Check(o)) return Arg::text(PyBytes_AS_STRING(o), (size_t)PyBytes_GET_SIZE(o));
  if (is_missing_marker(o)) return Arg::missing();
  if (PyFloat_Check(o) || PyLong_Check(o) || PyNumber_Check(o)) {
    double x = PyFloat_AsDouble(o);
    if (x == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      throw py::type_error(where.text() + ": " + std::string(Py_TYPE(o)->tp_name) + " is not a number");
    }
    return std::isnan(x) ? Arg::missing() : Arg::num(x);
  }
  throw py::type_error(where.text() + ": expected str, bytes, a number or None, got " +
                       std::string(Py_TYPE(o)->tp_name));
}

bool is_scalar(py::handle a) {
  return a.is_none() || py::isinstance<py::str>(a) || py::isinstance<py::bytes>(a) ||
         py::isinstance<py::float_>(a) || py::isinstance<py::int_>(a);
}

// One argument as a numpy array of float64 or object.
py::array as_array(py::handle a, const std::string &where) {
  py::module_ np = py::module_::import("numpy");
  // Lists are taken element by element, so that str and bytes may mix.
  bool sequence = py::isinstance<py::list>(a) || py::isinstance<py::tuple>(a);
  py::array arr = sequence ? np.attr("asarray")(a, "object") : np.attr("asarray")(a);
  char kind = arr.dtype().kind();
  if (kind == 'b' || kind == 'i' || kind == 'u' || kind == 'f')
    return np.attr("asarray")(arr, "float64", "order"_a = "C");  // keeps a 0-d array 0-d
  if (kind == 'U' || kind == 'S' || kind == 'O') return np.attr("asarray")(arr, "object", "order"_a = "C");
  throw py::type_error(where + ": an array of " + std::string(py::str(arr.dtype())) +
                       " holds neither text nor numbers");
}

Column column_of(py::handle arg, const std::string &where, Encoding encoding, py::array &shape_of, Inputs &in) {
  Column c;
  if (is_scalar(arg)) {
    in.keep.push_back(py::reinterpret_borrow<py::object>(arg));
    c.values.push_back(element(arg.ptr(), encoding, Where{where}, in));
    shape_of = py::array(py::dtype("float64"), std::vector<py::ssize_t>{});
  } else {
    py::array arr = as_array(arg, where);
    in.keep.push_back(arr);
    shape_of = arr;
    size_t n = (size_t)arr.size();
    c.values.reserve(n);
    if (arr.dtype().kind() == 'f') {
      const double *p = static_cast<const double *>(arr.data());
      for (size_t i = 0; i < n; i++) c.values.push_back(std::isnan(p[i]) ? Arg::missing() : Arg::num(p[i]));
    } else {
      PyObject *const *p = static_cast<PyObject *const *>(arr.data());
      for (size_t i = 0; i < n; i++)
        c.values.push_back(element(p[i], encoding, Where{where, (long)i}, in));
    }
  }
  for (const auto &v : c.values) {
    c.text = c.text || v.kind == Value::Text;
    c.number = c.number || v.kind == Value::Number;
  }
  c.type_name = is_scalar(arg) ? std::string(Py_TYPE(arg.ptr())->tp_name)
                               : c.text ? "an array holding text" : "an array holding numbers";
  return c;
}

// Row map of an array whose shape broadcasts to the result's.
std::vector<int64_t> row_map(const py::array &arr, const py::tuple &shape) {
  py::module_ np = py::module_::import("numpy");
  py::object ids = np.attr("arange")(arr.size(), "dtype"_a = "int64").attr("reshape")(arr.attr("shape"));
  py::array_t<int64_t, py::array::c_style | py::array::forcecast> flat =
      np.attr("ascontiguousarray")(np.attr("broadcast_to")(ids, shape)).attr("ravel")();
  return std::vector<int64_t>(flat.data(), flat.data() + flat.size());
}

}  // namespace

bool is_missing_marker(PyObject *o) {
  if (o == Py_None) return true;
  if (PyFloat_Check(o)) return std::isnan(PyFloat_AS_DOUBLE(o));
  const char *name = Py_TYPE(o)->tp_name;  // pandas.NA and NaT
  return std::string_view(name) == "NAType" || std::string_view(name) == "NaTType";
}

bool utf8_view(PyObject *s, std::deque<std::string> &converted, Arg &out) {
  Py_ssize_t n = 0;
  if (const char *p = PyUnicode_AsUTF8AndSize(s, &n)) {
    out = Arg::text(p, (size_t)n);
    return true;
  }
  PyErr_Clear();
  PyObject *b = PyUnicode_AsEncodedString(s, "utf-8", "surrogateescape");
  if (!b) return false;
  out = Arg::text(converted.emplace_back(PyBytes_AS_STRING(b), (size_t)PyBytes_GET_SIZE(b)));
  Py_DECREF(b);
  return true;
}

Inputs gather(const std::vector<py::object> &args, const std::vector<std::string> &names, Encoding encoding) {
  Inputs in;
  in.index = py::none();
  std::vector<py::array> arrays;
  py::list shapes;
  bool any_array = false;
  for (size_t i = 0; i < args.size(); i++) {
    py::object arg = args[i];
    if (is_pandas(arg, "Series")) {
      py::object index = arg.attr("index");
      if (in.index.is_none()) in.index = index;
      else if (!in.index.attr("equals")(index).cast<bool>())
        throw py::value_error("pandas Series arguments must share one index (" + names[i] + " differs)");
      arg = arg.attr("to_numpy")();
    }
    py::array shape_of;
    in.columns.push_back(column_of(arg, names[i], encoding, shape_of, in));
    any_array = any_array || !is_scalar(arg);
    shapes.append(shape_of.attr("shape"));
    arrays.push_back(shape_of);
  }
  py::tuple shape;
  try {
    shape = py::module_::import("numpy").attr("broadcast_shapes")(*shapes);
  } catch (py::error_already_set &e) {
    throw py::value_error("the arguments do not broadcast to one shape: " + std::string(py::str(e.value())));
  }
  if (!any_array) return in;
  for (auto d : shape) in.shape.push_back(d.cast<py::ssize_t>());
  in.count = 1;
  for (auto d : in.shape) in.count *= (size_t)d;
  for (size_t i = 0; i < arrays.size(); i++) {
    size_t n = in.columns[i].values.size();
    if (n != 1 && n != in.count) in.columns[i].rows = row_map(arrays[i], shape);
  }
  return in;
}

void Results::resize(size_t n) {
  if (text) {
    texts.resize(n);
    missing.assign(n, 0);
  } else {
    numbers.assign(n, NAN);
  }
}

namespace {

// A text result: str when it is valid in the encoding, else bytes.
py::object text_object(const std::string &t, Encoding encoding) {
  PyObject *o = encoding == Encoding::Utf8 ? PyUnicode_DecodeUTF8(t.data(), (Py_ssize_t)t.size(), nullptr)
                                           : PyUnicode_DecodeLatin1(t.data(), (Py_ssize_t)t.size(), nullptr);
  if (!o) {
    PyErr_Clear();
    o = PyBytes_FromStringAndSize(t.data(), (Py_ssize_t)t.size());
  }
  if (!o) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(o);
}

bool whole(double x) { return std::isnan(x) || (x == std::trunc(x) && std::fabs(x) < 9.2e18); }

py::object texts(Results &r, const Inputs &in, Encoding encoding) {
  py::array out = py::module_::import("numpy").attr("empty")(py::cast(in.shape), "object");
  PyObject **p = static_cast<PyObject **>(out.mutable_data());
  for (size_t i = 0; i < in.count; i++) {
    PyObject *old = p[i];
    p[i] = (r.missing[i] ? py::none() : text_object(r.texts[i], encoding)).release().ptr();
    Py_XDECREF(old);
  }
  return out;
}

// int64 where every number is whole (they are: counts, positions and
// distances), with a mask of the missing rows; float64 otherwise.
py::object numbers(const Results &r, const Inputs &in) {
  bool missing = false, all_whole = true;
  for (double x : r.numbers) {
    missing = missing || std::isnan(x);
    all_whole = all_whole && whole(x);
  }
  if (!all_whole || (missing && in.shape.size() != 1)) {
    py::array_t<double> a(in.shape);
    std::copy(r.numbers.begin(), r.numbers.end(), a.mutable_data());
    return a;
  }
  py::array_t<int64_t> a(in.shape);
  int64_t *p = a.mutable_data();
  for (size_t i = 0; i < in.count; i++) p[i] = std::isnan(r.numbers[i]) ? 0 : (int64_t)r.numbers[i];
  if (!missing) return a;
  py::array_t<bool> mask(in.shape);
  for (size_t i = 0; i < in.count; i++) mask.mutable_data()[i] = std::isnan(r.numbers[i]);
  return py::module_::import("pandas").attr("arrays").attr("IntegerArray")(a, mask);
}

}  // namespace

py::object wrap(Results &r, const Inputs &in, Encoding encoding) {
  if (in.shape.empty()) {
    if (r.text) return r.missing[0] ? py::none() : text_object(r.texts[0], encoding);
    double x = r.numbers[0];
    if (std::isnan(x)) return py::none();
    return whole(x) ? py::object(py::int_((int64_t)x)) : py::object(py::float_(x));
  }
  py::object out = r.text ? texts(r, in, encoding) : numbers(r, in);
  if (in.index.is_none() || in.shape.size() != 1) return out;
  return py::module_::import("pandas").attr("Series")(out, "index"_a = in.index);
}

}  // namespace zeqpy
