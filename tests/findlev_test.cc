// Tests of FINDLEV through the reference host: exact search with P, S, W, I
// and T, word boundaries from the session's class table, start positions,
// the level argument, the argument-type rule, the 32- and 64-bit automata on
// both sides of their limits, message 7 for patterns of 64 positions or
// more, and the automaton against the plain search of
// tests/reference/countfind_reference.h.
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/reference/countfind_reference.h"
#include "tests/support/call.h"
#include "tests/support/host_fixture.h"

namespace {

using zeqtest::host;

using namespace zeqref::rows;

double findlev(const std::vector<Arg> &args, int32_t *rc = nullptr) {
  return zeqtest::call_number("fncfndl", args, rc);
}

using Case = zeqtest::NumberCase;

class Findlev : public ::testing::TestWithParam<Case> {};

TEST_P(Findlev, AnswersThePosition) { zeqtest::expect_number_case("fncfndl", GetParam()); }

// A pattern of n letters that occurs nowhere else in the texts below.
std::string letters(int n) {
  std::string p;
  for (int i = 0; i < n; i++) p += static_cast<char>('a' + i % 26);
  return p;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Findlev,
    ::testing::Values(
        Case{"FirstOccurrence", {S("the cat sat"), S("at"), N(0)}, 6},
        Case{"PWantsABoundaryBefore", {S("the cat sat"), S("at"), N(0), S("P")}, 0},
        Case{"SWantsABoundaryAfter", {S("the cat sat"), S("at"), N(0), S("S")}, 6},
        Case{"WWantsBoth", {S("concat cat"), S("cat"), N(0), S("W")}, 8},
        Case{"IMatchesEitherCase", {S("ABC"), S("b"), N(0), S("I")}, 2},
        Case{"IWithAnUpperCasePattern", {S("abc"), S("B"), N(0), S("i")}, 2},
        Case{"UnderscoreIsNoBoundary", {S("x_cat cat"), S("cat"), N(0), S("W")}, 7},
        Case{"DigitIsNoBoundary", {S("1cat cat"), S("cat"), N(0), S("P")}, 6},
        Case{"PunctuationIsABoundary", {S("(cat)"), S("cat"), N(0), S("W")}, 2},
        Case{"StringStartIsABoundary", {S("cat"), S("cat"), N(0), S("P")}, 1},
        Case{"StringEndIsABoundary", {S("xcat"), S("cat"), N(0), S("S")}, 2},
        Case{"WAtTheEnd", {S("a cat"), S("cat"), N(0), S("W")}, 3},
        Case{"IAndP", {S("xCat cat"), S("CAT"), N(0), S("IP")}, 6},
        Case{"IAndS", {S("Catx CAT"), S("cat"), N(0), S("IS")}, 6},
        Case{"SAndTAtTheEnd", {S("a cat   "), S("cat"), N(0), S("ST")}, 3},
        Case{"LevelIsIgnored", {S("abc"), S("b"), N(99)}, 2},
        Case{"StartFour", {S("abcabc"), S("bc"), N(0), N(4)}, 5},
        Case{"StartAtTheOccurrence", {S("abcabc"), S("bc"), N(0), N(5)}, 5},
        Case{"StartAfterIt", {S("abcabc"), S("bc"), N(0), N(6)}, 0},
        Case{"NegativeStartSearchesThePrefix", {S("abcabc"), S("bc"), N(0), N(-5)}, 2},
        Case{"NegativeStartTooShort", {S("abcabc"), S("bc"), N(0), N(-2)}, 0},
        Case{"StartZero", {S("abc"), S("a"), N(0), N(0)}, 0},
        Case{"StartPast", {S("abc"), S("c"), N(0), N(4)}, 0},
        Case{"ModifiersThenStart", {S("abcABC"), S("bc"), N(0), S("I"), N(4)}, 5},
        Case{"StartThenModifiers", {S("abcABC"), S("bc"), N(0), N(4), S("I")}, 5},
        Case{"TTrimsThePattern", {S("ab "), S("b  "), N(0), S("T")}, 2},
        Case{"WithoutTThePatternIsLonger", {S("ab "), S("b  "), N(0)}, 0},
        Case{"PAfterAStartSeesTheByteBefore", {S("xxcat"), S("cat"), N(0), S("P"), N(3)}, 0},
        Case{"PAfterAStartAfterABlank", {S("x cat"), S("cat"), N(0), S("P"), N(3)}, 3},
        Case{"SAtAPrefixEndSeesTheByteAfter", {S("catx"), S("cat"), N(0), S("S"), N(-3)}, 0},
        Case{"SAtAPrefixEndBeforeABlank", {S("cat x"), S("cat"), N(0), S("S"), N(-3)}, 1},
        Case{"EmptyPattern", {S("abc"), S(""), N(0)}, 0},
        Case{"BlankModifierIsReported", {S("abc"), S("b"), N(0), S(" ")}, 2, 1},
        Case{"OtherLettersAreReported", {S("abc"), S("b"), N(0), S("BxP")}, 0, 2},
        Case{"NarrowLimit", {S("x" + letters(31)), S(letters(31)), N(0)}, 2},
        Case{"WideFrom32", {S("x" + letters(32)), S(letters(32)), N(0)}, 2},
        Case{"Wide40", {S("xx " + letters(40) + " y"), S(letters(40)), N(0), S("W")}, 4},
        Case{"NarrowP30", {S("x " + letters(30)), S(letters(30)), N(0), S("P")}, 3},
        Case{"WideP31", {S("x " + letters(31)), S(letters(31)), N(0), S("P")}, 3},
        Case{"WideS31", {S(letters(31) + " x"), S(letters(31)), N(0), S("S")}, 1},
        Case{"WideW30", {S("(" + letters(30) + ")"), S(letters(30)), N(0), S("W")}, 2},
        Case{"WideW31", {S("(" + letters(31) + ")"), S(letters(31)), N(0), S("W")}, 2},
        Case{"WideW60", {S("(" + letters(60) + ")"), S(letters(60)), N(0), S("W")}, 2},
        Case{"WideW61Accepted", {S(letters(61)), S(letters(61)), N(0), S("W")}, 1},
        Case{"Wide63Accepted", {S("z" + letters(63)), S(letters(63)), N(0)}, 2}),
    zeqtest::number_case_name);

TEST(FindlevArguments, MissingOrAbsentLevelAnswersTheMissingValue) {
  for (const std::vector<Arg> &args : {std::vector<Arg>{S("abc"), S("b"), Missing()},
                                       std::vector<Arg>{S("abc"), S("b")},
                                       std::vector<Arg>{S("abc"), S("b"), Missing(), S("x!")}}) {
    int32_t rc = 0;
    host().clear_log();
    EXPECT_TRUE(is_missing_value(findlev(args, &rc)));
    EXPECT_EQ(rc, FNC_RC_MISSING);
    EXPECT_TRUE(host().message_numbers().empty());
  }
}

TEST(FindlevArguments, MissingStartAnswersTheMissingValue) {
  int32_t rc = 0;
  EXPECT_TRUE(is_missing_value(findlev({S("abc"), S("b"), N(0), S("I"), Missing()}, &rc)));
  EXPECT_EQ(rc, FNC_RC_MISSING);
}

TEST(FindlevArguments, FiveArgumentsNeedOneNumberAndOneText) {
  for (const std::vector<Arg> &args : {std::vector<Arg>{S("abc"), S("b"), N(0), N(1), N(2)},
                                       std::vector<Arg>{S("abc"), S("b"), N(0), S("I"), S("P")}}) {
    zeqtest::NumberSite site("fncfndl");
    add_args(site.call, args);
    EXPECT_EQ(site(), FNC_RC_NOTE);
    EXPECT_EQ(site.call.mark(4), FNC_MARK_BAD);
    EXPECT_EQ(site.call.mark(3), 0);
  }
}

class FindlevTooLong : public ::testing::TestWithParam<std::pair<int, const char *>> {};

TEST_P(FindlevTooLong, PatternIsRefusedWithMessage7) {
  const auto [n, mods] = GetParam();
  zeqtest::NumberSite site("fncfndl");
  add_args(site.call, {S(letters(n + 3)), S(letters(n)), N(0), S(mods)});
  host().clear_log();
  EXPECT_EQ(site(), FNC_RC_NOTE);
  EXPECT_EQ(site.call.mark(1), FNC_MARK_BAD);
  ASSERT_EQ(host().message_numbers(), (std::vector<int>{7}));
  EXPECT_EQ(host().log()[0].args[0], "FINDLEV");
  EXPECT_EQ(host().log()[0].args[1], "2");
}

INSTANTIATE_TEST_SUITE_P(Limits, FindlevTooLong,
                         ::testing::Values(std::make_pair(63, "W"), std::make_pair(62, "W"),
                                           std::make_pair(63, "P"), std::make_pair(64, ""),
                                           std::make_pair(1000, "")));

// ---------------------------------------------------------------------------
// The automaton against the plain search.
// ---------------------------------------------------------------------------
TEST(FindlevReference, RandomSearchesAgree) {
  std::mt19937 rng(2718);
  const ZeqControlBlock *cb = host().control_block();
  zeqref::ByteFlags boundary{};
  for (int b = 0; b < 256; b++) boundary[b] = b != '_' && !(cb->charclass[b] & 0x07);
  const char alphabet[] = "abAB _1.";
  for (int round = 0; round < 6000; round++) {
    std::string s(rng() % 120, ' ');
    for (char &ch : s) ch = alphabet[rng() % (sizeof alphabet - 1)];
    // Mostly short patterns; some long enough for the 64-bit automaton.
    std::string w((round % 10 == 0) ? 28 + rng() % 34 : 1 + rng() % 4, ' ');
    for (char &ch : w) ch = alphabet[rng() % (sizeof alphabet - 1)];
    if (round % 10 == 0 && !s.empty()) s.insert(rng() % s.size(), w);  // make a hit likely
    const int64_t n = (int64_t)s.size();
    const bool I = rng() & 1, P = rng() & 1, Sf = rng() & 1;
    const int64_t start = (int64_t)(rng() % (2 * n + 3)) - n - 1;
    const std::string m = std::string(I ? "I" : "") + (P ? "P" : "") + (Sf ? "S" : "");
    const int positions = (int)w.size() + P + Sf;
    std::vector<Arg> args{S(s), S(w), N(0), N((double)start)};
    if (!m.empty()) args.push_back(S(m));
    int32_t rc = 0;
    const double got = findlev(args, &rc);
    if (positions >= 64) {
      EXPECT_EQ(rc, FNC_RC_NOTE);
      continue;
    }
    ASSERT_EQ(rc, FNC_RC_OK);
    int64_t lo = 0, hi = n;
    double want;
    if (start > n || start == 0) {
      want = 0;
    } else {
      if (start > 0)
        lo = start - 1;
      else
        hi = -start < n ? -start : n;
      const bool lead_ok = lo == 0 || boundary[(uint8_t)s[lo - 1]];
      const bool tail_ok = hi == n || boundary[(uint8_t)s[hi]];
      want = (double)(zeqref::find_anchored(s, w, I ? cb->upcase : nullptr, I ? cb->lowcase : nullptr, boundary, lo,
                                            hi, P, Sf, lead_ok, tail_ok) +
                      1);
    }
    ASSERT_EQ(got, want) << "'" << s << "' '" << w << "' " << m << " " << start;
  }
}

TEST(FindlevReference, LongTextAgrees) {
  std::mt19937 rng(11);
  const ZeqControlBlock *cb = host().control_block();
  zeqref::ByteFlags boundary{};
  for (int b = 0; b < 256; b++) boundary[b] = b != '_' && !(cb->charclass[b] & 0x07);
  std::string s(1 << 16, ' ');
  for (char &ch : s) ch = "abcd efg"[rng() % 8];
  const int64_t n = (int64_t)s.size();
  for (const char *w : {"abc", "fab", "a", "cdef", "gggg"}) {
    for (const char *m : {"", "W", "P", "S"}) {
      const bool P = m[0] == 'W' || m[0] == 'P', Sf = m[0] == 'W' || m[0] == 'S';
      EXPECT_EQ(findlev({S(s), S(w), N(0), S(m)}),
                (double)(zeqref::find_anchored(s, w, nullptr, nullptr, boundary, 0, n, P, Sf, true, true) + 1))
          << w << " " << m;
    }
  }
}

TEST(Builds, SuitePassesWithTheGenericBuildForced) {
  if (std::getenv("ZEQ_FORCE_GENERIC")) GTEST_SKIP() << "already the generic run";
  EXPECT_EQ(zeqref::rerun_with_generic_build(), 0);
}

}  // namespace
