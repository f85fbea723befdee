// Tests of the inline short copy: every length up to past the memmove
// hand-over, at every overlap of source and destination, against memmove.
#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "strkernel/short_copy.h"

namespace {

std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; i++) s[i] = (char)('A' + (i * 7) % 53);
  return s;
}

TEST(ShortCopy, MatchesMemmoveAtEveryLengthAndOverlap) {
  constexpr int64_t kMax = 80;
  for (int64_t n = 0; n <= kMax; n++) {
    // dst - src from -(n + 1) to n + 1: apart, touching and overlapping both ways.
    for (int64_t shift = -(n + 1); shift <= n + 1; shift++) {
      const int64_t base = kMax + 8;
      std::string got = pattern(4 * kMax), want = got;
      zeq::move_short(got.data() + base + shift, got.data() + base, n);
      std::memmove(want.data() + base + shift, want.data() + base, (size_t)n);
      ASSERT_EQ(got, want) << "n " << n << " shift " << shift;
    }
  }
}

TEST(ShortCopy, EndsPairCoversEveryLengthOfItsRange) {
  for (int64_t n = 8; n <= 16; n++) {
    std::string src = pattern(16), dst(24, '.');
    zeq::copy_ends<uint64_t>(dst.data(), src.data(), n);
    EXPECT_EQ(dst, src.substr(0, (size_t)n) + std::string(24 - (size_t)n, '.')) << n;
  }
}

}  // namespace
