// Tests of COMPARE: the byte route fncompar (blank padding, modifiers in
// their written order, name literals, the colon, cutoff arguments) and the
// multibyte route COMPARE_FUNCTION on a UTF-8 session.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "charfn/entry_types.h"
#include "host/host.h"
#include "tests/support/call.h"
#include "tests/support/host_fixture.h"

namespace {

using zeqtest::host;

using NumFn = zeq::typed::NumberEntry;
using MbFn = zeq::typed::MbNumberEntry;

using A = zeqtest::Arg;
using zeqtest::C;
using zeqtest::V;
using zeqtest::N;
using zeqtest::Miss;
using zeqtest::Absent;

// Level-2 log lines that name an invalid modifier.
std::vector<std::string> modifier_lines() {
  std::vector<std::string> out;
  for (const auto &e : host().log())
    if (e.kind == zeqhost::LogEntry::Formatted && e.level == 2) out.push_back(e.text);
  return out;
}

std::vector<int> catalogue() { return host().message_numbers(); }

// A name literal quoting `n` copies of `c`, closed by `tail`.
std::string literal(size_t n, char c, const char *tail) {
  std::string s(1, '\'');
  s.append(n, c).append(tail);
  return s;
}

// ---------------------------------------------------------------------------
// Byte route.
// ---------------------------------------------------------------------------
struct CompareCase {
  const char *name;
  std::vector<A> args;
  double expected;
};

class CompareBytes : public ::testing::TestWithParam<CompareCase> {};

TEST_P(CompareBytes, GivesSignedPositionOfFirstDifference) {
  const CompareCase &tc = GetParam();
  zeqtest::Call c;
  zeqtest::add_args(c, tc.args);
  double r = -999;
  host().clear_log();
  ASSERT_EQ(zeq::typed::entry<zeq::typed::COMPARE>(host())(c.block(), &r), FNC_RC_OK);
  EXPECT_EQ(r, tc.expected);
  EXPECT_TRUE(modifier_lines().empty());
  EXPECT_TRUE(catalogue().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Compare, CompareBytes,
    ::testing::Values(
        CompareCase{"FirstSmaller", {C("abc"), C("abd")}, -3},
        CompareCase{"FirstGreater", {C("abd"), C("abc")}, 3},
        CompareCase{"BlankPadding", {C("abc"), C("abc   ")}, 0},
        CompareCase{"LongerFirst", {C("abc"), C("ab")}, 3},
        CompareCase{"LongerSecond", {C("ab"), C("abc")}, -3},
        CompareCase{"TabInSecondSortsItFirst", {C("ab"), C("ab\t")}, 3},
        CompareCase{"TabInFirstSortsItFirst", {C("ab\t"), C("ab")}, -3},
        CompareCase{"PaddingLooksPastBlanks", {C("ab"), C("ab  x")}, -5},
        CompareCase{"BytesAreUnsigned", {C("a\xe9"), C("az")}, 2},
        CompareCase{"BothEmpty", {C(""), C("")}, 0},
        CompareCase{"AbsentStringsAreEmpty", {Absent(), C("  ")}, 0},
        CompareCase{"CaseMattersByDefault", {C("ABC"), C("abc")}, -1},
        CompareCase{"IgnoreCase", {C("ABC"), C("abc"), C("i")}, 0},
        CompareCase{"IgnoreCaseLatin1", {C("\xc9t\xe9"), C("\xe9T\xc9"), C("I")}, 0},
        CompareCase{"PaddingIsComparedRaw", {C("ab"), C("AB\t"), C("I")}, 3},
        CompareCase{"LeadingBlanksCount", {C("  abc"), C("abc")}, -1},
        CompareCase{"LeadingBlanksDropped", {C("  abc"), C("abc"), C("L")}, 0},
        CompareCase{"ColonCutsLongerFirst", {C("abcdef"), C("abc"), C(":")}, 0},
        CompareCase{"ColonCutsLongerSecond", {C("abx"), C("abcdef"), C(":")}, 3},
        CompareCase{"ColonKeepsOneCharacter", {C("abc"), C(""), C(":")}, 1},
        CompareCase{"ColonOnTwoEmptyStrings", {C(""), C(""), C(":")}, 0},
        CompareCase{"NameLiteral", {C("'My Name'n"), C("My Name")}, -1},
        CompareCase{"NameLiteralUnquoted", {C("'My Name'n"), C("My Name"), C("N")}, 0},
        CompareCase{"NameLiteralIgnoresCase", {C("\"it''s\"N  "), C("IT''S"), C("n")}, 0},
        CompareCase{"DoubledQuoteInLiteral", {C("'it''s'n"), C("it's"), C("N")}, 0},
        CompareCase{"NotALiteralStaysAsIs", {C("'abc'"), C("abc"), C("N")}, -1},
        CompareCase{"LiteralOf32", {C(literal(32, 'x', "'n")), C(std::string(32, 'x')), C("N")}, 0},
        CompareCase{"LiteralOf33IsLeftAlone", {C(literal(33, 'x', "'n")), C(std::string(33, 'x')), C("N")}, -1},
        CompareCase{"LThenNUnquotes", {C("  'ab'n"), C("ab"), C("LN")}, 0},
        CompareCase{"NThenLDoesNot", {C("  'ab'n"), C("ab"), C("NL")}, -1},
        CompareCase{"ArgumentsInWrittenOrderColonThenL", {C(" abc"), C("ab"), C(":"), C("L")}, -2},
        CompareCase{"ArgumentsInWrittenOrderLThenColon", {C(" abc"), C("ab"), C("L"), C(":")}, 0},
        CompareCase{"BlanksOnlyModifiers", {C("a"), C("A"), C("   ")}, 1},
        CompareCase{"CutoffIsAccepted", {C("abc"), C("abd"), N(2)}, -3},
        CompareCase{"CutoffThenModifiers", {C("abc"), C("ABC"), N(7), C("I")}, 0},
        CompareCase{"HugeCutoffAllowsASecond", {C("abc"), C("abd"), N(5e6), N(3)}, -3},
        CompareCase{"AbsentOptionalsAreSkipped", {C("ab"), C("ab"), Absent(), zeqtest::AbsentNum()}, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CompareBytes, InvalidModifierIsReportedOnceAndIgnored) {
  zeqtest::Call c;
  c.str("abc").str("ABC").str("xI");
  double r = -999;
  host().clear_log();
  ASSERT_EQ(zeq::typed::entry<zeq::typed::COMPARE>(host())(c.block(), &r), FNC_RC_OK);
  EXPECT_EQ(r, 0);
  auto lines = modifier_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("The modifier\"X\" in the COMPARE function is not valid."),
            std::string::npos)
      << lines[0];
  EXPECT_TRUE(catalogue().empty());
}

struct BadCutoff {
  const char *name;
  std::vector<A> args;
  int marked;  // 0-based argument that gets FNC_MARK_BAD
};

class CompareCutoff : public ::testing::TestWithParam<BadCutoff> {};

TEST_P(CompareCutoff, InvalidCutoffIsANote) {
  const BadCutoff &tc = GetParam();
  zeqtest::Call c;
  zeqtest::add_args(c, tc.args);
  double r = -999;
  ASSERT_EQ(zeq::typed::entry<zeq::typed::COMPARE>(host())(c.block(), &r), FNC_RC_NOTE);
  EXPECT_EQ(r, -999) << "no result is written";
  for (int i = 0; i < (int)tc.args.size(); i++)
    EXPECT_EQ(c.mark(i), i == tc.marked ? FNC_MARK_BAD : 0) << "argument " << i + 1;
}

INSTANTIATE_TEST_SUITE_P(
    Compare, CompareCutoff,
    ::testing::Values(BadCutoff{"Fraction", {C("a"), C("b"), N(2.5)}, 2},
                      BadCutoff{"Half", {C("a"), C("b"), N(0.5)}, 2},
                      BadCutoff{"Zero", {C("a"), C("b"), N(0)}, 2},
                      BadCutoff{"Negative", {C("a"), C("b"), N(-4)}, 2},
                      BadCutoff{"Missing", {C("a"), C("b"), Miss()}, 2},
                      BadCutoff{"SecondAfterSmallCutoff", {C("a"), C("b"), N(3), N(4)}, 3},
                      BadCutoff{"InvalidAfterModifiers", {C("a"), C("b"), C("I"), N(0.25)}, 3}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Multibyte route.
// ---------------------------------------------------------------------------
class CompareMultibyte : public ::testing::Test {
 protected:
  void SetUp() override {
    host().set_utf8(true);
    svc_ = host().string_service();
    fn_ = zeq::typed::mb_entry<zeq::typed::COMPARE>(host());
    ASSERT_NE(fn_, nullptr);
    if (!svc_) GTEST_SKIP() << "the host offers no string service";
  }
  void TearDown() override { host().set_utf8(false); }

  int32_t run(zeqtest::Call &c, double *r, int32_t wide = 0) {
    host().clear_log();
    return fn_(c.block(), r, svc_, wide, "COMPARE");
  }
  ZeqStringService *svc_ = nullptr;
  MbFn fn_ = nullptr;
};

struct MbCase {
  const char *name;
  std::vector<A> args;
  double expected;
};

class CompareMultibyteCases : public CompareMultibyte,
                              public ::testing::WithParamInterface<MbCase> {};

TEST_P(CompareMultibyteCases, CountsCharacters) {
  const MbCase &tc = GetParam();
  zeqtest::Call c;
  zeqtest::add_args(c, tc.args);
  double r = -999;
  ASSERT_EQ(run(c, &r), FNC_RC_OK);
  EXPECT_EQ(r, tc.expected);
  EXPECT_TRUE(catalogue().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Compare, CompareMultibyteCases,
    ::testing::Values(
        MbCase{"PositionInCharacters", {V("\xc3\xa9\xc3\xa9x"), V("\xc3\xa9\xc3\xa9y")}, -3},
        MbCase{"BlankPadded", {V("\xc3\xa9t\xc3\xa9"), V("\xc3\xa9t\xc3\xa9   ")}, 0},
        MbCase{"LongerFirst", {V("\xc3\xa9t\xc3\xa9"), V("\xc3\xa9t")}, 3},
        MbCase{"EmptyFirst", {V(""), V("a")}, -1},
        MbCase{"BothEmpty", {V(""), V("")}, 0},
        MbCase{"EmptySecond", {V("a"), V("")}, 1},
        MbCase{"BothAbsent", {Absent(), Absent()}, 0},
        MbCase{"IgnoreCase", {V("\xc3\x89t\xc3\xa9"), V("\xc3\xa9T\xc3\x89"), V("i")}, 0},
        MbCase{"ColonComparesTheShorterLength", {V("\xc3\xa9tabc"), V("\xc3\xa9t"), V(":")}, 0},
        MbCase{"LeadingBlanks", {V("   \xc3\xa9"), V("\xc3\xa9"), V("L")}, 0},
        MbCase{"NameLiteral", {V("'\xc3\xa9 x'n"), V("\xc3\x89 X"), V("N")}, 0},
        MbCase{"LiteralOf32Characters",
               {V(literal(32, 'a', "'N")), V(std::string(32, 'a')), V("N")},
               0},
        MbCase{"LiteralOf33IsLeftAlone",
               {V(literal(33, 'a', "'N")), V(std::string(33, 'a')), V("N")}, -1},
        MbCase{"LThenNUnquotes", {V("  '\xc3\xa9'n"), V("\xc3\xa9"), V("LN")}, 0},
        MbCase{"NThenLDoesNot", {V("  '\xc3\xa9'n"), V("\xc3\xa9"), V("NL")}, -1}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(CompareMultibyte, WrongArgumentPatternIsANote) {
  zeqtest::Call c;
  c.var("a").num(2);
  double r = -999;
  EXPECT_EQ(run(c, &r), FNC_RC_NOTE);
  EXPECT_EQ(r, -999);
  EXPECT_EQ(c.mark(1), FNC_MARK_BAD);

  zeqtest::Call one;
  one.var("a");
  EXPECT_EQ(run(one, &r), FNC_RC_NOTE);

  zeqtest::Call four;
  four.var("a").var("b").var("c").var("d");
  EXPECT_EQ(run(four, &r), FNC_RC_NOTE);
}

TEST_F(CompareMultibyte, OneAbsentStringIsANote) {
  zeqtest::Call c;
  c.var("a").absent();
  double r = -999;
  EXPECT_EQ(run(c, &r), FNC_RC_NOTE);
  EXPECT_EQ(r, -999);
}

TEST_F(CompareMultibyte, NoServiceIsANote) {
  zeqtest::Call c;
  c.var("a").var("a");
  double r = -999;
  EXPECT_EQ(fn_(c.block(), &r, nullptr, 0, "COMPARE"), FNC_RC_NOTE);
}

TEST_F(CompareMultibyte, InvalidModifierIsCatalogueMessage6) {
  zeqtest::Call c;
  c.var("ab").var("ab").var("I?");
  double r = -999;
  ASSERT_EQ(run(c, &r), FNC_RC_OK);
  EXPECT_EQ(r, 0);
  ASSERT_EQ(catalogue(), std::vector<int>{6});
  const auto &e = host().log().back();
  ASSERT_EQ(e.args.size(), 2u);
  EXPECT_EQ(e.args[0], "COMPARE");
  EXPECT_EQ(e.args[1], "?");
}

TEST_F(CompareMultibyte, WideStringsCountUnits) {
  // TKChar text: the length is in bytes, four per character.
  auto wide = [](const std::u32string &s) {
    return std::string(reinterpret_cast<const char *>(s.data()), s.size() * 4);
  };
  zeqtest::Call c;
  c.var(wide(U"\u00e9\u00e9x")).var(wide(U"\u00e9\u00e9y"));
  double r = -999;
  ASSERT_EQ(run(c, &r, 1), FNC_RC_OK);
  EXPECT_EQ(r, -3);
}

}  // namespace
