// tests/bytes_test.cc - byte-string and memory primitives.
//
// The exported routines are checked against plain loops written here, on
// fixed cases, on every byte value and on fixed-seed random inputs at every
// alignment.  The two builds of the hot routines are compared directly (the
// dispatch source is compiled into this test), and the whole suite runs a
// second time in a child process with ZEQ_FORCE_GENERIC=1 so that the
// module's own generic path is exercised on any processor.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "strkernel/bytes_dispatch.h"  // both builds, for side-by-side checks
#include "strkernel/strkernel.h"

namespace {

// ---------------------------------------------------------------------------
// Plain references.
// ---------------------------------------------------------------------------
int64_t ref_scan(const uint8_t *d, uint64_t n, uint8_t v) {
  for (uint64_t i = 0; i < n; i++)
    if (d[i] == v) return (int64_t)i;
  return -1;
}
int64_t ref_nscan(const uint8_t *d, uint64_t n, uint8_t v) {
  for (uint64_t i = 0; i < n; i++)
    if (d[i] != v) return (int64_t)i;
  return -1;
}
int64_t ref_tnscan(const TKChar *d, uint64_t n, TKChar v) {
  for (uint64_t i = 0; i < n; i++)
    if (d[i] != v) return (int64_t)i;
  return -1;
}
uint8_t ref_up(uint8_t c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }
uint8_t ref_low(uint8_t c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// ---------------------------------------------------------------------------
// Fixed cases.
// ---------------------------------------------------------------------------

TEST(Unsup, AnswersNotSupported) { EXPECT_EQ(skUnsup(), (int32_t)0x803FC004); }

TEST(StrLen, CountsToTheZero) {
  EXPECT_EQ(skStrLen("abc"), 3u);
  EXPECT_EQ(skStrLen(""), 0u);
  EXPECT_EQ(skStrLen(nullptr), 0u);
  const TKChar t[] = {0x41, 0x10FFFF, 0x20, 0};
  EXPECT_EQ(skStrTLen(t), 3u);
  EXPECT_EQ(skStrTLen(nullptr), 0u);
}

TEST(StrCpy, CopiesWithTheZeroAndToleratesNull) {
  char dst[8];
  std::memset(dst, '#', sizeof dst);
  skStrCpy("abc", dst);
  EXPECT_EQ(std::string(dst, 5), std::string("abc\0#", 5));
  std::memset(dst, '#', sizeof dst);
  skStrCpy(nullptr, dst);
  EXPECT_EQ(std::string(dst, 2), std::string("\0#", 2));
  skStrCpy("abc", nullptr);  // nothing happens

  TKChar tdst[4] = {9, 9, 9, 9};
  const TKChar src[] = {0x263A, 'x', 0};
  skStrTCpy(src, tdst);
  EXPECT_EQ(tdst[0], 0x263Au);
  EXPECT_EQ(tdst[2], 0u);
  EXPECT_EQ(tdst[3], 9u);
  skStrTCpy(nullptr, tdst);
  EXPECT_EQ(tdst[0], 0u);
  EXPECT_EQ(tdst[1], 'x');
}

TEST(StrCase, ShiftsOnlyAsciiLettersForEveryByte) {
  for (int offset = 0; offset < 40; offset++) {
    std::vector<uint8_t> up(offset + 256 * 2), low;
    for (size_t i = 0; i < 512; i++) up[offset + i] = (uint8_t)i;
    low = up;
    skStrUp(reinterpret_cast<char *>(up.data() + offset), 512);
    skStrLow(reinterpret_cast<char *>(low.data() + offset), 512);
    for (size_t i = 0; i < 512; i++) {
      ASSERT_EQ(up[offset + i], ref_up((uint8_t)i)) << "offset " << offset << " byte " << i;
      ASSERT_EQ(low[offset + i], ref_low((uint8_t)i)) << "offset " << offset << " byte " << i;
    }
  }
  skStrUp(nullptr, 5);
  char z = 'q';
  skStrUp(&z, 0);
  EXPECT_EQ(z, 'q');
}

TEST(MemNot, AllEqualOrEmpty) {
  const struct {
    std::string data;
    int value;
    int32_t want;
  } cases[] = {{"", 'a', 1}, {"aaaa", 'a', 1}, {"aaab", 'a', 0}, {std::string(100, ' '), ' ', 1},
               {std::string(99, ' ') + "x", ' ', 0}, {"\xE9\xE9", 0xE9, 1}, {"\xE9\xE9", -23, 1}};
  for (const auto &c : cases)
    EXPECT_EQ(skMemNot(c.value, c.data.data(), c.data.size()), c.want) << c.data;
  EXPECT_EQ(skMemNot('a', nullptr, 0), 1);
  std::vector<TKChar> t(70, 0x3042);
  EXPECT_EQ(skMemTNot(0x3042, t.data(), t.size()), 1);
  t[69] = 0x3043;
  EXPECT_EQ(skMemTNot(0x3042, t.data(), t.size()), 0);
  EXPECT_EQ(skMemTNot(0x3042, t.data(), 0), 1);
}

TEST(MemSet, FillsExactlyTheCount) {
  for (int offset = 0; offset < 33; offset++) {
    for (uint64_t n : {0, 1, 15, 16, 17, 31, 32, 33, 100, 257}) {
      std::vector<uint8_t> buf(offset + n + 8, 0x11);
      skMemSet(buf.data() + offset, 0x1A7, n);  // only the low byte counts
      for (size_t i = 0; i < buf.size(); i++) {
        bool inside = i >= (size_t)offset && i < offset + n;
        ASSERT_EQ(buf[i], inside ? 0xA7 : 0x11) << offset << "/" << n << "@" << i;
      }
      std::vector<TKChar> t(offset + n + 3, 7);
      skMemTSet(t.data() + offset, 0xDEADBEEF, n);
      for (size_t i = 0; i < t.size(); i++) {
        bool inside = i >= (size_t)offset && i < offset + n;
        ASSERT_EQ(t[i], inside ? 0xDEADBEEFu : 7u) << offset << "/" << n << "@" << i;
      }
    }
  }
}

TEST(MemCmp, UnsignedBytesFirstDifferenceDecides) {
  const struct {
    std::string l, r;
    int32_t want;
  } cases[] = {{"abc", "abc", 0}, {"abc", "abd", -1}, {"abd", "abc", 1},
               {"\xE9", "A", 1},   {"A", "\xE9", -1},  {"", "", 0},
               {std::string(50, 'x') + "\x01", std::string(50, 'x') + "\xFF", -1}};
  for (const auto &c : cases) EXPECT_EQ(skMemCmp(c.l.data(), c.r.data(), c.l.size()), c.want) << c.l;
}

TEST(WMemCmp, SignOfTheWrappedDifference) {
  const struct {
    TKChar l, r;
    int32_t want;
  } cases[] = {{5, 5, 0}, {5, 6, -1}, {6, 5, 1}, {0x10FFFF, 0x41, 1}, {0x80000001u, 1, -1}, {1, 0x80000002u, 1}};
  for (const auto &c : cases) {
    TKChar l[3] = {7, c.l, 1}, r[3] = {7, c.r, 2};
    EXPECT_EQ(skWMemCmp(l, r, 2), c.want) << c.l << " vs " << c.r;
  }
  TKChar a[2] = {1, 2};
  EXPECT_EQ(skWMemCmp(a, a, 2), 0);
  EXPECT_EQ(skWMemCmp(a, nullptr, 0), 0);
}

TEST(MemCpy, AscendingCopyRepeatsWhenTheDestinationIsAbove) {
  for (uint64_t n : {4, 5, 97, 200}) {
    std::vector<uint8_t> buf(n + 8);
    for (size_t i = 0; i < buf.size(); i++) buf[i] = (uint8_t)(i + 1);
    EXPECT_EQ(skMemCpy(buf.data(), buf.data() + 1, n), buf.data() + 1);
    for (uint64_t i = 1; i <= n; i++) ASSERT_EQ(buf[i], 1) << n << "@" << i;
    EXPECT_EQ(buf[n + 1], (uint8_t)(n + 2));
  }
  // Destination below the source: an ordinary forward copy.
  char s[] = "abcdefgh";
  skMemCpy(s + 2, s, 5);
  EXPECT_EQ(std::string(s), "cdefgfgh");
}

TEST(MemCpy, LongAndShortDisjointCopies) {
  std::mt19937 rng(7);
  for (uint64_t n : {0, 1, 2, 3, 95, 96, 97, 1000}) {
    std::vector<uint8_t> src(n), dst(n + 2, 0xCC);
    for (auto &b : src) b = (uint8_t)rng();
    EXPECT_EQ(skMemCpy(src.data(), dst.data() + 1, n), dst.data() + 1);
    if (n) {
      EXPECT_EQ(std::memcmp(dst.data() + 1, src.data(), n), 0);
    }
    EXPECT_EQ(dst[0], 0xCC);
    EXPECT_EQ(dst[n + 1], 0xCC);
  }
  EXPECT_EQ(skMemCpy(nullptr, nullptr, 0), nullptr);
}

TEST(MemSCpy, OverlapKeepsTheSourceAsItWas) {
  for (uint64_t n : {3, 50, 96, 97, 300}) {
    for (int shift : {-7, -1, 1, 7}) {
      std::vector<uint8_t> buf(n + 20);
      for (size_t i = 0; i < buf.size(); i++) buf[i] = (uint8_t)(i * 7 + 3);
      std::vector<uint8_t> want = buf;
      std::memmove(want.data() + 10 + shift, want.data() + 10, n);
      skMemSCpy(buf.data() + 10, buf.data() + 10 + shift, n);
      ASSERT_EQ(buf, want) << n << " shift " << shift;
    }
  }
}

struct DupAllocator {
  void *entries[4];
  int calls = 0;
  uint32_t flags = 99;
  bool fail = false;
  std::vector<std::vector<uint8_t>> blocks;
};
void *dup_alloc(void *rec, uint64_t n, uint32_t flags) {
  auto *a = static_cast<DupAllocator *>(rec);
  a->calls++;
  a->flags = flags;
  if (a->fail) return nullptr;
  a->blocks.emplace_back(n + 1);
  return a->blocks.back().data();
}

TEST(MemDup, CopiesIntoTheAllocatorsBlock) {
  DupAllocator a{};
  a.entries[3] = reinterpret_cast<void *>(dup_alloc);
  auto *copy = static_cast<char *>(skMemDup("hello", 5, &a));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::string(copy, 5), "hello");
  EXPECT_EQ(a.flags, 0u);
  EXPECT_EQ(skMemDup(nullptr, 5, &a), nullptr);
  EXPECT_EQ(skMemDup("x", 1, nullptr), nullptr);
  a.fail = true;
  EXPECT_EQ(skMemDup("x", 1, &a), nullptr);
}

TEST(MemScan, FindsFirstMatchOrMinusOne) {
  std::string forty(39, 'a');
  forty += 'b';
  EXPECT_EQ(skMemScan(forty.data(), 40, 'b'), 39);
  EXPECT_EQ(skMemScan(forty.data(), 40, 'c'), -1);
  EXPECT_EQ(skMemScan(forty.data(), 0, 'a'), -1);
  EXPECT_EQ(skMemScan(nullptr, 10, 'a'), -1);
  EXPECT_EQ(skMemNScan("   x", 4, ' '), 3);
  EXPECT_EQ(skMemNScan("    ", 4, ' '), -1);
  EXPECT_EQ(skMemNScan(nullptr, 4, ' '), -1);
  const TKChar t[] = {0x20, 0x20, 0x3000};
  EXPECT_EQ(skMemTNScan(t, 3, 0x20), 2);
  EXPECT_EQ(skMemTNScan(t, 2, 0x20), -1);
  EXPECT_EQ(skMemTNScan(nullptr, 2, 0x20), -1);
}

TEST(MemScan, EveryByteValueAtEveryPlace) {
  for (int v = 0; v < 256; v++) {
    for (int at : {0, 1, 15, 16, 31, 32, 33, 63, 64, 70}) {
      std::vector<uint8_t> buf(80, (uint8_t)(v ^ 0x5A));
      buf[at] = (uint8_t)v;
      ASSERT_EQ(skMemScan(buf.data(), buf.size(), v), at) << v << "@" << at;
      ASSERT_EQ(skMemScan(buf.data(), buf.size(), v - 256), at) << "only the low byte counts";
      ASSERT_EQ(skMemNScan(buf.data(), buf.size(), v ^ 0x5A), at) << v << "@" << at;
    }
  }
}

TEST(MissArray, AnyNaNIsMissing) {
  const double one_nan[] = {1.0, std::nan("")};
  const double none[] = {1.0, -0.0, INFINITY};
  EXPECT_EQ(skMissArray(one_nan, 2), 1);
  EXPECT_EQ(skMissArray(one_nan, 1), 0);
  EXPECT_EQ(skMissArray(none, 3), 0);
  EXPECT_EQ(skMissArray(none, 0), 0);
  EXPECT_EQ(skMissArray(nullptr, 3), 0);
  uint64_t missing_bits = 0xFFFFFE0000000000ull;
  double host_missing;
  std::memcpy(&host_missing, &missing_bits, 8);
  const double with_host_missing[] = {2.0, host_missing};
  EXPECT_EQ(skMissArray(with_host_missing, 2), 1);
}

// ---------------------------------------------------------------------------
// Both builds against the references on random inputs at every alignment.
// ---------------------------------------------------------------------------

std::vector<const zeq::bytes::Kernels *> builds() {
  std::vector<const zeq::bytes::Kernels *> b = {&zeq::bytes::generic_kernels};
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) b.push_back(&zeq::bytes::wide_kernels);
  return b;
}

