// The comparison kernels called alone, without a host or an argument block:
// each route of the Levenshtein kernel and both row-kernel sets of the
// generalised edit distance, on pairs of range(0) bytes a few edits apart.
// Items per second are pairs per second; the difference from the entry
// benchmarks (edit_distance_benchmark) is the cost of the call layer.
#include <cstdlib>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/bench_data.h"
#include "charfn/compare/edit_costs.h"
#include "charfn/compare/ged.h"
#include "charfn/compare/levenshtein.h"

namespace {

// A bump arena over one heap block, emptied before every call.
struct HeapScratch final : zeq::ScratchAllocator {
  std::vector<char> mem = std::vector<char>(size_t(1) << 24);
  uint64_t used = 0;
  void *alloc(uint64_t size) override {
    const uint64_t at = (used + 63) & ~uint64_t(63);
    if (at + size > mem.size()) return nullptr;
    used = at + size;
    return mem.data() + at;
  }
  HeapScratch &fresh() { return used = 0, *this; }
};

const zeqbench::Pairs &pairs(size_t n) {
  static std::vector<std::pair<size_t, zeqbench::Pairs>> made;
  for (auto &[len, p] : made)
    if (len == n) return p;
  return made.emplace_back(n, zeqbench::make_pairs(n, n, 1 + (int)n / 16, 512)).second;
}

const uint8_t *bytes(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

// range(0): pair length; route r with no cutoff (a cutoff of 4 for the
// edit-sequence route, 63 for the band).
template <zeq::lev::Route r>
void BM_LevenshteinRoute(benchmark::State &state) {
  const auto &ps = pairs((size_t)state.range(0));
  const int64_t cutoff = r == zeq::lev::Route::FewEdits ? 4 : r == zeq::lev::Route::Band ? 63 : 999999;
  HeapScratch scratch;
  size_t i = 0;
  int64_t sum = 0, outside = 0;
  for (auto _ : state) {
    const auto &p = ps[i];
    i = i + 1 == ps.size() ? 0 : i + 1;
    const int64_t d = zeq::lev::route(r, bytes(p.first), (int64_t)p.first.size(), bytes(p.second),
                                      (int64_t)p.second.size(), {cutoff, nullptr}, &scratch.fresh());
    sum += d;
    outside += d == -2;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed((int64_t)state.iterations());
  // Pairs whose remainders the route does not take (answered at once).
  state.counters["outside"] = benchmark::Counter((double)outside / (double)state.iterations());
}
using zeq::lev::Route;
BENCHMARK_TEMPLATE(BM_LevenshteinRoute, Route::FewEdits)->Arg(16)->Arg(64)->Arg(200);
BENCHMARK_TEMPLATE(BM_LevenshteinRoute, Route::OneWord)->Arg(16)->Arg(64);
BENCHMARK_TEMPLATE(BM_LevenshteinRoute, Route::Band)->Arg(64)->Arg(200);
BENCHMARK_TEMPLATE(BM_LevenshteinRoute, Route::TwoWords)->Arg(120);
BENCHMARK_TEMPLATE(BM_LevenshteinRoute, Route::Blocks)->Arg(200)->Arg(2000);

// range(0): pair length; range(1): 0 generic rows, 1 wide rows; built-in costs.
void BM_GedRows(benchmark::State &state) {
  const auto &ps = pairs((size_t)state.range(0));
  static uint8_t up[256], cls[256];
  zeq::ged::Options o{zeq::cmp::defcost, zeq::cmp::kCostUnset, up, cls, false,
                      state.range(1) ? zeq::ged::Rows::Wide : zeq::ged::Rows::Generic};
  HeapScratch scratch;
  size_t i = 0;
  int64_t sum = 0;
  for (auto _ : state) {
    const auto &p = ps[i];
    i = i + 1 == ps.size() ? 0 : i + 1;
    int64_t cost = 0;
    zeq::ged::distance(bytes(p.first), (int64_t)p.first.size(), bytes(p.second), (int64_t)p.second.size(), o,
                       &scratch.fresh(), &cost);
    sum += cost;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed((int64_t)state.iterations());
}
BENCHMARK(BM_GedRows)->ArgsProduct({{8, 16, 64, 200}, {0, 1}});

}  // namespace
