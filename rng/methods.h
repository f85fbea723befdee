// rng/methods.h - the generator methods as the rest of the module sees them:
// the method resolver, the descriptor builders, the MurmurHash3
// functions and the hardware random instruction.
//
// Builders fill a zrng_desc in place (zero-filled first); the engine reaches
// a method only through the descriptor's slots, never by name.  The hashing
// and hardware entries keep no state.
#pragma once

#include <cstdint>

#include "zeq/rng.h"

extern "C" {

// Resolves a method word into a descriptor.  `name` is ASCII (mode bit 0x1
// clear) or TKChar (bit 0x1 set), or null; `length` counts characters, a
// negative length means NUL-terminated.  Answers 0, 0x8C7FE80B (unknown
// word: MTHYBRID built) or 0x8C7FE80C (method needs the hardware random
// instruction, which is missing: MTHYBRID built).  A null desc answers 0.
int32_t zrngmeth(const void *name, int64_t length, zrng_desc *desc, int64_t mode);

// Descriptor builders, one per row of rng/methods.def.  zrngmeth passes its
// mode word as a second argument; the builders ignore it, so they are
// declared with the descriptor alone.
#define ZRNG_METHOD(NAME, BUILDER, LISTED, BITS, FLAGS, OPTIONS, THREAD_BITS, DESCRIPTION) \
  void BUILDER(zrng_desc *desc);
#include "rng/methods.def"

// MurmurHash3_x86_32 of `length` bytes (a null or non-positive length hashes
// nothing).
uint32_t zmurmur32(const void *data, int64_t length, uint32_t seed);
// MurmurHash3_x64_128 over `count` little-endian 64-bit words, both halves
// started from the full seed; an odd count is extended by fmix64(seed).
void zmurmur128(const uint64_t *words, int64_t count, uint64_t seed, uint64_t out[2]);
// out[0] ^ out[1] of zmurmur128.
uint64_t zmurmur64(const uint64_t *words, int64_t count, uint64_t seed);

// 1 when the host's processor record reports the hardware random
// instruction, else 0.  Asks the host on every call.
int32_t IsRdRandAvailable(void);
// One 32-bit hardware random value (RdRand16 is the same operation).  They do
// not test availability: callers do.
uint32_t RdRand16(void);
uint32_t RdRand32(void);
// RdRand32() / (2^32 - 1): [0, 1].
double RdRandDb(void);

}  // extern "C"

namespace zeq::rng {

// MurmurHash3 finalisers: the module's common mixing step for seeds, keys,
// thread numbers and short state strings.
inline uint32_t fmix32(uint32_t h) {
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

inline uint64_t fmix64(uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  x ^= x >> 33;
  return x;
}

}  // namespace zeq::rng
