// rng/convert.h - the uniform output conversions, written once over a
// method's raw step and stamped out per method, so that every descriptor slot
// is a function of its own with the step inlined (one indirect call a draw).
//
// A method is described by a small generator type G:
//   static constexpr bool kStateless;          // true: the blob is never read
//   template <bool W> static uint32_t next32(void *blob);   // 32-bit family
//   template <bool W> static uint64_t next64(void *blob);   // 64-bit family
// W selects the build of a state-refilling step (wide: AVX2/FMA, generic);
// both builds give the same words.
//
// Each conversion set exists in a generic build and a wide build (the wide
// one compiled for AVX2 with fused multiply-add).  The builders choose one
// set per process from the processor's features (wide_isa()); the results are
// identical bit for bit, which the tests check on both.
//
// Rules (every constant is an exact power of two unless stated):
//  32-bit word v:   reject_zero  v*2^-32, redrawn while v = 0, at most 99 words
//                   open_open    (v + 0.5)*2^-32
//                   open_closed  (v + 1)*2^-32
//                   closed_open  v*2^-32
//                   closed_closed (v rounded up to even)*2^-32
//  53-bit m = w>>11: the same five with 2^-53, open_open is (m|1)*2^-53.
//  64-bit word w:   double(w) is the correctly rounded conversion, so every
//                   w >= 0xFFFFFFFFFFFFFC00 becomes 2^64.  open_open (w|1) and
//                   closed_open w are remapped above that threshold to their
//                   low 10 bits moved to the top (w << 54), which keeps them
//                   inside the interval.
//  infinite:        the binary fraction of the bit stream, rounded to 53 bits.
#pragma once

#include <cmath>
#include <cstdint>

#include "zeq/rng.h"

#define ZRNG_INLINE inline __attribute__((always_inline))
#define ZRNG_WIDE_TARGET __attribute__((target("avx2,fma,bmi,bmi2")))
// Slot functions start on a cache line: a draw is a handful of instructions,
// and one that straddles a line boundary costs a measurable share of it.
#define ZRNG_SLOT_ALIGN __attribute__((aligned(64)))

