// MurmurHash3 and the hardware random instruction.  The hashes are checked
// against the published SMHasher verification values and against a
// byte-oriented transcription of the published MurmurHash3_x64_128 kept in
// this file; the hardware entries through the reference host's processor
// record.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "host/host.h"
#include "tests/support/rng_support.h"
#include "zeq/host.h"
#include "zeq/rng.h"

namespace {

using zeqtest::fmix64;

using Murmur32 = uint32_t (*)(const void *, int64_t, uint32_t);
using Murmur64 = uint64_t (*)(const uint64_t *, int64_t, uint64_t);
using Murmur128 = void (*)(const uint64_t *, int64_t, uint64_t, uint64_t *);
using Available = int32_t (*)();
using Draw32 = uint32_t (*)();
using DrawD = double (*)();

// --- reference: MurmurHash3_x64_128 as published (MurmurHash3.cpp), with the
// seed widened to 64 bits (the published code zero-extends a 32-bit seed).
uint64_t rotl64(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

void ref_x64_128(const void *key, int len, uint64_t seed, uint64_t out[2]) {
  const uint8_t *data = static_cast<const uint8_t *>(key);
  const int nblocks = len / 16;
  uint64_t h1 = seed, h2 = seed;
  const uint64_t c1 = 0x87c37b91114253d5ull, c2 = 0x4cf5ad432745937full;
  for (int i = 0; i < nblocks; i++) {
    uint64_t k1, k2;
    std::memcpy(&k1, data + i * 16, 8);
    std::memcpy(&k2, data + i * 16 + 8, 8);
    k1 *= c1; k1 = rotl64(k1, 31); k1 *= c2; h1 ^= k1;
    h1 = rotl64(h1, 27); h1 += h2; h1 = h1 * 5 + 0x52dce729;
    k2 *= c2; k2 = rotl64(k2, 33); k2 *= c1; h2 ^= k2;
    h2 = rotl64(h2, 31); h2 += h1; h2 = h2 * 5 + 0x38495ab5;
  }
  const uint8_t *tail = data + nblocks * 16;
  uint64_t k1 = 0, k2 = 0;
  switch (len & 15) {
    case 15: k2 ^= uint64_t(tail[14]) << 48; [[fallthrough]];
    case 14: k2 ^= uint64_t(tail[13]) << 40; [[fallthrough]];
    case 13: k2 ^= uint64_t(tail[12]) << 32; [[fallthrough]];
    case 12: k2 ^= uint64_t(tail[11]) << 24; [[fallthrough]];
    case 11: k2 ^= uint64_t(tail[10]) << 16; [[fallthrough]];
    case 10: k2 ^= uint64_t(tail[9]) << 8; [[fallthrough]];
    case 9:
      k2 ^= uint64_t(tail[8]);
      k2 *= c2; k2 = rotl64(k2, 33); k2 *= c1; h2 ^= k2;
      [[fallthrough]];
    case 8: k1 ^= uint64_t(tail[7]) << 56; [[fallthrough]];
    case 7: k1 ^= uint64_t(tail[6]) << 48; [[fallthrough]];
    case 6: k1 ^= uint64_t(tail[5]) << 40; [[fallthrough]];
    case 5: k1 ^= uint64_t(tail[4]) << 32; [[fallthrough]];
    case 4: k1 ^= uint64_t(tail[3]) << 24; [[fallthrough]];
    case 3: k1 ^= uint64_t(tail[2]) << 16; [[fallthrough]];
    case 2: k1 ^= uint64_t(tail[1]) << 8; [[fallthrough]];
    case 1:
      k1 ^= uint64_t(tail[0]);
      k1 *= c1; k1 = rotl64(k1, 31); k1 *= c2; h1 ^= k1;
  }
  h1 ^= uint64_t(len); h2 ^= uint64_t(len);
  h1 += h2; h2 += h1;
  h1 = fmix64(h1); h2 = fmix64(h2);
  h1 += h2; h2 += h1;
  out[0] = h1;
  out[1] = h2;
}

// SMHasher's VerificationTest: hash keys {}, {0}, {0,1}, ... {0..254} with
// seeds 256 - i, then hash the concatenated hashes with seed 0.
template <class Hash>
uint32_t verification(Hash hash, int hashbytes) {
  uint8_t key[256];
  std::vector<uint8_t> hashes(static_cast<size_t>(hashbytes) * 256);
  for (int i = 0; i < 256; i++) {
    key[i] = static_cast<uint8_t>(i);
    hash(key, i, 256 - i, &hashes[static_cast<size_t>(i) * hashbytes]);
  }
  uint8_t final[16];
  hash(hashes.data(), hashbytes * 256, 0, final);
  return uint32_t(final[0]) | uint32_t(final[1]) << 8 | uint32_t(final[2]) << 16 |
         uint32_t(final[3]) << 24;
}

class Murmur : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(host.loaded()) << host.load_error(); }
  zeqhost::Host host;
  Murmur32 m32 = host.fn<Murmur32>("zmurmur32");
  Murmur64 m64 = host.fn<Murmur64>("zmurmur64");
  Murmur128 m128 = host.fn<Murmur128>("zmurmur128");
};

