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
#include <new>
#include <random>

#include "rng/hw/mh3.h"
#include "rng/legacy/legacy.h"
#include "rng/methods.h"
#include "rng/mt/mt.h"
#include "rng/pcg/pcg.h"
#include "rng/threefry/threefry.h"
#include "rng/xorshift/xorshift.h"
#include "zeq/rng.h"

namespace {

// Every measured generator keeps its state in this arena, and every call-shaped
// measurement runs through the same loop (run<>), so that the module and the
// references differ only in the function called.
alignas(64) unsigned char g_arena[16384];

template <class Fn>
__attribute__((noinline)) void run(benchmark::State &state, Fn fn, void *arg) {
  for (auto _ : state) benchmark::DoNotOptimize(fn(arg));
}

// --- the module, through the descriptor ----------------------------------------

enum class Slot { Uint32, Uint64, Default, Closed53, Infinite };

void BM_Method(benchmark::State &state, zrng_builder_fn build, Slot slot) {
  static zrng_desc d;
  build(&d);
  void *b = g_arena;
  std::memset(g_arena, 0, sizeof g_arena);
  if (d.output_bits > 32) d.seed_64(b, 5489);
  else d.seed_32(b, 5489);
  zrng_double_fn dfn = nullptr;
  switch (slot) {
    case Slot::Uint32: {
      zrng_u32_fn fn = d.uint32;
      benchmark::DoNotOptimize(fn);
      return run(state, fn, b);
    }
    case Slot::Uint64: {
      zrng_u64_fn fn = d.uint64;
      benchmark::DoNotOptimize(fn);
      return run(state, fn, b);
    }
    case Slot::Default: dfn = d.double_default; break;
    case Slot::Closed53: dfn = d.double_53[ZRNG_CO]; break;
    case Slot::Infinite: dfn = d.double_infinite; break;
  }
  if (dfn == nullptr) {
    state.SkipWithError("slot not offered");
    return;
  }
  benchmark::DoNotOptimize(dfn);
  run(state, dfn, b);
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

// --- the same slot code compiled into this program ----------------------------------
// The module's slot templates instantiated here (wide build), seeded the way
// the module seeds: separates the cost of the code from the cost of calling
// into another shared object.

template <class Blob>
Blob *fresh_blob() {
  std::memset(g_arena, 0, sizeof g_arena);
  return reinterpret_cast<Blob *>(g_arena);
}

template <class Fn>
void BM_InProcess(benchmark::State &state, Fn fn, void (*setup)()) {
  setup();
  benchmark::DoNotOptimize(fn);
  run(state, fn, g_arena);
}

using namespace zeq::rng;

uint64_t fmix(uint64_t x) { return fmix64(x); }
using Fry2x32Slots = WideSlots32<FryGen<2, uint32_t>>;
using Fry2x64Slots = WideSlots64<FryGen<2, uint64_t>>;
using Fry4x64Slots = WideSlots64<FryGen<4, uint64_t>>;

BENCHMARK_CAPTURE(BM_InProcess, MT32_Uint32, &WideSlots32<Mt32Gen>::uint32, +[] {
  auto *b = fresh_blob<Mt32Blob>();
  b->mt[0] = 5489;
  for (int i = 1; i < 624; ++i) b->mt[i] = 1812433253u * (b->mt[i - 1] ^ (b->mt[i - 1] >> 30)) + i;
  b->index = 624;
});
BENCHMARK_CAPTURE(BM_InProcess, MT64_Uint64, &WideSlots64<Mt64Gen>::uint64, +[] {
  auto *b = fresh_blob<Mt64Blob>();
  b->mt[0] = 5489;
  for (int i = 1; i < 312; ++i)
    b->mt[i] = 6364136223846793005ull * (b->mt[i - 1] ^ (b->mt[i - 1] >> 62)) + i;
  b->index = 312;
});
BENCHMARK_CAPTURE(BM_InProcess, MH3_Uint64, &WideSlots64<Mh3Gen>::uint64, +[] { fresh_blob<Mh3Blob>()->x = 5489; });
BENCHMARK_CAPTURE(BM_InProcess, XOR64_Uint64, &WideSlots64<Xor64Gen>::uint64, +[] { fresh_blob<Xor64Blob>()->s = 5489; });
BENCHMARK_CAPTURE(BM_InProcess, XOR128_Uint64, &WideSlots64<Xor128Gen>::uint64, +[] {
  auto *b = fresh_blob<Xor128Blob>();
  b->s[0] = 5489;
  b->s[1] = fmix(5490);
});
BENCHMARK_CAPTURE(BM_InProcess, XOR1024_Uint64, &WideSlots64<Xor1024Gen>::uint64, +[] {
  auto *b = fresh_blob<Xor1024Blob>();
  for (int k = 0; k < 16; ++k) b->s[k] = fmix(5489 + k);
});
BENCHMARK_CAPTURE(BM_InProcess, XOR4096_Uint64, &WideSlots64<Xor4096Gen>::uint64, +[] {
  auto *b = fresh_blob<Xor4096Blob>();
  for (int k = 0; k < 64; ++k) b->s[k] = fmix(5489 + k);
});
BENCHMARK_CAPTURE(BM_InProcess, XORGENS_Uint64, &WideSlots64<XorgensGen>::uint64, +[] {
  auto *b = fresh_blob<XorgensBlob>();
  for (int k = 0; k < 64; ++k) b->x[k] = fmix(5489 + k);
  b->w = 1;
});
BENCHMARK_CAPTURE(BM_InProcess, FRY2X32_Uint32, &Fry2x32Slots::uint32, +[] {
  auto *b = fresh_blob<Fry2x32Blob>();
  b->key[0] = 5489;
  b->ctr[0] = 1;
});
BENCHMARK_CAPTURE(BM_InProcess, FRY2X64_Uint64, &Fry2x64Slots::uint64, +[] {
  auto *b = fresh_blob<Fry2x64Blob>();
  b->key[0] = 5489;
  b->ctr[0] = 1;
});
BENCHMARK_CAPTURE(BM_InProcess, FRY4X64_Uint64, &Fry4x64Slots::uint64, +[] {
  auto *b = fresh_blob<Fry4x64Blob>();
  b->key[0] = 5489;
  b->ctr[0] = 1;
});
BENCHMARK_CAPTURE(BM_InProcess, PCG32I_Uint32, &WideSlots32<Pcg32Gen>::uint32, +[] {
  auto *b = fresh_blob<Pcg32Blob>();
  b->state = 5490;
  b->inc = 1;
});
BENCHMARK_CAPTURE(BM_InProcess, PCG64I_Uint64, &WideSlots64<Pcg64Gen>::uint64, +[] {
  auto *b = fresh_blob<Pcg64Blob>();
  b->state = 5490;
  b->inc = 1;
});
BENCHMARK_CAPTURE(BM_InProcess, RANUNI_Uint32, &WideSlots32<RanuniGen>::uint32, +[] { fresh_blob<RanuniBlob>()->x = 5489; });

// The bare cost of an indirect call: a slot that does nothing, in the module
// (a key slot of XOR64) and in this program.
void BM_CallModule(benchmark::State &state) {
  static zrng_desc d;
  zrnfXOR64(&d);
  zrng_set32_fn fn = d.key_32;
  benchmark::DoNotOptimize(fn);
  for (auto _ : state) benchmark::DoNotOptimize(fn(g_arena, 1));
}
__attribute__((noinline, aligned(64))) int32_t nothing(void *, uint32_t) { return 0; }
void BM_CallHere(benchmark::State &state) {
  zrng_set32_fn fn = &nothing;
  benchmark::DoNotOptimize(fn);
  for (auto _ : state) benchmark::DoNotOptimize(fn(g_arena, 1));
}
BENCHMARK(BM_CallModule);
BENCHMARK(BM_CallHere);

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
  G *g = new (g_arena) G;
  for (auto _ : state) benchmark::DoNotOptimize((*g)());
}

// Aligned like the module's slot functions, so that code placement favours
// neither side.
template <class G>
__attribute__((noinline, aligned(64))) auto ref_call(void *g) {
  return (*static_cast<G *>(g))();
}

template <class G>
void BM_RefCall(benchmark::State &state) {
  G *g = new (g_arena) G;
  auto *fn = &ref_call<G>;
  benchmark::DoNotOptimize(fn);
  run(state, fn, g);
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
