// Tests of FINDW through the reference host: word boundaries with the default
// and given delimiters, every modifier letter, start positions in both
// directions, quotes, the argument rules, the call-site cache in the four
// caching environments, allocation failure, the task context built for the
// default table, the multibyte route's argument patterns and its agreement
// with the byte route, and the search against the boundary-stated reference
// of tests/reference/countfind_reference.h in both builds.
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

double findw(const std::vector<Arg> &args, int32_t *rc = nullptr) {
  return zeqtest::call_number("fncfndw", args, rc);
}

using Case = zeqtest::NumberCase;

class Findw : public ::testing::TestWithParam<Case> {};

TEST_P(Findw, AnswersThePosition) { zeqtest::expect_number_case("fncfndw", GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Rules, Findw,
    ::testing::Values(
        Case{"WholeWord", {S("The quick brown fox"), S("brown")}, 11},
        Case{"PartOfALongerWordIsNoOccurrence", {S("The quick brownish fox"), S("brown")}, 0},
        Case{"EndOfALongerWordIsNoOccurrence", {S("abcabc abc"), S("abc")}, 8},
        Case{"DefaultDelimitersArePunctuation", {S("a.b(c"), S("b")}, 3},
        Case{"UnderscoreIsNoDefaultDelimiter", {S("a_b b"), S("b")}, 5},
        Case{"StartMovesToTheNextWord", {S("abc abcd abc"), S("abc"), N(2)}, 10},
        Case{"StartAtAWordStart", {S("abc abcd abc"), S("abc"), N(9)}, 10},
        Case{"StartZeroIsTheStringStart", {S("abc abc"), S("abc"), N(0)}, 1},
        Case{"FractionalStartTruncates", {S("abc abc"), S("abc"), N(1.9)}, 1},
        Case{"FractionalStartPastTheFirstWord", {S("abc abc"), S("abc"), N(2.5)}, 5},
        Case{"StartPastTheLength", {S("abc"), S("abc"), N(4)}, 0},
        Case{"NegativeStartInsideAWord", {S("abc abcd abc"), S("abc"), N(-10)}, 1},
        Case{"NegativeStartAtAWordEnd", {S("abc abc"), S("abc"), N(-3)}, 1},
        Case{"NegativeStartBeyondTheLength", {S("abc abc"), S("abc"), N(-70)}, 5},
        Case{"NegativeStartOnADelimiter", {S("abc x abc"), S("abc"), N(-5)}, 1},
        Case{"EAnswersTheWordNumber", {S("The quick brown fox"), S("fox"), S(" "), S("E")}, 4},
        Case{"ECountsRunsOfDelimitersOnce", {S("a,,b"), S("b"), S(","), S("E")}, 2},
        Case{"EWithMCountsEmptyWords", {S("a,,b"), S("b"), S(","), S("EM")}, 3},
        Case{"EFromTheRight", {S("a b c"), S("a"), S(" "), S("EB")}, 3},
        Case{"MFindsAnEmptyWord", {S("a,,b"), S(""), S(","), S("M")}, 3},
        Case{"MFindsAnEmptyLastWord", {S("a,"), S(""), S(","), S("M")}, 3},
        Case{"EmptyWordWithoutM", {S("a,,b"), S(""), S(",")}, 0},
        Case{"WordLongerThanString", {S("ab"), S("abc")}, 0},
        Case{"RDropsTheWordsDelimiters", {S("x,abc,y"), S(",abc,"), S(","), S("R")}, 3},
        Case{"WithoutRTheDelimitersStay", {S("x,abc,y"), S(",abc,"), S(","), S("")}, 0},
        Case{"IgnoringCase", {S("The FOX"), S("fox"), S(" "), S("I")}, 5},
        Case{"CaseMatters", {S("The FOX"), S("fox"), S(" ")}, 0},
        Case{"IAddsBothCasesOfTheList", {S("xAbcAx"), S("bc"), S("a"), S("I")}, 3},
        Case{"BSearchesFromTheRight", {S("abc x abc"), S("abc"), S(" "), S("B")}, 7},
        Case{"ClassLetter", {S("ab1cd"), S("cd"), S(""), S("D")}, 4},
        Case{"KInvertsTheTable", {S("ab12cd"), S("12"), S("0123456789"), S("K")}, 3},
        Case{"VInvertsTheTable", {S("ab12cd"), S("12"), S("0123456789"), S("V")}, 3},
        Case{"TTrimsTheList", {S(" a b"), S("b"), S(", "), S("T")}, 0},
        Case{"WithoutTTheBlankDelimits", {S(" a b"), S("b"), S(", ")}, 4},
        Case{"TTrimsTheWord", {S("abc x"), S("abc  "), S(" ,"), S("T")}, 1},
        Case{"TCanEmptyTheList", {S("abc x"), S("abc"), S(" "), S("T")}, 0},
        Case{"EmptyListMakesOneWord", {S("a b"), S("b"), S("")}, 0},
        Case{"QUnclosedQuoteInTheMatch", {S("\"a b\" c"), S("\"a"), S(" "), S("Q")}, 0},
        Case{"WithoutQTheQuoteIsOrdinary", {S("\"a b\" c"), S("\"a"), S(" ")}, 1},
        Case{"QClosedQuoteInTheMatch", {S("x \"a b\" y"), S("\"a b\""), S(" "), S("Q")}, 3},
        Case{"QKeepsDelimitersInsideQuotes", {S("\"a b c\""), S("b"), S(" "), S("Q")}, 0},
        Case{"WithoutQDelimitersInsideQuotesCount", {S("\"a b c\""), S("b"), S(" ")}, 4},
        Case{"QQuotesAreNeverDelimiters", {S("a\"b"), S("b"), S("\""), S("Q")}, 0},
        Case{"QFromTheRight", {S("b \"a b\""), S("b"), S(" "), S("QB")}, 1},
        Case{"RWithQKeepsQuotes", {S("x,\"a\",y"), S(",\"a\","), S(","), S("RQ")}, 3},
        Case{"LowerCaseModifiers", {S("a b c"), S("c"), S(" "), S("e")}, 3},
        Case{"InvalidLetterReported", {S("a b"), S("b"), S(" "), S("J")}, 3, 1},
        Case{"StartBeforeTheTexts", {S("abc abc"), S("abc"), N(2), S(" "), S("E")}, 1},
        Case{"StartBetweenTheTexts", {S("abc abc"), S("abc"), S(" "), N(-7), S("B")}, 5}),
    zeqtest::number_case_name);

TEST(FindwArguments, ASecondNumberIsMarked) {
  zeqtest::NumberSite site("fncfndw");
  site.call.str("abc").str("abc").num(1).str(" ").num(2);
  EXPECT_EQ(site(), FNC_RC_NOTE);
  EXPECT_EQ(site.call.mark(4), FNC_MARK_BAD);
  EXPECT_EQ(site.call.mark(2), 0);
}

TEST(FindwArguments, AThirdTextIsMarked) {
  zeqtest::NumberSite site("fncfndw");
  site.call.str("abc").str("abc").str(" ").str("E").str("x");
  EXPECT_EQ(site(), FNC_RC_NOTE);
  EXPECT_EQ(site.call.mark(4), FNC_MARK_BAD);
}

TEST(FindwArguments, MissingStartAnswersTheMissingValue) {
  int32_t rc = 0;
  const double out = findw({S("abc"), S("abc"), S(" "), Missing()}, &rc);
  EXPECT_EQ(rc, FNC_RC_MISSING);
  EXPECT_TRUE(is_missing_value(out));
}

TEST(FindwArguments, InvalidLetterNamesFindw) {
  host().clear_log();
  findw({S("a b"), S("b"), S(" "), S("z")});
  ASSERT_EQ(host().message_numbers(), (std::vector<int>{6}));
  EXPECT_EQ(host().log()[0].args[0], "FINDW");
  EXPECT_EQ(host().log()[0].args[1], "Z");
}

TEST(FindwArguments, AbsentListAddsNothing) {
  EXPECT_EQ(findw({S("a b"), S("b"), Absent(), S("")}), 0);
  EXPECT_EQ(findw({S("a1b"), S("b"), Absent(), S("D")}), 3);
}

TEST(FindwContext, DefaultTableBuildsTheTaskContext) {
  FncTask *task = host().new_task();
  ASSERT_EQ(task->slots[FNC_TASK_SLOT_CONTEXT], nullptr);
  zeqtest::NumberSite site("fncfndw");
  site.call.task(task).str("a,b").str("b");
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 3);
  EXPECT_NE(task->slots[FNC_TASK_SLOT_CONTEXT], nullptr);
}

