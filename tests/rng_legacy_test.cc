// RANUNI and the subtract-key methods: the legacy congruence against a
// modular reference, its conversions and crude quotient, and the
// subtract-key sequences, their keys and seeds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "tests/support/rng_support.h"
#include "zeq/rng.h"

namespace {

using Ranuni = double (*)(uint64_t *);

class Legacy : public zeqtest::RngTest<16> {
};

constexpr uint64_t kM = 2147483647, kA = 397204094;

uint64_t mulmod(uint64_t a, uint64_t b) { return a * b % kM; }
uint64_t powmod(uint64_t a, uint64_t e) {
  uint64_t r = 1;
  for (; e; e >>= 1, a = mulmod(a, a))
    if (e & 1) r = mulmod(r, a);
  return r;
}

TEST_F(Legacy, RanuniIsTheCongruenceModuloTwoToThe31MinusOne) {
  zrng_desc d = build("RANUNI");
  for (uint32_t seed : {1u, 12345u, 2147483646u, 0xFFFFFFFDu, 0xFFFFFFFFu}) {
    d.seed_32(blob, seed);
    uint64_t x = seed;  // the first step reduces any 32-bit value
    for (int i = 0; i < 10000; ++i) {
      x = x * kA % kM;
      ASSERT_EQ(d.uint32(blob), x) << seed << " " << i;
    }
  }
}

TEST_F(Legacy, RanuniKnownSteps) {
  zrng_desc d = build("RANUNI");
  d.seed_32(blob, 1);
  EXPECT_EQ(d.double_crude(blob), 0.18496256982207418);
  uint64_t x;
  std::memcpy(&x, blob, 8);
  EXPECT_EQ(x, 397204094u);
  d.seed_32(blob, 2147483646u);
  EXPECT_EQ(d.uint32(blob), 1750279553u);
  // The exported step agrees with the method's.
  uint64_t state = 1;
  EXPECT_EQ(host.fn<Ranuni>("zranuni")(&state), 0.18496256982207418);
  // The 32-bit conversions scale the raw 31-bit word by 2^-32: seed the
  // predecessor of the word 2147483646 (one inverse step).
  d.seed_32(blob, static_cast<uint32_t>(mulmod(2147483646, powmod(kA, kM - 2))));
  EXPECT_EQ(d.double_32[ZRNG_CO](blob), 0.4999999995343387);
}

TEST_F(Legacy, RanuniZeroStateStaysZero) {
  zrng_desc d = build("RANUNI");
  for (uint64_t seed64 : {0x0000000500000005ull}) {
    d.seed_64(blob, seed64);  // halves equal: x = 0
    EXPECT_EQ(d.uint32(blob), 0u);
    EXPECT_EQ(d.uint32(blob), 0u);
  }
  d.seed_32(blob, 2147483647u);
  EXPECT_EQ(d.uint32(blob), 0u);
  d.seed_32(blob, 4294967294u);
  EXPECT_EQ(d.uint32(blob), 0u);
  // Its default conversion gives up with 0.0 after 99 zero words.
  EXPECT_EQ(d.double_default(blob), 0.0);
}

TEST_F(Legacy, RanuniTakesNoKeyAndRefusesStates) {
  zrng_desc d = build("RANUNI");
  d.seed_32(blob, 77);
  std::vector<unsigned char> before(blob, blob + 8);
  d.key_32(blob, 5);
  d.key_64(blob, 5);
  d.key_double(blob, 5);
  d.thread_32(blob, 5);
  d.thread_64(blob, 5);
  uint64_t v = 3;
  EXPECT_EQ(d.state(blob, &v, 8, 0), -1);
  EXPECT_EQ(d.state(blob, &v, 0, 0), 0);
  EXPECT_EQ(std::memcmp(before.data(), blob, 8), 0);
}

TEST_F(Legacy, Subkey32Sequence) {
  zrng_desc d = build("SUBKEY32");
  d.seed_32(blob, 10);
  d.key_32(blob, 3);
  const uint32_t want[] = {7, 4, 1, 4294967294u, 4294967291u};
  for (uint32_t w : want) EXPECT_EQ(d.uint32(blob), w);
  d.key_32(blob, 0);  // no change: still 3
  EXPECT_EQ(d.uint32(blob), 4294967288u);
  // uint64: x - k high, x - 2k low.
  d.seed_32(blob, 100);
  EXPECT_EQ(d.uint64(blob), (97ull << 32) | 94);
  // Unkeyed: the seed for ever.
  std::memset(blob, 0, sizeof blob);
  d.seed_32(blob, 10);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(d.uint32(blob), 10u);
}

TEST_F(Legacy, Subkey32Keys) {
  zrng_desc d = build("SUBKEY32");
  auto key_after = [&](auto op) {
    uint32_t w[2] = {0, 9};
    std::memcpy(blob, w, 8);
    op();
    std::memcpy(w, blob, 8);
    return w[1];
  };
  EXPECT_EQ(key_after([&] { d.key_64(blob, 0x100000000ull); }), 0u);  // low 32 bits
  EXPECT_EQ(key_after([&] { d.key_64(blob, 0); }), 9u);
  EXPECT_EQ(key_after([&] { d.key_64(blob, 0x100000005ull); }), 5u);
  EXPECT_EQ(key_after([&] { d.key_double(blob, 4294967296.0 + 6); }), 6u);
  EXPECT_EQ(key_after([&] { d.key_double(blob, 4294967296.0); }), 0u);
  EXPECT_EQ(key_after([&] { d.key_double(blob, -1.0); }), 0xFFFFFFFFu);
  EXPECT_EQ(key_after([&] { d.key_double(blob, 0.0); }), 9u);
  EXPECT_EQ(key_after([&] { d.key_double(blob, NAN); }), 9u);
  EXPECT_EQ(key_after([&] { d.thread_32(blob, 4); }), 9u);
  // Seeding writes x only.
  EXPECT_EQ(key_after([&] { d.seed_32(blob, 4); }), 9u);
}

TEST_F(Legacy, Subkey64SequenceAndKeys) {
  zrng_desc d = build("SUBKEY64");
  d.seed_64(blob, 5);
  d.key_64(blob, 7);
  EXPECT_EQ(d.uint64(blob), 0xFFFFFFFFFFFFFFFEull);
  EXPECT_EQ(d.uint32(blob), 0xFFFFFFFFu);  // high half of x - k
  auto key_after = [&](auto op) {
    uint64_t w[2] = {0, 9};
    std::memcpy(blob, w, 16);
    op();
    std::memcpy(w, blob, 16);
    return w[1];
  };
  EXPECT_EQ(key_after([&] { d.key_double(blob, 18446744073709551616.0); }), 0u);
  EXPECT_EQ(key_after([&] { d.key_double(blob, 0.0); }), 9u);
  EXPECT_EQ(key_after([&] { d.key_double(blob, 1e6 + 0.5); }), 1000000u);
  EXPECT_EQ(key_after([&] { d.key_32(blob, 0xFFFFFFFFu); }), 0xFFFFFFFFull);
  EXPECT_EQ(key_after([&] { d.key_64(blob, 0); }), 9u);
  EXPECT_EQ(key_after([&] { d.seed_32(blob, 3); }), 9u);
}

TEST_F(Legacy, SeedsOfTheSubkeyMethods) {
  host.set_setting("tkbug.RNGSEED", 55.0);
  zrng_desc d = build("SUBKEY32");
  uint32_t x32;
  d.seed_64(blob, 0x0000000100000003ull);
  std::memcpy(&x32, blob, 4);
  EXPECT_EQ(x32, 2u);
  d.seed_64(blob, 0x0000000700000007ull);  // folds to 0, kept
  std::memcpy(&x32, blob, 4);
  EXPECT_EQ(x32, 0u);
  d.seed_32(blob, 0);
  std::memcpy(&x32, blob, 4);
  EXPECT_EQ(x32, 55u);
  d.seed_double(blob, 12.0);
  std::memcpy(&x32, blob, 4);
  EXPECT_EQ(x32, 12u);
  zrng_desc e = build("SUBKEY64");
  uint64_t x64;
  e.seed_64(blob, 0);
  std::memcpy(&x64, blob, 8);
  EXPECT_EQ(x64, 55u);
  e.seed_double(blob, 1e15);
  std::memcpy(&x64, blob, 8);
  EXPECT_EQ(x64, 1000000000000000ull);
}

}  // namespace
