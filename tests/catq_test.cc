// Tests of CATQ through the reference host: every modifier, the separator
// probe, the choice of quote per item, name and hexadecimal literals, and
// whole-or-nothing writing of quoted items into a short result.
#include <algorithm>
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

int32_t catq(FncArgList *args, FncString *result) {
  static auto f = zeq::typed::entry<zeq::typed::CATQ>(host());
  return f(args, result);
}

using zeqtest::Fixed;

std::vector<std::string> messages() { return zeqtest::catalogue_lines(); }

// Hexadecimal digits of a text as the host's formatter writes them.
std::string hex(const std::string &text) {
  auto wzfmhc = host().fn<int (*)(const void *, int, int, int, char *)>("wzfmhc");
  std::string out(2 * text.size(), '?');
  wzfmhc(text.data(), (int)text.size(), (int)(2 * text.size()), 1, out.data());
  return out;
}

// Modifiers first, then the items; "\x01" holds a byte of class bit 0x40.
struct QCase {
  const char *name;
  std::vector<std::string> args;
  std::string expected;
};

std::string run(const std::vector<std::string> &args, int64_t room = 80, zeqtest::Call *keep = nullptr) {
  zeqtest::Call local;
  zeqtest::Call &c = keep ? *keep : local;
  for (const auto &a : args) c.str(a);
  Fixed r(room);
  EXPECT_EQ(catq(c.block(), &r.rec), FNC_RC_OK);
  EXPECT_TRUE(r.guard_intact());
  return r.text();
}

class Quote : public ::testing::TestWithParam<QCase> {};