TEST(Builds, AgreeWithThePlainLoopsOnRandomInputs) {
  std::mt19937_64 rng(20240611);
  for (const auto *k : builds()) {
    for (int round = 0; round < 3000; round++) {
      const size_t offset = rng() % 64, n = rng() % 300;
      const int alphabet = 1 + (int)(rng() % 4);  // few values: matches happen
      std::vector<uint8_t> buf(offset + n + 1);
      for (auto &b : buf) b = (uint8_t)("aZ \xE9"[rng() % alphabet]);
      const uint8_t *d = buf.data() + offset;
      const uint8_t v = (uint8_t)("aZ \xE9"[rng() % 4]);
      ASSERT_EQ(k->mem_scan(d, n, v), ref_scan(d, n, v)) << k->name;
      ASSERT_EQ(k->mem_nscan(d, n, v), ref_nscan(d, n, v)) << k->name;

      std::vector<uint8_t> up = buf, low = buf;
      k->str_up(up.data() + offset, n);
      k->str_low(low.data() + offset, n);
      for (size_t i = 0; i < buf.size(); i++) {
        bool inside = i >= offset && i < offset + n;
        ASSERT_EQ(up[i], inside ? ref_up(buf[i]) : buf[i]) << k->name;
        ASSERT_EQ(low[i], inside ? ref_low(buf[i]) : buf[i]) << k->name;
      }

      std::vector<uint8_t> set = buf;
      k->mem_set(set.data() + offset, 0x3C, n);
      for (size_t i = 0; i < buf.size(); i++)
        ASSERT_EQ(set[i], (i >= offset && i < offset + n) ? 0x3C : buf[i]) << k->name;

      // TKChar areas, including ones not on a 4-byte boundary.
      const size_t units = n / 2, byte_offset = rng() % 9;
      std::vector<uint8_t> raw(byte_offset + units * 4 + 4);
      std::vector<TKChar> vals(units);
      for (auto &u : vals) u = (rng() % 8) ? 0x3042 : (TKChar)(rng() % 3 + 0x3041);
      if (units) std::memcpy(raw.data() + byte_offset, vals.data(), units * 4);
      auto *t = reinterpret_cast<TKChar *>(raw.data() + byte_offset);
      ASSERT_EQ(k->mem_tnscan(t, units, 0x3042), ref_tnscan(vals.data(), units, 0x3042)) << k->name;
      k->mem_tset(t, 0xABCD1234, units);
      for (size_t i = 0; i < units; i++) {
        TKChar u;
        std::memcpy(&u, raw.data() + byte_offset + 4 * i, 4);
        ASSERT_EQ(u, 0xABCD1234u) << k->name;
      }
    }
  }
}