TEST_F(Murmur, X86_32MatchesPublishedVerificationValue) {
  auto hash = [this](const void *key, int len, uint32_t seed, void *out) {
    uint32_t h = m32(key, len, seed);
    std::memcpy(out, &h, 4);
  };
  EXPECT_EQ(verification(hash, 4), 0xB0F57EE3u);
}

TEST_F(Murmur, ReferenceX64_128MatchesPublishedVerificationValue) {
  auto hash = [](const void *key, int len, uint32_t seed, void *out) {
    uint64_t h[2];
    ref_x64_128(key, len, seed, h);
    std::memcpy(out, h, 16);
  };
  EXPECT_EQ(verification(hash, 16), 0x6384BA69u);
}

TEST_F(Murmur, X86_32KnownValues) {
  const struct { const char *text; uint32_t seed; uint32_t want; } cases[] = {
      {"", 0, 0},
      {"", 1, 0x514E28B7u},
      {"", 0xFFFFFFFFu, 0x81F16F39u},
      {"aaaa", 0x9747B28Cu, 0x5A97808Au},
      {"abc", 0, 0xB3DD93FAu},
      {"Hello, world!", 0x9747B28Cu, 0x24884CBAu},
      {"The quick brown fox jumps over the lazy dog", 0x9747B28Cu, 0x2FA826CDu},
  };
  for (const auto &c : cases)
    EXPECT_EQ(m32(c.text, static_cast<int64_t>(std::strlen(c.text)), c.seed), c.want) << c.text;
  const uint8_t zeros[4] = {};
  EXPECT_EQ(m32(zeros, 4, 0), 0x2362F9DEu);
}

TEST_F(Murmur, X86_32TreatsNullAndNegativeLengthAsEmpty) {
  EXPECT_EQ(m32(nullptr, 12, 1), 0x514E28B7u);
  EXPECT_EQ(m32("abc", -3, 1), 0x514E28B7u);
}

TEST_F(Murmur, X64_128OverWordsEqualsTheByteHashForEvenCounts) {
  const uint64_t seeds[] = {0, 1, 0x9747B28C, 0xFFFFFFFF, 0x123456789ABCDEF0ull, ~0ull};
  std::vector<uint64_t> words;
  for (int i = 0; i < 40; ++i) words.push_back(fmix64(0xA5A5 + i));
  for (uint64_t seed : seeds) {
    for (int count = 0; count <= 40; count += 2) {
      uint64_t want[2], got[2];
      ref_x64_128(words.data(), count * 8, seed, want);
      m128(words.data(), count, seed, got);
      EXPECT_EQ(got[0], want[0]) << seed << " " << count;
      EXPECT_EQ(got[1], want[1]) << seed << " " << count;
      EXPECT_EQ(m64(words.data(), count, seed), want[0] ^ want[1]);
    }
  }
}

TEST_F(Murmur, OddCountIsExtendedByTheMixedSeed) {
  const uint64_t seeds[] = {0, 7, 0xDEADBEEFCAFEF00Dull};
  for (uint64_t seed : seeds) {
    for (int count = 1; count <= 7; count += 2) {
      std::vector<uint64_t> words;
      for (int i = 0; i < count; ++i) words.push_back(0x1111111111111111ull * (i + 1));
      std::vector<uint64_t> padded = words;
      padded.push_back(fmix64(seed));
      uint64_t want[2], got[2];
      ref_x64_128(padded.data(), (count + 1) * 8, seed, want);
      m128(words.data(), count, seed, got);
      EXPECT_EQ(got[0], want[0]);
      EXPECT_EQ(got[1], want[1]);
      EXPECT_EQ(m64(words.data(), count, seed), m64(padded.data(), count + 1, seed));
    }
  }
}

TEST_F(Murmur, X64_128EmptyAndInvalidInputs) {
  uint64_t want[2], got[2] = {1, 1};
  ref_x64_128(nullptr, 0, 42, want);
  m128(nullptr, 0, 42, got);
  EXPECT_EQ(got[0], want[0]);
  EXPECT_EQ(got[1], want[1]);
  m128(nullptr, 5, 42, got);  // null words: nothing to hash
  EXPECT_EQ(got[0], want[0]);
  uint64_t w = 3;
  m128(&w, -1, 42, got);  // negative count: nothing to hash
  EXPECT_EQ(got[0], want[0]);
  m128(&w, 1, 42, nullptr);  // no output: nothing happens
}

// --- hardware instruction ------------------------------------------------------

TEST(HardwareRandom, AvailabilityFollowsTheProcessorRecord) {
  __builtin_cpu_init();
  const bool cpu = __builtin_cpu_supports("rdrnd");
  const struct { bool processor, rdrand; int want; } cases[] = {
      {true, true, cpu ? 1 : 0},
      {true, false, 0},
      {false, true, 0},
  };
  for (const auto &c : cases) {
    zeqhost::HostOptions o;
    o.processor = c.processor;
    o.rdrand = c.rdrand;
    zeqhost::Host host(o);
    ASSERT_TRUE(host.loaded());
    EXPECT_EQ(host.fn<Available>("IsRdRandAvailable")(), c.want)
        << c.processor << " " << c.rdrand;
  }
}

