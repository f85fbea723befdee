// python/src/matrix.h - zeqwucha.cdist and zeqwucha.extract_one.
#pragma once

#include <pybind11/pybind11.h>

namespace zeqpy {

// Adds cdist and extract_one to the module.
void define_matrix(pybind11::module_ &m);

}  // namespace zeqpy