namespace zeq::rng {

// Reads a state word that the previous draw stored, as a plain load into a
// register, where the compiler would fold it into the instruction that uses
// it (an imul or cmp with a memory operand).  Measured on the PCG step: with
// the state load folded into the multiply, a draw costs about a cycle more
// than with a plain load, and the test of a null blob in front of it stops
// being free.  Not a rule for every word: the Weyl term of XORGENS, read the
// same way, made its draw slower.  Measure before using it.
template <class T>
ZRNG_INLINE T load_plain(const T &word) {
  T v = word;
  __asm__("" : "+r"(v));
  return v;
}

// True when the processor offers AVX2, FMA and BMI2: the builders then place
// the wide build of each conversion into the descriptor.  Decided once per
// process.
bool wide_isa();

// Scales and thresholds (IEEE-754 binary64).
inline constexpr double kScale32 = 0x1p-32;            // 0x3DF0000000000000
inline constexpr double kScale53 = 0x1p-53;            // 0x3CA0000000000000
inline constexpr double kScale64 = 0x1p-64;            // 0x3BF0000000000000
inline constexpr double kCrudeScale = 0x1.fffffffffffffp-33;  // 0x3DEFFFFFFFFFFFFF
inline constexpr uint64_t kRoundsToOne = 0xFFFFFFFFFFFFFC00ull;

// Words a bounded reject-zero conversion draws at most (1, then 98 more).
inline constexpr int kRejectZeroDraws = 99;
// Words zrng_double_64_reject_zero_one draws before it gives up.  A working
// generator is rejected with probability 1025/2^64 a word, and a keyed
// subtract-key stream at most 1025 times in a row, so the bound is reached
// only by a stream that can never leave the rejected words (an all-zero
// shift register, an MH3 state of 0, a subtract-key stream with key 0 on a
// rejected word, the hardware method without the instruction).  Such a
// stream answers 0.0, the value at which the bounded rules also give up.
inline constexpr int kRejectZeroOneDraws = 1 << 16;
// Smallest exponent zrng_double_infinite reaches before answering 0.0.
inline constexpr int kInfiniteMinExponent = -1074;

// Correctly rounded (to nearest, ties to even) unsigned 64-bit conversion,
// without a branch on the top bit (which random words would mispredict half
// the time): both halves convert exactly, and their sum is rounded once.
ZRNG_INLINE double u64_to_double(uint64_t w) {
  const double hi = static_cast<double>(static_cast<int64_t>(w >> 32)) * 0x1p32;
  const double lo = static_cast<double>(static_cast<int64_t>(w & 0xFFFFFFFFull));
  return hi + lo;
}

// --- 32-bit rules ----------------------------------------------------------
template <class Draw>
ZRNG_INLINE double d32_reject_zero(Draw draw) {
  uint32_t v = draw();
  for (int n = 1; v == 0 && n < kRejectZeroDraws; ++n) v = draw();
  return static_cast<double>(v) * kScale32;
}
ZRNG_INLINE double d32_open_open(uint32_t v) { return (static_cast<double>(v) + 0.5) * kScale32; }
template <bool Fma>
ZRNG_INLINE double d32_open_closed(uint32_t v) {
  if constexpr (Fma) return __builtin_fma(kScale32, static_cast<double>(v), kScale32);
  else return (static_cast<double>(v) + 1.0) * kScale32;
}
ZRNG_INLINE double d32_closed_open(uint32_t v) { return static_cast<double>(v) * kScale32; }
ZRNG_INLINE double d32_closed_closed(uint32_t v) {
  uint64_t e = (static_cast<uint64_t>(v) & ~1ull) + 2 * (static_cast<uint64_t>(v) & 1);
  return static_cast<double>(e) * kScale32;
}

// --- 53-bit rules (m = top 53 bits of a word) -------------------------------
template <class Draw>
ZRNG_INLINE double d53_reject_zero(Draw draw) {
  uint64_t m = draw() >> 11;
  for (int n = 1; m == 0 && n < kRejectZeroDraws; ++n) m = draw() >> 11;
  return static_cast<double>(m) * kScale53;
}
ZRNG_INLINE double d53_open_open(uint64_t w) {
  return static_cast<double>((w >> 11) | 1) * kScale53;
}
template <bool Fma>
ZRNG_INLINE double d53_open_closed(uint64_t w) {
  if constexpr (Fma) return __builtin_fma(kScale53, static_cast<double>(w >> 11), kScale53);
  else return static_cast<double>((w >> 11) + 1) * kScale53;
}
ZRNG_INLINE double d53_closed_open(uint64_t w) {
  return static_cast<double>(w >> 11) * kScale53;
}
ZRNG_INLINE double d53_closed_closed(uint64_t w) {
  uint64_t m = w >> 11;
  return static_cast<double>((m & ~1ull) + 2 * (m & 1)) * kScale53;
}

// --- 64-bit rules -----------------------------------------------------------
template <class Draw>
ZRNG_INLINE double d64_reject_zero_one(Draw draw) {
  for (int n = 0; n < kRejectZeroOneDraws; ++n) {
    uint64_t w = draw();
    if (w != 0) {
      double u = u64_to_double(w) * kScale64;
      if (u != 1.0) return u;
    }
  }
  return 0.0;
}
ZRNG_INLINE double d64_open_open(uint64_t w) {
  uint64_t a = w | 1;
  if (a >= kRoundsToOne) a <<= 54;
  return u64_to_double(a) * kScale64;
}
template <bool Fma>
ZRNG_INLINE double d64_open_closed(uint64_t w) {
  if constexpr (Fma) return __builtin_fma(kScale64, u64_to_double(w), kScale64);
  else return (u64_to_double(w) + 1.0) * kScale64;
}
ZRNG_INLINE double d64_closed_open(uint64_t w) {
  if (w >= kRoundsToOne) w <<= 54;
  return u64_to_double(w) * kScale64;
}
ZRNG_INLINE double d64_closed_closed(uint64_t w) { return u64_to_double(w) * kScale64; }

// Full precision: the bits of the stream as a binary fraction.  Zero words
// lower the exponent by 64 each (at most 16 of them, then 0.0); the leading
// zero bits of the first non-zero word are filled from one more word; the
// forced low bit keeps the value off exact ties and off zero.
template <class Draw>
ZRNG_INLINE double d64_infinite(Draw draw) {
  int e = -64;
  uint64_t w = draw();
  while (w == 0) {
    e -= 64;
    if (e < kInfiniteMinExponent) return 0.0;
    w = draw();
  }
  int c = __builtin_clzll(w);
  if (c > 0) {
    uint64_t w2 = draw();
    w = (w << c) | (w2 >> (64 - c));
    e -= c;
  }
  return std::ldexp(u64_to_double(w | 1), e);
}

}  // namespace zeq::rng

