// Tests of FIND through the reference host: start positions in both
// directions (negative, zero, fractional, beyond the length, huge, infinite,
// missing), the argument-type rule, modifiers, the multibyte route with its
// own rules (B honoured, missing start 0), agreement of the two routes, and
// the search kernels against tests/reference/countfind_reference.h in both
// builds.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
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

double find(const std::vector<Arg> &args, int32_t *rc = nullptr) {
  return zeqtest::call_number("fncfind", args, rc);
}

using Case = zeqtest::NumberCase;

class Find : public ::testing::TestWithParam<Case> {};

TEST_P(Find, AnswersThePosition) { zeqtest::expect_number_case("fncfind", GetParam()); }

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Rules, Find,
    ::testing::Values(
        Case{"LeftmostOccurrence", {S("She sells sea shells"), S("she")}, 15},
        Case{"IgnoringCase", {S("She sells sea shells"), S("she"), S("I")}, 1},
        Case{"StartSkipsEarlierOccurrences", {S("abcabc"), S("abc"), N(4)}, 4},
        Case{"OccurrenceMustLieAfterTheStart", {S("abcabc"), S("abc"), N(5)}, 0},
        Case{"NegativeStartSearchesThePrefixFromTheRight", {S("abcabc"), S("abc"), N(-5)}, 1},
        Case{"NegativeStartAtTheLength", {S("abcabc"), S("abc"), N(-6)}, 4},
        Case{"NegativeStartBeyondTheLength", {S("abcabc"), S("abc"), N(-60)}, 4},
        Case{"NegativeStartOfTen", {S("0123456789"), S("2"), N(-3)}, 3},
        Case{"NegativeStartCutsTheOccurrence", {S("0123456789"), S("23"), N(-3)}, 0},
        Case{"NegativeStartOfThirty", {S("0123456789"), S("9"), N(-30)}, 10},
        Case{"StartAtTheLength", {S("abc"), S("c"), N(3)}, 3},
        Case{"StartBeyondTheLength", {S("abc"), S("c"), N(4)}, 0},
        Case{"StartZero", {S("abc"), S("a"), N(0)}, 0},
        Case{"FractionalStartBelowOne", {S("abc"), S("a"), N(0.9)}, 0},
        Case{"FractionalNegativeAboveMinusOne", {S("abc"), S("a"), N(-0.9)}, 0},
        Case{"FractionalStartTruncates", {S("abcabc"), S("abc"), N(2.7)}, 4},
        Case{"FractionalNegativeTruncates", {S("abcabc"), S("c"), N(-5.9)}, 3},
        Case{"HugeStart", {S("abc"), S("a"), N(1e300)}, 0},
        Case{"HugeNegativeStart", {S("abcabc"), S("abc"), N(-1e300)}, 4},
        Case{"InfiniteStart", {S("abc"), S("a"), N(kInf)}, 0},
        Case{"MinusInfiniteStart", {S("abcabc"), S("abc"), N(-kInf)}, 4},
        Case{"ModifiersThenStart", {S("abcABC"), S("abc"), S("I"), N(2)}, 4},
        Case{"StartThenModifiers", {S("abcABC"), S("abc"), N(2), S("I")}, 4},
        Case{"RightToLeftIgnoringCase", {S("abcABCx"), S("abc"), S("i"), N(-7)}, 4},
        Case{"TrailingBlanksOfTheSubstringMatter", {S("abc"), S("c  ")}, 0},
        Case{"TDropsThem", {S("abc"), S("c  "), S("T")}, 3},
        Case{"TBeforeAStart", {S("abc abc"), S("abc "), S("T"), N(-3)}, 1},
        Case{"EmptySubstring", {S("abc"), S("")}, 0},
        Case{"BlankSubstringWithT", {S("a b"), S(" "), S("T")}, 0},
        Case{"SubstringLongerThanString", {S("ab"), S("abc")}, 0},
        Case{"RightToLeftSubstringLongerThanPrefix", {S("abcdef"), S("abc"), N(-2)}, 0},
        Case{"RightToLeftOccurrenceEndingAtTheEdge", {S("xxabcab"), S("abc"), N(-5)}, 3},
        Case{"InvalidLetterReported", {S("axb"), S("b"), S("x")}, 3, 1},
        Case{"OIsNotAFindModifier", {S("axb"), S("b"), S("O")}, 3, 1},
        Case{"BIsNotAByteRouteModifier", {S("abab"), S("a"), S("B")}, 1, 1},
        Case{"BlankModifiers", {S("abab"), S("b"), S("  ")}, 2},
        Case{"StartOnly", {S("abab"), S("b"), N(3)}, 4},
        Case{"Latin1IgnoringCase", {S("x\xC9t\xC9"), S("\xE9T\xE9"), S("I")}, 2}),
    zeqtest::number_case_name);

