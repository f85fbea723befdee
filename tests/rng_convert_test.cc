// Uniform output conversions: every rule on chosen words, the number of
// words each rule draws, the bounds at which the rejecting rules give up, the
// generic and wide builds side by side, and the module's own slots fed with
// chosen words through the subtract-key methods.
//
// Expected doubles come from the rules computed with x87 extended precision
// (exact for every 64-bit integer, then rounded once to double) and from the
// values the rules name, not from the conversion code.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "host/host.h"
#include "rng/convert.h"
#include "zeq/rng.h"

namespace {

using zeq::rng::GenericSlots32;
using zeq::rng::GenericSlots64;
using zeq::rng::WideSlots32;
using zeq::rng::WideSlots64;

// A generator that delivers scripted words (zeros once the script is out)
// and counts the words drawn.
struct Script {
  static inline std::deque<uint64_t> words;
  static inline int drawn = 0;
  static void load(std::vector<uint64_t> w) {
    words.assign(w.begin(), w.end());
    drawn = 0;
  }
  static uint64_t take() {
    ++drawn;
    if (words.empty()) return 0;
    uint64_t w = words.front();
    words.pop_front();
    return w;
  }
};
struct ScriptGen {
  static constexpr bool kStateless = true;
  template <bool W>
  static uint32_t next32(void *) {
    return static_cast<uint32_t>(Script::take());
  }
  template <bool W>
  static uint64_t next64(void *) {
    return Script::take();
  }
};

using G32 = GenericSlots32<ScriptGen>;
using G64 = GenericSlots64<ScriptGen>;
using W32 = WideSlots32<ScriptGen>;
using W64 = WideSlots64<ScriptGen>;

bool wide_supported() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
         __builtin_cpu_supports("bmi2");
}

uint64_t bits(double x) {
  uint64_t b;
  std::memcpy(&b, &x, 8);
  return b;
}

// Exact for 64-bit integers, then rounded once to nearest-even.
double exact(uint64_t w) { return static_cast<double>(static_cast<long double>(w)); }

constexpr double k32 = 0x1p-32, k53 = 0x1p-53, k64 = 0x1p-64;

// --- chosen words ------------------------------------------------------------------

const uint32_t kWords32[] = {0,          1,          2,          3,          0x7FFFFFFE,
                             0x7FFFFFFF, 0x80000000, 0x80000001, 0xFFFFFFFE, 0xFFFFFFFF,
                             0x12345678, 0xDEADBEEF};

const uint64_t kWords64[] = {0,
                             1,
                             0x7FF,
                             0x800,
                             0x801,
                             0x1FFFFFFFFFFFFFull,
                             0x20000000000001ull,
                             0x8000000000000400ull,  // tie, rounds down to even
                             0x8000000000000C00ull,  // tie, rounds up to even
                             0x8000000000000401ull,
                             0xFFFFFFFFFFFFF7FFull,
                             0xFFFFFFFFFFFFFBFFull,
                             0xFFFFFFFFFFFFFC00ull,
                             0xFFFFFFFFFFFFFC01ull,
                             0xFFFFFFFFFFFFFFFEull,
                             0xFFFFFFFFFFFFFFFFull,
                             0x0123456789ABCDEFull,
                             0xFEDCBA9876543210ull};

double draw(double (*slot)(void *), std::vector<uint64_t> words) {
  Script::load(std::move(words));
  return slot(nullptr);
}

template <class S32>
void check_rules32() {
  for (uint32_t v : kWords32) {
    SCOPED_TRACE(v);
    const double dv = v;
    EXPECT_EQ(draw(S32::closed_open, {v}), dv * k32);
    EXPECT_EQ(draw(S32::open_open, {v}), (dv + 0.5) * k32);
    EXPECT_EQ(draw(S32::open_closed, {v}), (dv + 1) * k32);
    const double even = (v % 2 == 0) ? dv : dv + 1;
    EXPECT_EQ(draw(S32::closed_closed, {v}), even * k32);
    if (v != 0) {
      EXPECT_EQ(draw(S32::reject_zero, {v}), dv * k32);
    }
    Script::load({v, 0x55});
    EXPECT_EQ(S32::uint32(nullptr), v);
    Script::load({v, 0x55});
    EXPECT_EQ(S32::uint64(nullptr), (uint64_t(v) << 32) | 0x55);
  }
}

