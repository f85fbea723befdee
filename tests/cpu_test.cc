// The processor facts the module's build choices rest on.
#include <gtest/gtest.h>

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

}  // namespace
