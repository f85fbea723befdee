// Tests of FINDC through the reference host: lists, class letters, K and V,
// start positions in both directions, the argument-type rule, the call-site
// cache in the four caching environments, allocation failure, the multibyte
// route and its agreement with the byte route, and the set scans against
// tests/reference/countfind_reference.h in both builds.
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

double findc(const std::vector<Arg> &args, int32_t *rc = nullptr) {
  return zeqtest::call_number("fncfndc", args, rc);
}

using Case = zeqtest::NumberCase;

class Findc : public ::testing::TestWithParam<Case> {};

TEST_P(Findc, AnswersThePosition) { zeqtest::expect_number_case("fncfndc", GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Rules, Findc,
    ::testing::Values(
        Case{"FirstListedByte", {S("abc,def"), S(",")}, 4},
        Case{"KFindsAByteOutside", {S("abc,def"), S(","), S("K")}, 1},
        Case{"VFindsAByteOutside", {S("aab"), S("a"), S("V")}, 3},
        Case{"ClassLetter", {S("ABC123"), S(""), S("D")}, 4},
        Case{"NegativeStartPrefixWithoutDigit", {S("ABC123"), S(""), S("D"), N(-3)}, 0},
        Case{"NegativeStartPrefixWithDigit", {S("ABC123"), S(""), S("D"), N(-4)}, 4},
        Case{"StartAfterTheByte", {S("abcxyz"), S("y"), N(6)}, 0},
        Case{"NegativeStartFromTheEnd", {S("abcxyz"), S("y"), N(-6)}, 5},
        Case{"BSearchesFromTheRight", {S("a1b2"), S(""), S("BD")}, 4},
        Case{"BWithAStartStopsThere", {S("abcabc"), S("a"), S("B"), N(2)}, 4},
        Case{"BWithAStartPastTheLastByte", {S("abcabc"), S("a"), N(5), S("B")}, 0},
        Case{"KRightToLeft", {S("aab"), S("a"), S("KB")}, 3},
        Case{"EmptyListFindsNothing", {S(std::string(500, 'x')), S("")}, 0},
        Case{"EmptyListWithVFindsTheFirst", {S("xy"), S(""), S("V")}, 1},
        Case{"TwoByteList", {S("abcdef"), S("fd")}, 4},
        Case{"OneByteListLongString", {S(std::string(150, 'x') + "a"), S("a")}, 151},
        Case{"IAddsBothCases", {S("xyzA"), S("a"), S("I")}, 4},
        Case{"TDropsTheTrailingBlanksOfBoth", {S("ab  "), S("ab "), S("TV")}, 0},
        Case{"WithoutTTheBlanksAreOutside", {S("ab  "), S("ab"), S("V")}, 3},
        Case{"FractionalStartBelowOne", {S("abc"), S("a"), N(0.5)}, 0},
        Case{"StartZero", {S("abc"), S("a"), N(0)}, 0},
        Case{"StartPast", {S("abc"), S("c"), N(4)}, 0},
        Case{"StartTwo", {S("aab"), S("a"), N(2)}, 2},
        Case{"ModifiersThenStart", {S("aXbX"), S("x"), S("I"), N(3)}, 4},
        Case{"StartThenModifiers", {S("aXbX"), S("x"), N(3), S("I")}, 4},
        Case{"EmptyString", {S(""), S("a")}, 0},
        Case{"StringOnly", {S("abc")}, 0},
        Case{"AbsentListWithClass", {S("ab1c2"), Absent(), S("D")}, 3},
        Case{"AbsentListWithK", {S("ab1c2"), Absent(), S("K")}, 1},
        Case{"AbsentListWithClassFromTheRight", {S("ab1c2"), Absent(), S("DB")}, 5},
        Case{"UpperCase", {S("abC1 ,"), S(""), S("U")}, 3},
        Case{"LowerCase", {S("ABc1 ,"), S(""), S("L")}, 3},
        Case{"HexDigits", {S("xyza1"), S(""), S("X")}, 4},
        Case{"Punctuation", {S("abC1 ,"), S(""), S("P")}, 6},
        Case{"WhiteSpace", {S("abC1 ,"), S(""), S("S")}, 5},
        Case{"InvalidLetterReported", {S("abc"), S("c"), S("Z")}, 3, 1},
        Case{"EAndMAreNotFindcModifiers", {S("abc"), S("c"), S("em")}, 3, 2},
        Case{"BadLetterThenGood", {S("a1"), S(""), S("!d")}, 2, 1}),
    zeqtest::number_case_name);

TEST(FindcArguments, TypeRuleOfFourArguments) {
  struct Bad {
    std::vector<Arg> args;
  };
  for (const Bad &b : {Bad{{S("abc"), S("a"), S("I"), S("B")}}, Bad{{S("abc"), S("a"), N(1), N(2)}}}) {
    zeqtest::NumberSite site("fncfndc");
    add_args(site.call, b.args);
    EXPECT_EQ(site(), FNC_RC_NOTE);
    EXPECT_EQ(site.call.mark(3), FNC_MARK_BAD);
    EXPECT_EQ(site.call.mark(2), 0);
  }
}

TEST(FindcArguments, MissingStartAnswersTheMissingValue) {
  for (const std::vector<Arg> &args :
       {std::vector<Arg>{S("abc"), S("b"), Missing()}, std::vector<Arg>{S("abc"), S("b"), S("B"), Missing()}}) {
    int32_t rc = 0;
    const double out = findc(args, &rc);
    EXPECT_EQ(rc, FNC_RC_MISSING);
    EXPECT_TRUE(is_missing_value(out));
  }
}

// ---------------------------------------------------------------------------
// The FINDC call-site cache.
// ---------------------------------------------------------------------------

class FindcCache : public ::testing::TestWithParam<uint8_t> {};

TEST_P(FindcCache, KeepsTableAndDirection) {
  zeqtest::NumberSite site("fncfndc", GetParam());
  site.call.str("a1b2").str("").str("DOB");
  const size_t before = host().task_pool().allocations();
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 4);
  ASSERT_NE(site.call.block()->noteCount, 0);
  EXPECT_EQ(host().task_pool().last_size(), 260u);
  EXPECT_EQ(host().task_pool().last_flags(), 0x2004u);
  set_text(site.call, 0, "x9y9z");
  set_text(site.call, 1, "x");
  set_text(site.call, 2, "U!");
  host().clear_log();
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 4);  // the last digit: still D, still right to left
  EXPECT_EQ(host().task_pool().allocations(), before + 1);
  EXPECT_TRUE(host().message_numbers().empty());
}