// ---------------------------------------------------------------------------
// The FINDW call-site cache.
// ---------------------------------------------------------------------------

class FindwCache : public ::testing::TestWithParam<uint8_t> {};

TEST_P(FindwCache, KeepsTableAndDirection) {
  zeqtest::NumberSite site("fncfndw", GetParam());
  site.call.str("a b a").str("a").str(" ").str("OB");
  const size_t before = host().task_pool().allocations();
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 5);
  ASSERT_NE(site.call.block()->noteCount, 0);
  EXPECT_EQ(host().task_pool().last_size(), 268u);
  EXPECT_EQ(host().task_pool().last_flags(), 0x2004u);
  set_text(site.call, 2, ",");
  set_text(site.call, 3, "!E");
  host().clear_log();
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 5);
  EXPECT_EQ(host().task_pool().allocations(), before + 1);
  EXPECT_TRUE(host().message_numbers().empty());
}

TEST_P(FindwCache, KeepsEAndI) {
  zeqtest::NumberSite site("fncfndw", GetParam());
  site.call.str("a b C").str("c").str(" ").str("OEI");
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 3);
  set_text(site.call, 1, "B");
  set_text(site.call, 3, "");
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 2);
}

TEST_P(FindwCache, KeepsRAndT) {
  zeqtest::NumberSite site("fncfndw", GetParam());
  site.call.str("x,abc,y").str(",abc,  ").str(",").str("ORT");
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 3);
  set_text(site.call, 0, "q,abc   ");
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 3);
}

