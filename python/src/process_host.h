// python/src/process_host.h - the one reference host of the Python process.
#pragma once

#include "host/host.h"

namespace zeqpy {

// Made on first use and kept until the process ends (the module keeps
// process-wide anchors, so there is one Host per process).  The module is
// $ZEQ_MODULE when set, else the libzeqwucha.so beside this extension.
// Throws std::runtime_error when the module cannot be loaded.
zeqhost::Host &process_host();

}  // namespace zeqpy