TEST_P(FindcCache, KeepsT) {
  zeqtest::NumberSite site("fncfndc", GetParam());
  site.call.str("ab  ").str("ab").str("OTV");
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 0);
  set_text(site.call, 0, "abx  ");
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 3);
}

TEST_P(FindcCache, AllocationFailureAnswersNoRoom) {
  zeqtest::NumberSite site("fncfndc", GetParam());
  site.call.str("a1b2").str("").str("DO");
  EXPECT_EQ(site.refusing_allocation(), FNC_RC_NOROOM);
  EXPECT_EQ(site.out, -1);
  EXPECT_EQ(site.call.block()->noteCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Environments, FindcCache, ::testing::Values(0x48, 0x58, 0x68, 0x88));

TEST(FindcCacheElsewhere, OHasNoEffect) {
  for (uint8_t kind : {0x00, 0x08, 0x49, 0x98}) {
    zeqtest::NumberSite site("fncfndc", kind);
    site.call.str("a1b2").str("").str("DO");
    ASSERT_EQ(site(), FNC_RC_OK);
    EXPECT_EQ(site.out, 2);
    EXPECT_EQ(site.call.block()->noteCount, 0);
    set_text(site.call, 2, "DBO");
    ASSERT_EQ(site(), FNC_RC_OK);
    EXPECT_EQ(site.out, 4);
  }
}

// ---------------------------------------------------------------------------
// Multibyte route.
// ---------------------------------------------------------------------------
using zeqtest::Utf8Session;

class FindcMultibyte : public ::testing::TestWithParam<Case> {};

TEST_P(FindcMultibyte, AnswersTheCharacterPosition) {
  Utf8Session on;
  zeqtest::expect_number_case("fncfndc", GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FindcMultibyte,
    ::testing::Values(
        Case{"Class", {Var("\u00e9a1"), S(""), S("D")}, 3},
        Case{"ListedCharacter", {Var("ab\u00e9"), S("\u00e9")}, 3},
        Case{"K", {Var("\u00e9\u00e91"), S("\u00e9"), S("K")}, 3},
        Case{"V", {Var("\u00e9\u00e91"), S("\u00e9"), S("V")}, 3},
        Case{"IgnoringCase", {Var("a\u00c9"), S("\u00e9"), S("I")}, 2},
        Case{"NegativeStart", {Var("a\u00e9b1"), S(""), S("D"), N(-3)}, 0},
        Case{"NegativeStartReachingTheDigit", {Var("a\u00e9b1"), S(""), N(-4), S("D")}, 4},
        Case{"B", {Var("1a\u00e91"), S(""), S("BD")}, 4},
        Case{"BWithAStartStopsThere", {Var("1\u00e91\u00e9"), S(""), S("DB"), N(2)}, 3},
        Case{"MissingStartIsZero", {Var("1\u00e9"), S(""), S("D"), Missing()}, 0},
        Case{"StartZero", {Var("1\u00e9"), S(""), S("D"), N(0)}, 0},
        Case{"TAndOHaveNoEffect", {Var("\u00e9  "), S(" "), S("TO")}, 2}),
    zeqtest::number_case_name);

TEST(FindcMultibyteRoute, OneArgumentAnswersZero) {
  zeqtest::Call c;
  c.var("\u00e9a");
  double out = -1;
  EXPECT_EQ(zeqtest::call_multibyte("FINDC_FUNCTION", "FINDC", c, &out), FNC_RC_OK);
  EXPECT_EQ(out, 0);
}

TEST(FindcMultibyteRoute, TypeRuleMarksTheFourth) {
  zeqtest::Call c;
  c.var("\u00e9a").str("a").num(1).num(2);
  double out = -1;
  EXPECT_EQ(zeqtest::call_multibyte("FINDC_FUNCTION", "FINDC", c, &out), FNC_RC_NOTE);
  EXPECT_EQ(c.mark(3), FNC_MARK_BAD);
}

TEST(FindcRoutes, AgreeOnAsciiText) {
  std::mt19937 rng(77);
  const char alphabet[] = "aAbB1 ,";
  const char *mods[] = {"", "B", "K", "V", "D", "DB", "I", "IB", "P", "S", "U", "KB"};
  for (int round = 0; round < 1500; round++) {
    std::string s(1 + rng() % 30, ' ');
    for (char &ch : s) ch = alphabet[rng() % (sizeof alphabet - 1)];
    std::string list(rng() % 3, ' ');
    for (char &ch : list) ch = alphabet[rng() % (sizeof alphabet - 1)];
    const int64_t n = (int64_t)s.size();
    const std::string m = mods[rng() % (sizeof mods / sizeof *mods)];
    // Start in [-n - 2, n].  With B the routes differ beyond the length and
    // at 0: the character route then scans from the end down to the last
    // character, or down to the first.
    const double start = (double)((int64_t)(rng() % (2 * n + 3)) - n - 2);
    if (start == 0 && m.find('B') != std::string::npos) continue;
    const auto o = zeqtest::call_both_routes("fncfndc", "FINDC_FUNCTION", "FINDC", {S(s), S(list), S(m), N(start)});
    ASSERT_EQ(o.byte_rc, FNC_RC_OK);
    ASSERT_EQ(o.multibyte_rc, FNC_RC_OK);
    ASSERT_EQ(o.byte, o.multibyte) << "'" << s << "' '" << list << "' " << m << " " << start;
  }
}

// ---------------------------------------------------------------------------
// Set scans against the plain loops.
// ---------------------------------------------------------------------------
TEST(FindcReference, RandomSetsAgree) {
  std::mt19937 rng(8080);
  for (int round = 0; round < 6000; round++) {
    std::string s(rng() % 300, ' ');
    for (char &ch : s) ch = static_cast<char>(rng() % 256);
    std::string list(1 + rng() % 5, ' ');
    for (char &ch : list) ch = static_cast<char>(rng() % 256);
    const int64_t n = (int64_t)s.size();
    const bool back = rng() & 1, outside = (rng() % 4) == 0;
    const int64_t start = (int64_t)(rng() % (2 * n + 3)) - n - 1;
    zeqref::ByteFlags set{};
    for (char ch : list) set[static_cast<uint8_t>(ch)] = true;
    if (outside)
      for (bool &b : set) b = !b;
    int64_t want = -1;
    if (start >= 1 && start <= n)
      want = back ? zeqref::last_member(s, set, start - 1, n) : zeqref::first_member(s, set, start - 1, n);
    else if (start < 0)
      want = zeqref::last_member(s, set, 0, -start < n ? -start : n);
    const std::string m = std::string(back ? "B" : "") + (outside ? "V" : "");
    ASSERT_EQ(findc({S(s), S(list), S(m), N((double)start)}), (double)(want + 1)) << round;
  }
}

TEST(FindcReference, LongRunsAgree) {
  for (int64_t n : {31, 32, 33, 63, 64, 65, 1000, 70000}) {
    for (int64_t hit : {int64_t{0}, n / 3, n - 1}) {
      std::string s((size_t)n, 'x');
      s[(size_t)hit] = ',';
      EXPECT_EQ(findc({S(s), S(",;")}), (double)(hit + 1)) << n << " " << hit;
      EXPECT_EQ(findc({S(s), S(",;"), S("B")}), (double)(hit + 1)) << n << " " << hit;
      EXPECT_EQ(findc({S(s), S("x"), S("K")}), (double)(hit + 1)) << n << " " << hit;
      EXPECT_EQ(findc({S(s), S("x"), S("KB")}), (double)(hit + 1)) << n << " " << hit;
    }
  }
}

TEST(Builds, SuitePassesWithTheGenericBuildForced) {
  if (std::getenv("ZEQ_FORCE_GENERIC")) GTEST_SKIP() << "already the generic run";
  EXPECT_EQ(zeqref::rerun_with_generic_build(), 0);
}

}  // namespace
