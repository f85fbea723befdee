// rng/pcg/pcg.h - permuted congruential generators with the RXS-M-XS output
// permutation and state and output of one width, after M. E. O'Neill, "PCG:
// a family of simple fast space-efficient statistically good algorithms for
// random number generation" (2014) and pcg-c's pcg_output_rxs_m_xs_32_32 and
// _64_64.  The LCG multipliers are pcg-c's defaults (747796405 and
// 6364136223846793005); the increment (always odd) selects the stream.
//
// Unlike pcg-c, which permutes the state before the step, these methods step
// first and permute the new state.  With seed s and key word k they draw
// exactly pcg-cpp's set-stream engines pcg_engines::setseq_rxs_m_xs_32_32
// and _64_64 (pcg32_once_insecure, pcg64_once_insecure) constructed as
// (s, k): pcg-cpp starts from (s + 2k + 1) stepped once and permutes before
// each step, which gives the same words.  The key word a stream hands over
// is key << 21 | thread (PCG32I) or key << 43 | thread (PCG64I); a seed of 0
// draws a fresh seed, and PCG32I folds a 64-bit seed to 32 bits first, which
// pcg-cpp does not.  pcg-cpp's oneseq engines (fixed increment) are not
// reproduced.
#pragma once

#include <cstdint>

#include "rng/convert.h"

namespace zeq::rng {

struct Pcg32Blob {
  uint32_t state;
  uint32_t inc;  // odd
};
struct Pcg64Blob {
  uint64_t state;
  uint64_t inc;  // odd
};
static_assert(sizeof(Pcg32Blob) == 8 && sizeof(Pcg64Blob) == 16, "PCG blobs");

ZRNG_INLINE uint32_t pcg_output_rxs_m_xs_32_32(uint32_t x) {
  x ^= x >> ((x >> 28) + 4);
  x *= 277803737u;
  return x ^ (x >> 22);
}

ZRNG_INLINE uint64_t pcg_output_rxs_m_xs_64_64(uint64_t x) {
  x ^= x >> ((x >> 59) + 5);
  x *= 12605985483714917081ull;  // 0xAEF17502108EF2D9
  return x ^ (x >> 43);
}

ZRNG_INLINE uint32_t pcg_32i_next(Pcg32Blob *b) {
  const uint32_t state = load_plain(b->state) * 747796405u + b->inc;
  b->state = state;
  return pcg_output_rxs_m_xs_32_32(state);
}

ZRNG_INLINE uint64_t pcg_64i_next(Pcg64Blob *b) {
  // multiplier 0x5851F42D4C957F2D
  const uint64_t state = load_plain(b->state) * 6364136223846793005ull + b->inc;
  b->state = state;
  return pcg_output_rxs_m_xs_64_64(state);
}

struct Pcg32Gen {
  static constexpr bool kStateless = false;
  template <bool W>
  ZRNG_INLINE static uint32_t next32(void *b) {
    return pcg_32i_next(static_cast<Pcg32Blob *>(b));
  }
};
struct Pcg64Gen {
  static constexpr bool kStateless = false;
  template <bool W>
  ZRNG_INLINE static uint64_t next64(void *b) {
    return pcg_64i_next(static_cast<Pcg64Blob *>(b));
  }
};

}  // namespace zeq::rng