template <class S64>
void check_rules64() {
  for (uint64_t w : kWords64) {
    SCOPED_TRACE(w);
    const uint64_t m = w >> 11;
    EXPECT_EQ(draw(S64::d53_closed_open, {w}), double(m) * k53);
    EXPECT_EQ(draw(S64::d53_open_open, {w}), double(m | 1) * k53);
    EXPECT_EQ(draw(S64::d53_open_closed, {w}), double(m + 1) * k53);
    EXPECT_EQ(draw(S64::d53_closed_closed, {w}), double(m + (m & 1)) * k53);
    if (m != 0) {
      EXPECT_EQ(draw(S64::d53_reject_zero, {w}), double(m) * k53);
    }

    const bool top = w >= 0xFFFFFFFFFFFFFC00ull;
    EXPECT_EQ(draw(S64::d64_closed_closed, {w}), exact(w) * k64);
    EXPECT_EQ(draw(S64::d64_open_closed, {w}), (exact(w) + 1.0) * k64);
    EXPECT_EQ(draw(S64::d64_closed_open, {w}), exact(top ? w << 54 : w) * k64);
    const uint64_t a = w | 1;
    EXPECT_EQ(draw(S64::d64_open_open, {w}), exact(a >= 0xFFFFFFFFFFFFFC00ull ? a << 54 : a) * k64);
    if (w != 0 && !top) {
      EXPECT_EQ(draw(S64::d64_reject_zero_one, {w}), exact(w) * k64);
    }

    Script::load({w});
    EXPECT_EQ(S64::uint64(nullptr), w);
    Script::load({w});
    EXPECT_EQ(S64::uint32(nullptr), static_cast<uint32_t>(w >> 32));
  }
}

TEST(ConversionRules, ThirtyTwoBitWords) { check_rules32<G32>(); }
TEST(ConversionRules, SixtyFourBitWords) { check_rules64<G64>(); }

TEST(ConversionRules, WideBuildGivesTheSameValues) {
  if (!wide_supported()) GTEST_SKIP() << "no AVX2/FMA here";
  check_rules32<W32>();
  check_rules64<W64>();
}

TEST(ConversionRules, NamedValues) {
  // Values stated for the interval conventions.
  EXPECT_EQ(draw(G32::closed_open, {0xFFFFFFFF}), 0.9999999997671694);
  EXPECT_EQ(draw(G32::closed_closed, {0xFFFFFFFF}), 1.0);
  EXPECT_EQ(draw(G32::closed_open, {0}), 0.0);
  EXPECT_EQ(draw(G32::open_open, {0}), 1.1641532182693481e-10);
  EXPECT_EQ(draw(G32::open_closed, {0}), 2.3283064365386963e-10);
  EXPECT_EQ(draw(G64::d64_closed_open, {0xFFFFFFFFFFFFFC00ull}), 0.0);
  EXPECT_EQ(draw(G64::d64_closed_closed, {0xFFFFFFFFFFFFFC00ull}), 1.0);
  EXPECT_EQ(draw(G64::d64_open_closed, {0xFFFFFFFFFFFFFC00ull}), 1.0);
  EXPECT_EQ(draw(G64::d64_open_open, {0xFFFFFFFFFFFFFC00ull}), 0.0009765625);
  EXPECT_EQ(draw(G64::d64_closed_open, {0xFFFFFFFFFFFFF7FFull}), 0.9999999999999999);
  EXPECT_EQ(bits(draw(G64::d64_closed_open, {0xFFFFFFFFFFFFF7FFull})), 0x3FEFFFFFFFFFFFFFull);
  // Every word that rounds to 2^64 stays inside the open and half-open intervals.
  for (uint64_t w = 0xFFFFFFFFFFFFFC00ull; w != 0; ++w) {
    double oo = draw(G64::d64_open_open, {w});
    double co = draw(G64::d64_closed_open, {w});
    ASSERT_GT(oo, 0.0);
    ASSERT_LT(oo, 1.0);
    ASSERT_GE(co, 0.0);
    ASSERT_LT(co, 1.0);
    ASSERT_EQ(co, (w & 0x3FF) / 1024.0);
  }
}

