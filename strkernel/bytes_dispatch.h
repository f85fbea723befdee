// strkernel/bytes_dispatch.h - the two builds of the hot byte routines.
//
// The wide-vector build (AVX2, 32 bytes per step) and the generic build
// (SSE2, which every x86-64 processor has, 16 bytes per step) sit behind one
// table of pointers that is chosen once, when the library is loaded, from the
// processor's features.  No routine tests features itself.  Both builds give
// the same results; the tests run their tables against each.
//
// Setting ZEQ_FORCE_GENERIC=1 in the environment before the library is
// loaded keeps the generic build even on a processor with AVX2; the tests
// use it to run the same cases through both builds.
#pragma once

#include <cstdint>

#include "zeq/abi.h"

namespace zeq::bytes {

struct Kernels {
  const char *name;  // "wide" or "generic"
  void (*str_up)(uint8_t *data, uint64_t count);
  void (*str_low)(uint8_t *data, uint64_t count);
  void (*mem_set)(uint8_t *data, uint8_t value, uint64_t count);
  void (*mem_tset)(TKChar *data, TKChar value, uint64_t count);
  int64_t (*mem_scan)(const uint8_t *data, uint64_t count, uint8_t value);
  int64_t (*mem_nscan)(const uint8_t *data, uint64_t count, uint8_t value);
  int64_t (*mem_tnscan)(const TKChar *data, uint64_t count, TKChar value);
};

extern const Kernels generic_kernels;
extern const Kernels wide_kernels;

// The build chosen for this process (generic until the load-time choice).
const Kernels &active();

}  // namespace zeq::bytes
