// Mersenne Twister methods against std::mt19937 and std::mt19937_64: the
// three 32-bit initialisations, seed folding, fresh seeds, keys and thread
// numbers (checked by loading the rehashed state, computed here with an
// independent MurmurHash3, into the standard engines), zero-word skipping,
// the crude conversion, and the generic and wide regenerations.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "host/host.h"
#include "rng/mt/mt.h"
#include "tests/support/rng_support.h"
#include "zeq/rng.h"

namespace {

using zeqtest::fmix32;
using zeqtest::fmix64;

using zeq::rng::Mt32Blob;
using zeq::rng::Mt64Blob;

// --- independent references -----------------------------------------------------

uint32_t rotl32(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }
uint64_t rotl64(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

// MurmurHash3_x86_32 of three little-endian words.
uint32_t ref_murmur32_3(const uint32_t w[3], uint32_t seed) {
  uint32_t h = seed;
  for (int i = 0; i < 3; ++i) {
    uint32_t k = w[i] * 0xcc9e2d51u;
    k = rotl32(k, 15) * 0x1b873593u;
    h ^= k;
    h = rotl32(h, 13) * 5 + 0xe6546b64u;
  }
  return fmix32(h ^ 12);
}

// MurmurHash3_x64_128 of four words (three, extended by fmix64(seed)),
// folded to 64 bits.
uint64_t ref_murmur64_3(const uint64_t w3[3], uint64_t seed) {
  const uint64_t w[4] = {w3[0], w3[1], w3[2], fmix64(seed)};
  const uint64_t c1 = 0x87c37b91114253d5ull, c2 = 0x4cf5ad432745937full;
  uint64_t h1 = seed, h2 = seed;
  for (int i = 0; i < 4; i += 2) {
    uint64_t k1 = w[i] * c1;
    k1 = rotl64(k1, 31) * c2;
    h1 ^= k1;
    h1 = rotl64(h1, 27) + h2;
    h1 = h1 * 5 + 0x52dce729;
    uint64_t k2 = w[i + 1] * c2;
    k2 = rotl64(k2, 33) * c1;
    h2 ^= k2;
    h2 = rotl64(h2, 31) + h1;
    h2 = h2 * 5 + 0x38495ab5;
  }
  h1 ^= 32;
  h2 ^= 32;
  h1 += h2;
  h2 += h1;
  h1 = fmix64(h1);
  h2 = fmix64(h2);
  h1 += h2;
  h2 += h1;
  return h1 ^ h2;
}

// A standard engine put into an exact state (words and position) through its
// stream extractor.
template <class Engine, class Word>
Engine engine_at(const std::vector<Word> &words, size_t index) {
  std::ostringstream out;
  for (Word w : words) out << w << ' ';
  out << index;
  Engine e;
  std::istringstream in(out.str());
  in >> e;
  return e;
}

std::vector<uint32_t> init1998(uint32_t s) {
  std::vector<uint32_t> mt(624);
  mt[0] = s;
  for (int i = 1; i < 624; ++i) mt[i] = 69069u * mt[i - 1];
  return mt;
}

std::vector<uint32_t> init2002(uint32_t s) {
  std::vector<uint32_t> mt(624);
  mt[0] = s;
  for (uint32_t i = 1; i < 624; ++i) mt[i] = 1812433253u * (mt[i - 1] ^ (mt[i - 1] >> 30)) + i;
  return mt;
}

class MersenneTwister : public zeqtest::RngTest<2504> {
 protected:
  Mt32Blob *mt32() { return reinterpret_cast<Mt32Blob *>(blob); }
  Mt64Blob *mt64() { return reinterpret_cast<Mt64Blob *>(blob); }
};

// numpy's MT19937 seeded as its legacy RandomState(seed) seeds it; skipped
// where the system Python has no numpy.
TEST_F(MersenneTwister, Mt32MatchesNumpy) {
  for (uint32_t seed : {1u, 5489u, 4294967295u}) {
    const std::string cmd = "/usr/bin/python3 -c 'import numpy as n; b = n.random.MT19937(); b._legacy_seeding(" +
                            std::to_string(seed) + "); print(*b.random_raw(2000))' 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::vector<uint32_t> want;
    for (unsigned long w; std::fscanf(p, "%lu", &w) == 1;) want.push_back(static_cast<uint32_t>(w));
    pclose(p);
    if (want.empty()) GTEST_SKIP() << "no numpy";
    ASSERT_EQ(want.size(), 2000u);
    zrng_desc d = build("MT32");
    d.seed_32(blob, seed);
    for (uint32_t w : want) ASSERT_EQ(d.uint32(blob), w) << seed;
  }
}

TEST_F(MersenneTwister, Mt32MatchesStdMt19937) {
  zrng_desc d = build("MT32");
  d.seed_32(blob, 5489);
  std::mt19937 ref(5489);
  for (int i = 1; i <= 100000; ++i) {
    uint32_t got = d.uint32(blob), want = ref();
    ASSERT_EQ(got, want) << i;
    if (i == 1) {
      EXPECT_EQ(got, 3499211612u);
    }
    if (i == 10000) {
      EXPECT_EQ(got, 4123659995u);
    }
  }
  // uint64 pairs the next two words, the earlier one high.
  uint64_t hi = ref(), lo = ref();
  EXPECT_EQ(d.uint64(blob), hi << 32 | lo);
}

TEST_F(MersenneTwister, Mt64MatchesStdMt19937_64) {
  zrng_desc d = build("MT64");
  d.seed_64(blob, 5489);
  std::mt19937_64 ref(5489);
  for (int i = 1; i <= 100000; ++i) {
    uint64_t got = d.uint64(blob), want = ref();
    ASSERT_EQ(got, want) << i;
    if (i == 1) {
      EXPECT_EQ(got, 14514284786278117030ull);
    }
    if (i == 10000) {
      EXPECT_EQ(got, 9981545732273789042ull);
    }
  }
  EXPECT_EQ(d.uint32(blob), static_cast<uint32_t>(ref() >> 32));
  // A 32-bit seed is zero-extended.
  d.seed_32(blob, 0xFFFFFFFFu);
  std::mt19937_64 ref2(0xFFFFFFFFull);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(d.uint64(blob), ref2());
}

TEST_F(MersenneTwister, Mt1998UsesTheMultiplicativeInitialisation) {
  zrng_desc d = build("MT1998");
  d.seed_32(blob, 5489);
  EXPECT_EQ(d.uint32(blob), 876359936u);
  EXPECT_EQ(d.uint32(blob), 1965004871u);
  EXPECT_EQ(d.uint32(blob), 1393879085u);
  for (uint32_t seed : {1u, 5489u, 8193u, 0xFFFFFFFFu}) {
    d.seed_32(blob, seed);
    auto ref = engine_at<std::mt19937>(init1998(seed), 624);
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(d.uint32(blob), ref()) << seed;
  }
}

TEST_F(MersenneTwister, HybridChoosesByTheLowThirteenBits) {
  const struct { uint32_t seed; bool is2002; } cases[] = {
      {8192, true}, {8193, false}, {0x12340000, true}, {0x12341000, false}, {1, false}};
  zrng_desc d = build("MTHYBRID");
  for (const auto &c : cases) {
    d.seed_32(blob, c.seed);
    auto ref = engine_at<std::mt19937>(c.is2002 ? init2002(c.seed) : init1998(c.seed), 624);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(d.uint32(blob), ref()) << c.seed;
  }
}

TEST_F(MersenneTwister, SixtyFourBitSeedsFoldToThirtyTwo) {
  const struct { const char *method; uint64_t seed; uint32_t folded; bool is2002; } cases[] = {
      {"MT32", 0x0000000100000001ull, 0, true},  // halves cancel: seed 0
      {"MTHYBRID", 0x0000000100000001ull, 0, true},
      {"MT32", 0x1234567800000001ull, 0x12345679u, true},
      {"MT1998", 0x1234567800000001ull, 0x12345679u, false},
      {"MTHYBRID", 0xFFFF0000FFFF2000ull, 0x00002000u ^ 0xFFFF0000u ^ 0xFFFF0000u, true},
  };
  for (const auto &c : cases) {
    zrng_desc d = build(c.method);
    d.seed_64(blob, c.seed);
    auto ref = engine_at<std::mt19937>(c.is2002 ? init2002(c.folded) : init1998(c.folded), 624);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(d.uint32(blob), ref()) << c.method << " " << c.seed;
  }
}

TEST_F(MersenneTwister, ZeroAndDoubleSeeds) {
  host.set_setting("tkbug.RNGSEED", 777.0);  // fresh seeds are forced to 777
  for (const char *method : {"MT32", "MT1998", "MTHYBRID", "MT64"}) {
    zrng_desc d = build(method);
    auto first = [&](auto seed_op) {
      seed_op();
      return d.uint64(blob);
    };
    const uint64_t want = first([&] { d.seed_32(blob, 777); });
    EXPECT_EQ(first([&] { d.seed_32(blob, 0); }), want) << method;
    EXPECT_EQ(first([&] { d.seed_64(blob, 0); }), want) << method;
    EXPECT_EQ(first([&] { d.seed_double(blob, 0.0); }), want) << method;
    EXPECT_EQ(first([&] { d.seed_double(blob, -3.5); }), want) << method;
    EXPECT_EQ(first([&] { d.seed_double(blob, NAN); }), want) << method;
    EXPECT_EQ(first([&] { d.seed_double(blob, 777.0); }), want) << method;
    // A fraction is mapped to some whole seed, the same every time.
    const uint64_t mapped = first([&] { d.seed_double(blob, 7.5); });
    EXPECT_EQ(first([&] { d.seed_double(blob, 7.5); }), mapped) << method;
    EXPECT_NE(mapped, first([&] { d.seed_32(blob, 7); })) << method;
  }
}

TEST_F(MersenneTwister, KeysAndThreadsRehashEveryWord32) {
  zrng_desc d = build("MT32");
  const struct { uint32_t thread, key; } cases[] = {{0, 7}, {3, 0}, {3, 7}, {0xFFFFFFFF, 1}};
  for (const auto &c : cases) {
    d.seed_32(blob, 5489);
    d.thread_32(blob, c.thread);
    d.key_32(blob, c.key);
    std::vector<uint32_t> mt = init2002(5489);
    for (uint32_t tag_value : {0u, 1u}) {
      uint32_t tag = tag_value == 0 ? 255 : 15;
      uint32_t value = tag_value == 0 ? c.thread : c.key;
      if (value == 0) continue;
      for (uint32_t i = 0; i < 624; ++i) {
        const uint32_t block[3] = {i, tag, value};
        mt[i] = ref_murmur32_3(block, mt[i]);
      }
    }
    auto ref = engine_at<std::mt19937>(mt, 624);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(d.uint32(blob), ref()) << c.thread << " " << c.key;
  }
}

TEST_F(MersenneTwister, KeysAndThreadsRehashEveryWord64) {
  zrng_desc d = build("MT64");
  std::mt19937_64 seeded(5489);
  std::ostringstream dump;
  dump << seeded;
  std::vector<uint64_t> base(312);
  std::istringstream in(dump.str());
  for (auto &w : base) in >> w;

  const struct { uint64_t thread, key; } cases[] = {
      {0, 7}, {3, 0}, {3, 7}, {0x123456789ABCDEFull, ~0ull}};
  for (const auto &c : cases) {
    d.seed_64(blob, 5489);
    d.thread_64(blob, c.thread);
    d.key_64(blob, c.key);
    std::vector<uint64_t> mt = base;
    for (int step = 0; step < 2; ++step) {
      uint64_t tag = step == 0 ? 255 : 15, value = step == 0 ? c.thread : c.key;
      if (value == 0) continue;
      for (uint64_t i = 0; i < 312; ++i) {
        const uint64_t block[3] = {i, tag, value};
        mt[i] = ref_murmur64_3(block, mt[i]);
      }
    }
    auto ref = engine_at<std::mt19937_64>(mt, 312);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(d.uint64(blob), ref());
  }
}

TEST_F(MersenneTwister, KeyFormsThatLeaveTheStateAlone) {
  for (const char *method : {"MT32", "MT64"}) {
    zrng_desc d = build(method);
    d.seed_32(blob, 99);
    std::vector<unsigned char> before(blob, blob + sizeof blob);
    d.key_32(blob, 0);
    d.key_64(blob, 0);
    d.thread_32(blob, 0);
    d.thread_64(blob, 0);
    d.key_double(blob, 0.0);
    d.key_double(blob, NAN);
    if (std::string(method) == "MT32") {
      d.key_64(blob, 0x500000000ull);  // low 32 bits zero
      d.thread_64(blob, 0x700000000ull);
      d.key_double(blob, 4294967296.0);  // remainder 0
    }
    EXPECT_EQ(std::memcmp(before.data(), blob, sizeof blob), 0) << method;
  }
}

TEST_F(MersenneTwister, KeyGivenAsDoubleTakesItsRemainder) {
  const struct { const char *method; double key; uint64_t same_as; } cases[] = {
      {"MT32", 4294967296.0 + 5, 5},
      {"MT32", -1.0, 0xFFFFFFFFull},
      {"MT32", 9.75, 9},
      {"MT64", 18446744073709551616.0 * 3 + 16384, 16384},
      {"MT64", 12.5, 12},
  };
  for (const auto &c : cases) {
    zrng_desc d = build(c.method);
    d.seed_32(blob, 1);
    d.key_double(blob, c.key);
    std::vector<unsigned char> by_double(blob, blob + sizeof blob);
    d.seed_32(blob, 1);
    d.key_64(blob, c.same_as);
    EXPECT_EQ(std::memcmp(by_double.data(), blob, sizeof blob), 0) << c.method << " " << c.key;
  }
}

TEST_F(MersenneTwister, KeyingMidStreamKeepsThePosition) {
  zrng_desc d = build("MT32");
  d.seed_32(blob, 42);
  for (int i = 0; i < 5; ++i) d.uint32(blob);
  std::vector<uint32_t> mt(mt32()->mt, mt32()->mt + 624);
  d.key_32(blob, 9);
  EXPECT_EQ(mt32()->index, 5);
  for (uint32_t i = 0; i < 624; ++i) {
    const uint32_t block[3] = {i, 15, 9};
    mt[i] = ref_murmur32_3(block, mt[i]);
  }
  auto ref = engine_at<std::mt19937>(mt, 5);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(d.uint32(blob), ref());
}

TEST_F(MersenneTwister, ZeroWordsAreSkipped) {
  zrng_desc d = build("MT32");
  d.seed_32(blob, 5489);
  d.uint32(blob);  // regenerate once
  std::vector<uint32_t> mt(mt32()->mt, mt32()->mt + 624);
  mt32()->mt[1] = mt32()->mt[2] = 0;
  mt32()->index = 1;
  auto ref = engine_at<std::mt19937>(mt, 3);  // the two zero words are passed over
  EXPECT_EQ(d.uint32(blob), ref());
  EXPECT_EQ(mt32()->index, 4);
}

TEST_F(MersenneTwister, AllZeroStateGivesUpWithZero) {
  for (const char *method : {"MT32", "MT1998", "MTHYBRID"}) {
    zrng_desc d = build(method);
    uint64_t zero = 0;
    d.seed_32(blob, 1);
    EXPECT_EQ(d.state(blob, &zero, 8, 0x2), 3);  // every word 0
    EXPECT_EQ(d.uint32(blob), 0u) << method;
    EXPECT_EQ(d.double_crude(blob), 0.0) << method;
    EXPECT_EQ(d.double_default(blob), 0.0) << method;
  }
  // MT1998 initialised from 0 (a 64-bit seed whose halves are equal) is stuck.
  zrng_desc d = build("MT1998");
  d.seed_64(blob, 0x0000000500000005ull);
  EXPECT_EQ(d.uint32(blob), 0u);
}

TEST_F(MersenneTwister, CrudeConversionScalesTheNextWord) {
  zrng_desc d = build("MTHYBRID");
  d.seed_32(blob, 31337);
  std::vector<uint32_t> words;
  for (int i = 0; i < 1000; ++i) words.push_back(d.uint32(blob));
  double scale;
  const uint64_t scale_bits = 0x3DEFFFFFFFFFFFFFull;
  std::memcpy(&scale, &scale_bits, 8);
  d.seed_32(blob, 31337);
  for (uint32_t w : words) {
    double x = d.double_crude(blob);
    ASSERT_EQ(x, w * scale);
    ASSERT_GT(x, 0.0);
    ASSERT_LT(x, 1.0);
  }
}

TEST(MersenneTwisterBuilds, GenericAndWideRegenerationsAgree) {
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2 here";
  using G32 = zeq::rng::GenericSlots32<zeq::rng::Mt32Gen>;
  using W32 = zeq::rng::WideSlots32<zeq::rng::Mt32Gen>;
  using G64 = zeq::rng::GenericSlots64<zeq::rng::Mt64Gen>;
  using W64 = zeq::rng::WideSlots64<zeq::rng::Mt64Gen>;
  Mt32Blob a{}, b{};
  std::vector<uint32_t> init = init2002(2024);
  std::memcpy(a.mt, init.data(), sizeof a.mt);
  a.index = 624;
  b = a;
  std::mt19937 ref(2024);
  for (int i = 0; i < 624 * 10; ++i) {
    uint32_t x = G32::uint32(&a);
    ASSERT_EQ(x, W32::uint32(&b));
    ASSERT_EQ(x, ref());
  }
  Mt64Blob c{}, e{};
  std::mt19937_64 ref64(2024);
  c.mt[0] = 2024;
  for (int i = 1; i < 312; ++i)
    c.mt[i] = 6364136223846793005ull * (c.mt[i - 1] ^ (c.mt[i - 1] >> 62)) + i;
  c.index = 312;
  e = c;
  for (int i = 0; i < 312 * 10; ++i) {
    uint64_t x = G64::uint64(&c);
    ASSERT_EQ(x, W64::uint64(&e));
    ASSERT_EQ(x, ref64());
  }
}

}  // namespace
