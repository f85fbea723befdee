// Benchmarks of the word functions through the reference host: COUNTW and
// SCAN (word 5 and word -5) with the 17 default delimiters over 1 MiB of
// text cut into rows of 64 and 1024 bytes (and COUNTW over the whole MiB as
// one string), against a plain std::string_view tokeniser as the peer.
// Bytes per second count the bytes of the rows handed in.  The NoArena group
// calls SCAN as an outside host does (task named in the block, no scratch
// arena) over rows of 256 bytes and the whole MiB, and times the floor of a
// call (word 1 of a one-letter string).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <benchmark/benchmark.h>

#include "charfn/entry_types.h"
#include "bench/bench_data.h"
#include "bench/bench_host.h"
#include "host/host.h"

namespace {

using zeqbench::host;

constexpr size_t kTextBytes = size_t{1} << 20;
constexpr std::string_view kDefaults = " .<(+&!$*);^-/,%|";

// 1 MiB of words of 1 to 12 letters, mostly separated by one blank, now and
// then by punctuation or several blanks, from a fixed xorshift sequence.
const std::string &text() {
  static const std::string t =
      zeqbench::word_text(kTextBytes, 26, {{" ", 12}, {", ", 2}, {".", 1}, {"   ", 1}});
  return t;
}

std::vector<std::string_view> rows(size_t row_bytes) {
  std::vector<std::string_view> out;
  const std::string &t = text();
  for (size_t at = 0; at + row_bytes <= t.size(); at += row_bytes) out.emplace_back(t.data() + at, row_bytes);
  return out;
}

// One call site: argument 1 a character value, optionally argument 2 a
// number.  The value's data is re-pointed for each row.
struct Block {
  FncString str{};
  double number = 0;
  std::vector<unsigned char> raw;
  explicit Block(bool with_number) {
    const int n = with_number ? 2 : 1;
    raw.assign(FNC_ARGLIST_SIZE(n), 0);
    FncArgList *b = list();
    b->callForm = FNC_FORM_FUNCTION;
    b->argCount = n;
    b->args[0].type = FNC_ARG_CHAR;
    b->args[0].value = &str;
    if (with_number) {
      b->args[1].type = FNC_ARG_NUMERIC;
      b->args[1].value = &number;
    }
  }
  FncArgList *list() { return reinterpret_cast<FncArgList *>(raw.data()); }
  void point(std::string_view s) {
    str.data = const_cast<char *>(s.data());
    str.length = str.maxLength = (int64_t)s.size();
  }
};

// --- the peer: a plain tokeniser over std::string_view ----------------------
size_t peer_count(std::string_view s) {
  size_t words = 0, at = 0;
  for (;;) {
    at = s.find_first_not_of(kDefaults, at);
    if (at == std::string_view::npos) return words;
    words++;
    at = s.find_first_of(kDefaults, at);
    if (at == std::string_view::npos) return words;
  }
}

std::string_view peer_word(std::string_view s, int n) {
  if (n > 0) {
    size_t at = 0;
    for (int k = 1;; k++) {
      at = s.find_first_not_of(kDefaults, at);
      if (at == std::string_view::npos) return {};
      size_t end = s.find_first_of(kDefaults, at);
      if (end == std::string_view::npos) end = s.size();
      if (k == n) return s.substr(at, end - at);
      at = end;
    }
  }
  size_t end = s.size();
  for (int k = 1;; k++) {
    const size_t last = s.find_last_not_of(kDefaults, end == 0 ? 0 : end - 1);
    if (end == 0 || last == std::string_view::npos) return {};
    const size_t before = s.find_last_of(kDefaults, last);
    const size_t begin = before == std::string_view::npos ? 0 : before + 1;
    if (k == -n) return s.substr(begin, last + 1 - begin);
    end = begin;
  }
}

// --- COUNTW -------------------------------------------------------------------
void BM_CountwModule(benchmark::State &state) {
  auto fnccouw = zeq::typed::entry<zeq::typed::COUNTW>(host());
  const auto rs = rows((size_t)state.range(0));
  Block block(false);
  double out = 0;
  for (auto _ : state) {
    for (std::string_view r : rs) {
      block.point(r);
      fnccouw(block.list(), &out);
      benchmark::DoNotOptimize(out);
    }
  }
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)(rs.size() * rs[0].size()));
}

