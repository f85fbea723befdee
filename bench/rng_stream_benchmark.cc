// Random streams: the cost of (re)initialising and rewinding a stream, and
// of one draw through the stream's current double conversion, for a 32-bit
// and a 64-bit method.  Fixed seeds; engine messages silenced.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "host/host.h"
#include "zeq/rng.h"

namespace {

using AllocReb = zrand_stream *(*)(FncTask *, uint64_t, uint64_t);
using Init = int32_t (*)(void *);
using Op = int32_t (*)(zrand_stream *);

zeqhost::Host &host() {
  static zeqhost::Host *h = [] {
    auto *p = new zeqhost::Host();
    p->set_setting("OSENV.ZEQ_RNG_MESSAGES", "NONE");
    return p;
  }();
  return *h;
}

zrand_stream *stream(const char *method) {
  zrand_stream *s = host().fn<AllocReb>("zrand_alloc_mva_reb")(host().task(), 5489, 0);
  s->method_word = method;
  host().fn<Init>("zrand_init")(s);
  return s;
}

void BM_Init(benchmark::State &state, const char *method) {
  zrand_stream *s = stream(method);
  auto init = host().fn<Init>("zrand_init");
  for (auto _ : state) benchmark::DoNotOptimize(init(s));
}

void BM_Rewind(benchmark::State &state, const char *method) {
  zrand_stream *s = stream(method);
  auto rewind = host().fn<Op>("zrand_rewind");
  for (auto _ : state) benchmark::DoNotOptimize(rewind(s));
}

void BM_Draw(benchmark::State &state, const char *method) {
  zrand_stream *s = stream(method);
  for (auto _ : state) benchmark::DoNotOptimize(s->double_fn(s->state));
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(BM_Init, MTHYBRID, "MTHYBRID");
BENCHMARK_CAPTURE(BM_Init, XOR128, "XOR128");
BENCHMARK_CAPTURE(BM_Rewind, MTHYBRID, "MTHYBRID");
BENCHMARK_CAPTURE(BM_Rewind, XOR128, "XOR128");
BENCHMARK_CAPTURE(BM_Draw, MTHYBRID, "MTHYBRID");
BENCHMARK_CAPTURE(BM_Draw, MT64, "MT64");

}  // namespace
