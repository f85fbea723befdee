// rng/mt/mt.h - Mersenne Twister engines: MT19937 (32-bit) and MT19937-64,
// after M. Matsumoto and T. Nishimura, "Mersenne Twister: a 623-dimensionally
// equidistributed uniform pseudorandom number generator" (1998) and the
// 64-bit version of T. Nishimura (2000), with the published parameters.
//
// The blobs hold the untempered state and the position of the next word.  A
// word is tempered when it is delivered; the whole array is regenerated when
// the position reaches its end.  Regeneration exists in a generic and a wide
// (AVX2) build; both are the same loops, which the compiler vectorises.
#pragma once

#include <cstdint>

#include "rng/convert.h"

namespace zeq::rng {

// --- MT19937 ---------------------------------------------------------------
inline constexpr int kMt32N = 624;
inline constexpr int kMt32M = 397;
inline constexpr uint32_t kMt32Matrix = 0x9908B0DFu;
inline constexpr uint32_t kMt32Upper = 0x80000000u;
inline constexpr uint32_t kMt32Lower = 0x7FFFFFFFu;

struct Mt32Blob {
  uint32_t mt[kMt32N];
  int32_t index;  // next word to temper; >= 624: regenerate first
};
static_assert(sizeof(Mt32Blob) == 2500, "MT 32-bit blob");

// Consecutive zero words the 32-bit step skips before it gives up.  A zero
// word is a zero state word; two array lengths of them in a row contain a
// whole regenerated array of zeros, which the recurrence keeps for ever.
// Such a stuck state (loaded zeros, or MT1998 initialised from 0) then
// delivers the word 0 instead of looping without end.
inline constexpr int kMt32ZeroBound = 2 * kMt32N;

ZRNG_INLINE uint32_t mt32_twist(uint32_t a, uint32_t b, uint32_t far) {
  uint32_t y = (a & kMt32Upper) | (b & kMt32Lower);
  return far ^ (y >> 1) ^ ((0u - (y & 1u)) & kMt32Matrix);
}

// Regeneration in the published order: k = 0..226 uses mt[k+397]; k =
// 227..622 uses the new mt[k-227]; mt[623] uses the new mt[0] and mt[396].
ZRNG_INLINE void mt32_regen_body(uint32_t *mt) {
  for (int k = 0; k < kMt32N - kMt32M; ++k) mt[k] = mt32_twist(mt[k], mt[k + 1], mt[k + kMt32M]);
  for (int k = kMt32N - kMt32M; k < kMt32N - 1; ++k)
    mt[k] = mt32_twist(mt[k], mt[k + 1], mt[k + kMt32M - kMt32N]);
  mt[kMt32N - 1] = mt32_twist(mt[kMt32N - 1], mt[0], mt[kMt32M - 1]);
}
inline __attribute__((noinline)) void mt32_regen_generic(uint32_t *mt) { mt32_regen_body(mt); }
inline __attribute__((noinline)) ZRNG_WIDE_TARGET void mt32_regen_wide(uint32_t *mt) {
  mt32_regen_body(mt);
}

ZRNG_INLINE uint32_t mt32_temper(uint32_t y) {
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}

// One non-zero tempered word (zero words are skipped, see kMt32ZeroBound).
template <bool W>
ZRNG_INLINE uint32_t mt32_next(Mt32Blob *s) {
  uint32_t i = static_cast<uint32_t>(s->index);
  for (int zeros = 0;;) {
    if (i >= static_cast<uint32_t>(kMt32N)) {
      if constexpr (W) mt32_regen_wide(s->mt);
      else mt32_regen_generic(s->mt);
      i = 0;
    }
    uint32_t y = s->mt[i++];
    if (__builtin_expect(y != 0, 1)) {
      s->index = static_cast<int32_t>(i);
      return mt32_temper(y);
    }
    if (++zeros >= kMt32ZeroBound) {
      s->index = static_cast<int32_t>(i);
      return 0;
    }
  }
}

struct Mt32Gen {
  static constexpr bool kStateless = false;
  template <bool W>
  ZRNG_INLINE static uint32_t next32(void *b) {
    return mt32_next<W>(static_cast<Mt32Blob *>(b));
  }
};

// --- MT19937-64 --------------------------------------------------------------
inline constexpr int kMt64N = 312;
inline constexpr int kMt64M = 156;
inline constexpr uint64_t kMt64Matrix = 0xB5026F5AA96619E9ull;
inline constexpr uint64_t kMt64Upper = 0xFFFFFFFF80000000ull;
inline constexpr uint64_t kMt64Lower = 0x7FFFFFFFull;

struct Mt64Blob {
  uint64_t mt[kMt64N];
  int32_t index;  // next word; >= 312: regenerate first
};
static_assert(sizeof(Mt64Blob) == 2504, "MT 64-bit blob");

ZRNG_INLINE uint64_t mt64_twist(uint64_t a, uint64_t b, uint64_t far) {
  uint64_t y = (a & kMt64Upper) | (b & kMt64Lower);
  return far ^ (y >> 1) ^ ((0ull - (y & 1ull)) & kMt64Matrix);
}

ZRNG_INLINE void mt64_regen_body(uint64_t *mt) {
  for (int k = 0; k < kMt64N - kMt64M; ++k) mt[k] = mt64_twist(mt[k], mt[k + 1], mt[k + kMt64M]);
  for (int k = kMt64N - kMt64M; k < kMt64N - 1; ++k)
    mt[k] = mt64_twist(mt[k], mt[k + 1], mt[k + kMt64M - kMt64N]);
  mt[kMt64N - 1] = mt64_twist(mt[kMt64N - 1], mt[0], mt[kMt64M - 1]);
}
inline __attribute__((noinline)) void mt64_regen_generic(uint64_t *mt) { mt64_regen_body(mt); }
inline __attribute__((noinline)) ZRNG_WIDE_TARGET void mt64_regen_wide(uint64_t *mt) {
  mt64_regen_body(mt);
}

ZRNG_INLINE uint64_t mt64_temper(uint64_t x) {
  x ^= (x >> 29) & 0x5555555555555555ull;
  x ^= (x << 17) & 0x71D67FFFEDA60000ull;
  x ^= (x << 37) & 0xFFF7EEE000000000ull;
  x ^= x >> 43;
  return x;
}

template <bool W>
ZRNG_INLINE uint64_t mt64_next(Mt64Blob *s) {
  uint32_t i = static_cast<uint32_t>(s->index);
  if (i >= static_cast<uint32_t>(kMt64N)) {
    if constexpr (W) mt64_regen_wide(s->mt);
    else mt64_regen_generic(s->mt);
    i = 0;
  }
  uint64_t x = s->mt[i++];
  s->index = static_cast<int32_t>(i);
  return mt64_temper(x);
}

struct Mt64Gen {
  static constexpr bool kStateless = false;
  template <bool W>
  ZRNG_INLINE static uint64_t next64(void *b) {
    return mt64_next<W>(static_cast<Mt64Blob *>(b));
  }
};

}  // namespace zeq::rng
