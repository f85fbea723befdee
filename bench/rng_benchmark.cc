// Generator methods: nanoseconds per draw through the descriptor's slots
// (one indirect call a draw, as the host draws), next to references of the
// same algorithms (bench/rng_refs.h): std::mt19937 / std::mt19937_64,
// Random123's Threefry, and xorshift / xorgens / PCG / MurmurHash3-finaliser
// references written from the published algorithms.  Each reference is
// measured twice: inlined into the loop, and behind a non-inlined call into
// a shared library of its own with the state passed by pointer (the shape of
// a descriptor slot, reached as the module's slots are).  Fixed seeds; the
// module's trace messages go nowhere (no host is loaded).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <random>

#include "bench/rng_refs.h"
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

template <class G>
void BM_RefInline(benchmark::State &state) {
  G *g = new (g_arena) G;
  for (auto _ : state) benchmark::DoNotOptimize((*g)());
}

// Behind a call into the references' shared library, as the module's slots
// are behind a call into the module.
template <class G>
void BM_RefCall(benchmark::State &state) {
  rngref::rng_ref_new<G>(g_arena);
  auto *fn = &rngref::rng_ref_call<G>;
  benchmark::DoNotOptimize(fn);
  run(state, fn, g_arena);
}

using namespace rngref;
#define REFERENCE(G)                         \
  BENCHMARK_TEMPLATE(BM_RefInline, G);       \
  BENCHMARK_TEMPLATE(BM_RefCall, G);
RNG_REFERENCES(REFERENCE)

}  // namespace
