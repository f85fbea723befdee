// Tests of the name functions through the reference host: the validity test
// and its reason codes under every naming mode, the literal conversion with
// its messages, the four position functions, and zfncmunq.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "charfn/entry_types.h"
#include "host/host.h"
#include "tests/support/call.h"
#include "tests/support/host_fixture.h"

namespace {

using zeqtest::host;

FncNumEntry num_entry(const char *name) { return zeqtest::entry_named<FncNumEntry>(name); }

constexpr double kUnset = -99;  // the result before a call

// ---------------------------------------------------------------------------
// Validity test: reason codes (fncninv) and the answer (fncnval).
// ---------------------------------------------------------------------------
struct NameCase {
  const char *name;
  std::string text;
  const char *mode;  // null: only one argument
  double code;
};

class Validity : public ::testing::TestWithParam<NameCase> {};

TEST_P(Validity, AnswersReasonCode) {
  const NameCase &tc = GetParam();
  for (const char *fn : {"fncninv", "fncnval"}) {
    zeqtest::Call c;
    c.str(tc.text);
    if (tc.mode) c.str(tc.mode);
    double r = kUnset;
    ASSERT_EQ(num_entry(fn)(c.block(), &r), FNC_RC_OK) << fn;
    const double want = std::string(fn) == "fncninv" ? tc.code : (tc.code == 0 ? 1 : 0);
    EXPECT_EQ(r, want) << fn;
  }
}

const std::string k32(32, 'a');
const std::string k33(33, 'a');

INSTANTIATE_TEST_SUITE_P(
    Names, Validity,
    ::testing::Values(
        NameCase{"ValidName", "abc", "V7", 0},
        NameCase{"UnderscoreFirst", "_x1", "V7", 0},
        NameCase{"TrailingBlanksIgnored", "abc   ", "V7", 0},
        NameCase{"ThirtyTwoFit", k32, "V7", 0},
        NameCase{"ThirtyThreeTooLong", k33, "V7", -2},
        NameCase{"EmptyName", "", "V7", -1},
        NameCase{"BlankName", "    ", "V7", -1},
        NameCase{"DigitFirst", "1abc", "V7", 1},
        NameCase{"DashInside", "ab-c", "V7", 2},
        NameCase{"BlankInside", "a b", "V7", 2},
        NameCase{"LeadingBlank", " ab", "V7", 2},
        NameCase{"LongIsV7", "ab-c", "LONG", 2},
        NameCase{"UpcaseAcceptsUpper", "ABC_9", "UPCASE", 0},
        NameCase{"UpcaseRejectsLower", "Abc", "UPCASE", 2},
        NameCase{"UpcaseDigitFirst", "9AB", "UPCASE", 1},
        NameCase{"AnyTakesEverything", "1 %-x", "ANY", 0},
        NameCase{"AnyStillLimitsLength", k33, "ANY", -2},
        NameCase{"AnylongIsAny", "#$", "ANYLONG", 0},
        NameCase{"V6NineTooLong", "abcdefghi", "V6", -2},
        NameCase{"V6EightFit", "abcdefgh", "V6", 0},
        NameCase{"ModeLowerCase", "Abc", "upcase", 2},
        NameCase{"ModeBlanksSkipped", "ab-c", " v 7 ", 2},
        NameCase{"ModePrefixOfWord", "Abc", "U", 2},
        NameCase{"ModeLongerThanWord", "1ab", "V7X", 1},
        NameCase{"ModeBlankIsV7", "1ab", "   ", 1},
        NameCase{"NliteralQuoted", "'a b'n", "NLITERAL", 0},
        NameCase{"NliteralDoubleQuotes", "\"a'b\"N", "NLITERAL", 0},
        NameCase{"NliteralDoubledQuote", "'it''s'n", "NLITERAL", 0},
        NameCase{"NliteralNoSuffix", "'a b'", "NLITERAL", 3},
        NameCase{"NliteralExtraAfterSuffix", "'ab'nx", "NLITERAL", 3},
        NameCase{"NliteralUnclosed", "'abc", "NLITERAL", 3},
        NameCase{"NliteralWrongSuffix", "'ab'x", "NLITERAL", 3},
        NameCase{"NliteralEmptyContent", "''n", "NLITERAL", -1},
        NameCase{"NliteralLongContent", "'" + k33 + "'n", "NLITERAL", -2},
        NameCase{"NliteralPlainTextIsV7", "1abc", "NLITERAL", 1},
        NameCase{"NliteralPlainValid", "abc", "N", 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Validity, BadModesNoteAndWriteNothing) {
  for (const char *mode : {"v", " V ", "XYZ", "V8", "NX"}) {
    for (const char *fn : {"fncninv", "fncnval"}) {
      zeqtest::Call c;
      c.str("abc").str(mode);
      double r = kUnset;
      EXPECT_EQ(num_entry(fn)(c.block(), &r), FNC_RC_NOTE) << mode;
      EXPECT_EQ(r, kUnset) << mode;
      EXPECT_EQ(c.mark(1), FNC_MARK_BAD) << mode;
      EXPECT_EQ(c.mark(0), 0) << mode;
    }
  }
}

TEST(Validity, NumericModeIsNoMode) {
  zeqtest::Call c;
  c.str("abc").num(7);
  double r = kUnset;
  EXPECT_EQ(num_entry("fncninv")(c.block(), &r), FNC_RC_NOTE);
  EXPECT_EQ(c.mark(1), FNC_MARK_BAD);
}

TEST(Validity, DefaultModeFromHostOption) {
  host().set_option(4429, "ANY");
  zeqtest::Call c;
  c.str("1 x");
  double r = kUnset;
  EXPECT_EQ(num_entry("fncninv")(c.block(), &r), FNC_RC_OK);
  EXPECT_EQ(r, 0);

  host().set_option(4429, "V6");
  zeqtest::Call d;
  d.str("abcdefghi");
  EXPECT_EQ(num_entry("fncninv")(d.block(), &r), FNC_RC_OK);
  EXPECT_EQ(r, -2);

  // An ambiguous option value: note, and no argument to mark.
  host().set_option(4429, "v");
  zeqtest::Call e;
  e.str("abc");
  r = kUnset;
  EXPECT_EQ(num_entry("fncninv")(e.block(), &r), FNC_RC_NOTE);
  EXPECT_EQ(r, kUnset);
  EXPECT_EQ(e.mark(0), 0);
  host().set_option(4429, "V7");
}

TEST(Validity, AbsentModeArgumentUsesOption) {
  host().set_option(4429, "UPCASE");
  zeqtest::Call c;
  c.str("abc").absent();
  double r = kUnset;
  EXPECT_EQ(num_entry("fncninv")(c.block(), &r), FNC_RC_OK);
  EXPECT_EQ(r, 2);
  host().set_option(4429, "V7");
}

TEST(Validity, FailingOptionFetch) {
  // A negative status ends the call; a positive one is logged and the call
  // goes on with what the option service gave.
  host().set_option(4429, "ANY");
  host().set_option_fails(4429, (int)0x80000001);
  host().clear_service_calls();
  zeqtest::Call c;
  c.str("1x");
  double r = kUnset;
  EXPECT_EQ(num_entry("fncninv")(c.block(), &r), FNC_RC_NOTE);
  EXPECT_EQ(r, kUnset);
  bool logged = false;
  for (const auto &call : host().service_calls()) logged |= call.name == "xprrlog";
  EXPECT_TRUE(logged);

  host().set_option_fails(4429, 5);
  host().clear_service_calls();
  zeqtest::Call d;
  d.str("abc");
  EXPECT_EQ(num_entry("fncninv")(d.block(), &r), FNC_RC_OK);
  logged = false;
  for (const auto &call : host().service_calls()) logged |= call.name == "xprrlog";
  EXPECT_TRUE(logged);
  host().set_option_fails(4429, 0);
  host().set_option(4429, "V7");
}

// ---------------------------------------------------------------------------
// Literal conversion.
// ---------------------------------------------------------------------------
struct LitCase {
  const char *name;
  std::string text;
  int64_t room;
  std::string expected;
  int32_t status;
  int message;  // 0 for none
};

class Literal : public ::testing::TestWithParam<LitCase> {};

TEST_P(Literal, ConvertsText) {
  const LitCase &tc = GetParam();
  auto nlit = zeq::typed::entry<zeq::typed::NLITERAL>(host());
  FncString in{};
  std::string text = tc.text;
  in.maxLength = in.length = (int64_t)text.size();
  in.data = text.data();
  std::string buf((size_t)tc.room + 8, '#');
  FncString out{};
  out.maxLength = tc.room;
  out.length = 99;
  out.data = buf.data();
  host().clear_log();
  EXPECT_EQ(nlit(&in, &out), tc.status);
  EXPECT_EQ(std::string(out.data, (size_t)out.length), tc.expected);
  EXPECT_EQ(buf.substr((size_t)tc.room), std::string(8, '#'));
  std::vector<int> want;
  if (tc.message) want.push_back(tc.message);
  EXPECT_EQ(host().message_numbers(), want);
}

const std::string k40(40, 'b');

INSTANTIATE_TEST_SUITE_P(
    Names, Literal,
    ::testing::Values(
        LitCase{"ValidNameUnchanged", "abc", 10, "abc", FNC_RC_OK, 0},
        LitCase{"TrailingBlanksDropped", "abc   ", 3, "abc", FNC_RC_OK, 0},
        LitCase{"LongValidNameHasNoLimit", k40, 40, k40, FNC_RC_OK, 0},
        LitCase{"BlankInsideQuoted", "a b", 10, "\"a b\"N", FNC_RC_OK, 0},
        LitCase{"PercentUsesApostrophe", "50%", 10, "'50%'N", FNC_RC_OK, 0},
        LitCase{"AmpersandUsesApostrophe", "a&b", 10, "'a&b'N", FNC_RC_OK, 0},
        LitCase{"ApostropheInTextUsesDoubleQuote", "it's", 10, "\"it's\"N", FNC_RC_OK, 0},
        LitCase{"DoubleQuoteInTextUsesApostrophe", "a\"b", 10, "'a\"b'N", FNC_RC_OK, 0},
        LitCase{"QuoteDoubled", "a\"b'c\"", 12, "'a\"b''c\"'N", FNC_RC_OK, 0},
        LitCase{"DigitFirst", "1a", 10, "\"1a\"N", FNC_RC_OK, 0},
        LitCase{"ExactFit", "a-b", 6, "\"a-b\"N", FNC_RC_OK, 0},
        LitCase{"EmptyText", "", 10, "", FNC_RC_NOTE, 40},
        LitCase{"BlankText", "   ", 10, "", FNC_RC_NOTE, 40},
        LitCase{"TextLongerThanResult", "abcd", 3, "", FNC_RC_NOTE, 41},
        LitCase{"LiteralLongerThanResult", "a-b", 5, "", FNC_RC_NOTE, 41}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Literal, Message41CarriesLengthsAndText) {
  auto nlit = zeq::typed::entry<zeq::typed::NLITERAL>(host());
  std::string text = "a-b  ";
  FncString in{5, 5, text.data(), nullptr, 0};
  char buf[8];
  FncString out{4, 0, buf, nullptr, 0};
  host().clear_log();
  EXPECT_EQ(nlit(&in, &out), FNC_RC_NOTE);
  ASSERT_EQ(host().log().size(), 1u);
  const auto &e = host().log()[0];
  EXPECT_EQ(e.number, 41);
  ASSERT_GE(e.args.size(), 3u);
  EXPECT_EQ(e.args[0], "4");
  EXPECT_EQ(e.args[1], "3");
  EXPECT_EQ(e.args[2], "a-b");
}

TEST(Literal, GrowableResultIsSizedFirst) {
  auto nlit = zeq::typed::entry<zeq::typed::NLITERAL>(host());
  std::string text = "a b";
  FncString in{3, 3, text.data(), nullptr, 0};
  zeqtest::Result r(100, true, 0);
  EXPECT_EQ(nlit(&in, &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), "\"a b\"N");

  zeqtest::Result fail(100, true, 0);
  fail.grow.fail = true;
  EXPECT_EQ(nlit(&in, &fail.rec), FNC_RC_NOROOM);
  EXPECT_EQ(fail.rec.length, 0);
}

TEST(Literal, NullRecords) {
  auto nlit = zeq::typed::entry<zeq::typed::NLITERAL>(host());
  char buf[4];
  FncString out{4, 3, buf, nullptr, 0};
  host().clear_log();
  EXPECT_EQ(nlit(nullptr, &out), FNC_RC_NOTE);
  EXPECT_EQ(out.length, 0);
  EXPECT_EQ(host().message_numbers(), std::vector<int>{40});
  std::string text = "x";
  FncString in{1, 1, text.data(), nullptr, 0};
  EXPECT_EQ(nlit(&in, nullptr), FNC_RC_NOTE);
}

// ---------------------------------------------------------------------------
// ANYNAME, NOTNAME, ANYFIRST, NOTFIRST (byte route).
// ---------------------------------------------------------------------------
struct PosCase {
  const char *name;
  const char *fn;
  std::string text;
  std::vector<double> start;  // empty: no start argument; NaN: missing
  double expected;
};

class Position : public ::testing::TestWithParam<PosCase> {};

TEST_P(Position, FindsCharacter) {
  const PosCase &tc = GetParam();
  zeqtest::Call c;
  c.str(tc.text);
  for (double s : tc.start) c.num(s);
  double r = kUnset;
  EXPECT_EQ(num_entry(tc.fn)(c.block(), &r), FNC_RC_OK);
  EXPECT_EQ(r, tc.expected);
}

const double kNaN = std::nan("");
const double kInf = INFINITY;

INSTANTIATE_TEST_SUITE_P(
    Names, Position,
    ::testing::Values(
        PosCase{"AnyfirstSkipsDigits", "fncanyfirst", "12ab", {}, 3},
        PosCase{"AnyfirstUnderscore", "fncanyfirst", "1_a", {}, 2},
        PosCase{"NotnameNoneInValidName", "fncnotname", "abc", {}, 0},
        PosCase{"NotnameDash", "fncnotname", "ab-c", {}, 3},
        PosCase{"NotnameFindsTrailingBlank", "fncnotname", "ab ", {}, 3},
        PosCase{"AnynameAfterPunctuation", "fncanyname", "--a", {}, 3},
        PosCase{"NotfirstDigit", "fncnotfirst", "abc1", {}, 4},
        PosCase{"NotfirstNone", "fncnotfirst", "abc", {}, 0},
        PosCase{"StartForward", "fncanyname", "a-b", {2}, 3},
        PosCase{"StartBackward", "fncanyname", "a-b", {-2}, 1},
        PosCase{"StartBackwardFromLast", "fncanyname", "-a-", {-10}, 2},
        PosCase{"StartZero", "fncanyname", "abc", {0}, 0},
        PosCase{"StartPastEnd", "fncanyname", "abc", {4}, 0},
        PosCase{"StartMissingIsOne", "fncanyname", "-a", {kNaN}, 2},
        PosCase{"StartTruncated", "fncanyname", "aab", {2.9}, 2},
        PosCase{"StartSmallNegativeTruncatesToZero", "fncanyname", "abc", {-0.5}, 0},
        PosCase{"MinusOneIsPositionOne", "fncnotname", "ab-", {-1}, 0},
        PosCase{"StartHugePositive", "fncanyname", "abc", {1e300}, 0},
        PosCase{"StartHugeNegative", "fncanyname", "abc", {-1e300}, 3},
        PosCase{"StartInfinite", "fncanyname", "abc", {-kInf}, 3},
        PosCase{"EmptyString", "fncanyfirst", "", {}, 0},
        PosCase{"HighBytesAreNotName", "fncnotname", "ab\xe9", {}, 3}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Position, AbsentStartAndOddStrings) {
  zeqtest::Call c;
  c.str("-x").absent(FNC_ARG_NUMERIC);
  double r = kUnset;
  EXPECT_EQ(num_entry("fncanyname")(c.block(), &r), FNC_RC_OK);
  EXPECT_EQ(r, 2);

  zeqtest::Call d;
  d.num(5);
  EXPECT_EQ(num_entry("fncanyname")(d.block(), &r), FNC_RC_OK);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(num_entry("fncanyname")(nullptr, &r), FNC_RC_OK);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(num_entry("fncanyname")(d.block(), nullptr), FNC_RC_OK);
}

// ---------------------------------------------------------------------------
// Multibyte route: positions count characters, through wzsx8ac / wzsxoff.
// ---------------------------------------------------------------------------
struct MbCase {
  const char *fn;
  bool varchar;
  std::string text;
  std::vector<double> start;
  double expected;
};

TEST(PositionMultibyte, CountsCharactersOnBothPaths) {
  host().set_utf8(true);
  const std::string e = "\xc3\xa9";  // U+00E9, not a name character
  const MbCase cases[] = {
      {"fncanyname", true, e + "-a", {}, 3},
      {"fncanyname", false, e + "-a", {}, 3},
      {"fncnotname", true, "ab" + e, {}, 3},
      {"fncnotname", false, "ab" + e, {}, 3},
      {"fncanyfirst", false, "1" + e + "_", {}, 3},
      {"fncnotfirst", true, "ab" + e + "c", {-10}, 3},
      {"fncnotfirst", false, "ab" + e + "c", {-10}, 3},
      {"fncanyname", false, e + e + "a", {-2}, 0},
      {"fncanyname", false, e + "a", {3}, 0},
      {"fncanyname", false, e + "a", {0}, 0},
      {"fncanyname", true, e + "a" + e, {2}, 2},
  };
  for (const MbCase &tc : cases) {
    zeqtest::Call c;
    if (tc.varchar) c.var(tc.text); else c.str(tc.text);
    for (double s : tc.start) c.num(s);
    double r = kUnset;
    host().clear_service_calls();
    EXPECT_EQ(num_entry(tc.fn)(c.block(), &r), FNC_RC_OK);
    EXPECT_EQ(r, tc.expected) << tc.fn << " " << tc.text << " varchar " << tc.varchar;
    int searches = 0;
    for (const auto &call : host().service_calls()) {
      if (call.name != "wzsx8ac") continue;
      ++searches;
      ASSERT_EQ(call.args.size(), 3u);
      EXPECT_EQ(call.args[1] & 512, tc.varchar ? 512 : 0);
    }
    // A varying-length string in UTF-8 is one search call.
    if (tc.varchar) {
      EXPECT_EQ(searches, 1) << tc.fn << " " << tc.text;
    }
  }
  host().set_utf8(false);
}

TEST(PositionMultibyte, ClassCodes) {
  host().set_utf8(true);
  const std::pair<const char *, int> codes[] = {
      {"fncanyname", 269}, {"fncnotname", 13}, {"fncanyfirst", 268}, {"fncnotfirst", 12}};
  for (const auto &[fn, code] : codes) {
    zeqtest::Call c;
    c.var("a");
    double r = kUnset;
    host().clear_service_calls();
    num_entry(fn)(c.block(), &r);
    ASSERT_FALSE(host().service_calls().empty()) << fn;
    EXPECT_EQ(host().service_calls()[0].args[1], code + 512) << fn;
  }
  host().set_utf8(false);
}

// ---------------------------------------------------------------------------
// zfncmunq.
// ---------------------------------------------------------------------------
int shorten_hook(char *text, FncString *value) {
  if (text[0] != '\'') return 0;
  std::strcpy(text, "ab");
  return 1;
}

TEST(Unquote, RewrittenCharacterArgumentsGetNewLength) {
  host().set_unquote_hook(shorten_hook);
  zeqtest::Call c;
  c.form(FNC_FORM_CALL).kind(120).str("'a''b'x").str("plain").var("'v'").num(3);
  auto munq = host().fn<void (*)(FncArgList *)>("zfncmunq");
  munq(c.block());
  EXPECT_EQ(c.string_arg(0)->length, 2);
  EXPECT_EQ(std::string(c.string_arg(0)->data, 2), "ab");
  EXPECT_EQ(c.string_arg(1)->length, 5);
  EXPECT_EQ(c.string_arg(2)->length, 3);  // varying-length values are left alone

  // Other forms and environments are left alone.
  zeqtest::Call d;
  d.form(FNC_FORM_FUNCTION).kind(120).str("'a'");
  munq(d.block());
  EXPECT_EQ(d.string_arg(0)->length, 3);
  zeqtest::Call e;
  e.form(FNC_FORM_CALL).kind(0x58).str("'a'");
  munq(e.block());
  EXPECT_EQ(e.string_arg(0)->length, 3);
  munq(nullptr);
  host().set_unquote_hook(nullptr);
}

}  // namespace
