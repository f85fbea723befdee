// The processor facts the module's build choices rest on.
#include <bit>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "core/bits.h"
#include "core/cpu.h"

namespace {

TEST(SlowBitDeposit, MicrocodedOnlyOnOlderAmdAndHygon) {
  struct Case {
    const char *vendor;
    unsigned family;
    bool slow;
  };
  const Case cases[] = {
      {"AuthenticAMD", 0x15, true},   // the first with BMI2
      {"AuthenticAMD", 0x17, true},   // Zen 1 and 2
      {"HygonGenuine", 0x18, true},
      {"AuthenticAMD", 0x19, false},  // Zen 3 and 4
      {"AuthenticAMD", 0x1A, false},
      {"GenuineIntel", 0x06, false},
      {"GenuineIntel", 0x13, false},
      {"AuthenticAMX", 0x17, false},  // the vendor must match whole
  };
  for (const Case &c : cases)
    EXPECT_EQ(zeq::cpu::slow_bit_deposit_on(c.vendor, c.family), c.slow) << c.vendor << " " << c.family;
}

// The baseline build's bit count against the standard one, on the values
// whose sums carry across the nibble and byte steps and on random words.
TEST(Popcount64, AgreesWithTheStandardCount) {
  std::vector<uint64_t> words = {0, 1, ~uint64_t(0), uint64_t(1) << 63, 0x8000000000000001ull,
                                 0x5555555555555555ull, 0xAAAAAAAAAAAAAAAAull, 0x0F0F0F0F0F0F0F0Full,
                                 0xFF00FF00FF00FF00ull, 0x7FFFFFFFFFFFFFFFull};
  std::mt19937_64 g(61);
  for (int i = 0; i < 1000; i++) words.push_back(g() & g());
  for (uint64_t w : words) EXPECT_EQ(zeq::popcount64(w), std::popcount(w)) << std::hex << w;
}

}  // namespace
