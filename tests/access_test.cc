// CHAR, FIRST, SUBPAD and the text-position entry, called through the module
// as the reference host loads it.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "charfn/entry_types.h"
#include "host/host.h"
#include "tests/support/call.h"

namespace {

using zeqtest::Call;
using zeqtest::Result;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTwo63 = 9223372036854775808.0;

class Access : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.loaded()) << host_.load_error();
    fchar_ = zeq::typed::entry<zeq::typed::CHAR>(host_);
    ffirst_ = zeq::typed::entry<zeq::typed::FIRST>(host_);
    fndxt_ = zeq::typed::entry<zeq::typed::POSITION>(host_);
    fsubp_ = zeq::typed::entry<zeq::typed::SUBPAD>(host_);
    ASSERT_TRUE(fchar_ && ffirst_ && fndxt_ && fsubp_);
    host_.clear_log();
  }
  // Bytes of the result buffer after the result's length must be untouched.
  static bool tail_untouched(const Result &r) {
    if (r.rec.allocator || r.rec.length < 0) return true;
    for (size_t i = (size_t)r.rec.length; i < r.buf.size(); i++)
      if (r.buf[i] != '#') return false;
    return true;
  }
  zeqhost::Host host_;
  FncCharEntry fchar_ = nullptr;
  FncDirectEntry ffirst_ = nullptr;
  FncNumEntry fndxt_ = nullptr;
  FncCharEntry fsubp_ = nullptr;
};

// ---------------------------------------------------------------------------
// CHAR
// ---------------------------------------------------------------------------

TEST_F(Access, CharPicksTheByteAtTheTruncatedPosition) {
  struct {
    const char *text;
    double pos;
    const char *want;
  } cases[] = {
      {"abc", 1, "a"},      {"abc", 2.9, "b"},    {"abc", 3, "c"},      {"abc", 3.99, "c"},
      {"abc", 0.5, " "},    {"abc", 4, " "},      {"abc", 0, " "},      {"abc", -1, " "},
      {"abc", -0.5, " "},   {"abc", 1e300, " "},  {"abc", -1e300, " "}, {"abc", kInf, " "},
      {"abc", -kInf, " "},  {"", 1, " "},         {"a b", 2, " "},      {"xyz", 0.999, " "},
  };
  for (const auto &c : cases) {
    Call call;
    call.str(c.text).num(c.pos);
    Result r(4);
    EXPECT_EQ(fchar_(call.block(), &r.rec), FNC_RC_OK) << c.text << " @ " << c.pos;
    EXPECT_EQ(r.text(), c.want) << c.text << " @ " << c.pos;
    EXPECT_TRUE(tail_untouched(r));
    EXPECT_EQ(call.mark(0) | call.mark(1), 0);
  }
  EXPECT_TRUE(host_.message_numbers().empty());
}

TEST_F(Access, CharMissingPositionIsANote) {
  Call call;
  call.str("abc").missing();
  Result r(4);
  r.rec.length = 9;
  EXPECT_EQ(fchar_(call.block(), &r.rec), FNC_RC_NOTE);
  EXPECT_EQ(r.rec.length, 0);
  EXPECT_EQ(call.mark(1), FNC_MARK_BAD);
  EXPECT_EQ(call.mark(0), 0);
  EXPECT_TRUE(host_.message_numbers().empty());
}

TEST_F(Access, CharIntoNoRoomWritesNothing) {
  for (int64_t room : {0, -5}) {
    Call call;
    call.str("abc").missing();  // even a missing position is not looked at
    Result r(room);
    r.rec.length = 7;
    EXPECT_EQ(fchar_(call.block(), &r.rec), FNC_RC_OK);
    EXPECT_EQ(r.rec.length, 7);
    EXPECT_EQ(call.mark(1), 0);
  }
}

TEST_F(Access, CharBadValueArgumentIsMarked) {
  Call call;
  call.absent().num(1);
  Result r(2);
  EXPECT_EQ(fchar_(call.block(), &r.rec), FNC_RC_NOTE);
  EXPECT_EQ(r.rec.length, 0);
  EXPECT_EQ(call.mark(0), FNC_MARK_BAD);
}

TEST_F(Access, CharGrowsAnEmptyGrowableResult) {
  Call call;
  call.str("abc").num(2);
  Result r(10, true, 0);
  EXPECT_EQ(fchar_(call.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), "b");
  EXPECT_GE(r.rec.capacity, 1);

  Call again;
  again.str("abc").num(2);
  Result failing(10, true, 0);
  failing.grow.fail = true;
  EXPECT_EQ(fchar_(again.block(), &failing.rec), FNC_RC_NOROOM);
}

// ---------------------------------------------------------------------------
// FIRST
// ---------------------------------------------------------------------------

