// rng/legacy/legacy.h - the host language's legacy multiplicative generator
// (modulus 2^31 - 1, multiplier 397204094) and the subtract-with-key
// sequences x, x - k, x - 2k, ... of 32 and 64 bits.
#pragma once

#include <cstdint>

#include "rng/convert.h"

namespace zeq::rng {

struct RanuniBlob {
  uint64_t x;  // only the low 32 bits are read; the step writes all 64
};
struct Subkey32Blob {
  uint32_t x;
  uint32_t k;
};
struct Subkey64Blob {
  uint64_t x;
  uint64_t k;
};
static_assert(sizeof(RanuniBlob) == 8 && sizeof(Subkey32Blob) == 8, "legacy blobs");
static_assert(sizeof(Subkey64Blob) == 16, "SUBKEY64 blob");

inline constexpr uint64_t kRanuniModulus = 0x7FFFFFFFull;  // 2^31 - 1
inline constexpr uint64_t kRanuniMultiplier = 397204094ull;

// x = 397204094 x mod (2^31 - 1) without division: the 64-bit product's low
// 31 bits plus the bits above them, then one conditional subtraction.  The
// same step as zranuni.
ZRNG_INLINE uint32_t ranuni_step(RanuniBlob *b) {
  uint64_t p = static_cast<uint64_t>(static_cast<uint32_t>(b->x)) * kRanuniMultiplier;
  uint64_t r = (p & kRanuniModulus) + (p >> 31);
  if (r >= kRanuniModulus) r -= kRanuniModulus;
  b->x = r;
  return static_cast<uint32_t>(r);
}

ZRNG_INLINE uint32_t subkey_32_next(Subkey32Blob *b) { return b->x -= b->k; }
ZRNG_INLINE uint64_t subkey_64_next(Subkey64Blob *b) { return b->x -= b->k; }

struct RanuniGen {
  static constexpr bool kStateless = false;
  template <bool W>
  ZRNG_INLINE static uint32_t next32(void *b) {
    return ranuni_step(static_cast<RanuniBlob *>(b));
  }
};
struct Subkey32Gen {
  static constexpr bool kStateless = false;
  template <bool W>
  ZRNG_INLINE static uint32_t next32(void *b) {
    return subkey_32_next(static_cast<Subkey32Blob *>(b));
  }
};
struct Subkey64Gen {
  static constexpr bool kStateless = false;
  template <bool W>
  ZRNG_INLINE static uint64_t next64(void *b) {
    return subkey_64_next(static_cast<Subkey64Blob *>(b));
  }
};

}  // namespace zeq::rng