TEST(ConversionRules, SixtyFourBitConversionRoundsCorrectly) {
  std::mt19937_64 g(12345);
  for (int i = 0; i < 200000; ++i) {
    uint64_t w = g();
    if (i % 3 == 0) w |= 0x8000000000000000ull;
    if (i % 5 == 0) w = (w & ~0x7FFull) | 0x400;  // exact ties below 2^64
    ASSERT_EQ(draw(G64::d64_closed_closed, {w}), exact(w) * k64) << w;
  }
}

// --- words drawn ----------------------------------------------------------------

TEST(ConversionDraws, RejectZeroRulesGiveUpAfterNinetyNineWords) {
  std::vector<uint64_t> zeros98(98, 0), zeros99(99, 0);
  auto with = [](std::vector<uint64_t> v, uint64_t last) {
    v.push_back(last);
    return v;
  };
  const uint64_t word = 5ull << 11;
  EXPECT_EQ(draw(G32::reject_zero, with(zeros98, 5)), 5 * k32);
  EXPECT_EQ(Script::drawn, 99);
  EXPECT_EQ(draw(G32::reject_zero, with(zeros99, 5)), 0.0);
  EXPECT_EQ(Script::drawn, 99);
  EXPECT_EQ(draw(G64::d53_reject_zero, with(zeros98, word)), 5 * k53);
  EXPECT_EQ(Script::drawn, 99);
  // Low bits below the 53 taken count as zero.
  EXPECT_EQ(draw(G64::d53_reject_zero, with(std::vector<uint64_t>(99, 0x7FF), word)), 0.0);
  EXPECT_EQ(Script::drawn, 99);
}

TEST(ConversionDraws, RejectZeroOneRedrawsZeroAndOne) {
  EXPECT_EQ(draw(G64::d64_reject_zero_one, {0, 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFC00ull, 7}),
            7 * k64);
  EXPECT_EQ(Script::drawn, 4);
  EXPECT_EQ(draw(G64::d64_reject_zero_one, {0xFFFFFFFFFFFFFBFFull}), exact(0xFFFFFFFFFFFFFBFFull) * k64);
  EXPECT_LT(draw(G64::d64_reject_zero_one, {0xFFFFFFFFFFFFFBFFull}), 1.0);
}

TEST(ConversionDraws, RejectZeroOneGivesUpOnAStreamThatNeverLeavesTheRejectedWords) {
  Script::load({});
  EXPECT_EQ(G64::d64_reject_zero_one(nullptr), 0.0);
  EXPECT_EQ(Script::drawn, zeq::rng::kRejectZeroOneDraws);
  // 1025 rejected words in a row (the longest run a keyed subtract-key
  // stream can produce) are still redrawn.
  std::vector<uint64_t> run;
  for (uint64_t w = 0xFFFFFFFFFFFFFC00ull; w != 0; ++w) run.push_back(w);
  run.push_back(0);
  run.push_back(42);
  EXPECT_EQ(draw(G64::d64_reject_zero_one, run), 42 * k64);
  EXPECT_EQ(Script::drawn, 1026);
}

TEST(ConversionDraws, OneWordRulesDrawOneWord) {
  double (*const one_word[])(void *) = {G32::open_open,        G32::open_closed,
                                        G32::closed_open,      G32::closed_closed,
                                        G64::d53_open_open,    G64::d53_open_closed,
                                        G64::d53_closed_open,  G64::d53_closed_closed,
                                        G64::d64_open_open,    G64::d64_open_closed,
                                        G64::d64_closed_open,  G64::d64_closed_closed};
  for (auto slot : one_word) {
    draw(slot, {0, 0, 0});
    EXPECT_EQ(Script::drawn, 1);
  }
  Script::load({1, 2});
  G32::uint64(nullptr);
  EXPECT_EQ(Script::drawn, 2);
  Script::load({1, 2});
  G64::uint32(nullptr);
  EXPECT_EQ(Script::drawn, 1);
}