TEST(Builds, ExportedRoutinesAgreeWithThePlainLoops) {
  std::mt19937_64 rng(99);
  for (int round = 0; round < 2000; round++) {
    const size_t offset = rng() % 64, n = rng() % 200;
    std::vector<uint8_t> buf(offset + n);
    for (auto &b : buf) b = (uint8_t)(rng() % 3 + 'x');
    const uint8_t *d = buf.data() + offset;
    ASSERT_EQ(skMemScan(d, n, 'z'), n ? ref_scan(d, n, 'z') : -1);
    ASSERT_EQ(skMemNScan(d, n, 'x'), n ? ref_nscan(d, n, 'x') : -1);
    ASSERT_EQ(skMemNot('x', d, n), ref_nscan(d, n, 'x') < 0 ? 1 : 0);
  }
}

// Runs this executable again with the generic build forced, so the module's
// own dispatch takes its generic path whatever the processor offers.
TEST(Builds, SuitePassesWithTheGenericBuildForced) {
  if (std::getenv("ZEQ_FORCE_GENERIC")) GTEST_SKIP() << "already the generic run";
  std::string self(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", self.data(), self.size() - 1);
  ASSERT_GT(n, 0);
  self.resize((size_t)n);
  std::string cmd = "ZEQ_FORCE_GENERIC=1 '" + self +
                    "' --gtest_filter=-Builds.SuitePassesWithTheGenericBuildForced > /dev/null 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

}  // namespace