// The cache keeps neither M nor quote handling: a later call from the site
// searches without them (the first call had both).
TEST_P(FindwCache, LaterCallsSearchWithoutMAndQ) {
  zeqtest::NumberSite site("fncfndw", GetParam());
  site.call.str("a,,b").str("").str(",").str("OM");
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 3);
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 0);
}

TEST_P(FindwCache, AllocationFailureAnswersNoRoom) {
  zeqtest::NumberSite site("fncfndw", GetParam());
  site.call.str("a b").str("b").str(" ").str("O");
  EXPECT_EQ(site.refusing_allocation(), FNC_RC_NOROOM);
  EXPECT_EQ(site.out, -1);
  EXPECT_EQ(site.call.block()->noteCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Environments, FindwCache, ::testing::Values(0x48, 0x58, 0x68, 0x88));

TEST(FindwCacheElsewhere, OHasNoEffect) {
  for (uint8_t kind : {0x00, 0x08, 0x50, 0x89}) {
    zeqtest::NumberSite site("fncfndw", kind);
    site.call.str("a b a").str("a").str(" ").str("OB");
    ASSERT_EQ(site(), FNC_RC_OK);
    EXPECT_EQ(site.out, 5);
    EXPECT_EQ(site.call.block()->noteCount, 0);
    set_text(site.call, 3, "O");
    ASSERT_EQ(site(), FNC_RC_OK);
    EXPECT_EQ(site.out, 1);
  }
}

// ---------------------------------------------------------------------------
// Multibyte route.
// ---------------------------------------------------------------------------
using zeqtest::Utf8Session;

TEST(FindwMultibyte, CharacterPositionsAndWordNumbers) {
  Utf8Session on;
  EXPECT_EQ(findw({Var("\u00e9 abc"), S("abc")}), 3);
  EXPECT_EQ(findw({Var("\u00e9 b c"), S("c"), S(" "), S("E")}), 3);
  EXPECT_EQ(findw({Var("\u00e9 b \u00e9"), S("\u00e9"), S(" "), S("B")}), 5);
  EXPECT_EQ(findw({Var("\u00e9 b \u00e9"), S("\u00e9"), N(2)}), 5);
  EXPECT_EQ(findw({Var("\u00e9 b \u00e9"), S("\u00c9"), S(" "), S("I")}), 1);
}

// A start on the delimiter after a word begins between words: the next word
// is a whole candidate, as on the byte route.
TEST(FindwMultibyte, StartOnADelimiterBeginsBetweenWords) {
  Utf8Session on;
  EXPECT_EQ(findw({Var("\u00e9 b b"), S("b"), N(4)}), 5);
  EXPECT_EQ(findw({Var("\u00e9 bb b"), S("b"), N(4)}), 6);
  EXPECT_EQ(findw({Var("\u00e9 b b"), S("b"), N(3)}), 3);
}

TEST(FindwMultibyte, ArgumentPatterns) {
  struct Form {
    std::vector<Arg> args;
    int32_t rc;
    double expected;
  };
  const std::vector<Form> forms = {
      {{S("a b"), S("b")}, FNC_RC_OK, 3},
      {{S("a,b"), S("b"), S(",")}, FNC_RC_OK, 3},
      {{S("a,b"), S("b"), S(","), S("E")}, FNC_RC_OK, 2},
      {{S("a,b,b"), S("b"), S(","), S(""), N(5)}, FNC_RC_OK, 5},
      {{S("a,b,b"), S("b"), S(","), N(5)}, FNC_RC_OK, 5},
      {{S("a,b,b"), S("b"), S(","), N(5), S("E")}, FNC_RC_OK, 1},
      {{S("a b b"), S("b"), N(5)}, FNC_RC_OK, 5},
      {{S("a,b,b"), S("b"), N(5), S(",")}, FNC_RC_OK, 5},
      {{S("a,b,b"), S("b"), N(5), S(","), S("")}, FNC_RC_OK, 5},
      {{S("a,b,b"), S("b"), N(5), Absent(), S("")}, FNC_RC_OK, 0},
      {{S("a b"), S("b"), N(1), N(2)}, FNC_RC_NOTE, -1},
      {{S("a b"), N(1)}, FNC_RC_NOTE, -1},
      {{S("a b"), S("b"), S(" "), S(""), S("")}, FNC_RC_NOTE, -1},
      {{S("a b")}, FNC_RC_NOTE, -1},
  };
  for (size_t i = 0; i < forms.size(); i++) {
    zeqtest::Call c;
    add_args(c, forms[i].args);
    double out = -1;
    EXPECT_EQ(zeqtest::call_multibyte("FINDW_FUNCTION", "FINDW", c, &out), forms[i].rc) << i;
    EXPECT_EQ(out, forms[i].expected) << i;
  }
}

// Cases where the multibyte route once went its own way; both routes now
// follow the byte route's rules (the positions are the same in bytes and in
// characters here).
TEST(FindwRoutes, MultibyteFollowsTheByteRules) {
  Utf8Session on;
  const zeqtest::NumberCase cases[] = {
      {"WordBeginningWithADelimiter", {S(",\u00e9"), S(",\u00e9")}, 1},
      {"WordEndingWithADelimiterRightToLeft", {S("x a,"), S("a,"), N(-4)}, 3},
      {"VInvertsAsK", {S("ab;\u00e9"), S("\u00e9"), S("\u00e9"), S("V")}, 4},
      {"QuoteWithoutPartnerInTheMatch", {S("'\u00e9"), S("'\u00e9"), S(""), S("Q")}, 0},
      {"QuoteWithPartnerInTheMatch", {S("x '\u00e9'"), S("'\u00e9'"), S(" "), S("Q")}, 3},
      {"WordNumberFromAStartInsideAWord", {S("ab cd e\u00e9"), S("e\u00e9"), S(" "), S("E"), N(2)}, 2},
      {"WordNumberRightToLeft", {S("ab cd e\u00e9"), S("ab"), S(" "), S("EB")}, 3},
  };
  for (const auto &tc : cases) {
    SCOPED_TRACE(tc.name);
    const auto o = zeqtest::call_both_routes("fncfndw", "FINDW_FUNCTION", "FINDW", tc.args);
    EXPECT_EQ(o.byte_rc, FNC_RC_OK);
    EXPECT_EQ(o.multibyte_rc, FNC_RC_OK);
    EXPECT_EQ(o.byte, tc.expected);
    EXPECT_EQ(o.multibyte, tc.expected);
  }
}

TEST(FindwRoutes, AgreeOnAsciiText) {
  std::mt19937 rng(606);
  const char alphabet[] = "ab ,";
  const char *words[] = {"a", "b", "ab", "ba", "a b"};
  const char *mods[] = {"", "I", "B", "E", "EB"};
  for (int round = 0; round < 2000; round++) {
    std::string s(1 + rng() % 20, ' ');
    for (char &ch : s) ch = alphabet[rng() % (sizeof alphabet - 1)];
    const std::string w = words[rng() % 5];
    const std::string m = mods[rng() % 5];
    std::vector<Arg> args{S(s), S(w)};
    switch (rng() % 3) {
      case 0: break;
      case 1: args.push_back(S(", ")); args.push_back(S(m)); break;
      default: args.push_back(S(" ")); args.push_back(S(m)); break;
    }
    const auto o = zeqtest::call_both_routes("fncfndw", "FINDW_FUNCTION", "FINDW", args);
    ASSERT_EQ(o.byte_rc, FNC_RC_OK);
    ASSERT_EQ(o.multibyte_rc, FNC_RC_OK);
    ASSERT_EQ(o.byte, o.multibyte) << "'" << s << "' '" << w << "' " << (args.size() > 2 ? args[2].s : "-") << " "
                                << m;
  }
}

// ---------------------------------------------------------------------------
// The walk against the boundary-stated reference.
// ---------------------------------------------------------------------------
TEST(FindwReference, RandomSearchesAgree) {
  std::mt19937 rng(1999);
  const uint8_t *up = host().control_block()->upcase;
  const char alphabet[] = "abA ,,";
  const char *words[] = {"a", "b", "ab", "A", "ba", "a,b", "", "aba"};
  for (int round = 0; round < 8000; round++) {
    std::string s(rng() % 40, ' ');
    for (char &ch : s) ch = alphabet[rng() % (sizeof alphabet - 1)];
    const std::string w = words[rng() % 8];
    const int64_t n = (int64_t)s.size();
    const bool E = rng() & 1, M = rng() & 1, B = (rng() % 3) == 0, I = (rng() % 3) == 0;
    const int64_t start = (int64_t)(rng() % (2 * n + 3)) - n - 1;
    if (E && !M && !w.empty() && (w[0] == ',' || w[0] == ' ' || w.back() == ',' || w.back() == ' '))
      continue;
    zeqref::ByteFlags delims{};
    delims[' '] = delims[','] = true;
    double want;
    const bool rtl = B || start < 0;
    if (start > n) {
      want = 0;
    } else if (rtl) {
      const int64_t pos = start < 0 ? (-start < n ? -start : n) : (start > 0 ? start : n);
      want = (double)zeqref::find_word(s, w, delims, I ? up : nullptr, true, pos - 1, E, M);
    } else {
      want = (double)zeqref::find_word(s, w, delims, I ? up : nullptr, false, start > 0 ? start - 1 : 0, E, M);
    }
    const std::string m = std::string(E ? "E" : "") + (M ? "M" : "") + (B ? "B" : "") + (I ? "I" : "");
    ASSERT_EQ(findw({S(s), S(w), S(" ,"), S(m), N((double)start)}), want)
        << "'" << s << "' '" << w << "' " << m << " " << start;
  }
}

TEST(FindwReference, LongTextAgrees) {
  std::mt19937 rng(3);
  std::string s(1 << 16, ' ');
  for (char &ch : s) ch = "abc ab, a"[rng() % 9];
  zeqref::ByteFlags delims{};
  delims[' '] = delims[','] = true;
  for (const char *w : {"a", "ab", "abc", "cab", "bca", "aaaa"}) {
    EXPECT_EQ(findw({S(s), S(w), S(" ,")}), (double)zeqref::find_word(s, w, delims, nullptr, false, 0, false, false))
        << w;
    EXPECT_EQ(findw({S(s), S(w), S(" ,"), S("B")}),
              (double)zeqref::find_word(s, w, delims, nullptr, true, (int64_t)s.size() - 1, false, false))
        << w;
  }
}

TEST(Builds, SuitePassesWithTheGenericBuildForced) {
  if (std::getenv("ZEQ_FORCE_GENERIC")) GTEST_SKIP() << "already the generic run";
  EXPECT_EQ(zeqref::rerun_with_generic_build(), 0);
}

}  // namespace
