// core/vec_avx2.h - the 32-byte vector shim of the wide build (AVX2): the
// operations of core/vec_sse2.h, compiled for the wide target.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "core/cpu.h"

ZEQ_WIDE_BEGIN
namespace zeq::vec::avx2 {

constexpr uint64_t kWidth = 32;
using V = __m256i;
inline V load(const void *p) { return _mm256_load_si256(static_cast<const V *>(p)); }
inline V loadu(const void *p) { return _mm256_loadu_si256(static_cast<const V *>(p)); }
inline void store(void *p, V v) { _mm256_store_si256(static_cast<V *>(p), v); }
inline void storeu(void *p, V v) { _mm256_storeu_si256(static_cast<V *>(p), v); }
inline V zero() { return _mm256_setzero_si256(); }
inline V splat8(uint8_t b) { return _mm256_set1_epi8(static_cast<char>(b)); }
inline V splat32(uint32_t w) { return _mm256_set1_epi32(static_cast<int>(w)); }
inline V eq8(V a, V b) { return _mm256_cmpeq_epi8(a, b); }
inline V eq32(V a, V b) { return _mm256_cmpeq_epi32(a, b); }
inline V sub8(V a, V b) { return _mm256_sub_epi8(a, b); }
inline V min_u8(V a, V b) { return _mm256_min_epu8(a, b); }
inline V and_(V a, V b) { return _mm256_and_si256(a, b); }
inline V or_(V a, V b) { return _mm256_or_si256(a, b); }
inline V xor_(V a, V b) { return _mm256_xor_si256(a, b); }
inline uint32_t mask8(V v) { return static_cast<uint32_t>(_mm256_movemask_epi8(v)); }
inline bool any(V v) { return !_mm256_testz_si256(v, v); }
// The sum of the 32 unsigned bytes.
inline int64_t sum_bytes(V v) {
  const V s = _mm256_sad_epu8(v, zero());
  return _mm256_extract_epi64(s, 0) + _mm256_extract_epi64(s, 1) + _mm256_extract_epi64(s, 2) +
         _mm256_extract_epi64(s, 3);
}

}  // namespace zeq::vec::avx2
ZEQ_WIDE_END
