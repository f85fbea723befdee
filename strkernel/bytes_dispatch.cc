// strkernel/bytes_dispatch.cc - the generic (SSE2) and wide (AVX2) builds of
// the hot byte routines and the once-per-process choice between them.
#include "core/cpu.h"
#include "core/vec_avx2.h"
#include "core/vec_sse2.h"
#include "strkernel/bytes_dispatch.h"

#include <cstdlib>
#include <cstring>

namespace zeq::bytes {

namespace generic {
using namespace zeq::vec::sse2;
#include "strkernel/bytes_dispatch.inc"
}  // namespace generic

ZEQ_WIDE_BEGIN
namespace wide {
using namespace zeq::vec::avx2;
#include "strkernel/bytes_dispatch.inc"
}  // namespace wide
ZEQ_WIDE_END

const Kernels generic_kernels = {
    "generic",          generic::str_up,   generic::str_low,   generic::mem_set,
    generic::mem_tset,  generic::mem_scan, generic::mem_nscan, generic::mem_tnscan,
};

const Kernels wide_kernels = {
    "wide",          wide::str_up,   wide::str_low,   wide::mem_set,
    wide::mem_tset,  wide::mem_scan, wide::mem_nscan, wide::mem_tnscan,
};

namespace {

// Generic until the load-time choice below has run, so a caller that runs
// even earlier (another library constructor) still gets a correct build.
const Kernels *chosen = &generic_kernels;

__attribute__((constructor)) void choose_build() {
  if (cpu::wide()) chosen = &wide_kernels;
}

}  // namespace

const Kernels &active() { return *chosen; }

}  // namespace zeq::bytes
