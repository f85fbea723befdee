// Seed helpers: forced and drawn seeds, seeds given as doubles, the legacy
// multiplicative step, the clock readings and the session encoding access.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "host/host.h"
#include "zeq/abi.h"
#include "zeq/host.h"

namespace {

using I31 = int32_t (*)();
using I64 = uint64_t (*)();
using T32 = uint32_t (*)();
using D2i = double (*)(uint64_t, double);
using Ranuni = double (*)(uint64_t *);
using Nls = int32_t (*)(int32_t);
using Cei = int32_t (*)();
using Widen = int64_t (*)(const char *, TKChar *, int64_t);

constexpr int kD2iRange = static_cast<int>(0x8C7FE819);
constexpr uint64_t kU32 = 0xFFFFFFFFull;
constexpr double kTwo53 = 9007199254740992.0;

class Seeds : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(host.loaded()) << host.load_error(); }
  zeqhost::Host host;
};

TEST_F(Seeds, ForcedSeedIsUsedByBothWidths) {
  const struct { double forced; int32_t want31; uint64_t want64; } cases[] = {
      {12345, 12345, 12345},
      {12345.75, 12345, 12345},                 // truncated
      {4294967296.0 + 7, 7, 4294967303ull},     // 31-bit draw keeps the low 32 bits
      {-5, -5, static_cast<uint64_t>(-5)},      // two's complement, as the integer it truncates to
  };
  for (const auto &c : cases) {
    host.set_setting("tkbug.RNGSEED", c.forced);
    EXPECT_EQ(host.fn<I31>("zrngi31")(), c.want31) << c.forced;
    EXPECT_EQ(host.fn<I64>("zrngi64")(), c.want64) << c.forced;
  }
}

TEST_F(Seeds, DrawnSeedsStayInRange) {
  // A forced seed whose low 32 bits are 0 does not force the 31-bit draw.
  host.set_setting("tkbug.RNGSEED", 4294967296.0);
  for (int i = 0; i < 50; ++i) {
    int32_t s = host.fn<I31>("zrngi31")();
    EXPECT_GE(s, 0);
    EXPECT_LT(s, 0x7FFFFFFF);
  }
  host.clear_setting("tkbug.RNGSEED");
  std::set<uint64_t> seen;
  for (int i = 0; i < 50; ++i) {
    uint64_t s = host.fn<I64>("zrngi64")();
    EXPECT_LT(s, uint64_t{1} << 53);
    seen.insert(s);
  }
  EXPECT_GT(seen.size(), 40u);  // fresh seeds differ
}

TEST_F(Seeds, DoubleSeedsBecomeWholeNumbers) {
  auto d2i = host.fn<D2i>("zrngd2i");
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct { uint64_t limit; double d; double want; } exact[] = {
      {kU32, 7, 7},
      {kU32, 4294967295.0, 4294967295.0},
      {~0ull, 1e19, 1e19},            // whole and below the limit
      {kU32, -1, 0},
      {kU32, 0, 0},
      {kU32, -0.0, 0},
      {kU32, nan, 0},
      {kU32, -std::numeric_limits<double>::infinity(), 0},
  };
  for (const auto &c : exact) EXPECT_EQ(d2i(c.limit, c.d), c.want) << c.limit << " " << c.d;

  // Anything else maps into 1 .. cap - 2, deterministically.
  const struct { uint64_t limit; double d; } mapped[] = {
      {kU32, 7.5},        {kU32, 0.25},        {kU32, 4294967296.0}, {kU32, 1e300},
      {kU32, 5e-324},     {~0ull, 0.5},        {~0ull, 1.5},         {~0ull, 1e30},
      {~0ull, 18446744073709551616.0},        {1000, 1001},          {1000, 999.5},
  };
  for (const auto &c : mapped) {
    double r = d2i(c.limit, c.d);
    double cap = c.limit > (uint64_t{1} << 53) ? kTwo53 : static_cast<double>(c.limit);
    EXPECT_EQ(r, std::floor(r)) << c.d;
    EXPECT_GE(r, 1) << c.d;
    EXPECT_LE(r, cap - 2) << c.d;
    EXPECT_EQ(d2i(c.limit, c.d), r) << c.d;
  }
  // The mapping depends on the mantissa only: doubling keeps the result.
  EXPECT_EQ(d2i(kU32, 7.5), d2i(kU32, 15.0 * 1024 * 1024 * 1024 * 4));
  // Mantissa 0.5 maps to 1, the bottom of the range.
  EXPECT_EQ(d2i(kU32, 4294967296.0), 1);
  EXPECT_TRUE(host.journal_statuses().empty()) << host.log_text();
}

TEST_F(Seeds, UnmappableDoubleIsReported) {
  auto d2i = host.fn<D2i>("zrngd2i");
  // A limit below 2 leaves no room for a mapped value.
  host.clear_log();
  double r = d2i(1, 0.75);
  EXPECT_LT(r, 1);
  std::vector<int> want = {kD2iRange};
  EXPECT_EQ(host.journal_statuses(), want);
  // An infinite request has no mantissa: 0, which draws a fresh seed.
  host.clear_log();
  EXPECT_EQ(d2i(kU32, std::numeric_limits<double>::infinity()), 0);
  EXPECT_EQ(host.journal_statuses(), want);
}