TEST_P(Quote, WritesTheList) {
  const QCase &tc = GetParam();
  host().clear_log();
  EXPECT_EQ(run(tc.args), tc.expected);
  EXPECT_TRUE(messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Catq, Quote,
    ::testing::Values(
        // Separator probe and the default quote choice.
        QCase{"QuotesItemHoldingSeparator", {"", "a", "b c", "d"}, "a \"b c\" d"},
        QCase{"CommaSeparator", {"C", "a,b", "c"}, "\"a,b\",c"},
        QCase{"TabSeparator", {"H", "a", "b\tc"}, "a\t\"b\tc\""},
        QCase{"LaterSeparatorLetterWinsCH", {"CH", "a", "b"}, "a\tb"},
        QCase{"LaterSeparatorLetterWinsHC", {"HC", "a", "b"}, "a,b"},
        // Quote characters.
        QCase{"ApostropheAloneAsksNothing", {"1", "it's"}, "it's"},
        QCase{"AllWithApostropheDoubles", {"A1", "it's"}, "'it''s'"},
        QCase{"ApostropheLetterChoosesApostrophe", {"A'", "ab"}, "'ab'"},
        QCase{"DoubleQuoteLetterChoosesDoubleQuote", {"A\"", "ab"}, "\"ab\""},
        QCase{"AllWithDoubleQuoteDoubles", {"A2", "a\"b"}, "\"a\"\"b\""},
        QCase{"PercentChoosesApostrophe", {"A", "50%"}, "'50%'"},
        QCase{"AmpersandChoosesApostrophe", {"A", "a&b"}, "'a&b'"},
        QCase{"PlainTextGetsDoubleQuote", {"A", "abc"}, "\"abc\""},
        QCase{"FewerApostrophesThanDoubleQuotes", {"A", "a'b\"c\""}, "'a''b\"c\"'"},
        QCase{"EmptyItemQuotedUnderA", {"A", "a", "", "b"}, "\"a\" \"\" \"b\""},
        // Lower-case and blank modifiers.
        QCase{"LowerCaseModifiers", {"a", "x"}, "\"x\""},
        QCase{"BlanksIgnored", {"  c  ", "a", "b"}, "a,b"},
        // B and Q.
        QCase{"BQuotesLeadingBlank", {"BC", " a", "b"}, "\" a\",b"},
        QCase{"BQuotesTrailingBlank", {"BC", "a ", "b"}, "\"a \",b"},
        QCase{"LowerB", {"bc", "a ", "b"}, "\"a \",b"},
        QCase{"QQuotesApostrophe", {"Q", "it's"}, "\"it's\""},
        QCase{"QQuotesDoubleQuote", {"QC", "say \"hi\""}, "'say \"hi\"'"},
        QCase{"NoQLeavesQuotes", {"C", "it's"}, "it's"},
        // Empty items and trimming.
        QCase{"SkipsEmptyItems", {"", "a", "", "b"}, "a b"},
        QCase{"MKeepsEmptyItems", {"M", "a", "", "b"}, "a  b"},
        QCase{"MKeepsLeadingEmpty", {"M", "", "a"}, " a"},
        QCase{"MSKeepsBlankItem", {"MS", "a", "   ", "b"}, "a  b"},
        QCase{"SSkipsBlankItem", {"S", "a", "   ", "b"}, "a b"},
        QCase{"TTrimsTrailing", {"AT", " a  "}, "\" a\""},
        QCase{"NoTKeepsBlanks", {"A", "a  "}, "\"a  \""},
        QCase{"STrimsBoth", {"AS", " a  "}, "\"a\""},
        // D separator.
        QCase{"DUsesArgument2Verbatim", {"D", " / ", "x", "a/b"}, "x / \"a/b\""},
        QCase{"SDTrimsSeparator", {"SD", " / ", "x", "a/b"}, "x/\"a/b\""},
        QCase{"TDTrimsTrailing", {"TD", " - ", "x", "y"}, "x -y"},
        QCase{"NDTrimsTrailing", {"ND", "- ", "x", "y"}, "x-y"},
        QCase{"DTStaysVerbatim", {"DT", "- ", "x", "y"}, "x- y"},
        QCase{"DNStaysVerbatim", {"DN", "- ", "x", "y"}, "x- y"},
        QCase{"DDFirstCounts", {"DD", "-", "x", "y"}, "x-y"},
        QCase{"DCUsesComma", {"DC", "-", "x", "y-z"}, "x,y-z"},
        QCase{"DCDUsesSeparatorAgain", {"DCD", "-", "x", "y"}, "x-y"},
        QCase{"DAllBlankProbesBlank", {"D", "  ", "a b", "c"}, "\"a b\"  c"},
        QCase{"CDAllBlankProbesComma", {"CD", "  ", "a b", "c,d"}, "a b  \"c,d\""},
        QCase{"DEmptyProbesNothing", {"D", "", "a b", "c"}, "a bc"},
        QCase{"DProbeNeedsWholeSeparator", {"D", "::", "a:b", "a::b"}, "a:b::\"a::b\""},
        // Name literals.
        QCase{"NValidNamePlain", {"N", "abc_1"}, "abc_1"},
        QCase{"NDigitFirst", {"N", "abc", "1x"}, "abc \"1x\"n"},
        QCase{"ANAllNameLiterals", {"AN", "abc", "1x"}, "\"abc\"n \"1x\"n"},
        QCase{"NInvalidCharacter", {"N", "a-b"}, "\"a-b\"n"},
        QCase{"NTrimsTrailing", {"N", "abc  "}, "abc"},
        QCase{"NApostropheUsesDoubleQuote", {"N", "it's"}, "\"it's\"n"},
        QCase{"NEmptyItemSkipped", {"N", "a", "", "b"}, "a b"},
        QCase{"MNEmptyItemPlain", {"MN", "a", "", "b"}, "a  b"},
        QCase{"ANEmptyItemLiteral", {"AN", ""}, "\"\"n"},
        // Hexadecimal literals (X tests class bit 0x40).
        QCase{"XLeavesPlainText", {"X", "abc"}, "abc"},
        QCase{"XEmptyItemSkipped", {"X", "a", "", "b"}, "a b"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CatqHex, ItemWithClassBit40IsHexLiteral) {
  const std::string item = std::string("a") + '\x01';
  EXPECT_EQ(run({"X", item}), "'" + hex(item) + "'x");
  EXPECT_EQ(run({"X2", item}), "\"" + hex(item) + "\"x");
  EXPECT_EQ(run({"XA", "ab"}), "'" + hex("ab") + "'x");
  EXPECT_EQ(run({"XA", ""}), "''x");
  // X wins over N.
  EXPECT_EQ(run({"XN", item + "-"}), "'" + hex(item + "-") + "'x");
  EXPECT_EQ(hex("ab").size(), 4u);
}

TEST(CatqNumbers, FormattedNotTrimmed) {
  zeqtest::Call c;
  c.str("").num(1).num(2.5);
  Fixed r(40);
  ASSERT_EQ(catq(c.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), "1 2.5");

  zeqtest::Call q;
  q.str("A").num(12);
  Fixed s(40);
  ASSERT_EQ(catq(q.block(), &s.rec), FNC_RC_OK);
  EXPECT_EQ(s.text(), "\"12\"");
}

TEST(CatqModifiers, InvalidLettersReportedAndSkipped) {
  host().clear_log();
  zeqtest::Call c;
  c.str("Zc!").str("a,b").str("c");
  Fixed r(40);
  EXPECT_EQ(catq(c.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), "\"a,b\",c");
  const auto msgs = host().log();
  std::vector<int> numbers = host().message_numbers();
  EXPECT_EQ(numbers, (std::vector<int>{6, 6}));
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[0].args.at(0), "CATQ");
  EXPECT_EQ(msgs[1].args.at(0), "CATQ");
}

// ---------------------------------------------------------------------------
// Short results: plain items cut, quoted items whole or not at all.
// ---------------------------------------------------------------------------
struct ShortCase {
  const char *name;
  std::vector<std::string> args;
  int64_t room;
  std::string expected;
  int marked;  // 0-based argument, -1 for none
  const char *message;
};

class Short : public ::testing::TestWithParam<ShortCase> {};

TEST_P(Short, FillsWhatFitsAndReports) {
  const ShortCase &tc = GetParam();
  zeqtest::Call c;
  for (const auto &a : tc.args) c.str(a);
  Fixed r(tc.room);
  host().clear_log();
  EXPECT_EQ(catq(c.block(), &r.rec), *tc.message ? FNC_RC_NOTE : FNC_RC_OK);
  EXPECT_EQ(r.text(), tc.expected);
  EXPECT_TRUE(r.guard_intact());
  for (int i = 0; i < (int)tc.args.size(); i++)
    EXPECT_EQ(c.mark(i), i == tc.marked ? FNC_MARK_BAD : 0) << "argument " << i + 1;
  std::vector<std::string> want;
  if (*tc.message) want.push_back(tc.message);
  EXPECT_EQ(messages(), want);
}

INSTANTIATE_TEST_SUITE_P(
    Catq, Short,
    ::testing::Values(
        ShortCase{"QuotedItemNotWrittenInPart", {"A", "abc", "de"}, 6, "\"abc\" ", 2, "28:CATQ,10,6"},
        ShortCase{"PlainItemCut", {"", "abc", "def"}, 5, "abc d", 2, "28:CATQ,7,5"},
        ShortCase{"LaterItemsNotWritten", {"A", "abcdef", "x"}, 6, "", 1, "28:CATQ,12,6"},
        ShortCase{"NameLiteralExactFit", {"N", "a-b"}, 6, "\"a-b\"n", -1, ""},
        ShortCase{"NameLiteralOneShort", {"N", "a-b"}, 5, "", 1, "28:CATQ,6,5"},
        ShortCase{"HexOneShort", {"XA", "ab"}, 6, "", 1, "28:CATQ,7,6"},
        ShortCase{"RoomZero", {"", "a"}, 0, "", 1, "28:CATQ,1,0"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CatqShort, HexExactFitWritesWholeLiteral) {
  zeqtest::Call c;
  c.str("XA").str("ab");
  Fixed r(7);
  EXPECT_EQ(catq(c.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), "'" + hex("ab") + "'x");
}

TEST(CatqShort, NotesLimitedPerCallSite) {
  zeqtest::Call c;
  c.kind(0x88).str("A").str("abc");
  std::vector<int> seen;
  for (int n = 0; n < 6; n++) {
    Fixed r(3);
    host().clear_log();
    EXPECT_EQ(catq(c.block(), &r.rec), FNC_RC_NOTE);
    for (int m : host().message_numbers()) seen.push_back(m);
  }
  EXPECT_EQ(seen, (std::vector<int>{28, 28, 28, 28, 28, 29}));
}

// CATQ fills the room the result has and never sizes a growable result.
TEST(CatqSizing, GrowableResultIsNotGrown) {
  zeqtest::Call c;
  c.str("").str("abc");
  zeqtest::Result r(4000, true, 0);
  host().clear_log();
  EXPECT_EQ(catq(c.block(), &r.rec), FNC_RC_NOTE);
  EXPECT_EQ(r.rec.length, 0);
  EXPECT_EQ(r.grow.resizes, 0);
  EXPECT_EQ(messages(), std::vector<std::string>{"28:CATQ,3,0"});

  zeqtest::Call d;
  d.str("").str("abc").str("de");
  zeqtest::Result g(4000, true, 5);
  EXPECT_EQ(catq(d.block(), &g.rec), FNC_RC_NOTE);
  EXPECT_EQ(g.text(), "abc d");
}

TEST(CatqGuards, NullAndOddArguments) {
  EXPECT_EQ(catq(nullptr, nullptr), FNC_RC_NOTE);
  // No modifier argument at all, a numeric modifier argument, an absent item.
  zeqtest::Call c;
  c.num(3).str("a").absent().str("b");
  Fixed r(20);
  EXPECT_EQ(catq(c.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), "a b");
  zeqtest::Call d;
  Fixed s(20);
  EXPECT_EQ(catq(d.block(), &s.rec), FNC_RC_OK);
  EXPECT_EQ(s.rec.length, 0);
  // D without its argument: empty separator, items from argument 3 on.
  zeqtest::Call e;
  e.str("D").absent().str("x").str("y");
  Fixed t(20);
  EXPECT_EQ(catq(e.block(), &t.rec), FNC_RC_OK);
  EXPECT_EQ(t.text(), "xy");
}

// CATQ with an item that is the result record itself: the quotes written at
// the front were read back as input and doubled without end, past the room.
TEST(CatqGuards, ItemSharingTheResultStaysInItsRoom) {
  constexpr unsigned char kGuard = 0xA5;
  constexpr size_t kGuardBytes = 16;
  std::vector<char> buf(6 + kGuardBytes, (char)kGuard);
  std::memcpy(buf.data(), "\"\"\"\"", 4);
  FncString result{6, 4, buf.data(), nullptr, 0};
  std::string mods = "A";
  FncString sm{1, 1, mods.data(), nullptr, 0};
  std::vector<uint64_t> raw((FNC_ARGLIST_SIZE(2) + 7) / 8, 0);
  auto *b = reinterpret_cast<FncArgList *>(raw.data());
  b->callForm = FNC_FORM_FUNCTION;
  b->argCount = 2;
  b->args[0] = {FNC_ARG_CHAR, 0, {}, &sm};
  b->args[1] = {FNC_ARG_CHAR, 0, {}, &result};
  const int32_t rc = zeq::typed::entry<zeq::typed::CATQ>(host())(b, &result);
  EXPECT_TRUE(rc == FNC_RC_OK || rc == FNC_RC_NOTE) << rc;
  EXPECT_GE(result.length, 0);
  EXPECT_LE(result.length, 6);
  for (size_t i = 6; i < buf.size(); i++) EXPECT_EQ((unsigned char)buf[i], kGuard) << "byte " << i;
}

}  // namespace
