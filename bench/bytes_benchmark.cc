// bench/bytes_benchmark.cc - skMemScan and skStrUp, generic build against
// wide build, at row-typical sizes (8, 64, 1024 bytes) and one long area.
//
// Both builds are compiled into this benchmark from their source, so one run
// shows them side by side; the exported routines (whatever build the module
// chose at load) are measured as well.  Inputs come from a fixed seed.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "strkernel/bytes_dispatch.h"
#include "strkernel/strkernel.h"

namespace {

std::vector<uint8_t> text(size_t n) {
  std::mt19937 rng(1234);
  std::vector<uint8_t> v(n + 64);
  for (auto &b : v) b = static_cast<uint8_t>("abcdefgh ABC,."[rng() % 14]);
  return v;
}

const zeq::bytes::Kernels *build(int64_t which) {
  if (which == 0) return &zeq::bytes::generic_kernels;
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? &zeq::bytes::wide_kernels : nullptr;
}

// Scan for a byte that is absent, so the whole area is read.
void BM_MemScan(benchmark::State &state) {
  const zeq::bytes::Kernels *k = build(state.range(1));
  if (!k) {
    state.SkipWithError("no AVX2 on this processor");
    return;
  }
  const size_t n = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> buf = text(n);
  for (auto _ : state) benchmark::DoNotOptimize(k->mem_scan(buf.data() + 1, n, '#'));
  state.SetLabel(k->name);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_StrUp(benchmark::State &state) {
  const zeq::bytes::Kernels *k = build(state.range(1));
  if (!k) {
    state.SkipWithError("no AVX2 on this processor");
    return;
  }
  const size_t n = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> buf = text(n);
  for (auto _ : state) {
    k->str_up(buf.data() + 1, n);
    benchmark::ClobberMemory();
  }
  state.SetLabel(k->name);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_ExportedMemScan(benchmark::State &state) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> buf = text(n);
  for (auto _ : state) benchmark::DoNotOptimize(skMemScan(buf.data() + 1, n, '#'));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_ExportedStrUp(benchmark::State &state) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> buf = text(n);
  for (auto _ : state) {
    skStrUp(reinterpret_cast<char *>(buf.data() + 1), n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

// Second argument: 0 generic build, 1 wide build.
BENCHMARK(BM_MemScan)->ArgsProduct({{8, 64, 1024, 65536}, {0, 1}});
BENCHMARK(BM_StrUp)->ArgsProduct({{8, 64, 1024, 65536}, {0, 1}});
BENCHMARK(BM_ExportedMemScan)->Arg(8)->Arg(64)->Arg(1024);
BENCHMARK(BM_ExportedStrUp)->Arg(8)->Arg(64)->Arg(1024);

}  // namespace
