// Xorshift family against references written here from the published
// algorithms: Vigna's xorshift64*, xorshift1024* and xorshift4096*, the
// xorshift128+ of 2014 with its sum stored back, and Brent's xor4096i
// (xorgens, 64-bit words) with its own seeding.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "tests/support/rng_support.h"
#include "zeq/rng.h"

namespace {

using zeqtest::fmix64;

struct Xorshift64Star {
  uint64_t x;
  uint64_t next() {
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    return x * 2685821657736338717ull;
  }
};

struct Xorshift128PlusStored {
  uint64_t s[2];
  uint64_t next() {
    uint64_t s1 = s[0];
    const uint64_t s0 = s[1];
    s[0] = s0;
    s1 ^= s1 << 23;
    s[1] = (s1 ^ s0 ^ (s1 >> 17) ^ (s0 >> 26)) + s0;
    return s[1];
  }
};

struct Xorshift1024Star {
  uint64_t s[16];
  int p = 0;
  uint64_t next() {
    const uint64_t s0 = s[p];
    uint64_t s1 = s[p = (p + 1) & 15];
    s1 ^= s1 << 31;
    s[p] = s1 ^ s0 ^ (s1 >> 11) ^ (s0 >> 30);
    return s[p] * 1181783497276652981ull;
  }
};

struct Xorshift4096Star {
  uint64_t s[64];
  int p = 0;
  uint64_t next() {
    uint64_t s0 = s[p];
    uint64_t s1 = s[p = (p + 1) & 63];
    s1 ^= s1 << 25;
    s1 ^= s1 >> 3;
    s0 ^= s0 >> 49;
    return (s[p] = s0 ^ s1) * 8372773778140471301ull;
  }
};

// R. P. Brent, xorgens version 3.05, xor4096i with 64-bit words.
struct Xor4096i {
  static constexpr int r = 64, s = 53, a = 33, b = 26, c = 27, d = 29, ws = 27;
  static constexpr uint64_t weyl = 0x61c8864680b583ebull;
  uint64_t w, x[r];
  int i;
  explicit Xor4096i(uint64_t seed) {
    uint64_t t, v = seed;
    for (int k = 64; k > 0; k--) {
      v ^= v << 10; v ^= v >> 15; v ^= v << 4; v ^= v >> 13;
    }
    w = v;
    for (int k = 0; k < r; k++) {
      v ^= v << 10; v ^= v >> 15; v ^= v << 4; v ^= v >> 13;
      x[k] = v + (w += weyl);
    }
    i = r - 1;
    for (int k = 4 * r; k > 0; k--) {
      t = x[i = (i + 1) & (r - 1)]; t ^= t << a; t ^= t >> b;
      v = x[(i + (r - s)) & (r - 1)]; v ^= v << c; v ^= v >> d;
      x[i] = t ^ v;
    }
  }
  uint64_t next() {
    uint64_t t, v;
    t = x[i = (i + 1) & (r - 1)];
    v = x[(i + (r - s)) & (r - 1)];
    t ^= t << a; t ^= t >> b; v ^= v << c; v ^= v >> d;
    x[i] = (v ^= t);
    w += weyl;
    return v + (w ^ (w >> ws));
  }
};

class Xorshift : public zeqtest::RngTest<528> {
 protected:
  template <class Ref>
  void expect_stream(const char *method, uint64_t seed, Ref ref, int n = 20000) {
    zrng_desc d = build(method);
    d.seed_64(blob, seed);
    for (int i = 0; i < n; ++i) ASSERT_EQ(d.uint64(blob), ref.next()) << method << " " << i;
  }
};

const uint64_t kSeeds[] = {1, 5489, 0xFFFFFFFFFFFFFFFFull, 0x8000000000000000ull,
                           0x0123456789ABCDEFull};

TEST_F(Xorshift, Xor64IsXorshift64Star) {
  for (uint64_t seed : kSeeds) expect_stream("XOR64", seed, Xorshift64Star{seed});
  zrng_desc d = build("XOR64");
  d.seed_64(blob, 1);
  EXPECT_EQ(d.uint64(blob), 0x47E4CE4B896CDD1Dull);
}

TEST_F(Xorshift, Xor128StoresItsSum) {
  for (uint64_t seed : kSeeds) expect_stream("XOR128", seed, Xorshift128PlusStored{{seed, fmix64(seed + 1)}});
  // fmix64(0) is 0: the second word starts at 0 and the stream still runs.
  zrng_desc d = build("XOR128");
  d.seed_64(blob, 0xFFFFFFFFFFFFFFFFull);
  uint64_t s[2];
  std::memcpy(s, blob, 16);
  EXPECT_EQ(s[1], 0u);
  EXPECT_NE(d.uint64(blob), 0u);
}

TEST_F(Xorshift, Xor1024IsXorshift1024Star) {
  for (uint64_t seed : kSeeds) {
    Xorshift1024Star ref;
    ref.s[0] = seed;
    for (int k = 1; k < 16; ++k) ref.s[k] = fmix64(seed + k);
    expect_stream("XOR1024", seed, ref);
  }
}

TEST_F(Xorshift, Xor4096IsXorshift4096Star) {
  for (uint64_t seed : kSeeds) {
    Xorshift4096Star ref;
    ref.s[0] = seed;
    for (int k = 1; k < 64; ++k) ref.s[k] = fmix64(seed + k);
    expect_stream("XOR4096", seed, ref);
  }
}

TEST_F(Xorshift, XorgensIsBrentsXor4096i) {
  for (uint64_t seed : kSeeds) {
    Xor4096i ref(seed);
    expect_stream("XORGENS", seed, ref);
  }
}

TEST_F(Xorshift, SeedsOfEveryWidthReachTheSameState) {
  host.set_setting("tkbug.RNGSEED", 4242.0);
  for (const char *method : {"XOR64", "XOR128", "XOR1024", "XOR4096", "XORGENS"}) {
    zrng_desc d = build(method);
    auto first = [&](auto op) {
      op();
      return d.uint64(blob);
    };
    const uint64_t want = first([&] { d.seed_64(blob, 4242); });
    EXPECT_EQ(first([&] { d.seed_32(blob, 4242); }), want) << method;
    EXPECT_EQ(first([&] { d.seed_32(blob, 0); }), want) << method;
    EXPECT_EQ(first([&] { d.seed_64(blob, 0); }), want) << method;
    EXPECT_EQ(first([&] { d.seed_double(blob, 4242.0); }), want) << method;
    EXPECT_EQ(first([&] { d.seed_double(blob, -1.0); }), want) << method;
    EXPECT_EQ(first([&] { d.seed_double(blob, NAN); }), want) << method;
    // A 32-bit seed is zero-extended, not folded.
    const uint64_t big = first([&] { d.seed_64(blob, 0xFFFFFFFFull); });
    EXPECT_EQ(first([&] { d.seed_32(blob, 0xFFFFFFFFu); }), big) << method;
  }
}

TEST_F(Xorshift, KeysAndThreadsHaveNoEffect) {
  for (const char *method : {"XOR64", "XOR128", "XOR1024", "XOR4096", "XORGENS"}) {
    zrng_desc d = build(method);
    d.seed_64(blob, 77);
    std::vector<unsigned char> before(blob, blob + sizeof blob);
    EXPECT_EQ(d.key_32(blob, 5), 0);
    EXPECT_EQ(d.key_64(blob, 5), 0);
    EXPECT_EQ(d.key_double(blob, 5.0), 0);
    EXPECT_EQ(d.thread_32(blob, 5), 0);
    EXPECT_EQ(d.thread_64(blob, 5), 0);
    EXPECT_EQ(std::memcmp(before.data(), blob, sizeof blob), 0) << method;
  }
}

TEST_F(Xorshift, LoadedWordsContinueFromTheCurrentPosition) {
  // XOR1024 keeps its index when its words are loaded.
  zrng_desc d = build("XOR1024");
  d.seed_64(blob, 3);
  for (int i = 0; i < 5; ++i) d.uint64(blob);
  uint64_t words[16];
  for (int k = 0; k < 16; ++k) words[k] = fmix64(1000 + k);
  EXPECT_EQ(d.state(blob, words, sizeof words, 0), 2);
  Xorshift1024Star ref;
  std::memcpy(ref.s, words, sizeof words);
  ref.p = 5;
  for (int i = 0; i < 100; ++i) ASSERT_EQ(d.uint64(blob), ref.next());
}

TEST_F(Xorshift, AllZeroWordsGiveZeroAndTheDefaultGivesUp) {
  for (const char *method : {"XOR64", "XOR128", "XOR1024", "XOR4096"}) {
    zrng_desc d = build(method);
    d.seed_64(blob, 3);
    uint32_t zero = 0;
    EXPECT_EQ(d.state(blob, &zero, 4, 0x2), 3);  // zeros repeated over the words
    EXPECT_EQ(d.uint64(blob), 0u) << method;
    EXPECT_EQ(d.double_default(blob), 0.0) << method;
  }
}

// XORGENS takes its index modulo 64, whatever a damaged blob holds there.
TEST_F(Xorshift, XorgensTakesAnyIndexModulo64) {
  zrng_desc d = build("XORGENS");
  const struct { int32_t stray, same_as; } cases[] = {
      {INT32_MAX, 63}, {-1, 63}, {INT32_MIN, 0}, {64 + 5, 5}, {-60, 4}};
  for (const auto &c : cases) {
    std::vector<uint64_t> want, got;
    for (int32_t start : {c.same_as, c.stray}) {
      d.seed_64(blob, 12);
      std::memcpy(blob + 520, &start, sizeof start);  // the index follows x[64] and w
      auto &out = start == c.same_as ? want : got;
      for (int i = 0; i < 130; ++i) out.push_back(d.uint64(blob));
    }
    EXPECT_EQ(got, want) << c.stray;
  }
}

}  // namespace