TEST(FindArguments, TwoNumbersMarkTheFourth) {
  zeqtest::NumberSite site("fncfind");
  site.call.str("abc").str("b").num(2).num(3);
  EXPECT_EQ(site(), FNC_RC_NOTE);
  EXPECT_EQ(site.call.mark(3), FNC_MARK_BAD);
  EXPECT_EQ(site.call.mark(2), 0);
}

TEST(FindArguments, TwoTextsMarkTheFourth) {
  zeqtest::NumberSite site("fncfind");
  site.call.str("abc").str("b").str("I").str("T");
  EXPECT_EQ(site(), FNC_RC_NOTE);
  EXPECT_EQ(site.call.mark(3), FNC_MARK_BAD);
}

TEST(FindArguments, MissingStartAnswersTheMissingValue) {
  for (const std::vector<Arg> &args :
       {std::vector<Arg>{S("abc"), S("b"), Missing()}, std::vector<Arg>{S("abc"), S("b"), S("I"), Missing()},
        std::vector<Arg>{S("abc"), S("b"), Missing(), S("x")}}) {
    int32_t rc = 0;
    host().clear_log();
    const double out = find(args, &rc);
    EXPECT_EQ(rc, FNC_RC_MISSING);
    EXPECT_TRUE(is_missing_value(out));
    EXPECT_TRUE(host().message_numbers().empty());
  }
}

TEST(FindArguments, InvalidLetterIsReportedWithTheFunctionName) {
  host().clear_log();
  EXPECT_EQ(find({S("abc"), S("c"), S("q")}), 3);
  ASSERT_EQ(host().message_numbers(), (std::vector<int>{6}));
  EXPECT_EQ(host().log()[0].args[0], "FIND");
  EXPECT_EQ(host().log()[0].args[1], "Q");
}

// ---------------------------------------------------------------------------
// Multibyte route.
// ---------------------------------------------------------------------------
using zeqtest::Utf8Session;

class FindMultibyte : public ::testing::TestWithParam<Case> {};

