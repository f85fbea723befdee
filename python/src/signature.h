// python/src/signature.h - the Python signature of a catalogue function.
//
// Parameter names come from the catalogue's usage line:
// "s1, s2 [, cutoff] [, modifiers]" gives compged(s1, s2, cutoff=None,
// modifiers=None); "item, ..." gives cat(*items).
#pragma once

#include <string>
#include <vector>

#include <pybind11/pybind11.h>

#include "charfn/catalogue.h"

namespace zeqpy {

struct Param {
  std::string name;
  int depth = 0;  // brackets around it: 0 required, 2 only with the one before it
};

struct Signature {
  const zeq::catalogue::Function *fn = nullptr;
  std::string lower;          // Python name
  std::vector<Param> params;  // named parameters (the leading ones of a variadic function)
  bool variadic = false;      // "item, ...": positional arguments only
  std::string text() const;   // "compged(s1, s2, cutoff=None, modifiers=None, *, threads=1)"
  std::string doc() const;    // text(), summary, arguments, modifiers, notes
};

Signature signature_of(const zeq::catalogue::Function &fn);

// Binds call arguments ("threads" already removed) to the function's
// argument list, leaving out optional arguments given as None.  Throws
// pybind11::type_error as Python does for a bad call.
std::vector<pybind11::object> bind(const Signature &sig, const pybind11::args &args,
                                   const pybind11::kwargs &kwargs);

}  // namespace zeqpy