TEST(HardwareRandom, DrawsVaryAndTheDoubleStaysInTheClosedUnitInterval) {
  zeqhost::Host host;
  ASSERT_TRUE(host.loaded());
  if (!host.fn<Available>("IsRdRandAvailable")()) GTEST_SKIP() << "no RDRAND here";
  std::set<uint32_t> seen;
  for (int i = 0; i < 64; ++i) {
    seen.insert(host.fn<Draw32>("RdRand32")());
    seen.insert(host.fn<Draw32>("RdRand16")());
    double d = host.fn<DrawD>("RdRandDb")();
    EXPECT_GE(d, 0.0);
    EXPECT_LE(d, 1.0);
  }
  EXPECT_GT(seen.size(), 100u);
}

// --- the methods built on these primitives -----------------------------------------

using Builder = void (*)(zrng_desc *);

TEST(Mh3Method, IteratesTheFinaliser) {
  zeqhost::Host host;
  ASSERT_TRUE(host.loaded());
  zrng_desc d;
  host.fn<Builder>("zrnfMH3")(&d);
  alignas(8) unsigned char blob[8] = {};
  d.seed_64(blob, 1);
  EXPECT_EQ(d.uint64(blob), 0xB456BCFC34C2CB2Cull);
  EXPECT_EQ(d.uint64(blob), fmix64(0xB456BCFC34C2CB2Cull));
  d.seed_32(blob, 0x89ABCDEFu);  // zero-extended
  uint64_t x = 0x89ABCDEFull;
  for (int i = 0; i < 1000; ++i) {
    x = fmix64(x);
    ASSERT_EQ(d.uint64(blob), x);
  }
  EXPECT_EQ(d.uint32(blob), static_cast<uint32_t>(fmix64(x) >> 32));
  // Fresh seeds and seeds as doubles.
  host.set_setting("tkbug.RNGSEED", 99.0);
  d.seed_64(blob, 0);
  EXPECT_EQ(d.uint64(blob), fmix64(99));
  d.seed_32(blob, 0);
  EXPECT_EQ(d.uint64(blob), fmix64(99));
  d.seed_double(blob, -1.0);
  EXPECT_EQ(d.uint64(blob), fmix64(99));
  d.seed_double(blob, 12345.0);
  EXPECT_EQ(d.uint64(blob), fmix64(12345));
  // Keys and thread numbers are not taken.
  d.seed_64(blob, 5);
  d.key_64(blob, 3);
  d.thread_64(blob, 3);
  d.key_double(blob, 3.0);
  EXPECT_EQ(d.uint64(blob), fmix64(5));
}

TEST(RdrandMethod, DrawsFromTheInstruction) {
  zeqhost::Host host;
  ASSERT_TRUE(host.loaded());
  if (!host.fn<Available>("IsRdRandAvailable")()) GTEST_SKIP() << "no RDRAND here";
  zrng_desc d;
  host.fn<Builder>("zrnfRDRAND")(&d);
  EXPECT_EQ(d.blob_size(), 0);
  std::set<uint64_t> seen;
  for (int i = 0; i < 100; ++i) {
    seen.insert(d.uint64(nullptr));
    seen.insert(d.uint32(nullptr));
    double x = d.double_default(nullptr);
    EXPECT_GT(x, 0.0);
    EXPECT_LT(x, 1.0);
    double y = d.double_infinite(nullptr);
    EXPECT_GE(y, 0.0);
    EXPECT_LE(y, 1.0);
  }
  EXPECT_GT(seen.size(), 190u);
  // Seeds, keys and states are accepted and ignored.
  EXPECT_EQ(d.seed_64(nullptr, 5), 0);
  EXPECT_EQ(d.key_64(nullptr, 5), 0);
  EXPECT_EQ(d.state(nullptr, "abc", 3, 0), 0);
}

TEST(RdrandMethod, WithoutTheInstructionEveryWordIsZero) {
  zeqhost::HostOptions o;
  o.rdrand = false;
  zeqhost::Host host(o);
  ASSERT_TRUE(host.loaded());
  zrng_desc d;
  host.fn<Builder>("zrnfRDRAND")(&d);
  EXPECT_EQ(d.uint32(nullptr), 0u);
  EXPECT_EQ(d.uint64(nullptr), 0u);
  EXPECT_EQ(d.double_32[ZRNG_CO](nullptr), 0.0);
  EXPECT_EQ(d.double_32[ZRNG_OO](nullptr), 1.1641532182693481e-10);
  EXPECT_EQ(d.double_32[ZRNG_REJECT](nullptr), 0.0);
  EXPECT_EQ(d.double_53[ZRNG_REJECT](nullptr), 0.0);
  EXPECT_EQ(d.double_64[ZRNG_CC](nullptr), 0.0);
  EXPECT_EQ(d.double_infinite(nullptr), 0.0);
  EXPECT_EQ(d.double_default(nullptr), 0.0);  // gives up instead of looping
}

}  // namespace
