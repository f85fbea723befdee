// Benchmarks of the case kernels over 1 MiB of mixed TKChar text (262144
// units): tkzstup (table path, no locale object) and tkzstmin, each in this
// process's own build (the wide build where the processor has AVX2) and in
// the generic build, taken from a private copy of the module loaded with
// ZEQ_FORCE_GENERIC=1.  Items per second count units.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/bench_data.h"
#include "strkernel/strkernel.h"

namespace {

using Mapper = void (*)(TKChar *, int64_t);

constexpr size_t kUnits = (1u << 20) / sizeof(TKChar);

// Mixed text from a fixed xorshift sequence: mostly ASCII letters and blanks,
// with Latin-1 and Latin Extended, Greek and Cyrillic, CJK and some emoji.
const std::vector<TKChar> &text() {
  static const std::vector<TKChar> t = [] {
    zeqbench::Xorshift x;
    std::vector<TKChar> v(kUnits);
    for (auto &u : v) {
      const uint32_t r = x.next() % 100, s = x.next();
      if (r < 50) u = (s % 2 ? 'a' : 'A') + s % 26;
      else if (r < 60) u = ' ';
      else if (r < 75) u = 0xC0 + s % 0x190;          // Latin-1 supplement, Latin Extended
      else if (r < 85) u = 0x391 + s % 0x120;         // Greek, Cyrillic
      else if (r < 95) u = 0x4E00 + s % 0x5000;       // CJK
      else u = 0x1F600 + s % 0x50;                    // emoji
    }
    return v;
  }();
  return t;
}

// A private copy of the module bound to the generic build.
struct GenericCopy {
  Mapper stup = nullptr, stmin = nullptr;
  GenericCopy() {
    TKChar warm = 'k';
    tkzstmin(&warm, 1);  // this process's own copy chooses first
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void *>(&tkzstmin), &info) || !info.dli_fname) return;
    char name[] = "/tmp/zeq_bench_XXXXXX.so";
    const int fd = mkstemps(name, 3);
    if (fd < 0) return;
    close(fd);
    {
      std::ifstream in(info.dli_fname, std::ios::binary);
      std::ofstream out(name, std::ios::binary);
      out << in.rdbuf();
    }
    setenv("ZEQ_FORCE_GENERIC", "1", 1);
    void *h = dlopen(name, RTLD_LAZY | RTLD_LOCAL);
    unlink(name);
    if (h) {
      stup = reinterpret_cast<Mapper>(dlsym(h, "tkzstup"));
      stmin = reinterpret_cast<Mapper>(dlsym(h, "tkzstmin"));
      if (stmin) stmin(&warm, 1);
    }
    unsetenv("ZEQ_FORCE_GENERIC");
  }
};

const GenericCopy &generic() {
  static const GenericCopy g;
  return g;
}

void run(benchmark::State &state, Mapper f) {
  if (!f) {
    state.SkipWithError("build not available");
    return;
  }
  std::vector<TKChar> work(kUnits);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(work.data(), text().data(), kUnits * sizeof(TKChar));
    state.ResumeTiming();
    f(work.data(), (int64_t)kUnits);
    benchmark::DoNotOptimize(work.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed((int64_t)state.iterations() * (int64_t)kUnits);
}

void BM_tkzstup_own(benchmark::State &s) { run(s, tkzstup); }
void BM_tkzstup_generic(benchmark::State &s) { run(s, generic().stup); }
void BM_tkzstmin_own(benchmark::State &s) { run(s, tkzstmin); }
void BM_tkzstmin_generic(benchmark::State &s) { run(s, generic().stmin); }

BENCHMARK(BM_tkzstup_own);
BENCHMARK(BM_tkzstup_generic);
BENCHMARK(BM_tkzstmin_own);
BENCHMARK(BM_tkzstmin_generic);

}  // namespace
