// bench/rng_refs.h - the generator references of rng_benchmark, written
// here from the published algorithms (xorshift, xorgens, PCG, the
// MurmurHash3 finaliser, the legacy multiplicative step) or taken from
// Random123 and the standard library.  Each is a small state object whose
// call operator returns the next word.
//
// rng_ref_call<G> and rng_ref_new<G> live in a shared library of their own
// (rng_bench_refs, bench/rng_refs.cc), so that the benchmark reaches a
// reference exactly as a host reaches a descriptor slot: through a pointer
// into another shared object.  A function in the benchmark program itself is
// a near call, which on some processors is predicted faster than any call
// into a shared object, depending on where the linker happens to put it.
#pragma once

#include <Random123/threefry.h>

#include <cstdint>
#include <random>
#include <utility>

#include "rng/methods.h"

namespace rngref {

struct Xor64Ref {
  uint64_t s = 5489;
  uint64_t operator()() {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 2685821657736338717ull;
  }
};
struct Xor128Ref {
  uint64_t s[2] = {5489, 0x1234567887654321ull};
  uint64_t operator()() {
    uint64_t s1 = s[0];
    const uint64_t s0 = s[1];
    s[0] = s0;
    s1 ^= s1 << 23;
    return s[1] = (s1 ^ s0 ^ (s1 >> 17) ^ (s0 >> 26)) + s0;  // the sum is stored back
  }
};
struct Xor1024Ref {
  uint64_t s[16];
  int p = 0;
  Xor1024Ref() {
    for (int i = 0; i < 16; ++i) s[i] = 0x9E3779B97F4A7C15ull * (i + 1);
  }
  uint64_t operator()() {
    const uint64_t s0 = s[p];
    uint64_t s1 = s[p = (p + 1) & 15];
    s1 ^= s1 << 31;
    s[p] = s1 ^ s0 ^ (s1 >> 11) ^ (s0 >> 30);
    return s[p] * 1181783497276652981ull;
  }
};
struct Xor4096Ref {
  uint64_t s[64];
  int p = 0;
  Xor4096Ref() {
    for (int i = 0; i < 64; ++i) s[i] = 0x9E3779B97F4A7C15ull * (i + 1);
  }
  uint64_t operator()() {
    uint64_t s0 = s[p];
    uint64_t s1 = s[p = (p + 1) & 63];
    s1 ^= s1 << 25;
    s1 ^= s1 >> 3;
    s0 ^= s0 >> 49;
    return (s[p] = s0 ^ s1) * 8372773778140471301ull;
  }
};
// Brent's xor4096i, 64-bit words.
struct XorgensRef {
  uint64_t x[64], w = 0;
  int i = 63;
  XorgensRef() {
    for (int k = 0; k < 64; ++k) x[k] = 0x9E3779B97F4A7C15ull * (k + 1);
  }
  uint64_t operator()() {
    uint64_t t, v;
    t = x[i = (i + 1) & 63];
    v = x[(i + 11) & 63];
    t ^= t << 33;
    t ^= t >> 26;
    v ^= v << 27;
    v ^= v >> 29;
    x[i] = (v ^= t);
    w += 0x61c8864680b583ebull;
    return v + (w ^ (w >> 27));
  }
};
struct Pcg32Ref {
  uint32_t state = 5490, inc = 1;
  uint32_t operator()() {
    state = state * 747796405u + inc;
    uint32_t word = ((state >> ((state >> 28u) + 4u)) ^ state) * 277803737u;
    return (word >> 22u) ^ word;
  }
};
struct Pcg64Ref {
  uint64_t state = 5490, inc = 1;
  uint64_t operator()() {
    state = state * 6364136223846793005ull + inc;
    uint64_t word = ((state >> ((state >> 59u) + 5u)) ^ state) * 12605985483714917081ull;
    return (word >> 43u) ^ word;
  }
};
// The finaliser itself is the module's inline fmix64, compiled here.
struct Mh3Ref {
  uint64_t x = 5489;
  uint64_t operator()() { return x = zeq::rng::fmix64(x); }
};
struct RanuniRef {
  uint64_t x = 5489;
  uint32_t operator()() {
    x = x * 397204094ull % 2147483647ull;
    return static_cast<uint32_t>(x);
  }
};
template <class G, int W>
struct FryRef {
  typename G::ctr_type ctr{}, out{};
  typename G::key_type key{};
  int i = 0;
  G g;
  FryRef() {
    key[0] = 5489;
    ctr[0] = 1;
  }
  typename G::ctr_type::value_type operator()() {
    if (i == 0) out = g(ctr, key);
    auto v = out[i];
    if (++i == W) {
      i = 0;
      ctr.incr();
    }
    return v;
  }
};
using Fry2x32Ref = FryRef<r123::Threefry2x32, 2>;
using Fry2x64Ref = FryRef<r123::Threefry2x64, 2>;
using Fry4x64Ref = FryRef<r123::Threefry4x64, 4>;

template <class G>
using Word = decltype(std::declval<G &>()());

// The next word of the reference at `g`: not inlined, state by pointer (the
// shape of a descriptor slot).
template <class G>
Word<G> rng_ref_call(void *g);
// Constructs the reference at `g` (its fixed seed).
template <class G>
void rng_ref_new(void *g);

#define RNG_REFERENCES(X)                                                          \
  X(std::mt19937) X(std::mt19937_64) X(Mh3Ref) X(Xor64Ref) X(Xor128Ref) X(Xor1024Ref) \
  X(Xor4096Ref) X(XorgensRef) X(Fry2x32Ref) X(Fry2x64Ref) X(Fry4x64Ref) X(Pcg32Ref)    \
  X(Pcg64Ref) X(RanuniRef)

#define RNG_REF_DECLARE(G)                       \
  extern template Word<G> rng_ref_call<G>(void *); \
  extern template void rng_ref_new<G>(void *);
RNG_REFERENCES(RNG_REF_DECLARE)
#undef RNG_REF_DECLARE

}  // namespace rngref