TEST_F(Access, First) {
  struct {
    const char *text;
    int64_t room;
    const char *want;
    int64_t want_length;
  } cases[] = {
      {"xyz", 3, "x", 1}, {" y", 1, " ", 1}, {"", 2, " ", 1}, {"abc", 0, "", -3}, {"abc", -1, "", -3},
  };
  for (const auto &c : cases) {
    Call call;
    call.str(c.text);
    Result r(c.room);
    r.rec.length = -3;
    EXPECT_EQ(ffirst_(call.string_arg(0), &r.rec), FNC_RC_OK) << c.text;
    EXPECT_EQ(r.rec.length, c.want_length) << c.text;
    if (c.want_length > 0) {
      EXPECT_EQ(r.text(), c.want);
    }
    EXPECT_TRUE(tail_untouched(r));
  }
  Result r(1);
  EXPECT_EQ(ffirst_(nullptr, &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), " ");
  Call neg;
  neg.str("abc");
  neg.string_arg(0)->length = -4;
  EXPECT_EQ(ffirst_(neg.string_arg(0), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), " ");
}

// ---------------------------------------------------------------------------
// Text position
// ---------------------------------------------------------------------------

TEST_F(Access, TextPosition) {
  struct {
    const char *src, *excerpt;
    double want;
  } cases[] = {
      {"ab c", "c ", 0},     // the excerpt's trailing blank takes part
      {"ab c ", "c ", 4},    {"abc", "", 1},       {"", "", 1},        {"", "a", 0},
      {"abcabc", "ca", 3},   {"abc", "abcd", 0},   {"a  ", " ", 2},    {"abc", "abc", 1},
      {"aaab", "ab", 3},     {"abc", "C", 0},
  };
  for (const auto &c : cases) {
    Call call;
    call.str(c.src).str(c.excerpt);
    double out = -7;
    EXPECT_EQ(fndxt_(call.block(), &out), FNC_RC_OK) << c.src << " / " << c.excerpt;
    EXPECT_EQ(out, c.want) << '"' << c.src << "\" / \"" << c.excerpt << '"';
  }
}

TEST_F(Access, TextPositionReadsLow32BitsOfTheLengths) {
  Call call;
  call.str("xxab").str("ab");
  call.string_arg(0)->length = (int64_t)1 << 32 | 4;  // low 32 bits: 4
  double out = -7;
  EXPECT_EQ(fndxt_(call.block(), &out), FNC_RC_OK);
  EXPECT_EQ(out, 3);
  // Low 32 bits negative: not searched (no zero-terminated reading).
  call.string_arg(0)->length = 4;
  call.string_arg(1)->length = (int64_t)0xFFFFFFFF;
  EXPECT_EQ(fndxt_(call.block(), &out), FNC_RC_OK);
  EXPECT_EQ(out, 0);
}

// ---------------------------------------------------------------------------
// SUBPAD
// ---------------------------------------------------------------------------

constexpr double kNoLength = -12345;  // marker: call without a length argument

struct SubpadCase {
  const char *name;
  const char *text;
  double pos, length;
  int64_t room;
  const char *want;
  int32_t rc;
  int marked;              // 0-based argument marked, -1 none
  std::vector<int> messages;
};

