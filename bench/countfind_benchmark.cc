// Benchmarks of COUNT, COUNTC, FIND, FINDC and FINDW through the reference
// host over one string of 1 MiB, each next to the C/C++ routine a programmer
// would reach for (memchr, std::count, std::string_view::find, strpbrk,
// strcspn, a 256-entry table loop) in the same run.  Bytes per second count
// the MiB handed in.  The searches look for something placed only at the end
// of the text, so every routine crosses all of it.
//
// Run once per build: as it is (the wide build on an AVX2 processor), and
// with ZEQ_FORCE_GENERIC=1 for the generic build.
#include <algorithm>
#include <cstdint>
#include <cstring>
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

using NumEntry = zeq::typed::NumberEntry;

constexpr size_t kTextBytes = size_t{1} << 20;
// Appended at the very end: found by every search below, and only there.
constexpr std::string_view kTail = " zqx #9Q";

// 1 MiB of lower-case words of 1 to 12 letters separated by blanks and now
// and then by punctuation, from a fixed xorshift sequence, then kTail.
const std::string &text() {
  static const std::string t = [] {
    // a..w: no x, y, z
    std::string s = zeqbench::word_text(kTextBytes - kTail.size(), 23, {{" ", 13}, {", ", 2}, {".", 1}});
    s += kTail;
    return s;
  }();
  return t;
}

// One call site with character and numeric arguments.
class Site {
 public:
  Site(std::vector<std::string_view> texts) {
    strings_.resize(texts.size());
    raw_.assign(FNC_ARGLIST_SIZE(texts.size()), 0);
    FncArgList *b = list();
    b->callForm = FNC_FORM_FUNCTION;
    b->argCount = static_cast<int32_t>(texts.size());
    for (size_t i = 0; i < texts.size(); i++) {
      strings_[i].data = const_cast<char *>(texts[i].data());
      strings_[i].length = strings_[i].maxLength = static_cast<int64_t>(texts[i].size());
      b->args[i].type = FNC_ARG_CHAR;
      b->args[i].value = &strings_[i];
    }
  }
  FncArgList *list() { return reinterpret_cast<FncArgList *>(raw_.data()); }

 private:
  std::vector<FncString> strings_;
  std::vector<unsigned char> raw_;
};

void run(benchmark::State &state, const char *entry, std::vector<std::string_view> args,
         double expected) {
  auto fn = host().fn<NumEntry>(entry);
  Site site(std::move(args));
  double out = 0;
  for (auto _ : state) {
    fn(site.list(), &out);
    benchmark::DoNotOptimize(out);
  }
  if (out != expected) state.SkipWithError("unexpected answer");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text().size()));
}

template <class F>
void baseline(benchmark::State &state, F f) {
  for (auto _ : state) {
    auto r = f(text());
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text().size()));
}

// --- COUNT: one byte -------------------------------------------------------
int64_t count_e() { return std::count(text().begin(), text().end(), 'e'); }

void BM_Count_OneByte(benchmark::State &s) { run(s, "fnccous", {text(), "e"}, (double)count_e()); }
void BM_Baseline_StdCount(benchmark::State &s) {
  baseline(s, [](const std::string &t) { return std::count(t.begin(), t.end(), 'e'); });
}
void BM_Baseline_MemchrCount(benchmark::State &s) {
  baseline(s, [](const std::string &t) {
    int64_t n = 0;
    for (const char *p = t.data(), *end = p + t.size();
         (p = static_cast<const char *>(std::memchr(p, 'e', (size_t)(end - p)))); p++)
      n++;
    return n;
  });
}

// --- COUNT: substring ------------------------------------------------------
int64_t count_sub(std::string_view w) {
  int64_t n = 0;
  for (size_t at = 0; (at = std::string_view(text()).find(w, at)) != std::string_view::npos; at += w.size()) n++;
  return n;
}
void BM_Count_Substring(benchmark::State &s) { run(s, "fnccous", {text(), "tea"}, (double)count_sub("tea")); }
void BM_Baseline_FindLoopCount(benchmark::State &s) {
  baseline(s, [](const std::string &) { return count_sub("tea"); });
}

// --- COUNTC: a list and a class --------------------------------------------
int64_t table_count(std::string_view t, std::string_view set) {
  uint8_t table[256] = {};
  for (char c : set) table[(uint8_t)c] = 1;
  int64_t n = 0;
  for (char c : t) n += table[(uint8_t)c];
  return n;
}
void BM_Countc_List(benchmark::State &s) {
  run(s, "fnccouc", {text(), "aeiou"}, (double)table_count(text(), "aeiou"));
}
void BM_Countc_ClassDigits(benchmark::State &s) {
  run(s, "fnccouc", {text(), "", "D"}, (double)table_count(text(), "0123456789"));
}
void BM_Baseline_TableCount(benchmark::State &s) {
  baseline(s, [](const std::string &t) { return table_count(t, "aeiou"); });
}
void BM_Baseline_StrpbrkCount(benchmark::State &s) {
  baseline(s, [](const std::string &t) {
    int64_t n = 0;
    for (const char *p = t.c_str(); (p = std::strpbrk(p, "aeiou")); p++) n++;
    return n;
  });
}