void BM_CountwPeer(benchmark::State &state) {
  const auto rs = rows((size_t)state.range(0));
  for (auto _ : state) {
    for (std::string_view r : rs) benchmark::DoNotOptimize(peer_count(r));
  }
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)(rs.size() * rs[0].size()));
}

// --- SCAN ---------------------------------------------------------------------
// Calls SCAN over the rows of row_bytes (range(0)) for word range(1); with a
// task, the block names it as an outside host's would.
void scan_rows(benchmark::State &state, FncTask *task) {
  auto fncscan = zeq::typed::entry<zeq::typed::SCAN>(host());
  const auto rs = rows((size_t)state.range(0));
  Block block(true);
  block.list()->task = task;
  block.number = (double)state.range(1);
  char buf[256];
  FncString result{};
  result.maxLength = sizeof buf;
  result.data = buf;
  for (auto _ : state) {
    for (std::string_view r : rs) {
      block.point(r);
      fncscan(block.list(), &result);
      benchmark::DoNotOptimize(result.length);
    }
  }
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)(rs.size() * rs[0].size()));
  state.SetItemsProcessed((int64_t)state.iterations() * (int64_t)rs.size());
}

void BM_ScanModule(benchmark::State &state) { scan_rows(state, nullptr); }

void BM_ScanPeer(benchmark::State &state) {
  const auto rs = rows((size_t)state.range(0));
  const int n = (int)state.range(1);
  for (auto _ : state) {
    for (std::string_view r : rs) benchmark::DoNotOptimize(peer_word(r, n));
  }
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)(rs.size() * rs[0].size()));
}

// SCAN as an outside host calls it: the task in the argument block, and a
// task without a scratch arena.  range(0) is the row length (the whole MiB
// as one row when it is kTextBytes), range(1) the word number.
void BM_ScanNoArena(benchmark::State &state) { scan_rows(state, zeqbench::arenaless_task()); }

// The floor of a call: word 1 of a one-letter string.
void BM_ScanNoArenaFloor(benchmark::State &state) {
  auto fncscan = zeq::typed::entry<zeq::typed::SCAN>(host());
  Block block(true);
  block.list()->task = zeqbench::arenaless_task();
  block.number = 1;
  block.point("a");
  char buf[256];
  FncString result{};
  result.maxLength = sizeof buf;
  result.data = buf;
  for (auto _ : state) {
    fncscan(block.list(), &result);
    benchmark::DoNotOptimize(result.length);
  }
}
BENCHMARK(BM_ScanNoArenaFloor);

void BM_ScanNoArenaPeer(benchmark::State &state) {
  const auto rs = rows((size_t)state.range(0));
  const int n = (int)state.range(1);
  for (auto _ : state) {
    for (std::string_view r : rs) benchmark::DoNotOptimize(peer_word(r, n));
  }
  state.SetItemsProcessed((int64_t)state.iterations() * (int64_t)rs.size());
}

BENCHMARK(BM_CountwModule)->Arg(64)->Arg(1024)->Arg(kTextBytes);
BENCHMARK(BM_CountwPeer)->Arg(64)->Arg(1024)->Arg(kTextBytes);
BENCHMARK(BM_ScanModule)->Args({64, 5})->Args({64, -5})->Args({1024, 5})->Args({1024, -5});
BENCHMARK(BM_ScanPeer)->Args({64, 5})->Args({64, -5})->Args({1024, 5})->Args({1024, -5});

BENCHMARK(BM_ScanNoArena)->Args({256, 5})->Args({256, -5})->Args({kTextBytes, 5})->Args({kTextBytes, -5});
BENCHMARK(BM_ScanNoArenaPeer)->Args({256, 5})->Args({256, -5})->Args({kTextBytes, 5})->Args({kTextBytes, -5});

}  // namespace
