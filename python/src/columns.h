// python/src/columns.h - call arguments as columns of argument views, and
// the result array.
//
// Every argument becomes a column of zeqhost::Arg: a scalar one view, an
// array-like (numpy array, list, pandas Series) one view per element.  A
// view points where Python keeps the text (the UTF-8 form CPython caches in
// a str, a Latin-1 str's own characters, a bytes buffer); only text that
// must be converted (a str with lone surrogates) is copied.  Inputs keeps
// the objects alive, so the views stay valid with the interpreter lock
// released.  The columns broadcast against each other as numpy arrays do; a
// column that is neither a scalar nor full length reaches its values
// through a row map.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <pybind11/pybind11.h>

#include "host/column.h"

namespace zeqpy {

struct Column {
  std::vector<zeqhost::Arg> values;
  std::vector<int64_t> rows;  // output row -> index into values; empty: direct or scalar
  bool text = false;          // holds text: a missing element makes the row's result missing
  bool number = false;        // holds a number
  std::string type_name;      // what a wrong type is called in a message ("int", "an array of text")
  const zeqhost::Arg &at(size_t row) const {
    return values.size() == 1 ? values[0] : rows.empty() ? values[row] : values[(size_t)rows[row]];
  }
};

struct Inputs {
  std::vector<Column> columns;
  std::vector<pybind11::ssize_t> shape;  // broadcast shape; empty when every argument is a scalar
  size_t count = 1;                      // rows
  pybind11::object index;                // the index of a pandas Series argument, or None
  std::vector<pybind11::object> keep;    // the objects the views point into
  std::deque<std::string> converted;     // text that had to be converted
};

// Whether an element stands for a missing value: None, NaN, pandas.NA, NaT.
bool is_missing_marker(PyObject *o);

// A view of a str's UTF-8 text, the form CPython caches; a str with lone
// surrogates is converted with surrogateescape into `converted`, which must
// outlive the view.  False, with the Python error set, when even that fails.
bool utf8_view(PyObject *s, std::deque<std::string> &converted, zeqhost::Arg &out);

// Converts the bound arguments.  `names` label the arguments in messages.
// Throws pybind11::type_error for a value of no usable type and
// pybind11::value_error for shapes that do not broadcast or text the
// encoding cannot hold.
Inputs gather(const std::vector<pybind11::object> &args, const std::vector<std::string> &names,
              zeqhost::Encoding encoding);

// Results of a call, one per row.
struct Results {
  bool text = false;
  std::vector<double> numbers;   // NaN: missing
  std::vector<std::string> texts;
  std::vector<uint8_t> missing;  // text results only
  void resize(size_t n);
};

// A call on scalars gives a Python int (a whole number), float, str, bytes
// or None.  Otherwise a numpy array of the broadcast shape: int64 for whole
// numbers (pandas Int64 when a row is missing and the result has one
// dimension, else float64 with NaN), object holding str, bytes and None for
// text; a pandas Series on the index when a Series came in.  Text that is
// not valid in the encoding comes back as bytes.
pybind11::object wrap(Results &results, const Inputs &in, zeqhost::Encoding encoding);

}  // namespace zeqpy