// --- FIND ------------------------------------------------------------------
const double kTailAt = (double)(kTextBytes - kTail.size());  // 0-based offset of kTail
void BM_Find_OneByte(benchmark::State &s) { run(s, "fncfind", {text(), "Q"}, kTailAt + 8); }
void BM_Baseline_Memchr(benchmark::State &s) {
  baseline(s, [](const std::string &t) { return std::memchr(t.data(), 'Q', t.size()); });
}
void BM_Find_Substring(benchmark::State &s) { run(s, "fncfind", {text(), "zqx"}, kTailAt + 2); }
void BM_Find_SubstringIgnoringCase(benchmark::State &s) {
  run(s, "fncfind", {text(), "ZQX", "I"}, kTailAt + 2);
}
void BM_Baseline_StringViewFind(benchmark::State &s) {
  baseline(s, [](const std::string &t) { return std::string_view(t).find("zqx"); });
}
// A word whose first byte is common and which occurs nowhere.
void BM_Find_SubstringCommonFirstByte(benchmark::State &s) { run(s, "fncfind", {text(), "ezq"}, 0); }
void BM_Baseline_StringViewFindCommonFirstByte(benchmark::State &s) {
  baseline(s, [](const std::string &t) { return std::string_view(t).find("ezq"); });
}

// --- FINDC -----------------------------------------------------------------
void BM_Findc_List(benchmark::State &s) { run(s, "fncfndc", {text(), "#@"}, kTailAt + 6); }
void BM_Findc_ClassDigits(benchmark::State &s) { run(s, "fncfndc", {text(), "", "D"}, kTailAt + 7); }
void BM_Findc_OutsideClass(benchmark::State &s) {
  // The first byte that is no lower-case letter, blank, comma or period.
  run(s, "fncfndc", {text(), " ,.abcdefghijklmnopqrstuvwxyz", "K"}, kTailAt + 6);
}
void BM_Baseline_Strpbrk(benchmark::State &s) {
  baseline(s, [](const std::string &t) { return std::strpbrk(t.c_str(), "#@"); });
}
void BM_Baseline_Strcspn(benchmark::State &s) {
  baseline(s, [](const std::string &t) { return std::strcspn(t.c_str(), "#@"); });
}
void BM_Baseline_StringViewFindFirstOf(benchmark::State &s) {
  baseline(s, [](const std::string &t) { return std::string_view(t).find_first_of("#@"); });
}

// --- FINDW -----------------------------------------------------------------
void BM_Findw_Word(benchmark::State &s) { run(s, "fncfndw", {text(), "zqx"}, kTailAt + 2); }
void BM_Findw_WordWithList(benchmark::State &s) { run(s, "fncfndw", {text(), "zqx", " ,."}, kTailAt + 2); }
void BM_Baseline_FindWholeWord(benchmark::State &s) {
  baseline(s, [](const std::string &t) {
    const std::string_view v(t), w("zqx");
    auto delim = [&](size_t i) { return i >= v.size() || v[i] == ' ' || v[i] == ',' || v[i] == '.'; };
    for (size_t at = 0; (at = v.find(w, at)) != std::string_view::npos; at++)
      if ((at == 0 || delim(at - 1)) && delim(at + w.size())) return at;
    return std::string_view::npos;
  });
}

BENCHMARK(BM_Count_OneByte);
BENCHMARK(BM_Baseline_StdCount);
BENCHMARK(BM_Baseline_MemchrCount);
BENCHMARK(BM_Count_Substring);
BENCHMARK(BM_Baseline_FindLoopCount);
BENCHMARK(BM_Countc_List);
BENCHMARK(BM_Countc_ClassDigits);
BENCHMARK(BM_Baseline_TableCount);
BENCHMARK(BM_Baseline_StrpbrkCount);
BENCHMARK(BM_Find_OneByte);
BENCHMARK(BM_Baseline_Memchr);
BENCHMARK(BM_Find_Substring);
BENCHMARK(BM_Find_SubstringIgnoringCase);
BENCHMARK(BM_Baseline_StringViewFind);
BENCHMARK(BM_Find_SubstringCommonFirstByte);
BENCHMARK(BM_Baseline_StringViewFindCommonFirstByte);
BENCHMARK(BM_Findc_List);
BENCHMARK(BM_Findc_ClassDigits);
BENCHMARK(BM_Findc_OutsideClass);
BENCHMARK(BM_Baseline_Strpbrk);
BENCHMARK(BM_Baseline_Strcspn);
BENCHMARK(BM_Baseline_StringViewFindFirstOf);
BENCHMARK(BM_Findw_Word);
BENCHMARK(BM_Findw_WordWithList);
BENCHMARK(BM_Baseline_FindWholeWord);

}  // namespace
