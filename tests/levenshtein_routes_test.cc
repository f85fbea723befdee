// Each route of the Levenshtein kernel (charfn/compare/levenshtein.h) called
// alone, without a host: on random pairs over small alphabets every route
// that admits the remainders and cutoff answers min(distance, cutoff) of the
// textbook table, with case counted and ignored; the blocks route answers -1
// when its scratch memory is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "charfn/compare/levenshtein.h"

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
  std::vector<int64_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); j++) row[j] = (int64_t)j;
  for (size_t i = 1; i <= a.size(); i++) {
    int64_t diag = row[0];
    row[0] = (int64_t)i;
    for (size_t j = 1; j <= b.size(); j++) {
      const bool same = nocase ? upper(a[i - 1]) == upper(b[j - 1]) : a[i - 1] == b[j - 1];
      const int64_t next = std::min({row[j] + 1, row[j - 1] + 1, diag + (same ? 0 : 1)});
      diag = row[j];
      row[j] = next;
    }
  }
  return row[b.size()];
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
}

}  // namespace
