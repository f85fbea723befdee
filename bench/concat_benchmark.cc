// Benchmarks of the concatenation functions through the reference host:
// CAT and CATX over ten items of 8 to 64 bytes into a growable result, and
// CATQ with the modifiers A and N over the same items.  Bytes per second count the
// bytes of the items read.
#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "charfn/entry_types.h"
#include "bench/bench_data.h"
#include "bench/bench_host.h"
#include "host/host.h"

namespace {

using zeqbench::host;

// Ten items of 8 to 64 bytes: letters with some blanks at the ends and some
// inside, from a fixed xorshift sequence.
std::vector<std::string> items() {
  zeqbench::Xorshift x;
  std::vector<std::string> out;
  for (int i = 0; i < 10; i++) {
    const size_t len = 8 + x.next() % 57;
    std::string s(len, ' ');
    for (size_t k = 0; k < len; k++) {
      const uint32_t r = x.next() % 32;
      s[k] = r < 26 ? char('a' + r) : (r < 30 ? '_' : ' ');
    }
    if (i % 3 == 0) s[0] = ' ';
    if (i % 4 == 0) s[len - 1] = ' ';
    out.push_back(s);
  }
  return out;
}

// An argument block over character values (the benchmarks link no test
// support code).
struct Block {
  std::vector<std::string> texts;
  std::vector<FncString> strings;
  std::vector<unsigned char> raw;
  explicit Block(std::vector<std::string> args) : texts(std::move(args)) {
    strings.resize(texts.size());
    raw.assign(FNC_ARGLIST_SIZE(texts.size()), 0);
    auto *b = reinterpret_cast<FncArgList *>(raw.data());
    b->callForm = FNC_FORM_FUNCTION;
    b->argCount = (int32_t)texts.size();
    for (size_t i = 0; i < texts.size(); i++) {
      strings[i].maxLength = strings[i].length = (int64_t)texts[i].size();
      strings[i].data = texts[i].data();
      b->args[i].type = FNC_ARG_CHAR;
      b->args[i].value = &strings[i];
    }
  }
  FncArgList *args() { return reinterpret_cast<FncArgList *>(raw.data()); }
};

// A growable result whose allocator keeps one block.
struct Grow {
  FncStringAllocator rec{};
  std::vector<char> block;
  static void *resize(FncStringAllocator *self, void *, int64_t size, uint32_t) {
    auto *g = reinterpret_cast<Grow *>(self);
    g->block.resize((size_t)size);
    return g->block.data();
  }
  Grow() { rec.resize = resize; }
};

int64_t total(const std::vector<std::string> &v) {
  int64_t n = 0;
  for (const auto &s : v) n += (int64_t)s.size();
  return n;
}

// One entry over `prefix` (a separator or nothing) and the ten items, into a
// growable result that keeps its block between calls.
void run_growable(benchmark::State &state, const char *name, std::vector<std::string> prefix) {
  auto fn = host().fn<FncCharEntry>(name);
  const auto v = items();
  prefix.insert(prefix.end(), v.begin(), v.end());
  Block c(prefix);
  Grow g;
  FncString r{};
  r.maxLength = 32767;
  r.allocator = &g.rec;
  for (auto _ : state) {
    r.length = 0;
    benchmark::DoNotOptimize(fn(c.args(), &r));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * total(v));
}

void BM_CatGrowable(benchmark::State &state) { run_growable(state, "fnccat", {}); }
BENCHMARK(BM_CatGrowable);

void BM_CatxGrowable(benchmark::State &state) { run_growable(state, "fnccatx", {", "}); }
BENCHMARK(BM_CatxGrowable);

void BM_CatqAN(benchmark::State &state) {
  auto catq = zeq::typed::entry<zeq::typed::CATQ>(host());
  const auto v = items();
  std::vector<std::string> a{"AN"};
  a.insert(a.end(), v.begin(), v.end());
  Block c(a);
  std::vector<char> buf(4096);
  FncString r{};
  r.maxLength = 4096;
  r.data = buf.data();
  for (auto _ : state) {
    benchmark::DoNotOptimize(catq(c.args(), &r));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * total(v));
}
BENCHMARK(BM_CatqAN);

}  // namespace