TEST_F(Seeds, RanuniIsTheLehmerStep) {
  auto ranuni = host.fn<Ranuni>("zranuni");
  uint64_t state = 1;
  EXPECT_EQ(ranuni(&state), 397204094 / 2147483647.0);
  EXPECT_EQ(state, 397204094u);

  // Against a plain modular reference, including the top of the range.
  for (uint64_t start : {2ull, 12345ull, 2147483646ull, 1000000007ull}) {
    uint64_t s = start, ref = start;
    for (int i = 0; i < 1000; ++i) {
      ref = ref * 397204094ull % 2147483647ull;
      double u = ranuni(&s);
      ASSERT_EQ(s, ref) << start << " step " << i;
      ASSERT_EQ(u, static_cast<double>(ref) / 2147483647.0);
    }
  }
  // Only the low 32 bits of the state are read; all 64 are written.
  state = 0xABCD000000000001ull;
  ranuni(&state);
  EXPECT_EQ(state, 397204094u);
  EXPECT_EQ(ranuni(nullptr), 0);
}

TEST_F(Seeds, ClockValueFromAStoppedClock) {
  // A clock that never moves: the loop gives up after its bound and the
  // reading itself, modulo 2^32, is the value; 0 becomes 1.
  const struct { double clock; uint32_t want; } cases[] = {
      {1234.75, 1234},
      {4294967296.0 + 99, 99},
      {0, 1},
  };
  for (const auto &c : cases) {
    host.set_clock(c.clock);
    EXPECT_EQ(host.fn<T32>("zrngt32")(), c.want) << c.clock;
  }
  host.set_clock(std::numeric_limits<double>::quiet_NaN());
  EXPECT_NE(host.fn<T32>("zrngt32")(), 0u);
}

TEST_F(Seeds, SessionEncodingSwitchPublishesTheIdentifier) {
  auto nls = host.fn<Nls>("zsknls");
  auto cei = host.fn<Cei>("zSessCei");
  int32_t current = cei();
  EXPECT_EQ(nls(current), 0);
  EXPECT_FALSE(host.has_setting("TKNLS.MVA_SESSION_CEI"));

  int32_t other = current == ZEQ_ENC_UTF8 ? ZEQ_ENC_LATIN1 : ZEQ_ENC_UTF8;
  EXPECT_EQ(nls(other), 0);
  EXPECT_EQ(cei(), other);
  EXPECT_EQ(host.setting_text("TKNLS.MVA_SESSION_CEI").value_or("?"), std::to_string(other));
  EXPECT_NE(host.fn<void *(*)()>("zSessToTKChar")(), nullptr);
  EXPECT_NE(host.fn<void *(*)()>("zSessFromTKChar")(), nullptr);
}

TEST_F(Seeds, SessionTextWidensToTKChar) {
  host.set_utf8(true);
  auto widen = host.fn<Widen>("zCharToTKChar");
  TKChar out[16] = {};
  const char text[] = "a\xC3\xA9z";  // a, e-acute, z
  EXPECT_EQ(widen(text, out, 4), 3);
  EXPECT_EQ(out[0], TKChar('a'));
  EXPECT_EQ(out[1], TKChar(0xE9));
  EXPECT_EQ(out[2], TKChar('z'));
  EXPECT_EQ(widen(text, out, 0), 0);
  EXPECT_EQ(widen(nullptr, out, 3), 0);
}

TEST(SeedsWithoutEncoding, EachByteWidensToOneUnit) {
  zeqhost::HostOptions o;
  o.encoding = false;
  zeqhost::Host host(o);
  ASSERT_TRUE(host.loaded()) << host.load_error();
  TKChar out[8] = {};
  const char text[] = "a\xE9\xFF";
  EXPECT_EQ(host.fn<Widen>("zCharToTKChar")(text, out, 3), 3);
  EXPECT_EQ(out[0], TKChar('a'));
  EXPECT_EQ(out[1], TKChar(0xE9));
  EXPECT_EQ(out[2], TKChar(0xFF));
  EXPECT_EQ(host.fn<Cei>("zSessCei")(), ZEQ_ENC_LATIN1);
  EXPECT_EQ(host.fn<Nls>("zsknls")(ZEQ_ENC_UTF8), 0);
  EXPECT_EQ(host.fn<void *(*)()>("zLocaleh")(), nullptr);
}

TEST(SeedsWithoutHardware, DrawnSeedComesFromTheClock) {
  zeqhost::HostOptions o;
  o.rdrand = false;
  zeqhost::Host host(o);
  ASSERT_TRUE(host.loaded()) << host.load_error();
  // A stopped clock reading of 2^31 + 1234 keeps its low 31 bits; one of
  // 2^31 - 1 (the legacy modulus) becomes 1.
  host.set_clock(2147483648.0 + 1234);
  EXPECT_EQ(host.fn<I31>("zrngi31")(), 1234);
  host.set_clock(2147483647.0);
  EXPECT_EQ(host.fn<I31>("zrngi31")(), 1);
}

}  // namespace