TEST_F(Access, Subpad) {
  const SubpadCase cases[] = {
      {"from 2", "abc", 2, kNoLength, 10, "bc", FNC_RC_OK, -1, {}},
      {"from 0: one leading blank", "abc", 0, kNoLength, 10, " abc", FNC_RC_OK, -1, {}},
      {"from 4: empty", "abc", 4, kNoLength, 10, "", FNC_RC_OK, -1, {}},
      {"from -2", "abc", -2, kNoLength, 10, "   abc", FNC_RC_OK, -1, {}},
      {"0.5 without a length: offset 0", "abc", 0.5, kNoLength, 10, "abc", FNC_RC_OK, -1, {}},
      {"0.5 with a length: offset -1", "abc", 0.5, 4, 10, " abc", FNC_RC_OK, -1, {}},
      {"1.5 both forms agree", "abc", 1.5, 2, 10, "ab", FNC_RC_OK, -1, {}},
      {"2 length 5", "abc", 2, 5, 10, "bc   ", FNC_RC_OK, -1, {}},
      {"-1 length 3", "abc", -1, 3, 10, "  a", FNC_RC_OK, -1, {}},
      {"-3 length 3", "abc", -3, 3, 10, "   ", FNC_RC_OK, -1, {}},
      {"0 length 5", "abc", 0, 5, 10, " abc ", FNC_RC_OK, -1, {}},
      {"beyond the text with a length", "abc", 5, 2, 10, "  ", FNC_RC_OK, -1, {}},
      {"length below 1", "abc", 1, 0.5, 10, "", FNC_RC_OK, -1, {}},
      {"length 0", "abc", 1, 0, 10, "", FNC_RC_OK, -1, {}},
      {"cut to the room", "abc", 1, 10, 6, "abc   ", FNC_RC_OK, -1, {8}},
      {"cut without a length", "abcdef", 2, kNoLength, 3, "bcd", FNC_RC_OK, -1, {8}},
      {"no room at all", "abc", 2, kNoLength, 0, "", FNC_RC_OK, -1, {8}},
      {"missing position", "abc", kNaN, kNoLength, 10, "", FNC_RC_NOTE, 1, {}},
      {"missing position with a length", "abc", kNaN, 3, 10, "", FNC_RC_NOTE, 1, {}},
      {"missing length", "abc", 1, kNaN, 10, "", FNC_RC_NOTE, 2, {}},
      {"negative length", "abc", 1, -1, 10, "", FNC_RC_NOTE, 2, {}},
      {"huge length", "abc", 1, 1e300, 10, "", FNC_RC_NOTE, 2, {}},
      {"infinite length", "abc", 1, kInf, 10, "", FNC_RC_NOTE, 2, {}},
      {"length 2^63 saturates", "abc", 1, kTwo63, 4, "abc ", FNC_RC_OK, -1, {8}},
      {"position at -2^63", "abc", -kTwo63, kNoLength, 10, "", FNC_RC_NOTE, 1, {}},
      {"position -inf", "abc", -kInf, kNoLength, 10, "", FNC_RC_NOTE, 1, {}},
      {"position huge", "abc", 1e300, kNoLength, 10, "", FNC_RC_OK, -1, {}},
      {"position +inf", "abc", kInf, kNoLength, 10, "", FNC_RC_OK, -1, {}},
      {"position at -2^63 with a length marks the length", "abc", -kTwo63, 3, 10, "", FNC_RC_NOTE, 2, {}},
      {"position -inf with a length", "abc", -kInf, 3, 10, "", FNC_RC_NOTE, 2, {}},
      {"position huge with a length", "abc", 1e300, 3, 10, "   ", FNC_RC_OK, -1, {}},
      {"position far before the text", "abc", -4e18, kNoLength, 5, "     ", FNC_RC_OK, -1, {8}},
      {"position far before, with a length", "abc", -4e18, 2, 5, "  ", FNC_RC_OK, -1, {}},
      {"empty text from 1", "", 1, kNoLength, 5, "", FNC_RC_OK, -1, {}},
      {"empty text from 0", "", 0, kNoLength, 5, " ", FNC_RC_OK, -1, {}},
      {"empty text with a length", "", -1, 3, 5, "   ", FNC_RC_OK, -1, {}},
  };
  for (const auto &c : cases) {
    host_.clear_log();
    Call call;
    call.str(c.text).num(c.pos);
    if (c.length == kNoLength) {
    } else if (std::isnan(c.length)) {
      call.missing();
    } else {
      call.num(c.length);
    }
    Result r(c.room);
    EXPECT_EQ(fsubp_(call.block(), &r.rec), c.rc) << c.name;
    EXPECT_EQ(r.text(), c.want) << c.name;
    EXPECT_TRUE(tail_untouched(r)) << c.name;
    for (int i = 0; i < call.block()->argCount; i++)
      EXPECT_EQ(call.mark(i), i == c.marked ? FNC_MARK_BAD : 0) << c.name << " argument " << i + 1;
    EXPECT_EQ(host_.message_numbers(), c.messages) << c.name;
  }
}

TEST_F(Access, SubpadMessageCarriesTheLengthAskedFor) {
  Call call;
  call.str("abc").num(1).num(10);
  Result r(6);
  EXPECT_EQ(fsubp_(call.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), "abc   ");
  ASSERT_EQ(host_.message_numbers(), std::vector<int>{8});
  const auto &e = host_.log().back();
  ASSERT_GE(e.args.size(), 2u);
  EXPECT_EQ(e.args[0], "SUBPAD");
  EXPECT_EQ(e.args[1], "10");
}

TEST_F(Access, SubpadAbsentLengthIsTheShortForm) {
  Call call;
  call.str("abc").num(2).absent(FNC_ARG_NUMERIC);
  Result r(10);
  EXPECT_EQ(fsubp_(call.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), "bc");
}

TEST_F(Access, SubpadGrowsAGrowableResult) {
  Call call;
  call.str("abc").num(0).num(300);
  Result r(1000, true, 0);
  EXPECT_EQ(fsubp_(call.block(), &r.rec), FNC_RC_OK);
  ASSERT_EQ(r.rec.length, 300);
  EXPECT_EQ(r.text(), " abc" + std::string(296, ' '));
  EXPECT_TRUE(host_.message_numbers().empty());

  Call again;
  again.str("abc").num(1);
  Result failing(1000, true, 0);
  failing.grow.fail = true;
  EXPECT_EQ(fsubp_(again.block(), &failing.rec), FNC_RC_NOROOM);
}

}  // namespace
