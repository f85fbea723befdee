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
  int depth = 0;    // brackets around it: 0 required, 2 only with the one before it
  char type = 'x';  // '1' number, '2' text, 'x' either (what a keyword must hold)
};

struct Signature {
  const zeq::catalogue::Function *fn = nullptr;
  std::string lower;          // Python name
  std::vector<Param> params;  // named parameters (the leading ones of a variadic function)
  bool variadic = false;      // "item, ...": positional arguments only
  // "compged(s1, s2, cutoff=None, modifiers=None, *, threads=1)"; with `self`
  // "compged($self, s1, ...)", as CPython reads a signature from a docstring.
  std::string text(bool self = false) const;
  // text(), "--", summary, unit, arguments, modifiers, notes, the rules of
  // trailing blanks and cutoffs: CPython takes the first line as the
  // function's signature (inspect.signature works).
  std::string doc(bool self = false) const;
};

Signature signature_of(const zeq::catalogue::Function &fn);

// Call arguments bound to the function's argument list, optional arguments
// given as None left out.  `keyword_types` receives the type each argument
// must hold ('1', '2'), 'x' for a positional one: the host tells optional
// arguments apart by type, so a keyword of the wrong type is refused instead
// of being read as another argument.
struct Bound {
  std::vector<pybind11::object> args;
  std::vector<std::string> names;  // the parameter each argument binds to
  std::string keyword_types;
};

// Binds ("threads" already removed).  Throws pybind11::type_error as Python
// does for a bad call.
Bound bind(const Signature &sig, const pybind11::args &args, const pybind11::kwargs &kwargs);

// The sentence for a keyword argument of the wrong type, e.g.
// "complev(): argument 'modifiers' must be str or bytes, not int".
[[noreturn]] void wrong_keyword_type(const Signature &sig, const std::string &name, char want,
                                     const std::string &got);

}  // namespace zeqpy