// Value of the bit stream w0 w1 ... as a binary fraction, from a leading
// word w (after z zero words) and the next word, rounded once.
double stream_value(int zero_words, uint64_t w, uint64_t next) {
  int c = w ? __builtin_clzll(w) : 0;
  uint64_t m = c ? (w << c) | (next >> (64 - c)) : w;
  long double v = static_cast<long double>(m | 1);
  return static_cast<double>(std::ldexp(v, -64 * (zero_words + 1) - c));
}

TEST(ConversionDraws, InfinitePrecisionReadsTheBitStream) {
  const struct { int zeros; uint64_t w, next; int drawn; } cases[] = {
      {0, 0x8000000000000000ull, 0, 1},
      {0, 0xFFFFFFFFFFFFFFFFull, 0, 1},
      {0, 0xFFFFFFFFFFFFFC00ull, 0, 1},  // rounds to 1.0
      {0, 1, 0xFFFFFFFFFFFFFFFFull, 2},
      {0, 0x00000000FFFFFFFFull, 0x123456789ABCDEF0ull, 2},
      {3, 0x0000000000000010ull, 0xFFFFFFFFFFFFFFFFull, 5},
      {15, 0x8000000000000000ull, 0, 16},
      {15, 0x0000000000000001ull, 0xFFFFFFFFFFFFFFFFull, 17},
  };
  for (const auto &c : cases) {
    std::vector<uint64_t> words(c.zeros, 0);
    words.push_back(c.w);
    words.push_back(c.next);
    double got = draw(G64::infinite, words);
    EXPECT_EQ(got, stream_value(c.zeros, c.w, c.next)) << c.zeros << " " << c.w;
    EXPECT_EQ(Script::drawn, c.drawn);
  }
  EXPECT_EQ(draw(G64::infinite, {0xFFFFFFFFFFFFFC00ull}), 1.0);
  // Sixteen zero words: 0.0.
  EXPECT_EQ(draw(G64::infinite, std::vector<uint64_t>(16, 0)), 0.0);
  EXPECT_EQ(Script::drawn, 16);
}

TEST(ConversionBuilds, GenericAndWideAgreeOnRandomWords) {
  if (!wide_supported()) GTEST_SKIP() << "no AVX2/FMA here";
  std::mt19937_64 g(777);
  using Slot = double (*)(void *);
  const std::pair<Slot, Slot> pairs[] = {
      {G32::reject_zero, W32::reject_zero},        {G32::open_open, W32::open_open},
      {G32::open_closed, W32::open_closed},        {G32::closed_open, W32::closed_open},
      {G32::closed_closed, W32::closed_closed},    {G64::d53_reject_zero, W64::d53_reject_zero},
      {G64::d53_open_open, W64::d53_open_open},    {G64::d53_open_closed, W64::d53_open_closed},
      {G64::d53_closed_open, W64::d53_closed_open}, {G64::d53_closed_closed, W64::d53_closed_closed},
      {G64::d64_reject_zero_one, W64::d64_reject_zero_one},
      {G64::d64_open_open, W64::d64_open_open},    {G64::d64_open_closed, W64::d64_open_closed},
      {G64::d64_closed_open, W64::d64_closed_open}, {G64::d64_closed_closed, W64::d64_closed_closed},
      {G64::infinite, W64::infinite},
  };
  for (int i = 0; i < 20000; ++i) {
    uint64_t a = g(), b = g();
    if (i % 7 == 0) a >>= (i % 64);
    for (const auto &p : pairs) {
      double x = draw(p.first, {a, b});
      double y = draw(p.second, {a, b});
      ASSERT_EQ(bits(x), bits(y)) << a << " " << b;
    }
  }
}

// --- the module's slots, fed through the subtract-key methods -----------------------

using Builder = void (*)(zrng_desc *);

class ModuleConversions : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(host.loaded()) << host.load_error(); }
  // A subtract-key blob whose next word is w (x = w + 1, k = 1).
  void feed32(zrng_desc &d, void *blob, uint32_t w) {
    uint32_t x = w + 1;
    ASSERT_EQ(d.state(blob, &x, 4, 0), 2);
    d.key_32(blob, 1);
  }
  void feed64(zrng_desc &d, void *blob, uint64_t w) {
    uint64_t x = w + 1;
    ASSERT_EQ(d.state(blob, &x, 8, 0), 2);
    d.key_64(blob, 1);
  }
  zeqhost::Host host;
};

