// Tests of SCAN through the reference host: both calling forms, word rules
// (M, Q, R, T, B, negative n), bad word numbers and targets, result sizing,
// the x environment, agreement with the plain splitter of
// tests/reference/words_reference.h, and the multibyte route.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "charfn/entry_types.h"
#include "host/host.h"
#include "tests/reference/countfind_reference.h"
#include "tests/reference/words_reference.h"
#include "tests/support/call.h"
#include "tests/support/host_fixture.h"

namespace {

using zeqtest::host;

using ScanEntry = zeq::typed::CharEntry;
ScanEntry fncscan() { return zeq::typed::entry<zeq::typed::SCAN>(host()); }

using A = zeqtest::Arg;
using zeqtest::C;
using zeqtest::N;
using zeqtest::Miss;
using zeqtest::AbsentNum;
inline A AbsentChr() { return zeqtest::Absent(); }

// A fixed result with 16 guard bytes past maxLength.
struct Fixed {
  std::string buf;
  FncString rec{};
  explicit Fixed(int64_t max_length) {
    buf.assign((size_t)max_length + 16, '#');
    rec.maxLength = max_length;
    rec.length = -7;
    rec.data = buf.data();
  }
  std::string text() const { return rec.length < 0 ? "<unset>" : std::string(rec.data, (size_t)rec.length); }
  bool guard_intact() const { return buf.compare((size_t)rec.maxLength, 16, std::string(16, '#')) == 0; }
};

std::vector<int> messages() { return host().message_numbers(); }

// Function form: SCAN(args...) into a fixed result of `room`.
struct Answer {
  int32_t rc;
  std::string word;
};
Answer scan(const std::vector<A> &args, int64_t room = 64, uint8_t kind = 0) {
  zeqtest::Call c;
  zeqtest::add_args(c, args);
  c.form(FNC_FORM_FUNCTION).kind(kind);
  Fixed r(room);
  const int32_t rc = fncscan()(c.block(), &r.rec);
  EXPECT_TRUE(r.guard_intact());
  return {rc, r.text()};
}

// SCAN(string, n) into a fixed result of `room`, the block naming `task`
// (an outside host's way) or not (the current task).
std::string scan_plain(const std::string &s, int64_t n, int64_t room, FncTask *task) {
  zeqtest::Call c;
  zeqtest::add_args(c, {C(s), N((double)n)});
  c.task(task);
  Fixed r(room);
  fncscan()(c.block(), &r.rec);
  EXPECT_TRUE(r.guard_intact());
  return r.text();
}

// ---------------------------------------------------------------------------
// Function form: the word rules.
// ---------------------------------------------------------------------------
struct WordCase {
  const char *name;
  std::vector<A> args;
  const char *expected;
};

class ScanWords : public ::testing::TestWithParam<WordCase> {};

TEST_P(ScanWords, AnswersTheWord) {
  const WordCase &tc = GetParam();
  host().clear_log();
  const Answer a = scan(tc.args);
  EXPECT_EQ(a.rc, FNC_RC_OK);
  EXPECT_EQ(a.word, tc.expected);
  EXPECT_TRUE(messages().empty());
}

const char kQuoted[] = "a\"b c\"d";

INSTANTIATE_TEST_SUITE_P(
    Scan, ScanWords,
    ::testing::Values(
        WordCase{"DefaultsSecondWord", {C("a b  c"), N(2)}, "b"},
        WordCase{"DefaultsLastWord", {C("a b  c"), N(-1)}, "c"},
        WordCase{"MissingWordIsOneBlank", {C("a b  c"), N(4)}, " "},
        WordCase{"DefaultsIncludePunctuation", {C("x.y(z"), N(3)}, "z"},
        WordCase{"DefaultsExcludeUnderscore", {C("a_b c"), N(1)}, "a_b"},
        WordCase{"FractionlessLargeN", {C("a b"), N(2147483647)}, " "},
        WordCase{"MostNegativeN", {C("a b"), N(-2147483648.0)}, " "},
        WordCase{"ListReplacesDefaults", {C("a.b,c"), N(2), C(",")}, "c"},
        WordCase{"OneCharacterList", {C("x;y;;z"), N(3), C(";")}, "z"},
        WordCase{"AbsentListValueMeansNoDelimiters", {C("a b"), N(1), AbsentChr()}, "a b"},
        WordCase{"EmptyListMeansNoDelimiters", {C("a b"), N(1), C("")}, "a b"},
        WordCase{"MFirstEmpty", {C(",a,,b,"), N(1), C(","), C("M")}, ""},
        WordCase{"MSecond", {C(",a,,b,"), N(2), C(","), C("M")}, "a"},
        WordCase{"MThirdEmpty", {C(",a,,b,"), N(3), C(","), C("M")}, ""},
        WordCase{"MFourth", {C(",a,,b,"), N(4), C(","), C("M")}, "b"},
        WordCase{"MBeyondIsEmpty", {C(",a,,b,"), N(6), C(","), C("M")}, ""},
        WordCase{"MFromRight", {C(",a,,b,"), N(-2), C(","), C("M")}, "b"},
        WordCase{"MFromRightBeyondStart", {C("a,b"), N(-5), C(","), C("M")}, ""},
        WordCase{"BCountsFromRight", {C("a b c"), N(1), C(" "), C("B")}, "c"},
        WordCase{"BAndNegativeStillFromRight", {C("a b c"), N(-2), C(" "), C("B")}, "b"},
        WordCase{"WithoutQQuotesSplit", {C(kQuoted), N(1), C(" ")}, "a\"b"},
        WordCase{"QuotedOneWord", {C(kQuoted), N(1), C(" "), C("Q")}, kQuoted},
        WordCase{"QuotedFromRight", {C("x 'a b' y"), N(-2), C(" "), C("Q")}, "'a b'"},
        WordCase{"QuoteNeverDelimits", {C("a\"b"), N(1), C("\""), C("Q")}, "a\"b"},
        WordCase{"UnclosedQuoteRunsToEnd", {C("a \"b c"), N(2), C(" "), C("Q")}, "\"b c"},
        WordCase{"UnclosedQuoteFromRightRunsToStart", {C("a b\" c"), N(-2), C(" "), C("Q")}, "a b\""},
        WordCase{"DoubledQuoteStaysQuoted", {C("\"a\"\" b\" c"), N(1), C(" "), C("Q")}, "\"a\"\" b\""},
        WordCase{"OtherQuoteIsOrdinaryInside", {C("\"a' b\" c"), N(2), C(" "), C("Q")}, "c"},
        WordCase{"QuotesWithM", {C("a,'b,c',,d"), N(4), C(","), C("QM")}, "d"},
        WordCase{"RTrimsWord", {C("a , b"), N(2), C(","), C("R")}, "b"},
        WordCase{"WithoutRBlanksStay", {C("a , b"), N(2), C(",")}, " b"},
        WordCase{"RBlankWordBecomesEmpty", {C("a,  ,b"), N(2), C(","), C("R")}, ""},
        WordCase{"RMissingWordIsEmpty", {C("a"), N(2), C(","), C("R")}, ""},
        WordCase{"RQUnquotes", {C("\"x y\""), N(1), C(" "), C("RQ")}, "x y"},
        WordCase{"RQCollapsesDoubledQuotes", {C("'it''s' z"), N(1), C(" "), C("RQ")}, "it's"},
        WordCase{"TMDropsTrailingBlankWords", {C("a,b   "), N(2), C(","), C("TM")}, "b"},
        WordCase{"TBlankListBecomesEmpty", {C("a b"), N(1), C("   "), C("T")}, "a b"},
        WordCase{"MWithoutTKeepsBlankWords", {C("a b  "), N(4), C(" "), C("M")}, ""},
        WordCase{"EmptyStringIsBlank", {C(""), N(1)}, " "},
        WordCase{"EmptyStringWithMIsEmpty", {C(""), N(1), C(","), C("M")}, ""},
        WordCase{"AbsentStringIsEmpty", {AbsentChr(), N(1)}, " "}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Word numbers SCAN refuses.
// ---------------------------------------------------------------------------
TEST(ScanWordNumber, RefusedValuesMarkArgumentTwo) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<A> bad = {N(0),     N(1.5),        N(-0.5), Miss(), N(2147483648.0),
                              N(-2147483649.0), N(inf), N(-inf), N(1e300), AbsentNum(),
                              N(2147483647.5), N(-2147483648.5), N(-0.0), N(std::nan(""))};
  for (const A &n : bad) {
    zeqtest::Call c;
    zeqtest::add_args(c, {C("a b"), n});
    Fixed r(8);
    host().clear_log();
    EXPECT_EQ(fncscan()(c.block(), &r.rec), FNC_RC_NOTE) << n.x;
    EXPECT_EQ(r.rec.length, 0) << n.x;
    EXPECT_EQ(c.mark(1), FNC_MARK_BAD) << n.x;
    EXPECT_EQ(c.mark(0), 0);
    EXPECT_TRUE(messages().empty());
  }
}

TEST(ScanWordNumber, MissingNumberArgumentIsRefused) {
  zeqtest::Call c;
  c.str("a b");
  Fixed r(8);
  EXPECT_EQ(fncscan()(c.block(), &r.rec), FNC_RC_NOTE);
  EXPECT_EQ(r.rec.length, 0);
}

// ---------------------------------------------------------------------------
// Call form: position and length targets.
// ---------------------------------------------------------------------------
struct Target {
  double position, length;
};

Target call_scan(const std::vector<A> &args, int32_t *rc, uint8_t kind = 0) {
  zeqtest::Call c;
  zeqtest::add_args(c, args);
  c.form(FNC_FORM_CALL).kind(kind);
  *rc = fncscan()(c.block(), nullptr);
  const double *p = c.number_arg(2), *l = c.number_arg(3);
  return {p ? *p : -1, l ? *l : -1};
}

TEST(ScanCallForm, StoresPositionAndLength) {
  struct Case {
    std::vector<A> args;
    double position, length;
  } cases[] = {
      {{C("a b"), N(2), N(-1), N(-1)}, 3, 1},
      {{C("a b"), N(3), N(-1), N(-1)}, 0, 0},
      {{C("  abc de"), N(1), N(-1), N(-1)}, 3, 3},
      {{C(",a,,b,"), N(5), N(-1), N(-1), C(","), C("M")}, 7, 0},
      {{C(",a,,b,"), N(-1), N(-1), N(-1), C(","), C("M")}, 7, 0},
      {{C(",a,,b,"), N(6), N(-1), N(-1), C(","), C("M")}, 0, 0},
      {{C("a,b"), N(-4), N(-1), N(-1), C(","), C("M")}, 0, 0},
      {{C(""), N(1), N(-1), N(-1), C(","), C("M")}, 1, 0},
      {{C("ab  cd"), N(2), N(-1), N(-1), C("x"), C("G")}, 0, 0},
      {{C("a ,  b"), N(2), N(-1), N(-1), C(","), C("R")}, 6, 1},
      {{C("a-b c"), N(-1), N(-1), N(-1)}, 5, 1},
  };
  for (const Case &tc : cases) {
    int32_t rc;
    const Target t = call_scan(tc.args, &rc);
    EXPECT_EQ(rc, FNC_RC_OK);
    EXPECT_EQ(t.position, tc.position) << tc.args[0].s << " n=" << tc.args[1].x;
    EXPECT_EQ(t.length, tc.length) << tc.args[0].s << " n=" << tc.args[1].x;
  }
}

TEST(ScanCallForm, BadNumberGivesMissingTargets) {
  zeqtest::Call c;
  zeqtest::add_args(c, {C("a b"), N(0.5), N(1), N(1)});
  c.form(FNC_FORM_CALL);
  host().clear_log();
  EXPECT_EQ(fncscan()(c.block(), nullptr), FNC_RC_NOTE);
  EXPECT_TRUE(std::isnan(*c.number_arg(2)));
  EXPECT_TRUE(std::isnan(*c.number_arg(3)));
  uint64_t bits;
  std::memcpy(&bits, c.number_arg(2), 8);
  EXPECT_EQ(bits, FNC_MISSING_BITS);
  EXPECT_EQ(c.mark(1), FNC_MARK_BAD);
  EXPECT_TRUE(messages().empty());
}

TEST(ScanCallForm, AbsentTargetsAreReportedWithMessage32) {
  struct Case {
    std::vector<A> args;
    bool mark;
    std::vector<int> messages;
  } cases[] = {
      {{C("a b"), N(1), AbsentNum(), N(0)}, false, {32}},
      {{C("a b"), N(1), N(0), AbsentNum()}, false, {32}},
      {{C("a b"), N(1)}, false, {32, 32}},
      {{C("a b"), N(0), AbsentNum(), AbsentNum()}, true, {32, 32}},
  };
  for (const Case &tc : cases) {
    zeqtest::Call c;
    zeqtest::add_args(c, tc.args);
    c.form(FNC_FORM_CALL);
    host().clear_log();
    EXPECT_EQ(fncscan()(c.block(), nullptr), FNC_RC_NOTE);
    EXPECT_EQ(messages(), tc.messages);
    EXPECT_EQ(c.mark(1), tc.mark ? FNC_MARK_BAD : 0);
    for (int t = 2; t < 4 && t < (int)tc.args.size(); t++)
      if (tc.args[t].k == A::Num) {
        EXPECT_TRUE(std::isnan(*c.number_arg(t)));
      }
  }
  // The message names the function and the argument number.
  zeqtest::Call c;
  zeqtest::add_args(c, {C("a b"), N(1), N(0), AbsentNum()});
  c.form(FNC_FORM_CALL);
  host().clear_log();
  fncscan()(c.block(), nullptr);
  ASSERT_EQ(host().log().size(), 1u);
  EXPECT_EQ(host().log()[0].args, (std::vector<std::string>{"SCAN", "4"}));
}

TEST(ScanCallForm, XEnvironmentLetsTheHostRewriteArguments) {
  // In the x environment the host first rewrites the character arguments;
  // SCAN then works on the rewritten text and its new length.
  host().set_unquote_hook([](char *text, FncString *) -> int {
    if (text[0] != '#') return 0;
    std::strcpy(text, "q rs");
    return 1;
  });
  int32_t rc;
  Target t = call_scan({C("#abcdefgh"), N(2), N(-1), N(-1)}, &rc, 120);
  EXPECT_EQ(rc, FNC_RC_OK);
  EXPECT_EQ(t.position, 3);
  EXPECT_EQ(t.length, 2);
  t = call_scan({C("#abcdefgh"), N(2), N(-1), N(-1)}, &rc, 0);
  EXPECT_EQ(t.position, 0);
  host().set_unquote_hook(nullptr);
}

// ---------------------------------------------------------------------------
// Result sizing.
// ---------------------------------------------------------------------------
TEST(ScanResult, CutToTheRoom) {
  EXPECT_EQ(scan({C("abcdef gh"), N(1)}, 3).word, "abc");
  EXPECT_EQ(scan({C("a b"), N(3)}, 0).word, "");  // no room even for the blank
  EXPECT_EQ(scan({C("\"x y\""), N(1), C(" "), C("RQ")}, 3).word, "x y");
  EXPECT_EQ(scan({C("\"abcdef\""), N(1), C(" "), C("RQ")}, 4).word, "abcd");
}

// Words of every length up to past 16 bytes, into rooms that fit them, cut
// them, or hold one byte: the bytes written are the word's first ones and
// nothing past the room changes (Fixed checks its guard bytes).
TEST(ScanResult, WordsOfEveryLengthIntoEveryRoom) {
  for (int length = 1; length <= 40; length++) {
    std::string word;
    for (int i = 0; i < length; i++) word += char('a' + i % 26);
    const std::string s = "x " + word + " y";
    for (int64_t room : {(int64_t)length, (int64_t)length + 5, (int64_t)length - 1, (int64_t)1}) {
      if (room < 1) continue;
      const std::string want = word.substr(0, (size_t)std::min<int64_t>(room, length));
      EXPECT_EQ(scan({C(s), N(2)}, room).word, want) << length << " into " << room;
      EXPECT_EQ(scan({C(s), N(-2)}, room).word, want) << length << " into " << room;
      EXPECT_EQ(scan({C(s), N(2), C(" ")}, room).word, want) << length << " into " << room;
    }
  }
}

TEST(ScanResult, GrowableResultGrowsToTheWord) {
  const std::string big(3000, 'w');
  zeqtest::Call c;
  zeqtest::add_args(c, {C("a " + big), N(2)});
  zeqtest::Result r(5000, true, 0);
  ASSERT_EQ(fncscan()(c.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), big);
  EXPECT_EQ(r.rec.capacity, 3072);
}

TEST(ScanResult, FailedGrowthIsNoRoom) {
  zeqtest::Call c;
  zeqtest::add_args(c, {C("abc def"), N(2)});
  zeqtest::Result r(100, true, 0);
  r.grow.fail = true;
  r.rec.length = 42;
  EXPECT_EQ(fncscan()(c.block(), &r.rec), FNC_RC_NOROOM);
  EXPECT_EQ(r.rec.length, 42);
}

// One growable result kept across the calls of a site: it grows only when
// the word needs more than its buffer holds (to the next 1024, at most
// maxLength), never for a word that fits, and a result without data is
// always grown.  Plain calls and listed ones, with words at either end of a
// long string, alike.
TEST(ScanResult, GrowableResultGrowsOnlyWhenTheWordNeedsIt) {
  struct Step {
    size_t word;       // bytes of the wanted word
    int64_t capacity;  // capacity afterwards
    int resizes;       // resizes so far
  };
  const Step steps[] = {{3, 1024, 1}, {20, 1024, 1}, {1024, 1024, 1}, {1025, 1500, 2}, {5, 1500, 2}, {1600, 1500, 2}};
  for (bool listed : {false, true}) {
    for (int64_t n : {2, -2}) {
      zeqtest::Result r(1500, true, 0);
      for (const Step &st : steps) {
        const std::string word(st.word, 'w'), filler(80, 'f');
        const std::string s = n > 0 ? "x " + word + " " + filler : filler + " " + word + " x";
        zeqtest::Call c;
        zeqtest::add_args(c, listed ? std::vector<A>{C(s), N((double)n), C(" ")} : std::vector<A>{C(s), N((double)n)});
        c.task(host().task());
        ASSERT_EQ(fncscan()(c.block(), &r.rec), FNC_RC_OK);
        const std::string where = "word of " + std::to_string(st.word) + (listed ? " listed" : "") + " n=" + std::to_string(n);
        EXPECT_EQ(r.text(), word.substr(0, 1500)) << where;
        EXPECT_EQ(r.rec.capacity, st.capacity) << where;
        EXPECT_EQ(r.grow.resizes, st.resizes) << where;
      }
    }
  }
}

// Results with little or no room answer the plain call (a word near an end
// of a long string, the block naming its task) as they answer the listed
// path: same status, length,
// text and capacity.
TEST(ScanResult, SmallRoomsAnswerAsTheListedPath) {
  struct Room {
    int64_t max_length;
    bool growable;
    int64_t capacity;
  } rooms[] = {{0, false, 0}, {-3, false, 0}, {3, false, 0}, {0, true, 0}, {2, true, 0}, {2, true, 1}, {40, true, 8}, {-3, true, 8}};
  const std::string s = std::string(70, 'f') + " abcdefghij. x";
  for (const Room &rm : rooms) {
    for (int64_t n : {-2, 1}) {
      zeqtest::Result plain(rm.max_length, rm.growable, rm.capacity), listed(rm.max_length, rm.growable, rm.capacity);
      zeqtest::Call a, b;
      zeqtest::add_args(a, {C(s), N((double)n)});
      zeqtest::add_args(b, {C(s), N((double)n), C(" .<(+&!$*);^-/,%|")});
      a.task(host().task());
      const std::string where = "max " + std::to_string(rm.max_length) + " cap " + std::to_string(rm.capacity) +
                                (rm.growable ? " growable" : "") + " n=" + std::to_string(n);
      EXPECT_EQ(fncscan()(a.block(), &plain.rec), fncscan()(b.block(), &listed.rec)) << where;
      EXPECT_EQ(plain.rec.length, listed.rec.length) << where;
      if (plain.rec.length > 0) {
        EXPECT_EQ(plain.text(), listed.text()) << where;
      }
      EXPECT_EQ(plain.rec.capacity, listed.rec.capacity) << where;
    }
  }
}

TEST(ScanResult, XEnvironmentAnswersEmptyForMissingWord) {
  EXPECT_EQ(scan({C("a"), N(2)}, 8, 120).word, "");
  EXPECT_EQ(scan({C("a b"), N(2)}, 8, 120).word, "b");
}

// ---------------------------------------------------------------------------
// R with Q unquotes the word as zdequote does.
// ---------------------------------------------------------------------------
TEST(ScanDequote, AgreesWithZdequote) {
  auto zdequote = host().fn<int32_t (*)(const char *, int32_t, char *, int32_t)>("zdequote");
  ASSERT_NE(zdequote, nullptr);
  const char *words[] = {"\"a\"", "'it''s'", "'ab'cd'", "\"\"", "\"", "'a\"b'", "\"x\"\"\"",
                         "'a'b''c'", "plain", "'half"};
  for (const char *w : words) {
    char buf[64];
    const int32_t n = zdequote(w, (int32_t)std::strlen(w), buf, sizeof buf);
    EXPECT_EQ(scan({C(w), N(1), C(" "), C("RQ")}).word, std::string(buf, (size_t)n)) << w;
  }
}

// ---------------------------------------------------------------------------
// Fast code against the plain splitter on random strings.
// ---------------------------------------------------------------------------
TEST(ScanReference, RandomStringsAgree) {
  std::mt19937 rng(20240607);
  const char alphabet[] = "ab ,;\"'";
  int checked = 0;
  for (int round = 0; round < 3000; round++) {
    std::string s(rng() % 14, ' ');
    for (char &ch : s) ch = alphabet[rng() % (sizeof alphabet - 1)];
    const bool M = rng() & 1, Q = rng() & 1, B = rng() & 1;
    std::string mods = std::string(M ? "M" : "") + (Q ? "Q" : "") + (B ? "B" : "");
    zeqref::DelimSet set{};
    set[' '] = set[','] = true;
    if (Q) set['"'] = set['\''] = false;
    for (int64_t n : {1, 2, 3, 5, -1, -2, -4}) {
      const bool rtl = B || n < 0;
      zeqref::Word w{};
      const bool found = zeqref::nth_word(s, set, M, Q, rtl, n < 0 ? -n : n, &w);
      int32_t rc;
      const Target t = call_scan({C(s), N((double)n), N(-1), N(-1), C(" ,"), C(mods)}, &rc);
      ASSERT_EQ(rc, FNC_RC_OK);
      const double want_pos = found ? (double)(w.offset + 1) : 0;
      const double want_len = found ? (double)w.length : 0;
      EXPECT_EQ(t.position, want_pos) << "'" << s << "' n=" << n << " " << mods;
      EXPECT_EQ(t.length, want_len) << "'" << s << "' n=" << n << " " << mods;

      const Answer a = scan({C(s), N((double)n), C(" ,"), C(mods)});
      std::string want = found ? (w.offset >= 0 ? s.substr((size_t)w.offset, (size_t)w.length) : "")
                               : (M ? "" : " ");
      EXPECT_EQ(a.word, want) << "'" << s << "' n=" << n << " " << mods;
      checked++;
    }
  }
  EXPECT_EQ(checked, 3000 * 7);
}

// Longer lines, so that words cross the 64-byte windows of the unquoted
// search: every delimiter set and rule against the plain splitter, word
// numbers from both ends up to past the last word.
TEST(ScanReference, LongLinesAgree) {
  struct Setup {
    const char *name;
    bool with_list;  // false: only string and word number (the defaults)
    std::string list, mods;
    std::string delims;  // the set the list and modifiers make
    bool invert;         // K
  } setups[] = {
      {"defaults", false, "", "", " .<(+&!$*);^-/,%|", false},
      {"blank comma", true, " ,", "", " ,", false},
      {"blank with M", true, " ", "M", " ", false},
      {"comma with MB", true, ",", "MB", ",", false},
      {"complement of ab", true, "ab", "K", "ab", true},
      {"digits by class", true, "", "D", "0123456789", false},
      {"x either case", true, "x", "I", "xX", false},
      {"high bytes", true, "\xe9\xff", "", "\xe9\xff", false},
      {"empty list", true, "", "", "", false},
  };
  const char alphabet[] = "abxX09 ,.;|-\xe9\xff";
  std::mt19937 rng(20261207);
  for (const Setup &su : setups) {
    zeqref::DelimSet set{};
    for (unsigned char ch : su.delims) set[ch] = true;
    if (su.invert)
      for (bool &b : set) b = !b;
    const bool M = su.mods.find('M') != std::string::npos;
    const bool B = su.mods.find('B') != std::string::npos;
    for (size_t len : {0, 1, 5, 63, 64, 65, 127, 128, 129, 200, 300}) {
      for (int variant = 0; variant < 5; variant++) {
        // Variant 0 is blank only; variant 3 has long words that cross the
        // 64-byte windows.
        std::string s(len, ' ');
        for (char &ch : s) {
          if (variant == 3)
            ch = rng() % 24 == 0 ? alphabet[6 + rng() % 6] : alphabet[rng() % 6];
          else if (variant > 0)
            ch = alphabet[rng() % (sizeof alphabet - 1)];
        }
        std::vector<int64_t> numbers = {1000, -1000};
        for (int64_t k = 1; k <= 20; k++) numbers.insert(numbers.end(), {k, -k});
        const size_t count = zeqref::split_words(s, set, M, false, false).size();
        for (int64_t extra : {0, 1, 2}) numbers.insert(numbers.end(), {(int64_t)count + extra, -(int64_t)count - extra});
        for (int64_t n : numbers) {
          if (n == 0) continue;
          zeqref::Word w{};
          const bool found = zeqref::nth_word(s, set, M, false, B || n < 0, n < 0 ? -n : n, &w);
          std::vector<A> fargs = {C(s), N((double)n)};
          std::vector<A> cargs = {C(s), N((double)n), N(-1), N(-1)};
          if (su.with_list) {
            fargs.insert(fargs.end(), {C(su.list), C(su.mods)});
            cargs.insert(cargs.end(), {C(su.list), C(su.mods)});
          }
          const std::string where = std::string(su.name) + " len=" + std::to_string(len) + " n=" + std::to_string(n);
          int32_t rc;
          const Target t = call_scan(cargs, &rc);
          ASSERT_EQ(rc, FNC_RC_OK) << where;
          ASSERT_EQ(t.position, found ? (double)(w.offset + 1) : 0) << where << " '" << s << "'";
          ASSERT_EQ(t.length, found ? (double)w.length : 0) << where << " '" << s << "'";
          const Answer a = scan(fargs, 512);
          const std::string want = found ? (w.offset >= 0 ? s.substr((size_t)w.offset, (size_t)w.length) : "")
                                         : (M ? "" : " ");
          ASSERT_EQ(a.word, want) << where << " '" << s << "'";
        }
      }
    }
  }
}

// The default delimiters are the task's table as it stands, also when it no
// longer holds the 17 defaults; the plain call (string and word number)
// and the call form read it alike, with and without the task in the block.
// The string is longer than the 64 bytes that the word search reads at once.
TEST(ScanDefaults, FollowTheTaskTable) {
  scan({C("a b"), N(1)});  // the context and its table exist from here on
  FncTask *task = host().task();
  auto *ctx = static_cast<FncContext *>(task->slots[FNC_TASK_SLOT_CONTEXT]);
  ASSERT_NE(ctx, nullptr);
  uint8_t *table = ctx->punctTable;
  const uint8_t saved_x = table[uint8_t{'x'}], saved_blank = table[uint8_t{' '}];
  table[uint8_t{'x'}] = 1;
  table[uint8_t{' '}] = 0;
  std::string s;
  for (int i = 0; i < 10; i++) s += "ab cxde fx";
  for (int64_t n : {1, 2, 3, -1, -2, -3}) {
    zeqref::DelimSet set{};
    for (int b = 0; b < 256; b++) set[b] = table[b] != 0;
    zeqref::Word w{};
    const bool found = zeqref::nth_word(s, set, false, false, n < 0, n < 0 ? -n : n, &w);
    const std::string want = found ? s.substr((size_t)w.offset, (size_t)w.length) : " ";
    for (FncTask *in_block : {(FncTask *)nullptr, task}) {
      zeqtest::Call c;
      zeqtest::add_args(c, {C(s), N((double)n)});
      c.block()->task = in_block;
      Fixed r(64);
      EXPECT_EQ(fncscan()(c.block(), &r.rec), FNC_RC_OK);
      EXPECT_EQ(r.text(), want) << "n=" << n;
    }
    int32_t rc;
    const Target t = call_scan({C(s), N((double)n), N(-1), N(-1)}, &rc);
    EXPECT_EQ(t.position, found ? (double)(w.offset + 1) : 0) << "n=" << n;
  }
  table[uint8_t{'x'}] = saved_x;
  table[uint8_t{' '}] = saved_blank;
}

// The plain call reads a word near either end of the string from one
// 64-byte window; a word that may run past it goes to the full search.
// Words placed so that an end word starts or stops near the 16, 32 and
// 64-byte marks from either end, with delimiters trailing or leading, must
// come out as through the listed path (the 17 defaults given as a list)
// and the reference, also when the task's table no longer holds the
// defaults.
TEST(ScanDefaults, EndWindowAgreesWithListedPath) {
  const std::string defaults = " .<(+&!$*);^-/,%|";
  scan({C("a b"), N(1)});  // the context and its table exist from here on
  auto *ctx = static_cast<FncContext *>(host().task()->slots[FNC_TASK_SLOT_CONTEXT]);
  ASSERT_NE(ctx, nullptr);
  uint8_t *table = ctx->punctTable;
  for (bool edited : {false, true}) {
    if (edited) table[uint8_t{'e'}] = 1;  // 'e' is a delimiter of the edited table only
    zeqref::DelimSet set{};
    for (int b = 0; b < 256; b++) set[b] = table[b] != 0;
    const std::string list = edited ? defaults + "e" : defaults;
    for (size_t len : {8, 31, 32, 33, 63, 64, 65, 66, 96, 127, 128, 129, 200}) {
      for (size_t word : {1, 3, 7, 15, 16, 17, 31, 33, 63, 64, 70}) {
        for (const char *edge : {"", " ", ".,", "  ;", " e"}) {
          // Short words of the filler, then the end word and the edge; the
          // mirror puts the edge and the word first.
          std::string tail = " " + std::string(word, 'w') + edge, filler;
          for (size_t i = 0; filler.size() + tail.size() < len; i++) filler += i % 4 ? "ab " : "cde.";
          const std::string back = (filler + tail).substr(0, std::max(len, tail.size()));
          std::string front = back;
          std::reverse(front.begin(), front.end());
          for (const std::string &s : {back, front}) {
            for (int64_t n = -20; n <= 20; n++) {
              if (n == 0) continue;
              zeqref::Word w{};
              const bool found = zeqref::nth_word(s, set, false, false, n < 0, n < 0 ? -n : n, &w);
              const std::string want = found ? s.substr((size_t)w.offset, (size_t)w.length) : " ";
              const std::string where = "len=" + std::to_string(s.size()) + " n=" + std::to_string(n) +
                                        (edited ? " edited" : "") + " '" + s + "'";
              for (FncTask *task : {(FncTask *)nullptr, host().task()}) {
                ASSERT_EQ(scan_plain(s, n, 128, task), want) << where;
                ASSERT_EQ(scan_plain(s, n, 5, task), want.substr(0, 5)) << where;
              }
              ASSERT_EQ(scan({C(s), N((double)n), C(list)}, 128).word, want) << where;
            }
          }
        }
      }
    }
  }
  table[uint8_t{'e'}] = 0;
}

TEST(Builds, SuitePassesWithTheGenericBuildForced) {
  if (std::getenv("ZEQ_FORCE_GENERIC")) GTEST_SKIP() << "already the generic run";
  EXPECT_EQ(zeqref::rerun_with_generic_build(), 0);
}

// ---------------------------------------------------------------------------
// Multibyte route: characters, not bytes.
// ---------------------------------------------------------------------------
using ScanMb = zeq::typed::MbCharEntry;

class ScanMultibyte : public ::testing::Test {
 protected:
  void SetUp() override { host().set_utf8(true); }
  void TearDown() override { host().set_utf8(false); }
  ZeqStringService *svc() {
    auto factory = host().kernel()->string_service;
    static const TKChar name[] = {'M', 'V', 'A', 0};
    unsigned char opts[128] = {};
    return factory ? factory(name, opts) : nullptr;
  }
  Answer word(const std::vector<A> &args, int64_t room = 64) {
    zeqtest::Call c;
    zeqtest::add_args(c, args);
    Fixed r(room);
    const int32_t rc = zeq::typed::mb_entry<zeq::typed::SCAN>(host())(c.block(), &r.rec, svc(), 0, "SCAN");
    EXPECT_TRUE(r.guard_intact());
    return {rc, r.text()};
  }
  Target where(const std::vector<A> &args, int32_t *rc) {
    zeqtest::Call c;
    zeqtest::add_args(c, args);
    c.form(FNC_FORM_CALL);
    *rc = zeq::typed::mb_entry<zeq::typed::SCAN>(host())(c.block(), nullptr, svc(), 0, "SCAN");
    return {*c.number_arg(2), *c.number_arg(3)};
  }
};

TEST_F(ScanMultibyte, WordsOfCharacters) {
  ASSERT_NE(svc(), nullptr);
  EXPECT_EQ(word({C("h\xc3\xa9llo w\xc3\xb6rld"), N(2)}).word, "w\xc3\xb6rld");
  EXPECT_EQ(word({C("\xc3\xa9,\xc3\xb6,x"), N(-2), C(",")}).word, "\xc3\xb6");
  EXPECT_EQ(word({C("a\xc3\xa9" "b c"), N(1), C("\xc3\xa9")}).word, "a");
  EXPECT_EQ(word({C("a b"), N(3)}).word, " ");
  EXPECT_EQ(word({C("a,b"), N(3), C(","), C("M")}).word, "");
  EXPECT_EQ(word({C(""), N(1), C(","), C("M")}).word, " ");
}

TEST_F(ScanMultibyte, CallFormCountsCharacters) {
  int32_t rc;
  const Target t = where({C("\xc3\xa9\xc3\xa9 \xc3\xb6x"), N(2), N(-1), N(-1)}, &rc);
  EXPECT_EQ(rc, FNC_RC_OK);
  EXPECT_EQ(t.position, 4);
  EXPECT_EQ(t.length, 2);
  const Target none = where({C("\xc3\xa9"), N(2), N(-1), N(-1)}, &rc);
  EXPECT_EQ(none.position, 0);
  EXPECT_EQ(none.length, 0);
}

TEST_F(ScanMultibyte, CutsToWholeCharacters) {
  EXPECT_EQ(word({C("\xc3\xa9\xc3\xa9\xc3\xa9"), N(1)}, 5).word, "\xc3\xa9\xc3\xa9");
}

TEST_F(ScanMultibyte, RefusedNumbersWriteNothing) {
  for (double n : {0.0, 1.5, std::nan("")}) {
    zeqtest::Call c;
    zeqtest::add_args(c, {C("a b"), N(n)});
    Fixed r(8);
    EXPECT_EQ(zeq::typed::mb_entry<zeq::typed::SCAN>(host())(c.block(), &r.rec, svc(), 0, "SCAN"), FNC_RC_NOTE);
    EXPECT_EQ(r.rec.length, -7);
    EXPECT_EQ(c.mark(1), 0);
  }
  EXPECT_EQ(word({C("a b"), N(3e9)}).word, "a");  // above the range counts as 1
}

TEST_F(ScanMultibyte, RQUnquotesOneKind) {
  EXPECT_EQ(word({C("\"\xc3\xa9 \"\" x\" y"), N(1), C(" "), C("RQ")}).word, "\xc3\xa9 \" x");
  EXPECT_EQ(word({C("  a  "), N(1), C(","), C("R")}).word, "a");
}

TEST_F(ScanMultibyte, ByteRouteNeverDiverts) {
  // fncscan works on bytes even in a UTF-8 session: the two-byte character
  // counts as two bytes of the call form's position.
  int32_t rc;
  zeqtest::Call c;
  c.var("\xc3\xa9 x").num(2).num(-1).num(-1);
  c.form(FNC_FORM_CALL);
  rc = fncscan()(c.block(), nullptr);
  EXPECT_EQ(rc, FNC_RC_OK);
  EXPECT_EQ(*c.number_arg(2), 4);
}

}  // namespace