// Stamps out one conversion set.  Name32 / Name64: the class templates; W: the
// build of the refilling steps; ATTR: the attributes of the build.  A null
// blob answers 0 (stateful methods only) so that no slot can be made to crash.
// That answer stays in the slot, after its return: the test is then a 2-byte
// branch, where a jump to a cold section takes 6.  A draw costs one cycle per
// 64-byte line of code it runs through, on top of the call, and those bytes
// keep XORGENS's raw draw within two lines (docs/performance.md).
#define ZRNG_DEFINE_SLOT_SETS(Name32, Name64, W, ATTR)                                   \
  template <class G>                                                                    \
  struct Name32 {                                                                       \
    static constexpr bool kWide = W;                                                    \
    ZRNG_INLINE static uint32_t next(void *b) { return G::template next32<W>(b); }      \
    ZRNG_INLINE static bool bad(void *b) {                                              \
      return !G::kStateless && __builtin_expect(b == nullptr, 0);                       \
    }                                                                                   \
    ATTR static uint32_t uint32(void *b) {                                              \
      if (bad(b)) return uint32_t(0);                                                   \
      return next(b);                                                                   \
    }                                                                                   \
    ATTR static uint64_t uint64(void *b) {                                              \
      if (bad(b)) return uint64_t(0);                                                   \
      uint64_t hi = next(b);                                                            \
      uint64_t lo = next(b);                                                            \
      return hi << 32 | lo;                                                             \
    }                                                                                   \
    ATTR static double reject_zero(void *b) {                                           \
      if (bad(b)) return double(0);                                                     \
      return ::zeq::rng::d32_reject_zero([b] { return next(b); });                      \
    }                                                                                   \
    ATTR static double open_open(void *b) {                                             \
      if (bad(b)) return double(0);                                                     \
      return ::zeq::rng::d32_open_open(next(b));                                        \
    }                                                                                   \
    ATTR static double open_closed(void *b) {                                           \
      if (bad(b)) return double(0);                                                     \
      return ::zeq::rng::d32_open_closed<W>(next(b));                                   \
    }                                                                                   \
    ATTR static double closed_open(void *b) {                                           \
      if (bad(b)) return double(0);                                                     \
      return ::zeq::rng::d32_closed_open(next(b));                                      \
    }                                                                                   \
    ATTR static double closed_closed(void *b) {                                         \
      if (bad(b)) return double(0);                                                     \
      return ::zeq::rng::d32_closed_closed(next(b));                                    \
    }                                                                                   \
  };                                                                                    \
  template <class G>                                                                    \
  struct Name64 {                                                                       \
    static constexpr bool kWide = W;                                                    \
    ZRNG_INLINE static uint64_t next(void *b) { return G::template next64<W>(b); }      \
    ZRNG_INLINE static bool bad(void *b) {                                              \
      return !G::kStateless && __builtin_expect(b == nullptr, 0);                       \
    }                                                                                   \
    ATTR static uint32_t uint32(void *b) {                                              \
      if (bad(b)) return uint32_t(0);                                                   \
      return static_cast<uint32_t>(next(b) >> 32);                                      \
    }                                                                                   \
    ATTR static uint64_t uint64(void *b) {                                              \
      if (bad(b)) return uint64_t(0);                                                   \
      return next(b);                                                                   \
    }                                                                                   \
    ATTR static double d53_reject_zero(void *b) {                                       \
      if (bad(b)) return double(0);                                                     \
      return ::zeq::rng::d53_reject_zero([b] { return next(b); });                      \
    }                                                                                   \
    ATTR static double d53_open_open(void *b) {                                         \
      if (bad(b)) return double(0);                                                     \
      return ::zeq::rng::d53_open_open(next(b));                                        \
    }                                                                                   \
    ATTR static double d53_open_closed(void *b) {                                       \
      if (bad(b)) return double(0);                                                     \
      return ::zeq::rng::d53_open_closed<W>(next(b));                                   \
    }                                                                                   \
    ATTR static double d53_closed_open(void *b) {                                       \
      if (bad(b)) return double(0);                                                     \
      return ::zeq::rng::d53_closed_open(next(b));                                      \
    }                                                                                   \
    ATTR static double d53_closed_closed(void *b) {                                     \
      if (bad(b)) return double(0);                                                     \
      return ::zeq::rng::d53_closed_closed(next(b));                                    \
    }                                                                                   \
    ATTR static double d64_reject_zero_one(void *b) {                                   \
      if (bad(b)) return double(0);                                                     \
      return ::zeq::rng::d64_reject_zero_one([b] { return next(b); });                  \
    }                                                                                   \
    ATTR static double d64_open_open(void *b) {                                         \
      if (bad(b)) return double(0);                                                     \
      return ::zeq::rng::d64_open_open(next(b));                                        \
    }                                                                                   \
    ATTR static double d64_open_closed(void *b) {                                       \
      if (bad(b)) return double(0);                                                     \
      return ::zeq::rng::d64_open_closed<W>(next(b));                                   \
    }                                                                                   \
    ATTR static double d64_closed_open(void *b) {                                       \
      if (bad(b)) return double(0);                                                     \
      return ::zeq::rng::d64_closed_open(next(b));                                      \
    }                                                                                   \
    ATTR static double d64_closed_closed(void *b) {                                     \
      if (bad(b)) return double(0);                                                     \
      return ::zeq::rng::d64_closed_closed(next(b));                                    \
    }                                                                                   \
    ATTR static double infinite(void *b) {                                              \
      if (bad(b)) return double(0);                                                     \
      return ::zeq::rng::d64_infinite([b] { return next(b); });                         \
    }                                                                                   \
  };

