// Tests of COUNTW through the reference host: the counting rules (defaults,
// lists, M, Q, B, T), invalid modifiers, absent arguments, agreement with
// the plain splitter of tests/reference/words_reference.h, and the
// multibyte route with its differences from the byte route.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "charfn/countfind/countfind.h"
#include "charfn/entry_types.h"
#include "host/host.h"
#include "tests/reference/words_reference.h"
#include "tests/support/call.h"
#include "tests/support/host_fixture.h"

namespace {

using zeqtest::host;

using CountEntry = zeq::typed::NumberEntry;
using CountMb = zeq::typed::MbNumberEntry;

// Arguments: a value, or an absent optional character argument (nullptr).
struct A {
  bool present;
  std::string s;
};
A C(std::string s) { return {true, std::move(s)}; }
A Absent() { return {false, {}}; }

double countw(const std::vector<A> &args, int32_t *rc = nullptr, bool varying = false) {
  zeqtest::Call c;
  for (const A &a : args) {
    if (!a.present)
      c.absent();
    else if (varying)
      c.var(a.s);
    else
      c.str(a.s);
  }
  double out = -1;
  const int32_t r = zeq::typed::entry<zeq::typed::COUNTW>(host())(c.block(), &out);
  if (rc) *rc = r;
  else
    EXPECT_EQ(r, FNC_RC_OK);
  return out;
}

struct CountCase {
  const char *name;
  std::vector<A> args;
  double expected;
};

class CountWords : public ::testing::TestWithParam<CountCase> {};

TEST_P(CountWords, AnswersTheCount) {
  const CountCase &tc = GetParam();
  host().clear_log();
  EXPECT_EQ(countw(tc.args), tc.expected);
  EXPECT_TRUE(host().message_numbers().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Countw, CountWords,
    ::testing::Values(
        CountCase{"Defaults", {C("a b  c")}, 3},
        CountCase{"DefaultsArePunctuation", {C("a.b(c|d^e")}, 5},
        CountCase{"UnderscoreIsNoDefault", {C("a_b c")}, 2},
        CountCase{"OnlyDefaults", {C(" .,;! ")}, 0},
        CountCase{"BlankListWithM", {C("a b  c"), C(" "), C("M")}, 4},
        CountCase{"EmptyString", {C("")}, 0},
        CountCase{"EmptyStringWithM", {C(""), C(","), C("M")}, 1},
        CountCase{"EdgesWithM", {C(",a,"), C(","), C("M")}, 3},
        CountCase{"EdgesWithMFromRight", {C(",a,"), C(","), C("BM")}, 3},
        CountCase{"OnlyDelimitersWithM", {C(",,,"), C(","), C("M")}, 4},
        CountCase{"QuotedTextIsOneWord", {C("a \"b c\""), C(" "), C("Q")}, 2},
        CountCase{"WithoutQQuotesSplit", {C("a \"b c\""), C(" ")}, 3},
        CountCase{"QuotesWithM", {C("a,'b,c',,d"), C(","), C("QM")}, 4},
        CountCase{"DoubledQuoteStaysQuoted", {C("'a'' b' c"), C(" "), C("Q")}, 2},
        CountCase{"UnclosedQuoteFromLeft", {C("\"a b\" c\"d e"), C(" "), C("Q")}, 2},
        CountCase{"UnclosedQuoteFromRight", {C("\"a b\" c\"d e"), C(" "), C("QB")}, 3},
        CountCase{"BWithoutQSameCount", {C("\"a b\" c\"d e"), C(" "), C("B")}, 4},
        CountCase{"EmptyListNoModifiers", {C("ab cd"), C("")}, 1},
        CountCase{"AbsentListValue", {C("ab cd"), Absent()}, 1},
        CountCase{"AbsentString", {Absent()}, 0},
        CountCase{"AbsentStringWithM", {Absent(), C(","), C("M")}, 1},
        CountCase{"OneCharacterList", {C("x;y;;z;"), C(";")}, 3},
        CountCase{"KEveryByte", {C("abc"), C(""), C("K")}, 0},
        CountCase{"KWithMCountsBytes", {C("abc"), C(""), C("KM")}, 4},
        CountCase{"KQSparesQuotes", {C("a\"b"), C(""), C("KQ")}, 1},
        CountCase{"IgnoreCase", {C("aXbxc"), C("x"), C("I")}, 3},
        CountCase{"Digits", {C("a1b22c"), C(""), C("D")}, 3},
        CountCase{"TDropsTrailingBlankWords", {C("a b   "), C(" ,"), C("TM")}, 2},
        CountCase{"WithoutTBlankWordsCount", {C("a b   "), C(" ,"), C("M")}, 5},
        CountCase{"TEmptiesBlankList", {C("a b"), C("  "), C("T")}, 1},
        CountCase{"LowerCaseModifiers", {C("a,,b"), C(","), C("m")}, 3}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CountwModifiers, InvalidLettersAreReportedAndSkipped) {
  host().clear_log();
  EXPECT_EQ(countw({C("a,,b"), C(","), C("rMe!")}), 3);
  const auto &log = host().log();
  ASSERT_EQ(host().message_numbers(), (std::vector<int>{6, 6, 6}));
  EXPECT_EQ(log[0].args[0], "COUNTW");
  EXPECT_EQ(log[0].args[1], "R");
  EXPECT_EQ(log[1].args[1], "E");
  EXPECT_EQ(log[2].args[1], "!");
}

TEST(CountwModifiers, BlanksInModifiersAreIgnored) {
  host().clear_log();
  EXPECT_EQ(countw({C("a,,b"), C(","), C("  M ")}), 3);
  EXPECT_TRUE(host().message_numbers().empty());
}

// ---------------------------------------------------------------------------
// Fast counting against the plain splitter.
// ---------------------------------------------------------------------------
TEST(CountwReference, RandomStringsAgree) {
  std::mt19937 rng(7177);
  const char alphabet[] = "xy ,,\"'";
  for (int round = 0; round < 4000; round++) {
    std::string s(rng() % 20, ' ');
    for (char &ch : s) ch = alphabet[rng() % (sizeof alphabet - 1)];
    const bool M = rng() & 1, Q = rng() & 1, B = rng() & 1;
    const std::string mods = std::string(M ? "M" : "") + (Q ? "Q" : "") + (B ? "B" : "");
    zeqref::DelimSet set{};
    set[' '] = set[','] = true;
    const double want = (double)zeqref::split_words(s, set, M, Q, B).size();
    EXPECT_EQ(countw({C(s), C(", "), C(mods)}), want) << "'" << s << "' " << mods;
  }
}

TEST(CountwReference, LongStringsAgree) {
  std::mt19937 rng(99);
  std::string s(1 << 16, ' ');
  for (char &ch : s) ch = "abc  .\t"[rng() % 7];
  zeqref::DelimSet defaults{};
  for (char c : std::string(" .<(+&!$*);^-/,%|")) defaults[(unsigned char)c] = true;
  EXPECT_EQ(countw({C(s)}), (double)zeqref::split_words(s, defaults, false, false, false).size());
}

// ---------------------------------------------------------------------------
// Multibyte route.
// ---------------------------------------------------------------------------
class CountwMultibyte : public ::testing::Test {
 protected:
  void SetUp() override { host().set_utf8(true); }
  void TearDown() override { host().set_utf8(false); }
  ZeqStringService *svc() {
    static const TKChar name[] = {'M', 'V', 'A', 0};
    unsigned char opts[128] = {};
    auto factory = host().kernel()->string_service;
    return factory ? factory(name, opts) : nullptr;
  }
  double direct(const std::vector<A> &args, int32_t *rc = nullptr) {
    zeqtest::Call c;
    for (const A &a : args) a.present ? (void)c.str(a.s) : (void)c.absent();
    double out = -1;
    const int32_t r = zeq::typed::mb_entry<zeq::typed::COUNTW>(host())(c.block(), &out, svc(), 0, "COUNTW");
    if (rc) *rc = r;
    return out;
  }
};

TEST_F(CountwMultibyte, CountsCharactersNotBytes) {
  // The list holds the copyright sign (C2 A9); e-acute (C3 A9) shares its
  // second byte, so the byte route splits inside the e-acute.
  const std::string s = "a\xc3\xa9" "b";
  const std::string list = "\xc2\xa9";
  EXPECT_EQ(direct({C(s), C(list)}), 1);
  host().set_utf8(false);
  EXPECT_EQ(countw({C(s), C(list)}), 2);
  host().set_utf8(true);
  // A varying first argument that holds a multibyte character takes the
  // multibyte route through the byte-route entry.
  EXPECT_EQ(countw({C(s), C(list)}, nullptr, true), 1);
  // A fixed one does not.
  EXPECT_EQ(countw({C(s), C(list)}, nullptr, false), 2);
}

TEST_F(CountwMultibyte, EmptyStringWithMIsZero) {
  EXPECT_EQ(direct({C(""), C(","), C("M")}), 0);
  EXPECT_EQ(direct({C("")}), 0);
}

TEST_F(CountwMultibyte, SameRulesAsByteRoute) {
  struct Case {
    std::vector<A> args;
    double expected;
  } cases[] = {
      {{C("\xc3\xa9 b  c")}, 3},
      {{C("\xc3\xa9 b  c"), C(" "), C("M")}, 4},
      {{C(",\xc3\xa9,"), C(","), C("M")}, 3},
      {{C(",\xc3\xa9,"), C(","), C("MB")}, 3},
      {{C("\xc3\xa9 \"b c\""), C(" "), C("Q")}, 2},
      {{C("\"a b\" c\"d \xc3\xa9"), C(" "), C("QB")}, 3},
      {{C("\xc3\xa9X\xc3\xa9x\xc3\xa9"), C("x"), C("I")}, 3},
      {{C("\xc3\xa9" "1\xc3\xa9"), C(""), C("D")}, 2},
      {{C("a b   "), C(" ,"), C("TM")}, 2},
      {{C("ab\xc3\xa9"), C(""), C("K")}, 0},
      {{C("\xc3\x89t\xc3\xa9"), C(""), C("U")}, 1},
      {{C("\xc3\x89t\xc3\xa9"), C(""), C("L")}, 1},
  };
  for (const Case &tc : cases) EXPECT_EQ(direct(tc.args), tc.expected) << tc.args[0].s;
}

// The word machine with kind 2 (FINDW's multibyte route): roles as FINDW
// fills them, the answer a 1-based character position, or with E the word
// number.
TEST_F(CountwMultibyte, FindKindLocatesWholeWords) {
  using Common = decltype(&COUNTW_COMMON);
  auto common = host().fn<Common>("COUNTW_COMMON");
  ASSERT_NE(common, nullptr);
  struct Case {
    std::vector<std::string> args;  // string, word, then list, modifiers
    std::vector<int32_t> roles;
    double start;                   // NaN: no start argument
    double expected;
  } cases[] = {
      {{"The quick brown fox", "brown"}, {1, 2, 0, 0, 0, 0, 0}, NAN, 11},
      {{"The quick brownish fox", "brown"}, {1, 2, 0, 0, 0, 0, 0}, NAN, 0},
      {{"Th\xc3\xa9 qu\xc3\xaf" "ck brown", "brown"}, {1, 2, 0, 0, 0, 0, 0}, NAN, 11},
      {{"abc abcd abc", "abc"}, {1, 2, 0, 0, 3, 0, 0}, 2, 10},
      {{"abc abcd abc", "abc"}, {1, 2, 0, 0, 3, 0, 0}, -10, 1},
      {{"abc abcd abc", "abc"}, {1, 2, 0, 0, 3, 0, 0}, 0, 1},
      {{"The quick brown fox", "fox", " ", "E"}, {1, 2, 0, 4, 0, 0, 3}, NAN, 4},
      {{"a,,b", "", ",", "M"}, {1, 2, 0, 4, 0, 0, 3}, NAN, 3},
      {{"x abc y", ",abc,", ", ", "R"}, {1, 2, 0, 4, 0, 0, 3}, NAN, 3},
      {{"x ABC y", "abc", " ", "I"}, {1, 2, 0, 4, 0, 0, 3}, NAN, 3},
      {{"x ABC y", "abc", " ", ""}, {1, 2, 0, 4, 0, 0, 3}, NAN, 0},
  };
  for (Case &tc : cases) {
    zeqtest::Call c;
    for (const std::string &a : tc.args) c.str(a);
    if (tc.start == tc.start) {
      c.num(tc.start);
      tc.roles[4] = (int32_t)tc.args.size() + 1;
    }
    double out = -1;
    EXPECT_EQ(common(c.block(), &out, svc(), 0, tc.roles.data(), 2, nullptr, "FINDW"), FNC_RC_OK);
    EXPECT_EQ(out, tc.expected) << tc.args[0] << " / " << tc.args[1];
  }
}

// Wide strings: TKChar units, lengths in bytes.
TEST_F(CountwMultibyte, WideStrings) {
  auto wide = [](const std::u32string &s) { return std::string((const char *)s.data(), s.size() * 4); };
  zeqtest::Call c;
  c.str(wide(U"\u00e9t\u00e9 a,,b  ")).str(wide(U" ,")).str(wide(U"tm"));
  double out = -1;
  EXPECT_EQ(zeq::typed::mb_entry<zeq::typed::COUNTW>(host())(c.block(), &out, svc(), 1, "COUNTW"), FNC_RC_OK);
  EXPECT_EQ(out, 4);

  zeqtest::Call s;
  s.str(wide(U"\u00e9t\u00e9 \"x \"\" y\" z")).num(2).str(wide(U" ")).str(wide(U"QR"));
  zeqtest::Result r(64);
  ASSERT_EQ(zeq::typed::mb_entry<zeq::typed::SCAN>(host())(s.block(), &r.rec, svc(), 1, "SCAN"), FNC_RC_OK);
  EXPECT_EQ(r.text(), wide(U"x \" y"));
  zeqtest::Result small(9);  // two whole units and a byte
  ASSERT_EQ(zeq::typed::mb_entry<zeq::typed::SCAN>(host())(s.block(), &small.rec, svc(), 1, "SCAN"), FNC_RC_OK);
  EXPECT_EQ(small.text(), wide(U"x "));
}

}  // namespace
