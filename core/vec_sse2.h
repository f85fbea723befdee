// core/vec_sse2.h - the 16-byte vector shim of the generic build (SSE2), for
// the byte kernels of strkernel/ and the scan kernels of charfn/countfind/:
// each includes it and core/vec_avx2.h, and compiles its kernel body once
// over each (using namespace zeq::vec::sse2 / avx2).
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace zeq::vec::sse2 {

constexpr uint64_t kWidth = 16;
using V = __m128i;
inline V load(const void *p) { return _mm_load_si128(static_cast<const V *>(p)); }
inline V loadu(const void *p) { return _mm_loadu_si128(static_cast<const V *>(p)); }
inline void store(void *p, V v) { _mm_store_si128(static_cast<V *>(p), v); }
inline void storeu(void *p, V v) { _mm_storeu_si128(static_cast<V *>(p), v); }
inline V zero() { return _mm_setzero_si128(); }
inline V splat8(uint8_t b) { return _mm_set1_epi8(static_cast<char>(b)); }
inline V splat32(uint32_t w) { return _mm_set1_epi32(static_cast<int>(w)); }
inline V eq8(V a, V b) { return _mm_cmpeq_epi8(a, b); }
inline V eq32(V a, V b) { return _mm_cmpeq_epi32(a, b); }
inline V sub8(V a, V b) { return _mm_sub_epi8(a, b); }
inline V min_u8(V a, V b) { return _mm_min_epu8(a, b); }
inline V and_(V a, V b) { return _mm_and_si128(a, b); }
inline V or_(V a, V b) { return _mm_or_si128(a, b); }
inline V xor_(V a, V b) { return _mm_xor_si128(a, b); }
inline uint32_t mask8(V v) { return static_cast<uint32_t>(_mm_movemask_epi8(v)); }
inline bool any(V v) { return _mm_movemask_epi8(_mm_cmpeq_epi8(v, zero())) != 0xFFFF; }
// The sum of the 16 unsigned bytes.
inline int64_t sum_bytes(V v) {
  const V s = _mm_sad_epu8(v, zero());
  return _mm_cvtsi128_si64(s) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(s, s));
}

}  // namespace zeq::vec::sse2