TEST_F(ModuleConversions, SlotsOfSubkey32FollowTheRules) {
  zrng_desc d;
  host.fn<Builder>("zrnfSUBKEY32")(&d);
  alignas(8) unsigned char blob[8] = {};
  using Slot = double (*)(void *);
  const std::pair<Slot, Slot> pairs[] = {
      {d.double_32[ZRNG_REJECT], G32::reject_zero}, {d.double_32[ZRNG_OO], G32::open_open},
      {d.double_32[ZRNG_OC], G32::open_closed},     {d.double_32[ZRNG_CO], G32::closed_open},
      {d.double_32[ZRNG_CC], G32::closed_closed}};
  for (uint32_t v : kWords32) {
    if (v == 0) continue;
    for (const auto &p : pairs) {
      feed32(d, blob, v);
      EXPECT_EQ(p.first(blob), draw(p.second, {v})) << v;
    }
    feed32(d, blob, v);
    EXPECT_EQ(d.uint64(blob), (uint64_t(v) << 32) | (v - 1u));
  }
}

TEST_F(ModuleConversions, SlotsOfSubkey64FollowTheRules) {
  zrng_desc d;
  host.fn<Builder>("zrnfSUBKEY64")(&d);
  alignas(8) unsigned char blob[16] = {};
  using Slot = double (*)(void *);
  const std::pair<Slot, Slot> pairs[] = {
      {d.double_53[ZRNG_REJECT], G64::d53_reject_zero}, {d.double_53[ZRNG_OO], G64::d53_open_open},
      {d.double_53[ZRNG_OC], G64::d53_open_closed},     {d.double_53[ZRNG_CO], G64::d53_closed_open},
      {d.double_53[ZRNG_CC], G64::d53_closed_closed},   {d.double_64[ZRNG_OO], G64::d64_open_open},
      {d.double_64[ZRNG_OC], G64::d64_open_closed},     {d.double_64[ZRNG_CO], G64::d64_closed_open},
      {d.double_64[ZRNG_CC], G64::d64_closed_closed},   {d.double_infinite, G64::infinite}};
  for (uint64_t w : kWords64) {
    if (w >> 11 == 0) continue;  // the reject rule would see the next words
    for (const auto &p : pairs) {
      feed64(d, blob, w);
      EXPECT_EQ(bits(p.first(blob)), bits(draw(p.second, {w, w - 1}))) << w;
    }
  }
  // The rejected words of the default conversion are drawn over: from
  // 0xFFFFFFFFFFFFFC05 down, six words round to 1.0 before one does not.
  feed64(d, blob, 0xFFFFFFFFFFFFFC05ull);
  EXPECT_EQ(d.double_default(blob), exact(0xFFFFFFFFFFFFFBFFull) * k64);
  uint64_t x;
  std::memcpy(&x, blob, 8);
  EXPECT_EQ(x, 0xFFFFFFFFFFFFFBFFull);
}

TEST_F(ModuleConversions, StuckSubkey64StreamAnswersZeroInsteadOfLooping) {
  zrng_desc d;
  host.fn<Builder>("zrnfSUBKEY64")(&d);
  alignas(8) unsigned char blob[16] = {};
  d.seed_64(blob, 0xFFFFFFFFFFFFFFFFull);  // key 0: the word repeats for ever
  EXPECT_EQ(d.double_default(blob), 0.0);
  d.seed_64(blob, 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(d.double_64[ZRNG_REJECT](blob), 0.0);
}

TEST_F(ModuleConversions, NullBlobAnswersZero) {
  for (const char *name : {"zrnfSUBKEY32", "zrnfSUBKEY64", "zrnfMT32", "zrnfFRY4X64"}) {
    zrng_desc d;
    host.fn<Builder>(name)(&d);
    EXPECT_EQ(d.uint32(nullptr), 0u) << name;
    EXPECT_EQ(d.uint64(nullptr), 0u) << name;
    EXPECT_EQ(d.double_default(nullptr), 0.0) << name;
    EXPECT_EQ(d.double_with_zero(nullptr), 0.0) << name;
  }
}

}  // namespace
