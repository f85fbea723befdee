// Tests of the quoted-word scan (fncscnq) and count (fnccouq): words with
// protected quotes, the white-space default, delimiter lists and message 80,
// word numbers, both calling forms, the list-table cache with its growth,
// the scratch table, and agreement with the plain splitter.
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "charfn/entry_types.h"
#include "host/host.h"
#include "tests/reference/words_reference.h"
#include "tests/support/call.h"
#include "tests/support/host_fixture.h"

namespace {

using zeqtest::host;

using ScanEntry = zeq::typed::CharEntry;
using CountEntry = zeq::typed::NumberEntry;
ScanEntry scnq() { return zeq::typed::entry<zeq::typed::SCANQ>(host()); }
CountEntry couq() { return zeq::typed::entry<zeq::typed::COUNTQ>(host()); }

struct Answer {
  int32_t rc;
  std::string word;
  uint8_t mark_n, mark_list;
};

Answer scan(const std::string &s, double n, const char *list = nullptr, int64_t room = 32) {
  zeqtest::Call c;
  c.str(s).num(n);
  if (list) c.str(list);
  zeqtest::Result r(room);
  r.rec.length = -7;
  const int32_t rc = scnq()(c.block(), &r.rec);
  return {rc, r.rec.length < 0 ? "<unset>" : r.text(), c.mark(1), list ? c.mark(2) : (uint8_t)0};
}

double count(const std::string &s, const char *list = nullptr, int32_t *rc = nullptr, uint8_t kind = 0) {
  zeqtest::Call c;
  c.str(s);
  if (list) c.str(list);
  c.kind(kind);
  double out = -1;
  const int32_t r = couq()(c.block(), &out);
  if (rc) *rc = r;
  return out;
}

// ---------------------------------------------------------------------------
// Scan, function form.
// ---------------------------------------------------------------------------
TEST(QuotedScan, Words) {
  const struct {
    const char *s;
    double n;
    const char *list;
    const char *word;
  } cases[] = {
      {"a\"b c\"d", 1, nullptr, "a\"b c\"d"},
      {"a\"b c\"d", 2, nullptr, ""},  // not there: empty, not a blank
      {"a b", 2, nullptr, "b"},
      {"a b", -1, nullptr, "b"},
      {"a\tb\nc", 3, nullptr, "c"},
      {"x 'a b' y", -2, nullptr, "'a b'"},
      {"a b\" c", -2, nullptr, "a b\""},
      {"a b\" c", -1, nullptr, "c"},
      {"a \"b c", 2, nullptr, "\"b c"},
      {"\"a\"\" b\" c", 1, nullptr, "\"a\"\" b\""},
      {"a,b c,,d", 2, ",", "b c"},
      {"a,b c,,d", 3, ",", "d"},
      {"a b", 1, "", "a b"},
      {"", 1, nullptr, ""},
      {"   ", -1, nullptr, ""},
  };
  for (const auto &tc : cases) {
    const Answer a = scan(tc.s, tc.n, tc.list);
    EXPECT_EQ(a.rc, FNC_RC_OK) << tc.s << " " << tc.n;
    EXPECT_EQ(a.word, tc.word) << tc.s << " " << tc.n;
  }
}

TEST(QuotedScan, WordNumbers) {
  Answer a = scan("a b", 0);
  EXPECT_EQ(a.rc, FNC_RC_OK);
  EXPECT_EQ(a.word, "");
  EXPECT_EQ(a.mark_n, 0);
  for (double bad : {2.5, std::nan(""), 3e9, -3e9, (double)INFINITY}) {
    host().clear_log();
    a = scan("a b", bad);
    EXPECT_EQ(a.rc, FNC_RC_NOTE) << bad;
    EXPECT_EQ(a.word, "") << bad;
    EXPECT_EQ(a.mark_n, FNC_MARK_BAD) << bad;
    EXPECT_TRUE(host().message_numbers().empty());
  }
  EXPECT_EQ(scan("a b", -2147483648.0).word, "");
  EXPECT_EQ(scan("a b", 2147483647.0).rc, FNC_RC_OK);
}

TEST(QuotedScan, QuoteInListIsMessage80) {
  host().clear_log();
  Answer a = scan("a b", 1, ",\"");
  EXPECT_EQ(a.rc, FNC_RC_NOTE);
  EXPECT_EQ(a.word, "");
  EXPECT_EQ(a.mark_list, FNC_MARK_BAD);
  EXPECT_EQ(a.mark_n, 0);
  ASSERT_EQ(host().log().size(), 1u);
  EXPECT_EQ(host().log()[0].number, 80);
  EXPECT_EQ(host().log()[0].args, (std::vector<std::string>{"'", "2"}));

  host().clear_log();
  a = scan("a b", 1, "'");
  EXPECT_EQ(a.rc, FNC_RC_NOTE);
  ASSERT_EQ(host().log().size(), 1u);
  EXPECT_EQ(host().log()[0].args, (std::vector<std::string>{"\"", "1"}));
}

TEST(QuotedScan, CutToTheRoom) {
  EXPECT_EQ(scan("abcdef g", 1, nullptr, 3).word, "abc");
  EXPECT_EQ(scan("abcdef g", 1, nullptr, 0).word, "");
}

// ---------------------------------------------------------------------------
// Scan, call form.
// ---------------------------------------------------------------------------
struct Target {
  int32_t rc;
  double position, length;
  uint8_t mark_n, mark_list;
};

Target call_scan(const std::string &s, double n, const char *list = nullptr) {
  zeqtest::Call c;
  c.str(s).num(n).num(-1).num(-1);
  if (list) c.str(list);
  c.form(FNC_FORM_CALL);
  const int32_t rc = scnq()(c.block(), nullptr);
  return {rc, *c.number_arg(2), *c.number_arg(3), c.mark(1), list ? c.mark(4) : (uint8_t)0};
}

TEST(QuotedScanCall, PositionAndLength) {
  Target t = call_scan("a  'b c'", 2);
  EXPECT_EQ(t.rc, FNC_RC_OK);
  EXPECT_EQ(t.position, 4);
  EXPECT_EQ(t.length, 5);
  t = call_scan("a b", 3);
  EXPECT_EQ(t.position, 0);
  EXPECT_EQ(t.length, 0);
  t = call_scan("a b", 0);
  EXPECT_EQ(t.rc, FNC_RC_OK);
  EXPECT_EQ(t.position, 0);
  EXPECT_EQ(t.length, 0);
  t = call_scan("a b\" c", -2);
  EXPECT_EQ(t.position, 1);
  EXPECT_EQ(t.length, 4);
}

TEST(QuotedScanCall, RefusalsGiveMissingTargets) {
  Target t = call_scan("a b", std::nan(""));
  EXPECT_EQ(t.rc, FNC_RC_NOTE);
  EXPECT_TRUE(std::isnan(t.position));
  EXPECT_TRUE(std::isnan(t.length));
  EXPECT_EQ(t.mark_n, FNC_MARK_BAD);

  host().clear_log();
  t = call_scan("a b", 1, "\"");
  EXPECT_EQ(t.rc, FNC_RC_NOTE);
  EXPECT_TRUE(std::isnan(t.position));
  EXPECT_TRUE(std::isnan(t.length));
  EXPECT_EQ(t.mark_n, 0);
  EXPECT_EQ(t.mark_list, FNC_MARK_BAD);
  EXPECT_EQ(host().message_numbers(), std::vector<int>{80});
}

TEST(QuotedScanCall, AbsentTargetsAreLeftAlone) {
  zeqtest::Call c;
  c.str("a b").num(1).absent(FNC_ARG_NUMERIC).num(-1);
  c.form(FNC_FORM_CALL);
  EXPECT_EQ(scnq()(c.block(), nullptr), FNC_RC_OK);
  EXPECT_EQ(*c.number_arg(3), 1);
}

// ---------------------------------------------------------------------------
// Count.
// ---------------------------------------------------------------------------
TEST(QuotedCount, Counts) {
  EXPECT_EQ(count(""), 0);
  EXPECT_EQ(count("  "), 0);
  EXPECT_EQ(count("a \"b c\" d"), 3);
  EXPECT_EQ(count("a\"b c\"d"), 1);
  EXPECT_EQ(count("a 'b"), 2);
  EXPECT_EQ(count("a,b,,c", ","), 3);
  EXPECT_EQ(count("a b", ""), 1);
}

TEST(QuotedCount, QuoteInListWritesNoCount) {
  host().clear_log();
  zeqtest::Call c;
  c.str("a b").str(",\"");
  double out = -1;
  EXPECT_EQ(couq()(c.block(), &out), FNC_RC_NOTE);
  EXPECT_EQ(out, -1);
  EXPECT_EQ(c.mark(1), FNC_MARK_BAD);
  ASSERT_EQ(host().log().size(), 1u);
  EXPECT_EQ(host().log()[0].args, (std::vector<std::string>{"'", "2"}));
}

TEST(QuotedCount, AgreesWithReference) {
  std::mt19937 rng(4242);
  const char alphabet[] = "ab \t\"'";
  zeqref::DelimSet spaces{};
  for (int b = 0; b < 256; b++) spaces[b] = (host().control_block()->charclass[b] & 0x08) != 0;
  for (int round = 0; round < 2000; round++) {
    std::string s(rng() % 16, ' ');
    for (char &ch : s) ch = alphabet[rng() % (sizeof alphabet - 1)];
    const auto words = zeqref::split_words(s, spaces, false, true, false);
    ASSERT_EQ(count(s), (double)words.size()) << "'" << s << "'";
    const auto back = zeqref::split_words(s, spaces, false, true, true);
    for (int64_t k = 1; k <= 3; k++) {
      std::string want = k <= (int64_t)words.size() ? s.substr(words[k - 1].offset, words[k - 1].length) : "";
      EXPECT_EQ(scan(s, (double)k).word, want) << "'" << s << "' " << k;
      want = k <= (int64_t)back.size() ? s.substr(back[k - 1].offset, back[k - 1].length) : "";
      EXPECT_EQ(scan(s, (double)-k).word, want) << "'" << s << "' " << -k;
    }
  }
}

// ---------------------------------------------------------------------------
// Where the list's table lives.
// ---------------------------------------------------------------------------
constexpr uint8_t kLimited = 0x68;

void set_text(zeqtest::Call &c, int i, const char *text) {
  FncString *s = c.string_arg(i);
  s->data = const_cast<char *>(text);
  s->length = s->maxLength = (int64_t)std::strlen(text);
}

TEST(QuotedCache, KeepsAndGrowsTheListTable) {
  zeqtest::Call c;
  c.str("a,b;c d").str(",").kind(kLimited);
  double out = -1;
  auto &pool = host().task_pool();
  const size_t live = pool.live_blocks();
  ASSERT_EQ(couq()(c.block(), &out), FNC_RC_OK);
  EXPECT_EQ(out, 2);
  const int64_t first = c.block()->noteCount;
  ASSERT_NE(first, 0);
  EXPECT_EQ(pool.last_size(), 265u);
  EXPECT_EQ(pool.last_flags(), 8192u);
  EXPECT_EQ(pool.live_blocks(), live + 1);

  // The same list again: the table is reused, nothing is allocated.
  const size_t allocations = pool.allocations();
  ASSERT_EQ(couq()(c.block(), &out), FNC_RC_OK);
  EXPECT_EQ(out, 2);
  EXPECT_EQ(pool.allocations(), allocations);

  // A longer list grows the block; a list of the same length rebuilds it.
  set_text(c, 1, ",;");
  ASSERT_EQ(couq()(c.block(), &out), FNC_RC_OK);
  EXPECT_EQ(out, 3);
  EXPECT_EQ(pool.last_size(), 266u);
  EXPECT_EQ(pool.live_blocks(), live + 1);
  set_text(c, 1, " ;");
  ASSERT_EQ(couq()(c.block(), &out), FNC_RC_OK);
  EXPECT_EQ(out, 3);
  set_text(c, 1, " ");
  ASSERT_EQ(couq()(c.block(), &out), FNC_RC_OK);
  EXPECT_EQ(out, 2);
  EXPECT_EQ(pool.live_blocks(), live + 1);

  // A quoted list is refused every time and leaves the cache as it was.
  set_text(c, 1, "'");
  host().clear_log();
  EXPECT_EQ(couq()(c.block(), &out), FNC_RC_NOTE);
  EXPECT_EQ(couq()(c.block(), &out), FNC_RC_NOTE);
  EXPECT_EQ(host().message_numbers(), (std::vector<int>{80, 80}));
  set_text(c, 1, " ");
  ASSERT_EQ(couq()(c.block(), &out), FNC_RC_OK);
  EXPECT_EQ(out, 2);
}

TEST(QuotedCache, ScanSharesTheSameRecord) {
  zeqtest::Call c;
  c.str("a,b c").num(2).str(",").kind(kLimited);
  zeqtest::Result r(8);
  ASSERT_EQ(scnq()(c.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), "b c");
  ASSERT_NE(c.block()->noteCount, 0);
  set_text(c, 2, " ");
  ASSERT_EQ(scnq()(c.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), "c");
}

TEST(QuotedCache, FailuresAreNoRoom) {
  auto &pool = host().task_pool();
  zeqtest::Call c;
  c.str("a b").str(",").kind(kLimited);
  double out = -1;
  pool.fail_nth(1);
  EXPECT_EQ(couq()(c.block(), &out), FNC_RC_NOROOM);
  EXPECT_EQ(c.block()->noteCount, 0);
  ASSERT_EQ(couq()(c.block(), &out), FNC_RC_OK);
  const int64_t block = c.block()->noteCount;
  set_text(c, 1, ",;:");
  pool.fail_nth(1);
  EXPECT_EQ(couq()(c.block(), &out), FNC_RC_NOROOM);
  EXPECT_EQ(c.block()->noteCount, block);  // the old block stays the call site's
  pool.fail_nth(0);
}

// Counts what a call takes from the thread's scratch allocator.
struct CountingScratch {
  ZeqScratch rec{};
  ZeqScratch *inner = nullptr;
  int allocs = 0;
  int64_t level = 0;  // blocks not yet given back
  static CountingScratch *self(ZeqScratch *s) { return reinterpret_cast<CountingScratch *>(s); }
};

TEST(QuotedScratch, TableComesFromTheThreadAndGoesBack) {
  ZeqThread *thread = host().thread();
  ASSERT_NE(thread, nullptr);
  ASSERT_NE(thread->scratch, nullptr);
  static CountingScratch counting;
  counting = {};
  counting.inner = thread->scratch;
  counting.rec.alloc = [](ZeqScratch *s, uint64_t size) {
    CountingScratch *c = CountingScratch::self(s);
    c->allocs++;
    c->level++;
    return c->inner->alloc(c->inner, size);
  };
  counting.rec.mark = [](ZeqScratch *s) { return CountingScratch::self(s)->inner->mark(CountingScratch::self(s)->inner); };
  counting.rec.release = [](ZeqScratch *s, uint64_t m) {
    CountingScratch *c = CountingScratch::self(s);
    c->level = 0;
    c->inner->release(c->inner, m);
  };
  thread->scratch = &counting.rec;
  const size_t live = host().task_pool().live_blocks();
  EXPECT_EQ(count("a,b", ","), 2);
  EXPECT_EQ(scan("a,b", 2, ",").word, "b");
  EXPECT_EQ(count("a b"), 2);  // no list: no table
  thread->scratch = counting.inner;
  EXPECT_EQ(counting.allocs, 2);
  EXPECT_EQ(counting.level, 0);
  EXPECT_EQ(host().task_pool().live_blocks(), live);
}

TEST(QuotedScratch, WithoutScratchThePoolBlockIsReleased) {
  ZeqThread *thread = host().thread();
  ZeqScratch *saved = thread->scratch;
  thread->scratch = nullptr;
  const size_t live = host().task_pool().live_blocks();
  const size_t allocations = host().task_pool().allocations();
  EXPECT_EQ(count("a,b", ","), 2);
  EXPECT_EQ(host().task_pool().allocations(), allocations + 1);
  EXPECT_EQ(host().task_pool().live_blocks(), live);
  host().task_pool().fail_nth(1);
  int32_t rc;
  count("a,b", ",", &rc);
  EXPECT_EQ(rc, FNC_RC_NOROOM);
  host().task_pool().fail_nth(0);
  thread->scratch = saved;
}

}  // namespace
