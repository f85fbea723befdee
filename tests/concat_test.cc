// Tests of CAT, CATT, CATS, CATB, CATC, CATX and CATM through the reference
// host: trimming and separator rules, numeric items, cut results with their
// marks and messages, the in-place form, and result sizing.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "charfn/entry_types.h"
#include "host/host.h"
#include "tests/support/call.h"
#include "tests/support/host_fixture.h"

namespace {

using zeqtest::host;

FncCharEntry entry(const char *name) { return zeqtest::entry_named<FncCharEntry>(name); }

using A = zeqtest::Arg;
using zeqtest::C;
using zeqtest::V;
using zeqtest::N;
using zeqtest::Absent;

using zeqtest::Fixed;

std::vector<std::string> messages() { return zeqtest::catalogue_lines(); }

// The text the host's formatter gives for x in `width`, leading blanks
// dropped: what a numeric item must contribute.
std::string formatted(double x, int width) {
  auto zfmt = host().fn<int (*)(void *)>("zfmt");
  char out[64];
  std::memset(out, ' ', sizeof out);
  ZeqFmtRequest req{};
  double copy = x;
  req.width = width;
  req.code = 99;
  req.value = &copy;
  req.value_size = 8;
  req.out = out;
  req.width2 = width;
  req.task = host().task();
  zfmt(&req);
  std::string s(out, (size_t)std::max(0, std::min(req.width, 32)));
  s.erase(0, s.find_first_not_of(' ') == std::string::npos ? s.size() : s.find_first_not_of(' '));
  return s;
}

// ---------------------------------------------------------------------------
// Trimming and separators (ordinary form, ample room).
// ---------------------------------------------------------------------------
struct JoinCase {
  const char *name;
  const char *entry;
  std::vector<A> args;
  const char *expected;
};

class Join : public ::testing::TestWithParam<JoinCase> {};

TEST_P(Join, BuildsTheConcatenation) {
  const JoinCase &tc = GetParam();
  zeqtest::Call c;
  zeqtest::add_args(c, tc.args);
  Fixed r(64);
  host().clear_log();
  ASSERT_EQ(entry(tc.entry)(c.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), tc.expected);
  EXPECT_TRUE(messages().empty());
  for (int i = 0; i < (int)tc.args.size(); i++) EXPECT_EQ(c.mark(i), 0) << "argument " << i + 1;
}

INSTANTIATE_TEST_SUITE_P(
    Concat, Join,
    ::testing::Values(
        JoinCase{"CatKeepsEveryBlank", "fnccat", {C("a "), C(" b")}, "a  b"},
        JoinCase{"CattDropsTrailingBlanks", "fnccatt", {C("a "), C(" b")}, "a b"},
        JoinCase{"CattKeepsLeadingBlanks", "fnccatt", {C(" a"), C("b ")}, " ab"},
        JoinCase{"CatsDropsBothEnds", "fnccats", {C("a "), C(" b")}, "ab"},
        JoinCase{"CatsKeepsInnerBlanks", "fnccats", {C(" a b "), C("c")}, "a bc"},
        JoinCase{"CatbSeparatesWithBlank", "fnccatb", {C("a "), C(" b")}, "a b"},
        JoinCase{"CatcSeparatesWithCommaBlank", "fnccatc", {C("a "), C(" b")}, "a, b"},
        JoinCase{"CatxSkipsEmptyItems", "fnccatx", {C("-"), C("a"), C("  "), C("b")}, "a-b"},
        JoinCase{"CatmKeepsEmptyItems", "fnccatm", {C("-"), C("a"), C("  "), C("b")}, "a--b"},
        JoinCase{"CatxSeparatorVerbatim", "fnccatx", {C(" / "), C("x"), C("y")}, "x / y"},
        JoinCase{"CatxEmptySeparator", "fnccatx", {C(""), C("a"), C("b")}, "ab"},
        JoinCase{"CatbAllBlankItemIsEmpty", "fnccatb", {C("   ")}, ""},
        JoinCase{"CatbLeadingEmptyGetsNoSeparator", "fnccatb", {C(""), C("a"), C("b")}, "a b"},
        JoinCase{"CatcEmptyMiddle", "fnccatc", {C("a"), C(" "), C("b")}, "a, b"},
        JoinCase{"CatcSingleItem", "fnccatc", {C(" a ")}, "a"},
        JoinCase{"CatxTrailingEmpty", "fnccatx", {C(","), C("a"), C("")}, "a"},
        JoinCase{"CatmLeadingEmpty", "fnccatm", {C(","), C(""), C("a")}, ",a"},
        JoinCase{"CatmTrailingEmpty", "fnccatm", {C(","), C("a"), C(" ")}, "a,"},
        JoinCase{"CatmAbsentItemKeepsItsSeparator", "fnccatm", {C(","), C("a"), Absent(), C("b")}, "a,,b"},
        JoinCase{"CatxAbsentItemIsSkipped", "fnccatx", {C(","), C("a"), Absent(), C("b")}, "a,b"},
        JoinCase{"CatxAbsentSeparatorIsEmpty", "fnccatx", {Absent(), C("a"), C("b")}, "ab"},
        JoinCase{"VaryingItemsTrimmedAlike", "fnccatb", {V(" a "), V("b  ")}, "a b"},
        JoinCase{"NoItems", "fnccatx", {C("-")}, ""}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Numeric items go through the host's formatter, leading blanks dropped.
// ---------------------------------------------------------------------------
TEST(ConcatNumbers, UseWidth12ForOrdinaryMagnitudes) {
  for (double x : {12.0, -3.5, 0.0001, 1e10, -1e10, 123456.789}) {
    zeqtest::Call c;
    c.num(x);
    Fixed r(64);
    ASSERT_EQ(entry("fnccat")(c.block(), &r.rec), FNC_RC_OK) << x;
    EXPECT_EQ(r.text(), formatted(x, 12)) << x;
    EXPECT_EQ(r.text().find(' '), std::string::npos) << x;
  }
}

TEST(ConcatNumbers, UseWidth32ForZeroTinyAndHuge) {
  for (double x : {0.0, 0.00001, 1e15, -1e15, 1e10 * 1.0000001, 9.99e-5, 1e300}) {
    zeqtest::Call c;
    c.num(x);
    Fixed r(64);
    ASSERT_EQ(entry("fnccat")(c.block(), &r.rec), FNC_RC_OK) << x;
    EXPECT_EQ(r.text(), formatted(x, 32)) << x;
    EXPECT_EQ(r.text().find(' '), std::string::npos) << x;
  }
}

TEST(ConcatNumbers, MissingAndInfiniteValuesAreFormatted) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double x : {std::nan(""), inf, -inf}) {
    zeqtest::Call c;
    c.str("<").num(x).str(">");
    Fixed r(64);
    EXPECT_EQ(entry("fnccat")(c.block(), &r.rec), FNC_RC_OK);
    const int width = (x != x) ? 12 : 32;
    EXPECT_EQ(r.text(), "<" + formatted(x, width) + ">");
  }
}

TEST(ConcatNumbers, NumbersAreSeparatedLikeText) {
  zeqtest::Call c;
  c.num(1).str(" x ").num(2);
  Fixed r(64);
  ASSERT_EQ(entry("fnccatb")(c.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), formatted(1, 12) + " x " + formatted(2, 12));
}

// ---------------------------------------------------------------------------
// Cut results: prefix kept, first cut argument marked, message 28.
// ---------------------------------------------------------------------------
struct CutCase {
  const char *name;
  const char *entry;
  std::vector<A> args;
  int64_t room;
  const char *expected;
  std::vector<int> marked;  // 0-based arguments
  const char *message;      // "28:NAME,needed,room"
};

class Cut : public ::testing::TestWithParam<CutCase> {};

TEST_P(Cut, KeepsPrefixMarksFirstCutAndReports) {
  const CutCase &tc = GetParam();
  zeqtest::Call c;
  zeqtest::add_args(c, tc.args);
  Fixed r(tc.room);
  host().clear_log();
  EXPECT_EQ(entry(tc.entry)(c.block(), &r.rec), FNC_RC_NOTE);
  EXPECT_EQ(r.text(), tc.expected);
  EXPECT_TRUE(r.guard_intact());
  for (int i = 0; i < (int)tc.args.size(); i++) {
    const bool want = std::find(tc.marked.begin(), tc.marked.end(), i) != tc.marked.end();
    EXPECT_EQ(c.mark(i), want ? FNC_MARK_BAD : 0) << "argument " << i + 1;
  }
  EXPECT_EQ(messages(), std::vector<std::string>{tc.message});
}

INSTANTIATE_TEST_SUITE_P(
    Concat, Cut,
    ::testing::Values(
        CutCase{"CatCutsSecondItem", "fnccat", {C("abc"), C("def")}, 5, "abcde", {1}, "28:CAT,6,5"},
        CutCase{"CatbSeparatorFitsItemDoesNot", "fnccatb", {C("abc"), C("d")}, 4, "abc ", {1}, "28:CATB,5,4"},
        CutCase{"CatbSeparatorDoesNotFit", "fnccatb", {C("abc"), C("d")}, 3, "abc", {1}, "28:CATB,5,3"},
        CutCase{"CatbCutInsideItem", "fnccatb", {C("ab"), C("cdef")}, 5, "ab cd", {1}, "28:CATB,7,5"},
        CutCase{"OnlyFirstCutIsMarked", "fnccat", {C("abc"), C("def"), C("ghi")}, 4, "abcd", {1}, "28:CAT,9,4"},
        CutCase{"RoomZeroWritesNothing", "fnccat", {C("a"), C("b")}, 0, "", {0}, "28:CAT,2,0"},
        CutCase{"CatxLongSeparatorDoesNotFit", "fnccatx", {C("-----"), C("a"), C("b")}, 4, "a", {2}, "28:CATX,7,4"},
        CutCase{"CatmEmptyItemsCountSeparators", "fnccatm", {C("-"), C("a"), C(""), C("b")}, 3, "a--", {3}, "28:CATM,4,3"},
        // Absent items keep their separators too: the bound that lets a call
        // skip the room checks must count them.
        CutCase{"CatmAbsentItemsCountSeparators", "fnccatm", {C("-"), C("a"), Absent(), Absent(), C("b")}, 4,
                "a---", {4}, "28:CATM,5,4"},
        CutCase{"CatsUsesItsName", "fnccats", {C(" ab "), C(" cd ")}, 3, "abc", {1}, "28:CATS,4,3"},
        CutCase{"CattUsesItsName", "fnccatt", {C("ab "), C("cd ")}, 3, "abc", {1}, "28:CATT,4,3"},
        CutCase{"CatcUsesItsName", "fnccatc", {C("ab"), C("cd")}, 5, "ab, c", {1}, "28:CATC,6,5"},
        CutCase{"EmptyItemAfterCutIsNotMarked", "fnccat", {C("abc"), C(""), C("d")}, 2, "ab", {0}, "28:CAT,4,2"},
        CutCase{"NumberCut", "fnccat", {C("abcd"), N(12)}, 5, "abcd1", {1}, "28:CAT,6,5"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ConcatCut, ExactFitIsNoNote) {
  zeqtest::Call c;
  c.str("-").str("a").str("").str("b");
  Fixed r(4);
  host().clear_log();
  EXPECT_EQ(entry("fnccatm")(c.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), "a--b");
  EXPECT_TRUE(messages().empty());
}

TEST(ConcatCut, CallFormTwoOfCatIsOrdinary) {
  zeqtest::Call c;
  c.form(FNC_FORM_CALL).str("abc").str("def");
  Fixed r(5);
  host().clear_log();
  EXPECT_EQ(entry("fnccat")(c.block(), &r.rec), FNC_RC_NOTE);
  EXPECT_EQ(r.text(), "abcde");
  EXPECT_EQ(messages(), std::vector<std::string>{"28:CAT,6,5"});
}

// ---------------------------------------------------------------------------
// Notes per call site: limited in four environments, unlimited elsewhere.
// ---------------------------------------------------------------------------
TEST(ConcatNotes, LimitedEnvironmentsReportFiveThenStaySilent) {
  for (uint8_t kind : {0x48, 0x58, 0x68, 0x88}) {
    zeqtest::Call c;
    c.kind(kind).str("abc").str("def");
    std::vector<int> seen;
    for (int n = 1; n <= 7; n++) {
      Fixed r(4);
      host().clear_log();
      EXPECT_EQ(entry("fnccat")(c.block(), &r.rec), FNC_RC_NOTE);
      EXPECT_EQ(r.text(), "abcd");
      for (int m : host().message_numbers()) seen.push_back(m);
      seen.push_back(0);  // call boundary
    }
    EXPECT_EQ(seen, (std::vector<int>{28, 0, 28, 0, 28, 0, 28, 0, 28, 29, 0, 0, 0})) << (int)kind;
    EXPECT_EQ(c.block()->noteCount, 7);
  }
}

TEST(ConcatNotes, OtherEnvironmentsReportEveryShortResult) {
  zeqtest::Call c;
  c.kind(0x50).str("abc").str("def");
  for (int n = 1; n <= 7; n++) {
    Fixed r(4);
    host().clear_log();
    EXPECT_EQ(entry("fnccat")(c.block(), &r.rec), FNC_RC_NOTE);
    EXPECT_EQ(host().message_numbers(), std::vector<int>{28});
  }
  EXPECT_EQ(c.block()->noteCount, 0);
}

TEST(ConcatNotes, FittingResultsDoNotCount) {
  zeqtest::Call c;
  c.kind(0x58).str("ab");
  for (int n = 1; n <= 3; n++) {
    Fixed r(4);
    EXPECT_EQ(entry("fnccat")(c.block(), &r.rec), FNC_RC_OK);
  }
  EXPECT_EQ(c.block()->noteCount, 0);
}

// ---------------------------------------------------------------------------
// In-place form: the target's trimmed value is extended.
// ---------------------------------------------------------------------------
struct InPlaceCase {
  const char *name;
  const char *entry;
  std::vector<A> before;  // arguments before the target (CATX/CATM separator)
  int64_t target_max;
  const char *target;     // initial value (length = its size)
  std::vector<A> items;
  const char *expected;   // whole target value afterwards
  int32_t status;
  const char *message;    // "" when none
};

class InPlace : public ::testing::TestWithParam<InPlaceCase> {};

TEST_P(InPlace, AppendsToTarget) {
  const InPlaceCase &tc = GetParam();
  zeqtest::Call c;
  c.form(FNC_FORM_CALL);
  zeqtest::add_args(c, tc.before);
  c.str("");  // placeholder for the target
  zeqtest::add_args(c, tc.items);
  Fixed t(tc.target_max, tc.target);
  c.block()->args[tc.before.size()].value = &t.rec;
  host().clear_log();
  EXPECT_EQ(entry(tc.entry)(c.block(), &t.rec), tc.status);
  EXPECT_EQ(t.text(), tc.expected);
  EXPECT_TRUE(t.guard_intact());
  std::vector<std::string> want;
  if (*tc.message) want.push_back(tc.message);
  EXPECT_EQ(messages(), want);
}

INSTANTIATE_TEST_SUITE_P(
    Concat, InPlace,
    ::testing::Values(
        InPlaceCase{"CatbLeftJustifiesFixedTarget", "fnccatb", {}, 10, "  ab      ", {C("c")}, "ab c      ", FNC_RC_OK, ""},
        InPlaceCase{"CatmBlankTargetStartsWithSeparator", "fnccatm", {C(",")}, 5, "     ", {C("x")}, ",x   ", FNC_RC_OK, ""},
        InPlaceCase{"CattKeepsLeadingBlanks", "fnccatt", {}, 6, " a    ", {C("b ")}, " ab   ", FNC_RC_OK, ""},
        InPlaceCase{"CatsTrimsItems", "fnccats", {}, 6, " a    ", {C(" b ")}, "ab    ", FNC_RC_OK, ""},
        InPlaceCase{"CatxSeparatorBeforeFirstAppend", "fnccatx", {C("-")}, 6, "a     ", {C("b"), C("c")}, "a-b-c ", FNC_RC_OK, ""},
        InPlaceCase{"CatxEmptyTargetNoLeadingSeparator", "fnccatx", {C("-")}, 6, "      ", {C("b"), C("c")}, "b-c   ", FNC_RC_OK, ""},
        InPlaceCase{"VaryingTargetGrowsLength", "fnccatb", {}, 10, "ab", {C("cd")}, "ab cd", FNC_RC_OK, ""},
        InPlaceCase{"LengthNeverShrinks", "fnccatb", {}, 10, "  ab  ", {C("")}, "ab    ", FNC_RC_OK, ""},
        InPlaceCase{"ShortTargetReports27", "fnccatb", {}, 4, "ab  ", {C("cde")}, "ab c", FNC_RC_NOTE, "27:CATB,6,4"},
        InPlaceCase{"CatcShortUsesItsName", "fnccatc", {}, 4, "a   ", {C("bc")}, "a, b", FNC_RC_NOTE, "27:CATC,5,4"},
        InPlaceCase{"NumbersAppend", "fnccatx", {C("+")}, 8, "a       ", {N(1), N(2)}, "a+1+2   ", FNC_RC_OK, ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ConcatInPlace, GrowableTargetIsSizedAndExtended) {
  zeqtest::Call c;
  c.form(FNC_FORM_CALL).str("").str("world");
  zeqtest::Result t(4000, true, 0);
  c.block()->args[0].value = &t.rec;
  EXPECT_EQ(entry("fnccatb")(c.block(), &t.rec), FNC_RC_OK);
  EXPECT_EQ(t.text(), "world");
  EXPECT_EQ(t.rec.capacity, 1024);

  // A second call appends to what is there.
  zeqtest::Call d;
  d.form(FNC_FORM_CALL).str("").str("again");
  d.block()->args[0].value = &t.rec;
  EXPECT_EQ(entry("fnccatb")(d.block(), &t.rec), FNC_RC_OK);
  EXPECT_EQ(t.text(), "world again");
}

TEST(ConcatInPlace, GrowableTargetClampedAtMaxLengthIsCut) {
  zeqtest::Call c;
  c.form(FNC_FORM_CALL).str("").str("abcdef").str("ghij");
  zeqtest::Result t(8, true, 0);
  c.block()->args[0].value = &t.rec;
  host().clear_log();
  EXPECT_EQ(entry("fnccats")(c.block(), &t.rec), FNC_RC_NOTE);
  EXPECT_EQ(t.rec.capacity, 8);
  EXPECT_EQ(t.text(), "abcdefgh");
  EXPECT_EQ(c.mark(2), FNC_MARK_BAD);
  EXPECT_EQ(messages(), std::vector<std::string>{"27:CATS,10,8"});
}

// ---------------------------------------------------------------------------
// Sizing of growable results.
// ---------------------------------------------------------------------------
TEST(ConcatSizing, GrowsFromNothing) {
  zeqtest::Call c;
  c.str(", ").str("alpha").num(3).str("beta");
  zeqtest::Result r(4000, true, 0);
  EXPECT_EQ(entry("fnccatx")(c.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.rec.capacity, 1024);
  EXPECT_EQ(r.text(), "alpha, " + formatted(3, 12) + ", beta");
}

TEST(ConcatSizing, FailedResizeWritesNothing) {
  const char *entries[] = {"fnccat", "fnccatt", "fnccats", "fnccatb", "fnccatc", "fnccatx", "fnccatm"};
  for (const char *e : entries) {
    zeqtest::Call c;
    c.str("-").str("abc");
    zeqtest::Result r(4000, true, 0);
    r.rec.length = 7;
    r.grow.fail = true;
    host().clear_log();
    EXPECT_EQ(entry(e)(c.block(), &r.rec), FNC_RC_NOROOM) << e;
    EXPECT_EQ(r.rec.length, 7) << e;
    EXPECT_EQ(c.mark(0) | c.mark(1), 0) << e;
    EXPECT_TRUE(messages().empty()) << e;
  }
}

TEST(ConcatSizing, NumbersCanOutgrowTheEstimate) {
  // 12 bytes are reserved per number, but a huge value takes more.
  zeqtest::Call c;
  c.num(-1.2345678901234567e-300);
  zeqtest::Result r(20, true, 0);
  const std::string full = formatted(-1.2345678901234567e-300, 32);
  host().clear_log();
  const int32_t rc = entry("fnccat")(c.block(), &r.rec);
  if ((int64_t)full.size() <= 20) {
    EXPECT_EQ(rc, FNC_RC_OK);
    EXPECT_EQ(r.text(), full);
  } else {
    EXPECT_EQ(rc, FNC_RC_NOTE);
    EXPECT_EQ(r.text(), full.substr(0, 20));
  }
}

// A growable result whose resize keeps the old block alive but scribbles
// over it, so a pointer kept across the resize shows in the result.
struct ScribbleGrow {
  FncStringAllocator rec{};
  std::vector<char *> blocks;
  ~ScribbleGrow() {
    for (char *b : blocks) std::free(b);
  }
  static void *resize(FncStringAllocator *self, void *old, int64_t size, uint32_t) {
    auto *g = reinterpret_cast<ScribbleGrow *>(self);
    char *p = static_cast<char *>(std::calloc((size_t)size + 1, 1));
    int64_t old_size = 0;
    if (old) {
      old_size = (int64_t)std::strlen(static_cast<char *>(old));
      std::memcpy(p, old, (size_t)std::min(old_size, size));
      std::memset(old, 'Z', (size_t)old_size);
    }
    g->blocks.push_back(p);
    return p;
  }
};

// CATX whose separator record is also the result: growing the result moved
// the separator's bytes, and the separator used to be read from the old block.
TEST(ConcatSizing, CatxSeparatorThatIsTheGrownResult) {
  ScribbleGrow grow;
  grow.rec.resize = ScribbleGrow::resize;
  char *first = static_cast<char *>(std::calloc(3, 1));
  std::memcpy(first, ", ", 2);
  grow.blocks.push_back(first);
  FncString result{};
  result.maxLength = 4096;
  result.length = 2;
  result.data = first;
  result.allocator = &grow.rec;
  result.capacity = 2;

  std::string a(1500, 'a'), d = "def";
  FncString sa{(int64_t)a.size(), (int64_t)a.size(), a.data(), nullptr, 0};
  FncString sd{3, 3, d.data(), nullptr, 0};
  std::vector<uint64_t> raw((FNC_ARGLIST_SIZE(3) + 7) / 8, 0);
  auto *b = reinterpret_cast<FncArgList *>(raw.data());
  b->callForm = FNC_FORM_FUNCTION;
  b->argCount = 3;
  b->args[0] = {FNC_ARG_CHAR, 0, {}, &result};
  b->args[1] = {FNC_ARG_CHAR, 0, {}, &sa};
  b->args[2] = {FNC_ARG_CHAR, 0, {}, &sd};
  const int32_t rc = zeq::typed::entry<zeq::typed::CATX>(host())(b, &result);
  EXPECT_EQ(rc, FNC_RC_OK);
  ASSERT_EQ(result.length, 1505);
  const std::string got(result.data, (size_t)result.length);
  EXPECT_EQ(got.find('Z'), std::string::npos);
  EXPECT_EQ(got.substr(1500), "aadef");  // the separator's bytes as they now stand
}

// ---------------------------------------------------------------------------
// Bad input never crashes and never writes past the room.
// ---------------------------------------------------------------------------
TEST(ConcatGuards, NullRecordsAndOddArguments) {
  EXPECT_EQ(entry("fnccatx")(nullptr, nullptr), FNC_RC_NOTE);
  zeqtest::Call c;
  c.str("a");
  EXPECT_EQ(entry("fnccat")(c.block(), nullptr), FNC_RC_NOTE);

  // Negative lengths and null data count as empty.
  zeqtest::Call d;
  d.str("-").str("abc").str("def");
  d.string_arg(1)->length = -5;
  d.string_arg(2)->data = nullptr;
  Fixed r(8);
  EXPECT_EQ(entry("fnccatm")(d.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), "-");

  // A negative room holds nothing.
  zeqtest::Call e;
  e.str("abc");
  Fixed neg(0);
  neg.rec.maxLength = -3;
  host().clear_log();
  EXPECT_EQ(entry("fnccat")(e.block(), &neg.rec), FNC_RC_NOTE);
  EXPECT_EQ(neg.rec.length, 0);
  EXPECT_EQ(neg.buf, std::string(16, '#'));
}

TEST(ConcatGuards, InPlaceWithoutUsableTargetFillsTheResult) {
  zeqtest::Call c;
  c.form(FNC_FORM_CALL).num(5).str("x");
  Fixed r(8);
  EXPECT_EQ(entry("fnccatb")(c.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), "x");
}

TEST(ConcatGuards, TargetLongerThanItsRoomIsClamped) {
  zeqtest::Call c;
  c.form(FNC_FORM_CALL).str("").str("z");
  Fixed t(4, "abcd");
  t.rec.length = 1000;
  c.block()->args[0].value = &t.rec;
  host().clear_log();
  EXPECT_EQ(entry("fnccats")(c.block(), &t.rec), FNC_RC_NOTE);
  EXPECT_EQ(t.rec.length, 4);
  EXPECT_EQ(t.text(), "abcd");
  EXPECT_TRUE(t.guard_intact());
}

TEST(ConcatNoop, CatnTouchesNothing) {
  zeqtest::Call c;
  c.str("abc");
  Fixed r(4, "zz");
  EXPECT_EQ(entry("fnccatn")(c.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), "zz");
  EXPECT_EQ(entry("fnccatn")(nullptr, nullptr), FNC_RC_OK);
}

}  // namespace

// ---------------------------------------------------------------------------
// Every length of item, into a room that is ample (the untrimmed items surely
// fit, so nothing is checked on the way), one that holds the result exactly
// (the untrimmed items would not fit, so every piece is checked), and rooms
// one and two bytes short.  A small model of the joining rules gives the
// expected bytes, needed length and cut argument.
// ---------------------------------------------------------------------------
struct JoinRules {
  const char *entry;
  const char *name;
  int trim;                 // 0 none, 1 trailing blanks, 2 both ends
  const char *fixed;        // fixed separator, or null
  bool separator_arg;       // argument 1 is the separator
  bool before_empty;        // separators before empty items too
};
void PrintTo(const JoinRules &r, std::ostream *os) { *os << r.name; }

// One piece of the full result: a separator (arg -1) or an item's text.
struct Piece {
  std::string text;
  int arg;
};

std::string trimmed(std::string s, int trim) {
  if (trim >= 1) s.erase(s.find_last_not_of(' ') + 1);
  if (trim == 2) s.erase(0, std::min(s.size(), s.find_first_not_of(' ')));
  return s;
}

// The pieces of a call whose items (their text, or none when absent) start
// at argument `first`.
std::vector<Piece> pieces(const JoinRules &r, const std::string &sep, int first,
                          const std::vector<std::optional<std::string>> &items) {
  std::vector<Piece> out;
  size_t written = 0;
  for (size_t i = 0; i < items.size(); i++) {
    const std::string t = items[i] ? *items[i] : "";
    const bool put = r.before_empty ? i > 0 : (!t.empty() && written > 0);
    if ((r.fixed || r.separator_arg) && put) {
      out.push_back({sep, -1});
      written += sep.size();
    }
    if (!t.empty()) out.push_back({t, first + (int)i});
    written += t.size();
  }
  return out;
}

struct Filled {
  std::string text;
  int64_t needed = 0;
  int cut_arg = -1;
};

Filled fill(const std::vector<Piece> &ps, int64_t room) {
  Filled f;
  for (const Piece &p : ps) {
    const int64_t n = (int64_t)p.text.size();
    const int64_t free = std::max<int64_t>(0, room - f.needed);
    if (p.arg < 0) {
      if (f.needed + n <= room) f.text += p.text;
    } else {
      if (n > free && f.cut_arg < 0) f.cut_arg = p.arg;
      f.text += p.text.substr(0, (size_t)std::min(n, free));
    }
    f.needed += n;
  }
  return f;
}

// An item of `len` letters with blanks around it and one inside.
std::string item_of(int len, int salt) {
  std::string s;
  for (int k = 0; k < len; k++) s += (char)('a' + (k + salt) % 26);
  if (len > 2) s[(size_t)len / 2] = ' ';
  return std::string((size_t)(salt % 3), ' ') + s + std::string((size_t)(salt % 4), ' ');
}

class JoinEveryLength : public ::testing::TestWithParam<JoinRules> {};

TEST_P(JoinEveryLength, AgreesWithTheRulesInEveryRoom) {
  const JoinRules &rules = GetParam();
  const std::vector<std::string> separators =
      rules.separator_arg ? std::vector<std::string>{"", ", ", " <=> a long separator, blanks kept <=> "}
                          : std::vector<std::string>{rules.fixed ? rules.fixed : ""};
  for (const std::string &sep : separators) {
    for (int len = 0; len <= 70; len++) {
      std::vector<A> args;
      if (rules.separator_arg) args.push_back(C(sep));
      const int first = (int)args.size();
      std::vector<std::optional<std::string>> texts;
      auto add_char = [&](const std::string &s) {
        args.push_back(C(s));
        texts.push_back(trimmed(s, rules.trim));
      };
      add_char(item_of(len, len));
      add_char(item_of(70 - len, len + 1));
      if (len % 5 == 0) {
        args.push_back(Absent());
        texts.push_back(std::nullopt);
      }
      if (len % 7 == 0) {
        const double x = len + 0.25;
        args.push_back(N(x));
        texts.push_back(formatted(x, 12));
      }
      add_char(item_of((len * 7) % 71, len + 2));
      add_char(std::string((size_t)(len % 3), ' '));
      const std::vector<Piece> ps = pieces(rules, sep, first, texts);
      const Filled whole = fill(ps, INT64_MAX);
      const int64_t full = (int64_t)whole.text.size();

      for (int64_t room : {int64_t{4096}, full, full - 1, full - 2}) {
        if (room < 0) continue;
        const Filled want = fill(ps, room);
        zeqtest::Call c;
        zeqtest::add_args(c, args);
        Fixed r(room);
        host().clear_log();
        const std::string where = "sep '" + sep + "' len " + std::to_string(len) + " room " + std::to_string(room);
        const int32_t rc = entry(rules.entry)(c.block(), &r.rec);
        EXPECT_EQ(r.text(), want.text) << where;
        EXPECT_TRUE(r.guard_intact()) << where;
        for (int i = 0; i < (int)args.size(); i++) {
          EXPECT_EQ(c.mark(i), i == want.cut_arg ? FNC_MARK_BAD : 0) << where << " argument " << i + 1;
        }
        if (want.needed <= room) {
          EXPECT_EQ(rc, FNC_RC_OK) << where;
          EXPECT_TRUE(messages().empty()) << where;
        } else {
          EXPECT_EQ(rc, FNC_RC_NOTE) << where;
          const std::string note = "28:" + std::string(rules.name) + "," + std::to_string(want.needed) + "," +
                                   std::to_string(room);
          EXPECT_EQ(messages(), std::vector<std::string>{note}) << where;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Concat, JoinEveryLength,
    ::testing::Values(JoinRules{"fnccat", "CAT", 0, nullptr, false, false},
                      JoinRules{"fnccatt", "CATT", 1, nullptr, false, false},
                      JoinRules{"fnccats", "CATS", 2, nullptr, false, false},
                      JoinRules{"fnccatb", "CATB", 2, " ", false, false},
                      JoinRules{"fnccatc", "CATC", 2, ", ", false, false},
                      JoinRules{"fnccatx", "CATX", 2, nullptr, true, false},
                      JoinRules{"fnccatm", "CATM", 2, nullptr, true, true}),
    [](const auto &info) { return std::string(info.param.name); });

// The call-routine form takes the unchecked way too when everything fits: the
// target's trimmed value is kept and the items follow it.
TEST(ConcatInPlace, AmpleTargetAppendsEveryLength) {
  for (int len = 0; len <= 70; len++) {
    const std::string item = item_of(len, len);
    zeqtest::Call c;
    c.form(FNC_FORM_CALL).str("-").str("").str(item).absent().str(item);
    Fixed t(400, "  head  ");
    c.block()->args[1].value = &t.rec;
    host().clear_log();
    ASSERT_EQ(entry("fnccatx")(c.block(), &t.rec), FNC_RC_OK) << len;
    const std::string body = trimmed(item, 2);
    const std::string expected = body.empty() ? "head" : "head-" + body + "-" + body;
    EXPECT_EQ(t.text(), expected + std::string(std::max<size_t>(8, expected.size()) - expected.size(), ' ')) << len;
    EXPECT_TRUE(t.guard_intact()) << len;
    EXPECT_TRUE(messages().empty()) << len;
  }
}
