// Threefry family against Random123's threefry2x32, threefry2x64 and
// threefry4x64 (20 rounds): the published known answers, seeded, keyed and
// threaded streams, positioning, and the counter carry.
#include <gtest/gtest.h>

#include <Random123/threefry.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "host/host.h"
#include "rng/threefry/threefry.h"
#include "tests/support/rng_support.h"
#include "zeq/rng.h"

namespace {

using zeqtest::fmix32;
using zeqtest::fmix64;

using zeq::rng::FryBlob;

// A counter-mode stream over a Random123 generator: blocks handed out word
// by word, the counter incremented after the last word.
template <class G>
struct Ref {
  using Ctr = typename G::ctr_type;
  using Key = typename G::key_type;
  static constexpr int W = Ctr::static_size;
  Ctr ctr{}, out{};
  Key key{};
  int i = 0;
  typename Ctr::value_type next() {
    if (i == 0) out = G()(ctr, key);
    auto v = out[i];
    if (++i == W) {
      i = 0;
      ctr.incr();
    }
    return v;
  }
};

class Threefry : public zeqtest::RngTest<104> {
 protected:
  uint64_t draw(zrng_desc &d) {
    return d.output_bits == 32 ? d.uint32(blob) : d.uint64(blob);
  }
};

TEST_F(Threefry, ZeroCounterAndKeyGiveThePublishedBlocks) {
  const struct { const char *method; std::vector<uint64_t> block; } cases[] = {
      {"FRY2X32", {0x6B200159, 0x99BA4EFE}},
      {"FRY2X64", {0xC2B6E3A8C2C69865ull, 0x6F81ED42F350084Dull}},
      {"FRY4X64",
       {0x09218EBDE6C85537ull, 0x55941F5266D86105ull, 0x4BD25E16282434DCull,
        0xEE29EC846BD2E40Bull}},
  };
  for (const auto &c : cases) {
    zrng_desc d = build(c.method);
    std::memset(blob, 0, sizeof blob);  // counter, key, buffer and index all zero
    for (uint64_t want : c.block) EXPECT_EQ(draw(d), want) << c.method;
  }
}

TEST_F(Threefry, SeededStreamsMatchRandom123) {
  for (uint64_t seed : {1ull, 5489ull, 0xFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull}) {
    {
      zrng_desc d = build("FRY2X32");
      d.seed_32(blob, static_cast<uint32_t>(seed));
      Ref<r123::Threefry2x32> ref;
      ref.key = {{static_cast<uint32_t>(seed), fmix32(static_cast<uint32_t>(seed) + 1)}};
      ref.ctr = {{1, 0}};
      for (int i = 0; i < 10000; ++i) ASSERT_EQ(d.uint32(blob), ref.next());
    }
    {
      zrng_desc d = build("FRY2X64");
      d.seed_64(blob, seed);
      Ref<r123::Threefry2x64> ref;
      ref.key = {{seed, fmix64(seed + 1)}};
      ref.ctr = {{1, 0}};
      for (int i = 0; i < 10000; ++i) ASSERT_EQ(d.uint64(blob), ref.next());
    }
    {
      zrng_desc d = build("FRY4X64");
      d.seed_64(blob, seed);
      Ref<r123::Threefry4x64> ref;
      ref.key = {{seed, fmix64(seed + 1), fmix64(seed + 2), fmix64(seed + 3)}};
      ref.ctr = {{1, 0, 0, 0}};
      for (int i = 0; i < 10000; ++i) ASSERT_EQ(d.uint64(blob), ref.next());
    }
  }
}

TEST_F(Threefry, KeysAndThreadsMatchRandom123) {
  const uint64_t seed = 99, key = 0xABCDEF0123ull, thread = 17;
  {
    zrng_desc d = build("FRY2X32");
    d.seed_32(blob, seed);
    d.thread_32(blob, thread);
    d.key_32(blob, static_cast<uint32_t>(key));
    Ref<r123::Threefry2x32> ref;
    ref.key = {{99, fmix32(100) ^ fmix32(static_cast<uint32_t>(key))}};
    ref.ctr = {{1, fmix32(17)}};
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(d.uint32(blob), ref.next());
  }
  {
    zrng_desc d = build("FRY2X64");
    d.seed_64(blob, seed);
    d.thread_64(blob, thread);
    d.key_64(blob, key);
    Ref<r123::Threefry2x64> ref;
    ref.key = {{99, fmix64(100) ^ fmix64(key)}};
    ref.ctr = {{1, fmix64(17)}};
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(d.uint64(blob), ref.next());
  }
  {
    zrng_desc d = build("FRY4X64");
    d.seed_64(blob, seed);
    d.thread_64(blob, thread);
    d.key_64(blob, key);
    Ref<r123::Threefry4x64> ref;
    ref.key = {{99, fmix64(100) ^ fmix64(key), fmix64(101) ^ fmix64(17), fmix64(102)}};
    ref.ctr = {{1, 0, 0, 0}};
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(d.uint64(blob), ref.next());
  }
}

TEST_F(Threefry, ZeroKeysAndThreadsAndFoldedKeysChangeNothing) {
  for (const char *method : {"FRY2X32", "FRY2X64", "FRY4X64"}) {
    zrng_desc d = build(method);
    d.seed_64(blob, 1234);
    std::vector<unsigned char> before(blob, blob + sizeof blob);
    d.key_32(blob, 0);
    d.key_64(blob, 0);
    d.key_double(blob, 0.0);
    d.key_double(blob, NAN);
    d.thread_32(blob, 0);
    d.thread_64(blob, 0);
    if (d.output_bits == 32) {
      d.key_64(blob, 0x100000000ull);
      d.thread_64(blob, 0x300000000ull);
      d.key_double(blob, 4294967296.0);
    } else {
      d.key_double(blob, 18446744073709551616.0);
    }
    EXPECT_EQ(std::memcmp(before.data(), blob, sizeof blob), 0) << method;
  }
}

TEST_F(Threefry, PositioningReachesAnyWordOfTheStream) {
  for (const char *method : {"FRY2X32", "FRY2X64", "FRY4X64"}) {
    zrng_desc d = build(method);
    d.seed_64(blob, 7);
    d.thread_64(blob, 3);  // the thread's counter range is kept
    if (d.count_32) d.count_32(blob, 0);
    else d.count_64(blob, 0);
    std::vector<uint64_t> words;
    for (int i = 0; i < 64; ++i) words.push_back(draw(d));
    for (uint32_t a : {0u, 1u, 2u, 3u, 5u, 8u, 13u, 40u, 63u}) {
      if (d.count_32) d.count_32(blob, a);
      else d.count_64(blob, a);
      for (uint32_t j = a; j < 64; ++j) ASSERT_EQ(draw(d), words[j]) << method << " " << a;
    }
  }
}

TEST_F(Threefry, FreshStreamStandsAtPositionW) {
  for (const char *method : {"FRY2X32", "FRY2X64", "FRY4X64"}) {
    zrng_desc d = build(method);
    const int w = std::string(method) == "FRY4X64" ? 4 : 2;
    d.seed_64(blob, 11);
    std::vector<uint64_t> fresh;
    for (int i = 0; i < 8; ++i) fresh.push_back(draw(d));
    if (d.count_32) d.count_32(blob, w);
    else d.count_64(blob, w);
    for (uint64_t want : fresh) EXPECT_EQ(draw(d), want) << method;
  }
}

TEST_F(Threefry, PositioningMidBlockComputesTheBlockAtOnce) {
  zrng_desc d = build("FRY2X64");
  d.seed_64(blob, 5);
  d.thread_64(blob, 2);
  d.count_64(blob, 3);
  auto *b = reinterpret_cast<FryBlob<2, uint64_t> *>(blob);
  EXPECT_EQ(b->ctr[0], 1u);
  EXPECT_EQ(b->ctr[1], fmix64(2));
  EXPECT_EQ(b->index, 1u);
  r123::Threefry2x64::ctr_type c = {{1, fmix64(2)}};
  r123::Threefry2x64::key_type k = {{5, fmix64(6)}};
  auto block = r123::Threefry2x64()(c, k);
  EXPECT_EQ(b->buf[1], block[1]);
  EXPECT_EQ(d.uint64(blob), block[1]);
  // Position 2: the first word of the same block, computed at the next draw.
  d.count_64(blob, 2);
  EXPECT_EQ(b->index, 0u);
  EXPECT_EQ(d.uint64(blob), block[0]);
}

TEST_F(Threefry, ThreadsUseDisjointCounterRanges) {
  zrng_desc d = build("FRY2X64");
  d.seed_64(blob, 5);
  d.thread_64(blob, 1);
  auto *b = reinterpret_cast<FryBlob<2, uint64_t> *>(blob);
  EXPECT_EQ(b->ctr[1], fmix64(1));
  d.seed_64(blob, 5);
  d.thread_64(blob, 2);
  EXPECT_EQ(b->ctr[1], fmix64(2));
}

TEST_F(Threefry, CounterCarriesIntoTheHighWord) {
  zrng_desc d = build("FRY2X32");
  d.seed_32(blob, 3);
  d.thread_32(blob, 4);
  auto *b = reinterpret_cast<FryBlob<2, uint32_t> *>(blob);
  b->ctr[0] = 0xFFFFFFFFu;  // last block of the low word
  b->index = 0;
  d.uint32(blob);
  d.uint32(blob);
  EXPECT_EQ(b->ctr[0], 0u);
  EXPECT_EQ(b->ctr[1], fmix32(4) + 1);
  // The 64-bit counters carry the same way.
  zrng_desc e = build("FRY4X64");
  e.seed_64(blob, 3);
  auto *c = reinterpret_cast<FryBlob<4, uint64_t> *>(blob);
  c->ctr[0] = c->ctr[1] = ~0ull;
  for (int i = 0; i < 4; ++i) e.uint64(blob);
  EXPECT_EQ(c->ctr[0], 0u);
  EXPECT_EQ(c->ctr[1], 0u);
  EXPECT_EQ(c->ctr[2], 1u);
}

TEST_F(Threefry, TwoWordIntegersAndFoldedSeeds) {
  zrng_desc d = build("FRY2X32");
  d.seed_64(blob, 0x0000000700000002ull);  // folds to 5
  Ref<r123::Threefry2x32> ref;
  ref.key = {{5, fmix32(6)}};
  ref.ctr = {{1, 0}};
  uint64_t hi = ref.next(), lo = ref.next();
  EXPECT_EQ(d.uint64(blob), hi << 32 | lo);
  zrng_desc e = build("FRY4X64");
  e.seed_64(blob, 9);
  Ref<r123::Threefry4x64> ref4;
  ref4.key = {{9, fmix64(10), fmix64(11), fmix64(12)}};
  ref4.ctr = {{1, 0, 0, 0}};
  EXPECT_EQ(e.uint32(blob), static_cast<uint32_t>(ref4.next() >> 32));
}

// A stream whose index is out of range (as a loaded or damaged blob may
// leave it) computes the block of its current counter, as at index 0.
TEST_F(Threefry, StrayIndexRestartsTheCurrentBlock) {
  const struct { const char *method; int words; uint64_t index_at; } cases[] = {
      {"FRY2X32", 2, 24}, {"FRY2X64", 2, 48}, {"FRY4X64", 4, 96}};
  for (const auto &c : cases) {
    zrng_desc d = build(c.method);
    d.seed_64(blob, 77);
    std::vector<uint64_t> want;
    for (int i = 0; i < 3 * c.words; ++i) want.push_back(draw(d));
    const uint64_t w = static_cast<uint64_t>(c.words);
    for (uint64_t stray : {w, w + 1, uint64_t(0x7FFFFFFF), ~uint64_t(0)}) {
      d.seed_64(blob, 77);
      if (c.words == 2 && d.output_bits == 32) {
        const auto idx = static_cast<uint32_t>(stray);
        std::memcpy(blob + c.index_at, &idx, sizeof idx);
      } else {
        std::memcpy(blob + c.index_at, &stray, sizeof stray);
      }
      for (size_t i = 0; i < want.size(); ++i)
        ASSERT_EQ(draw(d), want[i]) << c.method << " " << stray;
    }
  }
}

// Raw words and conversions drawn in turn take the words of one stream in
// order, across block boundaries and after a reseed in the middle of a block.
TEST_F(Threefry, MixedDrawsTakeTheWordsInOrder) {
  auto check = [&](const char *method, auto ref, auto reseed_ref) {
    zrng_desc d = build(method);
    const bool narrow = d.output_bits == 32;
    d.seed_64(blob, 31);
    for (int round = 0; round < 2; ++round) {
      auto word = [&ref] { return static_cast<uint64_t>(ref.next()); };
      for (int i = 0; i < 50; ++i) {
        SCOPED_TRACE(std::string(method) + " draw " + std::to_string(i));
        switch (i % 4) {
          case 0: {
            const uint64_t w = word();
            ASSERT_EQ(d.uint32(blob), narrow ? w : w >> 32);
            break;
          }
          case 1: {
            uint64_t want = word();
            if (narrow) want = want << 32 | word();
            ASSERT_EQ(d.uint64(blob), want);
            break;
          }
          case 2:
            if (narrow) ASSERT_EQ(d.double_32[ZRNG_CO](blob), std::ldexp(double(word()), -32));
            else ASSERT_EQ(d.double_53[ZRNG_CO](blob), std::ldexp(double(word() >> 11), -53));
            break;
          default:
            ASSERT_EQ(d.uint32(blob), narrow ? word() : word() >> 32);
        }
      }
      d.seed_64(blob, 31);  // mid-block: the stream starts over
      ref = reseed_ref;
    }
  };
  Ref<r123::Threefry2x32> r2x32;
  r2x32.key = {{31, fmix32(32)}};
  r2x32.ctr = {{1, 0}};
  check("FRY2X32", r2x32, r2x32);
  Ref<r123::Threefry2x64> r2x64;
  r2x64.key = {{31, fmix64(32)}};
  r2x64.ctr = {{1, 0}};
  check("FRY2X64", r2x64, r2x64);
  Ref<r123::Threefry4x64> r4x64;
  r4x64.key = {{31, fmix64(32), fmix64(33), fmix64(34)}};
  r4x64.ctr = {{1, 0, 0, 0}};
  check("FRY4X64", r4x64, r4x64);
}

// The generic and the wide build deliver the same words, from a fresh block,
// from the middle of one and from a stray index.
template <int W, class T>
void expect_builds_agree() {
  using Blob = FryBlob<W, T>;
  constexpr bool kNarrow = sizeof(T) == 4;
  using G = std::conditional_t<kNarrow, zeq::rng::GenericSlots32<zeq::rng::FryGen<W, T>>,
                               zeq::rng::GenericSlots64<zeq::rng::FryGen<W, T>>>;
  using V = std::conditional_t<kNarrow, zeq::rng::WideSlots32<zeq::rng::FryGen<W, T>>,
                               zeq::rng::WideSlots64<zeq::rng::FryGen<W, T>>>;
  for (T start : {T(0), T(1), T(W), T(~T(0))}) {
    Blob a{}, b{};
    a.key[0] = 1;
    a.key[W - 1] = 0xFFFF;
    a.ctr[0] = 1;
    a.index = start;
    b = a;
    for (int i = 0; i < 4000; ++i) {
      ASSERT_EQ(G::uint64(&a), V::uint64(&b)) << W << " " << sizeof(T) << " " << i;
      ASSERT_EQ(G::uint32(&a), V::uint32(&b)) << W << " " << sizeof(T) << " " << i;
    }
  }
}

TEST(ThreefryBuilds, GenericAndWideDrawsAgree) {
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("bmi2")) GTEST_SKIP();
  expect_builds_agree<2, uint32_t>();
  expect_builds_agree<2, uint64_t>();
  expect_builds_agree<4, uint64_t>();
}

}  // namespace
