// strkernel/bytes_dispatch.cc - the generic (SSE2) and wide (AVX2) builds of
// the hot byte routines and the once-per-process choice between them.
#include "core/cpu.h"
#include "strkernel/bytes_dispatch.h"

#include <immintrin.h>

#include <cstdlib>
#include <cstring>

namespace zeq::bytes {

namespace generic {
constexpr uint64_t kWidth = 16;
using V = __m128i;
inline V load(const void *p) { return _mm_load_si128(static_cast<const V *>(p)); }
inline V loadu(const void *p) { return _mm_loadu_si128(static_cast<const V *>(p)); }
inline void store(void *p, V v) { _mm_store_si128(static_cast<V *>(p), v); }
inline void storeu(void *p, V v) { _mm_storeu_si128(static_cast<V *>(p), v); }
inline V splat8(uint8_t b) { return _mm_set1_epi8(static_cast<char>(b)); }
inline V splat32(uint32_t w) { return _mm_set1_epi32(static_cast<int>(w)); }
inline V eq8(V a, V b) { return _mm_cmpeq_epi8(a, b); }
inline V eq32(V a, V b) { return _mm_cmpeq_epi32(a, b); }
inline V sub8(V a, V b) { return _mm_sub_epi8(a, b); }
inline V min_u8(V a, V b) { return _mm_min_epu8(a, b); }
inline V and_(V a, V b) { return _mm_and_si128(a, b); }
inline V xor_(V a, V b) { return _mm_xor_si128(a, b); }
inline uint32_t mask8(V v) { return static_cast<uint32_t>(_mm_movemask_epi8(v)); }
#include "strkernel/bytes_dispatch.inc"
}  // namespace generic

ZEQ_WIDE_BEGIN
namespace wide {
constexpr uint64_t kWidth = 32;
using V = __m256i;
inline V load(const void *p) { return _mm256_load_si256(static_cast<const V *>(p)); }
inline V loadu(const void *p) { return _mm256_loadu_si256(static_cast<const V *>(p)); }
inline void store(void *p, V v) { _mm256_store_si256(static_cast<V *>(p), v); }
inline void storeu(void *p, V v) { _mm256_storeu_si256(static_cast<V *>(p), v); }
inline V splat8(uint8_t b) { return _mm256_set1_epi8(static_cast<char>(b)); }
inline V splat32(uint32_t w) { return _mm256_set1_epi32(static_cast<int>(w)); }
inline V eq8(V a, V b) { return _mm256_cmpeq_epi8(a, b); }
inline V eq32(V a, V b) { return _mm256_cmpeq_epi32(a, b); }
inline V sub8(V a, V b) { return _mm256_sub_epi8(a, b); }
inline V min_u8(V a, V b) { return _mm256_min_epu8(a, b); }
inline V and_(V a, V b) { return _mm256_and_si256(a, b); }
inline V xor_(V a, V b) { return _mm256_xor_si256(a, b); }
inline uint32_t mask8(V v) { return static_cast<uint32_t>(_mm256_movemask_epi8(v)); }
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
