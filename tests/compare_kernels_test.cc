// The comparison kernels called alone, without a host, against the plain
// tables of tests/reference: every route of the Levenshtein kernel
// (charfn/compare/levenshtein.h) that admits the remainders and cutoff, and
// both row-kernel sets and cell widths of the generalised edit distance
// (charfn/compare/ged.h), on random pairs over small alphabets with case
// counted and ignored; a refused scratch request answers -1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "charfn/compare/edit_costs.h"
#include "charfn/compare/ged.h"
#include "charfn/compare/levenshtein.h"
#include "core/cpu.h"
#include "tests/reference/edit_distance.h"

namespace {

using zeq::lev::Route;

// Heap scratch for the kernel, freed at the end of scope; refuses every
// request when asked to.
struct HeapScratch final : zeq::ScratchAllocator {
  bool refuse = false;
  std::vector<void *> blocks;
  void *alloc(uint64_t size) override { return refuse ? nullptr : blocks.emplace_back(std::malloc(size)); }
  ~HeapScratch() {
    for (void *b : blocks) std::free(b);
  }
};

uint8_t upper(uint8_t c) { return c >= 'a' && c <= 'z' ? uint8_t(c - 32) : c; }

int64_t textbook(const std::string &a, const std::string &b, bool nocase) {
  if (!nocase) return zeqref::levenshtein(a, b);
  std::string ua = a, ub = b;
  for (char &c : ua) c = (char)upper((uint8_t)c);
  for (char &c : ub) c = (char)upper((uint8_t)c);
  return zeqref::levenshtein(ua, ub);
}

TEST(LevenshteinRoutes, EveryAdmittingRouteAgreesWithTheTable) {
  uint8_t up[256];
  for (int c = 0; c < 256; c++) up[c] = upper((uint8_t)c);
  std::mt19937_64 g(27);
  int ran[5] = {};
  const Route kRoutes[] = {Route::FewEdits, Route::OneWord, Route::Band, Route::TwoWords, Route::Blocks};
  for (int it = 0; it < 3000; it++) {
    const std::string alphabet = it % 3 ? "abAB" : "abcdefghijXYZ ";
    auto text = [&](size_t n) {
      std::string s;
      for (size_t i = 0; i < n; i++) s += alphabet[g() % alphabet.size()];
      return s;
    };
    const size_t lengths[] = {1, 7, 63, 64, 65, 127, 128, 129, 300};
    std::string a = text(lengths[g() % 9]), b = text(lengths[g() % 9]);
    if (a.size() > b.size()) std::swap(a, b);
    const bool nocase = g() % 2;
    const int64_t cutoffs[] = {1, 2, 4, 5, 63, 64, 999999};
    const zeq::lev::Options o{cutoffs[g() % 7], nocase ? up : nullptr};
    const int64_t want = std::min(textbook(a, b, nocase), o.cutoff);
    const auto *pa = reinterpret_cast<const uint8_t *>(a.data()), *pb = reinterpret_cast<const uint8_t *>(b.data());
    HeapScratch scratch;
    EXPECT_EQ(zeq::lev::distance(pa, (int64_t)a.size(), pb, (int64_t)b.size(), o, &scratch), want) << a << " / " << b;
    if (o.cutoff <= zeq::lev::kSmallCutoff) {  // these routes never ask for scratch memory
      EXPECT_EQ(zeq::lev::distance(pa, (int64_t)a.size(), pb, (int64_t)b.size(), o, nullptr), want);
    }
    for (Route r : kRoutes) {
      const int64_t got = zeq::lev::route(r, pa, (int64_t)a.size(), pb, (int64_t)b.size(), o, &scratch);
      if (got == -2) continue;  // remainders outside the route's limits
      ran[(int)r]++;
      ASSERT_EQ(got, want) << "route " << (int)r << " cutoff " << o.cutoff << " nocase " << nocase << "\n"
                           << a << "\n" << b;
    }
  }
  for (int n : ran) EXPECT_GT(n, 100);
}

TEST(LevenshteinRoutes, RefusedScratchAnswersMinusOne) {
  HeapScratch scratch;
  scratch.refuse = true;
  const std::string a(200, 'a'), b(200, 'b');
  const auto *pa = reinterpret_cast<const uint8_t *>(a.data()), *pb = reinterpret_cast<const uint8_t *>(b.data());
  EXPECT_EQ(zeq::lev::route(Route::Blocks, pa, 200, pb, 200, {999999, nullptr}, &scratch), -1);
  EXPECT_EQ(zeq::lev::distance(pa, 200, pb, 200, {999999, nullptr}, &scratch), -1);
  EXPECT_EQ(zeq::lev::distance(pa, 200, pb, 200, {999999, nullptr}, nullptr), -1);  // no allocator: refused
}

// A cost table as COMPCOST completes it: random entries (BLANK and
// PUNCTUATION sometimes 0), the least cost derived.  Negative entries go
// through the entry in compged_test.
void random_costs(std::mt19937_64 &g, int64_t (&c)[zeq::cmp::COST_ENTRIES]) {
  using namespace zeq::cmp;
  for (int e = COST_INSERT; e < COST_ENTRIES; e++) c[e] = 1 + (int64_t)(g() % 150);
  c[COST_MATCH] = g() % 4 ? 0 : (int64_t)(g() % 20);
  if (g() % 3 == 0) c[COST_BLANK] = 0;
  if (g() % 3 == 0) c[COST_PUNCT] = 0;
  int64_t least = kCostUnset;
  for (int e : {COST_BLANK, COST_PUNCT})
    if (c[e] != 0 && c[e] < least) least = c[e];
  for (int e : {COST_INSERT, COST_DELETE, COST_FINSERT, COST_FDELETE, COST_APPEND, COST_TRUNCATE, COST_DOUBLE,
                COST_SINGLE})
    least = std::min(least, c[e]);
  c[COST_LEAST] = least;
}

TEST(GedRoutes, BothRowSetsAndCellWidthsAgreeWithTheTable) {
  uint8_t up[256], cls[256] = {};
  for (int c = 0; c < 256; c++) up[c] = upper((uint8_t)c);
  cls[(uint8_t)' '] = 0x08;
  cls[(uint8_t)'.'] = cls[(uint8_t)','] = 0x10;
  const zeqref::GedTables tables{up, cls};
  std::mt19937_64 g(26);
  const std::string alphabet = "aabbAB .,xy";
  for (int it = 0; it < 1500; it++) {
    auto text = [&](size_t n) {
      std::string s;
      for (size_t i = 0; i < n; i++) s += alphabet[g() % alphabet.size()];
      return s;
    };
    const size_t lengths[] = {0, 1, 3, 8, 9, 20, 40};
    const std::string a = text(lengths[g() % 7]), b = text(lengths[g() % 7]);
    int64_t c[zeq::cmp::COST_ENTRIES];
    random_costs(g, c);
    const bool nocase = g() % 2;
    const int64_t cutoffs[] = {50, 300, 2000, zeq::cmp::kCostUnset};
    const int64_t cutoff = cutoffs[g() % 4];
    // The module drops trailing blanks before the kernel, as the reference does.
    std::string ta = a, tb = b;
    while (!ta.empty() && ta.back() == ' ') ta.pop_back();
    while (!tb.empty() && tb.back() == ' ') tb.pop_back();
    const int64_t want = std::min(zeqref::generalized(a, b, c, nocase, tables), cutoff);
    for (auto rows : {zeq::ged::Rows::Generic, zeq::ged::Rows::Wide})
      for (bool wide_cells : {false, true}) {
        const zeq::ged::Options o{c, cutoff, up, cls, nocase, rows, wide_cells};
        HeapScratch scratch;
        int64_t got = -1;
        ASSERT_TRUE(zeq::ged::distance(reinterpret_cast<const uint8_t *>(ta.data()), (int64_t)ta.size(),
                                       reinterpret_cast<const uint8_t *>(tb.data()), (int64_t)tb.size(), o, &scratch,
                                       &got));
        ASSERT_EQ(got, want)
            << "rows " << (int)rows << " 64-bit cells " << wide_cells << " nocase " << nocase << " cutoff " << cutoff
            << "\n[" << a << "]\n[" << b << "]";
      }
  }
}

TEST(GedRoutes, RefusedScratchAnswersMinusOne) {
  HeapScratch scratch;
  scratch.refuse = true;
  const std::string a(100, 'a'), b(100, 'b');
  const zeq::ged::Options o{zeq::cmp::defcost, zeq::cmp::kCostUnset, nullptr, nullptr, false};
  uint8_t cls[256] = {};
  zeq::ged::Options with_classes = o;
  with_classes.classes = cls;
  int64_t cost = 0;
  EXPECT_FALSE(zeq::ged::distance(reinterpret_cast<const uint8_t *>(a.data()), 100,
                                  reinterpret_cast<const uint8_t *>(b.data()), 100, with_classes, &scratch, &cost));
}

}  // namespace