TEST_P(FindMultibyte, AnswersTheCharacterPosition) {
  Utf8Session on;
  zeqtest::expect_number_case("fncfind", GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FindMultibyte,
    ::testing::Values(
        Case{"CountsCharacters", {Var("\u00e9a\u00e9"), S("a")}, 2},
        Case{"ByteRouteForFixedStrings", {S("\u00e9a\u00e9"), S("a")}, 3},
        Case{"BSearchesFromTheRight", {Var("\u00e9a\u00e9a"), S("a"), S("B")}, 4},
        Case{"NegativeStart", {Var("\u00e9a\u00e9a"), S("a"), N(-3)}, 2},
        Case{"NegativeStartEndsTheOccurrence", {Var("\u00e9ab\u00e9"), S("ab"), N(-2)}, 0},
        Case{"BWithAStartStopsAtIt", {Var("a\u00e9a\u00e9"), S("a"), S("B"), N(2)}, 3},
        Case{"BWithAStartBeyondTheLastOccurrence", {Var("a\u00e9a\u00e9"), S("a"), N(4), S("B")}, 0},
        Case{"PositiveStart", {Var("a\u00e9a\u00e9"), S("a"), N(2)}, 3},
        Case{"StartZero", {Var("a\u00e9a"), S("a"), N(0)}, 0},
        Case{"StartBeyondTheEnd", {Var("a\u00e9a"), S("a"), N(9)}, 0},
        Case{"MissingStartIsZero", {Var("a\u00e9a"), S("a"), Missing()}, 0},
        Case{"IgnoringCase", {Var("\u00c9T\u00c9 \u00e9t\u00e9"), S("\u00e9t\u00e9"), S("I")}, 1},
        Case{"NoMatchRunsPastTheEnd", {Var("\u00e9ab"), S("b ")}, 0},
        Case{"TIsIgnored", {Var("\u00e9ab"), S("b "), S("T")}, 0},
        Case{"EmptySubstring", {Var("\u00e9ab"), S("")}, 0},
        Case{"LettersOutsideTheAlphabetAreReported", {Var("\u00e9ab"), S("b"), S("!")}, 3, 1}),
    zeqtest::number_case_name);

TEST(FindMultibyteRoute, MissingStartIsNoError) {
  Utf8Session on;
  int32_t rc = -1;
  EXPECT_EQ(find({Var("a\u00e9a"), S("a"), Missing()}, &rc), 0);
  EXPECT_EQ(rc, FNC_RC_OK);
}

TEST(FindRoutes, AgreeOnAsciiText) {
  std::mt19937 rng(2024);
  const char alphabet[] = "abAB ";
  for (int round = 0; round < 1500; round++) {
    std::string s(rng() % 30, ' ');
    for (char &ch : s) ch = alphabet[rng() % (sizeof alphabet - 1)];
    std::string w(1 + rng() % 3, ' ');
    for (char &ch : w) ch = alphabet[rng() % (sizeof alphabet - 1)];
    const int64_t n = (int64_t)s.size();
    const double start = (double)((int64_t)(rng() % (2 * n + 5)) - n - 2);
    const bool fold = rng() & 1;
    std::vector<Arg> args{S(s), S(w), N(start)};
    if (fold) args.push_back(S("I"));
    const auto o = zeqtest::call_both_routes("fncfind", "FIND_FUNCTION", "FIND", args);
    ASSERT_EQ(o.byte_rc, FNC_RC_OK);
    ASSERT_EQ(o.multibyte_rc, FNC_RC_OK);
    ASSERT_EQ(o.byte, o.multibyte) << "'" << s << "' '" << w << "' " << start << " fold " << fold;
  }
}

// ---------------------------------------------------------------------------
// Kernels against the plain loops.
// ---------------------------------------------------------------------------
TEST(FindReference, RandomSearchesAgree) {
  std::mt19937 rng(31337);
  const uint8_t *up = host().control_block()->upcase;
  const char alphabet[] = "aAbB \xE9\xC9";
  for (int round = 0; round < 6000; round++) {
    std::string s(rng() % 200, ' ');
    for (char &ch : s) ch = alphabet[rng() % (sizeof alphabet - 1)];
    std::string w(1 + rng() % 5, ' ');
    for (char &ch : w) ch = alphabet[rng() % (sizeof alphabet - 1)];
    const int64_t n = (int64_t)s.size();
    const int64_t start = (int64_t)(rng() % (2 * n + 3)) - n - 1;
    const bool fold = rng() & 1;
    int64_t want;
    if (start > n || start == 0) {
      want = -1;
    } else if (start > 0) {
      want = zeqref::first_occurrence(s, w, fold ? up : nullptr, start - 1, n);
    } else {
      want = zeqref::last_occurrence(s, w, fold ? up : nullptr, -start < n ? -start : n);
    }
    ASSERT_EQ(find({S(s), S(w), N((double)start), S(fold ? "I" : "")}), (double)(want + 1))
        << "'" << s << "' '" << w << "' " << start << " fold " << fold;
  }
}

TEST(FindReference, LongTextAgrees) {
  std::mt19937 rng(5);
  const uint8_t *up = host().control_block()->upcase;
  std::string s(1 << 16, ' ');
  for (char &ch : s) ch = "abcdefgh ABCD"[rng() % 13];
  const int64_t n = (int64_t)s.size();
  for (int round = 0; round < 200; round++) {
    const int64_t at = (int64_t)(rng() % (s.size() - 8));
    const std::string w = s.substr((size_t)at, 2 + rng() % 6);
    EXPECT_EQ(find({S(s), S(w)}), (double)(zeqref::first_occurrence(s, w, nullptr, 0, n) + 1));
    EXPECT_EQ(find({S(s), S(w), S("I")}), (double)(zeqref::first_occurrence(s, w, up, 0, n) + 1));
    EXPECT_EQ(find({S(s), S(w), N(-(double)n)}), (double)(zeqref::last_occurrence(s, w, nullptr, n) + 1));
  }
}

TEST(Builds, SuitePassesWithTheGenericBuildForced) {
  if (std::getenv("ZEQ_FORCE_GENERIC")) GTEST_SKIP() << "already the generic run";
  EXPECT_EQ(zeqref::rerun_with_generic_build(), 0);
}

}  // namespace
