// Generator methods: nanoseconds per draw through the descriptor's slots
// (one indirect call a draw, as the host draws), next to in-process
// references of the same algorithms: std::mt19937 / std::mt19937_64,
// Random123's Threefry, and xorshift / xorgens / PCG / MurmurHash3-finaliser
// references written here from the published algorithms.  Each reference is
// measured twice: inlined into the loop, and behind a non-inlined call with
// the state passed by pointer (the shape of a descriptor slot).  Fixed seeds;
// the module's trace messages go nowhere (no host is loaded).
#include <benchmark/benchmark.h>

#include <Random123/threefry.h>

#include <cstdint>
#include <cstring>
#include <random>

#include "rng/methods.h"
#include "zeq/rng.h"

namespace {

// --- the module, through the descriptor ----------------------------------------

struct Method {
  zrng_desc desc;
  alignas(64) unsigned char blob[8192];
  explicit Method(zrng_builder_fn build) {
    std::memset(blob, 0, sizeof blob);
    build(&desc);
    if (desc.output_bits > 32) desc.seed_64(blob, 5489);
    else desc.seed_32(blob, 5489);
  }
};

enum class Slot { Uint32, Uint64, Default, Closed53, Infinite };

void BM_Method(benchmark::State &state, zrng_builder_fn build, Slot slot) {
  Method m(build);
  zrng_desc &d = m.desc;
  void *b = m.blob;
  switch (slot) {
    case Slot::Uint32:
      for (auto _ : state) benchmark::DoNotOptimize(d.uint32(b));
      break;
    case Slot::Uint64:
      for (auto _ : state) benchmark::DoNotOptimize(d.uint64(b));
      break;
    case Slot::Default:
      for (auto _ : state) benchmark::DoNotOptimize(d.double_default(b));
      break;
    case Slot::Closed53:
      if (d.double_53[ZRNG_CO] == nullptr) {
        state.SkipWithError("no 53-bit slot");
        return;
      }
      for (auto _ : state) benchmark::DoNotOptimize(d.double_53[ZRNG_CO](b));
      break;
    case Slot::Infinite:
      if (d.double_infinite == nullptr) {
        state.SkipWithError("no full-precision slot");
        return;
      }
      for (auto _ : state) benchmark::DoNotOptimize(d.double_infinite(b));
      break;
  }
}

#define METHOD(NAME, SLOT)                                                      \
  BENCHMARK_CAPTURE(BM_Method, NAME##_##SLOT, zrnf##NAME, Slot::SLOT)

// Raw words of every method.
METHOD(MTHYBRID, Uint32);
METHOD(MT1998, Uint32);
METHOD(MT32, Uint32);
METHOD(MT64, Uint64);
METHOD(MH3, Uint64);
METHOD(XOR64, Uint64);
METHOD(XOR128, Uint64);
METHOD(XOR1024, Uint64);
METHOD(XOR4096, Uint64);
METHOD(XORGENS, Uint64);
METHOD(FRY2X32, Uint32);
METHOD(FRY2X64, Uint64);
METHOD(FRY4X64, Uint64);
METHOD(PCG32I, Uint32);
METHOD(PCG64I, Uint64);
METHOD(RANUNI, Uint32);
METHOD(SUBKEY32, Uint32);
METHOD(SUBKEY64, Uint64);
METHOD(RDRAND, Uint32);
// The default double of every method.
METHOD(MTHYBRID, Default);
METHOD(MT32, Default);
METHOD(MT64, Default);
METHOD(MH3, Default);
METHOD(XOR64, Default);
METHOD(XOR128, Default);
METHOD(XOR1024, Default);
METHOD(XOR4096, Default);
METHOD(XORGENS, Default);
METHOD(FRY2X32, Default);
METHOD(FRY2X64, Default);
METHOD(FRY4X64, Default);
METHOD(PCG32I, Default);
METHOD(PCG64I, Default);
METHOD(RANUNI, Default);
METHOD(SUBKEY32, Default);
METHOD(SUBKEY64, Default);
// Other conversions of a 64-bit method.
METHOD(MT64, Closed53);
METHOD(MT64, Infinite);
METHOD(XOR128, Infinite);

// --- references ------------------------------------------------------------------

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
struct Mh3Ref {
  uint64_t x = 5489;
  uint64_t operator()() {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ull;
    x ^= x >> 33;
    return x;
  }
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
void BM_RefInline(benchmark::State &state) {
  G g;
  for (auto _ : state) benchmark::DoNotOptimize(g());
}

template <class G>
__attribute__((noinline)) auto ref_call(G *g) {
  return (*g)();
}

template <class G>
void BM_RefCall(benchmark::State &state) {
  G g;
  auto *call = &ref_call<G>;
  benchmark::DoNotOptimize(call);
  for (auto _ : state) benchmark::DoNotOptimize(call(&g));
}

#define REFERENCE(G)                         \
  BENCHMARK_TEMPLATE(BM_RefInline, G);       \
  BENCHMARK_TEMPLATE(BM_RefCall, G)

REFERENCE(std::mt19937);
REFERENCE(std::mt19937_64);
REFERENCE(Mh3Ref);
REFERENCE(Xor64Ref);
REFERENCE(Xor128Ref);
REFERENCE(Xor1024Ref);
REFERENCE(Xor4096Ref);
REFERENCE(XorgensRef);
REFERENCE(Fry2x32Ref);
REFERENCE(Fry2x64Ref);
REFERENCE(Fry4x64Ref);
REFERENCE(Pcg32Ref);
REFERENCE(Pcg64Ref);
REFERENCE(RanuniRef);

}  // namespace
