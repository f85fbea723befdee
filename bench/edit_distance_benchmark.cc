// Benchmarks of the edit distances through the reference host: COMPGED with
// the built-in costs and COMPLEV on the same pairs, without and with a
// cutoff, on name-like pairs (5 to 20 bytes, one to three typing errors
// apart) and on 200-byte pairs (a few scattered edits).  Items per second are
// pairs per second.  Pairs come from a fixed xorshift sequence.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "charfn/entry_types.h"
#include "bench/bench_data.h"
#include "bench/bench_host.h"
#include "host/host.h"

namespace {

using zeqbench::host;

const zeqbench::Pairs &names() {
  static const auto p = zeqbench::make_pairs(5, 20, 3, 4096);
  return p;
}
const zeqbench::Pairs &long_rows() {
  static const auto p = zeqbench::make_pairs(200, 200, 8, 512);
  return p;
}

using Site = zeqbench::PairSite;
using Fn = zeq::typed::NumberEntry;

// Calls fn on the pairs in turn, one pair an iteration.  False when a call
// failed (the benchmark is then marked).
bool run_pairs(benchmark::State &state, Fn fn, const zeqbench::Pairs &pairs, Site &site) {
  size_t i = 0;
  double sum = 0, r = 0;
  for (auto _ : state) {
    const auto &p = pairs[i];
    i = i + 1 == pairs.size() ? 0 : i + 1;
    site.point(p.first, p.second);
    if (fn(site.list(), &r) != FNC_RC_OK) {
      state.SkipWithError("call failed");
      return false;
    }
    sum += r;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed((int64_t)state.iterations());
  return true;
}

// range(0): 0 names, 1 200-byte rows; range(1): cutoff, 0 for none.
template <bool kGed>
void BM_Distance(benchmark::State &state) {
  Fn fn = host().fn<Fn>(kGed ? "fncomged" : "fncomlev");
  if (!fn) {
    state.SkipWithError("entry not in this build");
    return;
  }
  Site site((double)state.range(1));
  if (!run_pairs(state, fn, state.range(0) == 0 ? names() : long_rows(), site)) return;
  state.SetLabel(std::string(state.range(0) == 0 ? "names" : "200-byte") +
                 (state.range(1) ? ", cutoff " + std::to_string(state.range(1)) : ", no cutoff"));
}

// COMPGED cutoffs are costs (a replacement is 100); COMPLEV cutoffs are edits.
BENCHMARK_TEMPLATE(BM_Distance, true)->Args({0, 0})->Args({0, 200})->Args({1, 0})->Args({1, 300});
BENCHMARK_TEMPLATE(BM_Distance, false)->Args({0, 0})->Args({0, 2})->Args({1, 0})->Args({1, 3});

// One fixed pattern (a 12-byte name) against the names in turn, as a column
// with a constant argument: range(0) 1 at a call site that keeps call-site
// caches (the pattern table is prepared once), 0 on a plain block (prepared
// on every call); no cutoff.
void BM_ComplevFixedPattern(benchmark::State &state) {
  Fn fn = zeq::typed::entry<zeq::typed::COMPLEV>(host());
  Site site(0);
  if (state.range(0)) site.list()->resultKind = 0x48;
  const std::string pattern = "Jonathan Smy";
  size_t i = 0;
  double sum = 0, r = 0;
  for (auto _ : state) {
    const auto &p = names()[i];
    i = i + 1 == names().size() ? 0 : i + 1;
    site.point(pattern, p.second);
    if (fn(site.list(), &r) != FNC_RC_OK) return state.SkipWithError("call failed");
    sum += r;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed((int64_t)state.iterations());
  state.SetLabel(state.range(0) ? "pattern reused" : "pattern prepared per call");
}
BENCHMARK(BM_ComplevFixedPattern)->Arg(0)->Arg(1);

// COMPGED over a length sweep, built-in costs: pairs of exactly range(0)
// bytes about one edit in sixteen apart, no cutoff and a cutoff of 300 (three
// replacements), on `task` (the host's when null).  The counter "cells"
// gives the programme's table size, so that scripts/bench-report can show
// time per cell.
void ged_sweep(benchmark::State &state, FncTask *task) {
  Fn fn = zeq::typed::entry<zeq::typed::COMPGED>(host());
  if (!fn) {
    state.SkipWithError("entry not in this build");
    return;
  }
  const size_t n = (size_t)state.range(0);
  const auto pairs = zeqbench::make_pairs(n, n, 1 + (int)(n / 16), std::max<size_t>(8, 8192 / n));
  Site site((double)state.range(1));
  if (task) site.list()->task = task;
  if (run_pairs(state, fn, pairs, site)) state.counters["cells"] = (double)(n * n);
}
void BM_GedSweep(benchmark::State &state) { ged_sweep(state, nullptr); }
BENCHMARK(BM_GedSweep)->ArgsProduct({{8, 16, 32, 64, 128, 256, 512, 1000, 2000}, {0, 300}});

// The same without a scratch arena, as some hosts leave the task: every
// scratch request then takes a zero-filled block of the task's pool.
void BM_GedSweepNoArena(benchmark::State &state) {
  ged_sweep(state, zeqbench::arenaless_task());
}
BENCHMARK(BM_GedSweepNoArena)->ArgsProduct({{8, 16, 32, 64, 65, 200}, {0}});

}  // namespace