namespace zeq::rng {

ZRNG_DEFINE_SLOT_SETS(GenericSlots32, GenericSlots64, false, ZRNG_SLOT_ALIGN)
ZRNG_DEFINE_SLOT_SETS(WideSlots32, WideSlots64, true, ZRNG_SLOT_ALIGN ZRNG_WIDE_TARGET)

// Places a 32-bit set: uint32, uint64 from two words, the five 32-bit
// doubles; default reject_zero, with_zero closed_open.
template <class S>
void place_slots32(zrng_desc *d) {
  d->uint32 = &S::uint32;
  d->uint64 = &S::uint64;
  d->double_32[ZRNG_REJECT] = &S::reject_zero;
  d->double_32[ZRNG_OO] = &S::open_open;
  d->double_32[ZRNG_OC] = &S::open_closed;
  d->double_32[ZRNG_CO] = &S::closed_open;
  d->double_32[ZRNG_CC] = &S::closed_closed;
  d->double_default = &S::reject_zero;
  d->double_with_zero = &S::closed_open;
}

// Places a 64-bit set: uint32 (high half), uint64, the 53- and 64-bit doubles
// and the full-precision one; default reject_zero_one, with_zero
// closed_closed.
template <class S>
void place_slots64(zrng_desc *d) {
  d->uint32 = &S::uint32;
  d->uint64 = &S::uint64;
  d->double_53[ZRNG_REJECT] = &S::d53_reject_zero;
  d->double_53[ZRNG_OO] = &S::d53_open_open;
  d->double_53[ZRNG_OC] = &S::d53_open_closed;
  d->double_53[ZRNG_CO] = &S::d53_closed_open;
  d->double_53[ZRNG_CC] = &S::d53_closed_closed;
  d->double_64[ZRNG_REJECT] = &S::d64_reject_zero_one;
  d->double_64[ZRNG_OO] = &S::d64_open_open;
  d->double_64[ZRNG_OC] = &S::d64_open_closed;
  d->double_64[ZRNG_CO] = &S::d64_closed_open;
  d->double_64[ZRNG_CC] = &S::d64_closed_closed;
  d->double_infinite = &S::infinite;
  d->double_default = &S::d64_reject_zero_one;
  d->double_with_zero = &S::d64_closed_closed;
}

// The build chosen for this process.
template <class G>
void fill_conversions32(zrng_desc *d) {
  if (wide_isa()) place_slots32<WideSlots32<G>>(d);
  else place_slots32<GenericSlots32<G>>(d);
}
template <class G>
void fill_conversions64(zrng_desc *d) {
  if (wide_isa()) place_slots64<WideSlots64<G>>(d);
  else place_slots64<GenericSlots64<G>>(d);
}

}  // namespace zeq::rng
