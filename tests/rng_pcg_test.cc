// PCG family against pcg-cpp (pcg_random.hpp): PCG32I and PCG64I are its
// set-stream engines with the RXS-M-XS output of one width,
// pcg_engines::setseq_rxs_m_xs_32_32 and _64_64 (pcg32_once_insecure and
// pcg64_once_insecure), constructed with the seed and the key as the stream
// number.  pcg-cpp permutes the state before its step and starts from
// (seed + increment) stepped once; these methods start from seed + 1 + 2 key
// and permute after the step, which gives the same words from the first.
// Also seeds, keys and their folding.
#include <gtest/gtest.h>

#include <pcg_random.hpp>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "tests/support/rng_support.h"
#include "zeq/rng.h"

namespace {

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

TEST_F(Pcg, StreamsMatchPcgCpp) {
  const struct { uint64_t seed, key; } cases[] = {
      {1, 0}, {5489, 0}, {5489, 1}, {5489, 0x7FFFFFFF}, {0xFFFFFFFF, 12345}, {42, 0x7FFFFFFFFFFFFFFFull}};
  for (const auto &c : cases) {
    zrng_desc d = build("PCG32I");
    d.seed_32(blob, static_cast<uint32_t>(c.seed));
    d.key_32(blob, static_cast<uint32_t>(c.key));
    pcg_engines::setseq_rxs_m_xs_32_32 r32(static_cast<uint32_t>(c.seed), static_cast<uint32_t>(c.key));
    for (int i = 0; i < 20000; ++i) ASSERT_EQ(d.uint32(blob), r32()) << c.seed << " " << c.key;
    uint64_t hi = r32(), lo = r32();
    EXPECT_EQ(d.uint64(blob), hi << 32 | lo);

    zrng_desc e = build("PCG64I");
    e.seed_64(blob, c.seed);
    e.key_64(blob, c.key);
    pcg_engines::setseq_rxs_m_xs_64_64 r64(c.seed, c.key);
    for (int i = 0; i < 20000; ++i) ASSERT_EQ(e.uint64(blob), r64()) << c.seed << " " << c.key;
    EXPECT_EQ(e.uint32(blob), static_cast<uint32_t>(r64() >> 32));
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
