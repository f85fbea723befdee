// COMPLEV against two peers on the same pairs, side by side in one run:
// edlib (bit-parallel global edit distance; its k is the cutoff) and a plain
// two-row dynamic programme (the textbook full table without a cutoff; with
// one, the textbook diagonal band of width 2 * cutoff + 1 with an early stop
// once a whole row reaches the cutoff).  Pairs: name-like (5 to 20 bytes, one
// to three typing errors apart), 200-byte and 2000-byte rows (a few scattered
// edits).  Before measuring, every pair is checked to give the same answer
// from all three (the distance, or the cutoff when the distance reaches it).
// Items per second are pairs per second.  Pairs come from a fixed xorshift
// sequence and never end in a blank (COMPLEV ignores trailing blanks, the
// peers do not).
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <edlib.h>

#include "charfn/entry_types.h"
#include "bench/bench_data.h"
#include "bench/bench_host.h"
#include "host/host.h"

namespace {

using zeqbench::host;

using zeqbench::Pairs;

// Lengths of the sweep sets: pairs of exactly that many bytes, about one
// edit in sixteen bytes apart.
constexpr int64_t kSweep[] = {8, 16, 32, 63, 64, 65, 128, 256, 512, 1000, 2000, 4000};
constexpr int64_t kSweepBase = 10;  // range(0) of sweep set k is kSweepBase + k

// Lengths of the sets of unrelated pairs.
constexpr int64_t kUnrelated[] = {32, 65, 100, 128, 200, 1000};
constexpr int64_t kUnrelatedBase = 30;  // range(0) of unrelated set k

// range(0) of every benchmark: 0 names, 1 200-byte rows, 2 2000-byte rows,
// kSweepBase + k the sweep set of length kSweep[k], kUnrelatedBase + k the
// unrelated pairs of length kUnrelated[k].
const Pairs &pairs(int64_t which) {
  static std::vector<Pairs> unrelated;
  if (which >= kUnrelatedBase) {
    if (unrelated.empty())
      for (int64_t n : kUnrelated)
        unrelated.push_back(zeqbench::unrelated_pairs((size_t)n, (size_t)std::max<int64_t>(8, 8192 / n)));
    return unrelated[(size_t)(which - kUnrelatedBase)];
  }
  static const Pairs names = zeqbench::make_pairs(5, 20, 3, 4096, true);
  static const Pairs rows200 = zeqbench::make_pairs(200, 200, 8, 512, true);
  static const Pairs rows2000 = zeqbench::make_pairs(2000, 2000, 24, 64, true);
  static std::vector<Pairs> sweep;
  if (which >= kSweepBase) {
    if (sweep.empty())
      for (int64_t n : kSweep)
        sweep.push_back(zeqbench::make_pairs((size_t)n, (size_t)n, 1 + (int)(n / 16),
                                             (size_t)std::max<int64_t>(8, 8192 / n), true));
    return sweep[(size_t)(which - kSweepBase)];
  }
  return which == 0 ? names : which == 1 ? rows200 : rows2000;
}

// --- the peers ----------------------------------------------------------------

// edlib gives -1 when the distance exceeds k; COMPLEV gives the cutoff once
// the distance reaches it.  Both map to min(distance, cutoff).
int edlib_distance(const std::string &a, const std::string &b, int cutoff) {
  const EdlibAlignResult r =
      edlibAlign(a.data(), (int)a.size(), b.data(), (int)b.size(),
                 edlibNewAlignConfig(cutoff > 0 ? cutoff : -1, EDLIB_MODE_NW, EDLIB_TASK_DISTANCE, nullptr, 0));
  int d = r.editDistance;
  edlibFreeAlignResult(r);
  if (cutoff > 0) d = d < 0 ? cutoff : std::min(d, cutoff);
  return d;
}

// Two rows over the shorter string; with a cutoff only the band |i - j| <=
// cutoff, and a stop once a row's least cell reaches the cutoff.  The row
// buffers belong to the caller so that the loop does not allocate.
int plain_distance(const std::string &x, const std::string &y, int cutoff, std::vector<int> &prev,
                   std::vector<int> &cur) {
  const std::string &a = x.size() <= y.size() ? x : y;  // shorter, columns
  const std::string &b = x.size() <= y.size() ? y : x;  // longer, rows
  const int m = (int)a.size(), n = (int)b.size();
  if (cutoff > 0 && n - m >= cutoff) return cutoff;
  prev.resize((size_t)m + 1);
  cur.resize((size_t)m + 1);
  constexpr int kFar = 1 << 29;
  const int w = cutoff > 0 ? cutoff : m + n;
  for (int j = 0; j <= m; j++) prev[(size_t)j] = j <= w ? j : kFar;
  for (int i = 1; i <= n; i++) {
    const int lo = std::max(1, i - w), hi = std::min(m, i + w);
    cur[(size_t)lo - 1] = lo == 1 ? i : kFar;
    int least = cur[(size_t)lo - 1];
    for (int j = lo; j <= hi; j++) {
      const int v = std::min({cur[(size_t)j - 1] + 1, prev[(size_t)j] + 1,
                              prev[(size_t)j - 1] + (a[(size_t)j - 1] != b[(size_t)i - 1])});
      cur[(size_t)j] = v;
      least = std::min(least, v);
    }
    if (hi < m) cur[(size_t)hi + 1] = kFar;
    if (cutoff > 0 && least >= cutoff) return cutoff;
    std::swap(prev, cur);
  }
  return cutoff > 0 ? std::min(prev[(size_t)m], cutoff) : prev[(size_t)m];
}

// --- the module ---------------------------------------------------------------

using Site = zeqbench::PairSite;

using Complev = zeq::typed::NumberEntry;

Complev complev() {
  static const Complev fn = zeq::typed::entry<zeq::typed::COMPLEV>(host());
  return fn;
}

// Every pair of a set gives the same answer from all three; and how many
// pairs reach the cutoff (shown in the label, since those stop early).
// An empty string when they agree, else a description of the first pair
// that does not.
std::string check(int64_t which, int cutoff, size_t *reaching) {
  Site site(cutoff);
  std::vector<int> prev, cur;
  *reaching = 0;
  const Pairs &ps = pairs(which);
  for (size_t i = 0; i < ps.size(); i++) {
    const auto &p = ps[i];
    site.point(p.first, p.second);
    double r = -1;
    if (complev()(site.list(), &r) != FNC_RC_OK) return "COMPLEV call failed on pair " + std::to_string(i);
    const int e = edlib_distance(p.first, p.second, cutoff);
    const int d = plain_distance(p.first, p.second, cutoff, prev, cur);
    if ((int)r != e || e != d)
      return "pair " + std::to_string(i) + ": COMPLEV " + std::to_string(r) + ", edlib " + std::to_string(e) +
             ", plain " + std::to_string(d);
    if (cutoff > 0 && d >= cutoff) ++*reaching;
  }
  return {};
}

std::string label(benchmark::State &state) {
  const int64_t which = state.range(0);
  const int cutoff = (int)state.range(1);
  std::string s = which == 0 ? "names" : which == 1 ? "200-byte" : "2000-byte";
  if (which >= kSweepBase && which < kUnrelatedBase)
    s = "length " + std::to_string(kSweep[which - kSweepBase]);
  if (which >= kUnrelatedBase) s = "unrelated, length " + std::to_string(kUnrelated[which - kUnrelatedBase]);
  if (cutoff == 0) return s + ", no cutoff";
  return s + ", cutoff " + std::to_string(cutoff);
}

// Checks the set once per (set, cutoff) and skips the benchmark when the
// three disagree.
bool ready(benchmark::State &state) {
  if (!complev()) {
    state.SkipWithError("fncomlev not in this build");
    return false;
  }
  size_t reaching = 0;
  const std::string bad = check(state.range(0), (int)state.range(1), &reaching);
  if (!bad.empty()) {
    state.SkipWithError(bad.c_str());
    return false;
  }
  std::string l = label(state);
  if (state.range(1) > 0)
    l += " (" + std::to_string(reaching) + "/" + std::to_string(pairs(state.range(0)).size()) + " reach it)";
  state.SetLabel(l);
  return true;
}


void run_complev(benchmark::State &state, FncTask *task) {
  if (!ready(state)) return;
  const Pairs &ps = pairs(state.range(0));
  Site site((double)state.range(1));
  site.list()->task = task;
  Complev fn = complev();
  size_t i = 0;
  double sum = 0, r = 0;
  for (auto _ : state) {
    const auto &p = ps[i];
    i = i + 1 == ps.size() ? 0 : i + 1;
    site.point(p.first, p.second);
    fn(site.list(), &r);
    sum += r;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed((int64_t)state.iterations());
}

void BM_Complev(benchmark::State &state) { run_complev(state, host().task()); }
void BM_ComplevPool(benchmark::State &state) { run_complev(state, zeqbench::arenaless_task()); }

void BM_Edlib(benchmark::State &state) {
  if (!ready(state)) return;
  const Pairs &ps = pairs(state.range(0));
  const int cutoff = (int)state.range(1);
  size_t i = 0;
  int64_t sum = 0;
  for (auto _ : state) {
    const auto &p = ps[i];
    i = i + 1 == ps.size() ? 0 : i + 1;
    sum += edlib_distance(p.first, p.second, cutoff);
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed((int64_t)state.iterations());
}

void BM_PlainDP(benchmark::State &state) {
  if (!ready(state)) return;
  const Pairs &ps = pairs(state.range(0));
  const int cutoff = (int)state.range(1);
  std::vector<int> prev, cur;
  size_t i = 0;
  int64_t sum = 0;
  for (auto _ : state) {
    const auto &p = ps[i];
    i = i + 1 == ps.size() ? 0 : i + 1;
    sum += plain_distance(p.first, p.second, cutoff, prev, cur);
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed((int64_t)state.iterations());
}

// Cutoffs near the middle of each set's distances, so that some pairs stop
// early and some run the band to the end.
#define SETS ->Args({0, 0})->Args({0, 2})->Args({1, 0})->Args({1, 4})->Args({2, 0})->Args({2, 12})
BENCHMARK(BM_Complev) SETS;
BENCHMARK(BM_Edlib) SETS;
BENCHMARK(BM_PlainDP) SETS;
#undef SETS

// The length sweep (scripts/bench-report plots it): no cutoff, cutoff 3
// (edit sequences) and cutoff 10 (the one-word band on long strings); COMPLEV
// also without a scratch arena.
void sweep_sets(benchmark::internal::Benchmark *b) {
  for (int64_t k = 0; k < (int64_t)std::size(kSweep); k++)
    for (int64_t cutoff : {0, 3, 10}) b->Args({kSweepBase + k, cutoff});
}
BENCHMARK(BM_Complev)->Name("Sweep/Complev")->Apply(sweep_sets);
BENCHMARK(BM_ComplevPool)->Name("Sweep/ComplevPool")->Apply(sweep_sets);
BENCHMARK(BM_Edlib)->Name("Sweep/Edlib")->Apply(sweep_sets);
BENCHMARK(BM_PlainDP)->Name("Sweep/PlainDP")->Apply(sweep_sets);

// Pairs of unrelated strings, without a cutoff and with one they reach.
void unrelated_sets(benchmark::internal::Benchmark *b) {
  for (int64_t k = 0; k < (int64_t)std::size(kUnrelated); k++)
    for (int64_t cutoff : {0, 10}) b->Args({kUnrelatedBase + k, cutoff});
}
BENCHMARK(BM_Complev)->Name("Unrelated/Complev")->Apply(unrelated_sets);
BENCHMARK(BM_Edlib)->Name("Unrelated/Edlib")->Apply(unrelated_sets);

}  // namespace
