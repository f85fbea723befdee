// PCG family against a reference written here from pcg-c's LCG step and its
// RXS-M-XS output functions, composed as these methods do it (step first,
// then permute the new state); seeds, keys and their folding.
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

// pcg_output_rxs_m_xs_32_32 and pcg_output_rxs_m_xs_64_64 of pcg-c.
uint32_t rxs_m_xs_32(uint32_t state) {
  uint32_t word = ((state >> ((state >> 28u) + 4u)) ^ state) * 277803737u;
  return (word >> 22u) ^ word;
}
uint64_t rxs_m_xs_64(uint64_t state) {
  uint64_t word = ((state >> ((state >> 59u) + 5u)) ^ state) * 12605985483714917081ull;
  return (word >> 43u) ^ word;
}

struct Pcg32Ref {
  uint32_t state, inc;
  uint32_t next() {
    state = state * 747796405u + inc;  // PCG_DEFAULT_MULTIPLIER_32
    return rxs_m_xs_32(state);
  }
};
struct Pcg64Ref {
  uint64_t state, inc;
  uint64_t next() {
    state = state * 6364136223846793005ull + inc;  // PCG_DEFAULT_MULTIPLIER_64
    return rxs_m_xs_64(state);
  }
};

class Pcg : public zeqtest::RngTest<16> {
};

TEST_F(Pcg, Pcg32iSeedOne) {
  zrng_desc d = build("PCG32I");
  d.seed_32(blob, 1);
  uint32_t w[2];
  std::memcpy(w, blob, 8);
  EXPECT_EQ(w[0], 2u);
  EXPECT_EQ(w[1], 1u);
  EXPECT_EQ(d.uint32(blob), 2751366707u);
  std::memcpy(w, blob, 8);
  EXPECT_EQ(w[0], 1495592811u);
}

TEST_F(Pcg, StreamsMatchTheReference) {
  const struct { uint64_t seed, key; } cases[] = {
      {1, 0}, {5489, 0}, {5489, 1}, {5489, 0x7FFFFFFF}, {0xFFFFFFFF, 12345}, {42, 0x7FFFFFFFFFFFFFFFull}};
  for (const auto &c : cases) {
    zrng_desc d = build("PCG32I");
    d.seed_32(blob, static_cast<uint32_t>(c.seed));
    d.key_32(blob, static_cast<uint32_t>(c.key));
    uint32_t k32 = static_cast<uint32_t>(c.key);
    Pcg32Ref r32{static_cast<uint32_t>(c.seed + 1 + 2ull * k32), 2 * k32 + 1};
    for (int i = 0; i < 20000; ++i) ASSERT_EQ(d.uint32(blob), r32.next()) << c.seed << " " << c.key;
    uint64_t hi = r32.next(), lo = r32.next();
    EXPECT_EQ(d.uint64(blob), hi << 32 | lo);

    zrng_desc e = build("PCG64I");
    e.seed_64(blob, c.seed);
    e.key_64(blob, c.key);
    Pcg64Ref r64{c.seed + 1 + 2 * c.key, 2 * c.key + 1};
    for (int i = 0; i < 20000; ++i) ASSERT_EQ(e.uint64(blob), r64.next()) << c.seed << " " << c.key;
    EXPECT_EQ(e.uint32(blob), static_cast<uint32_t>(r64.next() >> 32));
  }
}

TEST_F(Pcg, KeysThatChangeNothingAndKeysThatFold) {
  zrng_desc d = build("PCG32I");
  d.seed_32(blob, 10);
  std::vector<unsigned char> before(blob, blob + 8);
  d.key_32(blob, 0);
  d.key_64(blob, 0x500000000ull);  // low 32 bits zero
  d.key_double(blob, 0.0);
  d.key_double(blob, NAN);
  d.key_double(blob, 4294967296.0);
  d.thread_32(blob, 9);
  d.thread_64(blob, 9);
  EXPECT_EQ(std::memcmp(before.data(), blob, 8), 0);

  // Keys k and k + 2^63 give the same increment and state for PCG64I.
  zrng_desc e = build("PCG64I");
  unsigned char other[16];
  e.seed_64(blob, 10);
  e.key_64(blob, 5);
  e.seed_64(other, 10);
  e.key_64(other, 5 + 0x8000000000000000ull);
  EXPECT_EQ(std::memcmp(blob, other, 16), 0);
  // A key given as a double takes its remainder.
  e.seed_64(other, 10);
  e.key_double(other, 5.9);
  EXPECT_EQ(std::memcmp(blob, other, 16), 0);
}

TEST_F(Pcg, SeedsFoldAndZeroDraws) {
  host.set_setting("tkbug.RNGSEED", 31.0);
  zrng_desc d = build("PCG32I");
  uint32_t w[2];
  d.seed_64(blob, 0x0000000300000004ull);  // folds to 7
  std::memcpy(w, blob, 8);
  EXPECT_EQ(w[0], 8u);
  EXPECT_EQ(w[1], 1u);
  d.seed_32(blob, 0);
  std::memcpy(w, blob, 8);
  EXPECT_EQ(w[0], 32u);
  d.seed_double(blob, 100.0);
  std::memcpy(w, blob, 8);
  EXPECT_EQ(w[0], 101u);
  zrng_desc e = build("PCG64I");
  uint64_t s[2];
  e.seed_32(blob, 0xFFFFFFFFu);  // zero-extended
  std::memcpy(s, blob, 16);
  EXPECT_EQ(s[0], 0x100000000ull);
  e.seed_64(blob, ~0ull);  // wraps to 0
  std::memcpy(s, blob, 16);
  EXPECT_EQ(s[0], 0u);
  e.seed_double(blob, -2.0);
  std::memcpy(s, blob, 16);
  EXPECT_EQ(s[0], 32u);
}

}  // namespace
