// rng/xorshift/xorshift.h - shift-register generators: xorshift64*,
// xorshift128+ (with the sum stored back), xorshift1024* and xorshift4096*
// after G. Marsaglia, "Xorshift RNGs" (2003) and S. Vigna, "An experimental
// exploration of Marsaglia's xorshift generators, scrambled" (2016), and the
// 4096-bit xorgens generator with a Weyl sequence of R. P. Brent, "Some long-
// period random number generators using shifts and xors" (2007), parameters
// r = 64, s = 53, (a, b, c, d) = (33, 26, 27, 29), Weyl increment
// 0x61C8864680B583EB (2^64 / golden ratio, odd) and output shift 27.
#pragma once

#include <cstdint>

#include "rng/convert.h"

namespace zeq::rng {

struct Xor64Blob {
  uint64_t s;
};
struct Xor128Blob {
  uint64_t s[2];
};
struct Xor1024Blob {
  uint64_t s[16];
  int32_t p;  // index of the current word, 0..15
};
struct Xor4096Blob {
  uint64_t s[64];
  int32_t p;  // 0..63
};
struct XorgensBlob {
  uint64_t x[64];
  uint64_t w;  // Weyl accumulator
  int32_t i;   // 0..63
};
static_assert(sizeof(Xor64Blob) == 8 && sizeof(Xor128Blob) == 16, "xorshift blobs");
static_assert(sizeof(Xor1024Blob) == 136 && sizeof(Xor4096Blob) == 520, "xorshift blobs");
static_assert(sizeof(XorgensBlob) == 528, "xorgens blob");

inline constexpr uint64_t kXorgensWeyl = 0x61C8864680B583EBull;

ZRNG_INLINE uint64_t xorshift_64_next(Xor64Blob *b) {
  uint64_t s = b->s;
  s ^= s >> 12;
  s ^= s << 25;
  s ^= s >> 27;
  b->s = s;
  return s * 0x2545F4914F6CDD1Dull;
}

// The two stores stay two 8-byte stores: merged into one 16-byte vector store
// (as the compiler otherwise does) they stall the next draw's 8-byte loads,
// which more than doubles the cost of a draw.
ZRNG_INLINE uint64_t xorshift_128_next(Xor128Blob *b) {
  uint64_t a = b->s[0];
  const uint64_t c = b->s[1];
  b->s[0] = c;
  a ^= a << 23;
  uint64_t sum = c + (a ^ c ^ (a >> 17) ^ (c >> 26));
  __asm__ volatile("" ::: "memory");  // ends the store group: two scalar stores
  b->s[1] = sum;
  return sum;
}

ZRNG_INLINE uint64_t xorshift_1024_next(Xor1024Blob *b) {
  uint32_t p = static_cast<uint32_t>(b->p) & 15;
  const uint64_t a = b->s[p];
  p = (p + 1) & 15;
  b->p = static_cast<int32_t>(p);  // early, as in xorgens_next
  uint64_t c = b->s[p];
  c ^= c << 31;
  uint64_t v = a ^ (a >> 30) ^ c ^ (c >> 11);
  b->s[p] = v;
  return v * 0x106689D45497FDB5ull;  // 1181783497276652981
}

ZRNG_INLINE uint64_t xorshift_4096_next(Xor4096Blob *b) {
  uint32_t p = static_cast<uint32_t>(b->p) & 63;
  uint64_t a = b->s[p];
  p = (p + 1) & 63;
  b->p = static_cast<int32_t>(p);
  uint64_t c = b->s[p];
  c ^= c << 25;
  c ^= c >> 3;
  a ^= a >> 49;
  uint64_t v = a ^ c;
  b->s[p] = v;
  return v * 0x74321163EEC4A005ull;  // 8372773778140471301
}

// One step of the xorgens recurrence on x[i] and x[i + 11] (mod 64).
ZRNG_INLINE uint64_t xorgens_mix(uint64_t *x, uint32_t i) {
  uint64_t t = x[i];
  uint64_t v = x[(i + 11) & 63];
  t ^= t << 33;
  t ^= t >> 26;
  v ^= v << 27;
  v ^= v >> 29;
  v ^= t;
  x[i] = v;
  return v;
}

// The index and the Weyl accumulator are written back as soon as they are
// known: the next draw reads them first, and an early store lets the
// processor forward it sooner.  With the slot's null test the draw is 126
// bytes of code: two 64-byte lines, like the plain reference.  Each line a
// call runs through costs a cycle here, and the whole draw cannot fit in one.
ZRNG_INLINE uint64_t xorgens_next(XorgensBlob *b) {
  uint32_t i = (static_cast<uint32_t>(b->i) + 1) & 63;
  b->i = static_cast<int32_t>(i);
  uint64_t w = b->w + kXorgensWeyl;
  b->w = w;
  uint64_t v = xorgens_mix(b->x, i);
  return v + (w ^ (w >> 27));
}

template <class Blob, uint64_t (*Step)(Blob *)>
struct XorGen {
  static constexpr bool kStateless = false;
  template <bool W>
  ZRNG_INLINE static uint64_t next64(void *b) {
    return Step(static_cast<Blob *>(b));
  }
};

using Xor64Gen = XorGen<Xor64Blob, xorshift_64_next>;
using Xor128Gen = XorGen<Xor128Blob, xorshift_128_next>;
using Xor1024Gen = XorGen<Xor1024Blob, xorshift_1024_next>;
using Xor4096Gen = XorGen<Xor4096Blob, xorshift_4096_next>;
using XorgensGen = XorGen<XorgensBlob, xorgens_next>;

}  // namespace zeq::rng
