// tests/column_test.cc - the column path (host/column.h) against Worker::call:
// random rows of every catalogue function in both encodings and several
// result options, allocation on the success path, and threads of both
// encodings running blocks at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/column.h"
#include "tests/support/host_fixture.h"

namespace {

std::atomic<size_t> g_news{0};

}  // namespace

// Counts the allocations of the whole executable (its replacement of the
// global operator new pairs malloc with free).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void *operator new(std::size_t n) {
  g_news.fetch_add(1, std::memory_order_relaxed);
  if (void *p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }

namespace {

using zeq::catalogue::Function;
using zeqhost::Arg;
using zeqhost::CallOptions;
using zeqhost::Cell;
using zeqhost::ColumnCall;
using zeqhost::Encoding;
using zeqhost::Value;
using zeqhost::Worker;

const std::vector<std::string> &texts() {
  static const std::vector<std::string> t = {
      "", " ", "a", "abc", "kitten", "sitting", "Hello World", "  padded  ", "i", "il", "ln", "l", ",", "n",
      "a,b,,c", "\"quoted, words\" 'x' y", "caf\xC3\xA9 na\xC3\xAFve", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
      "x\x01y\xFF", std::string(300, 'q')};
  return t;
}

const double kNumbers[] = {-3, -1, 0, 1, 2, 3, 7, 100, 2.5, 1e12};

// One random row for `fn` with `n` arguments: mostly the types a pattern of
// the catalogue wants, sometimes a missing value, now and then a wrong kind.
std::vector<Value> random_row(const Function &fn, int n, std::mt19937 &rng, bool allow_long) {
  std::vector<std::string> fits;
  std::string_view rest = fn.argtypes;
  while (!rest.empty()) {
    const size_t sp = rest.find(' ');
    std::string pat(rest.substr(0, sp));
    rest = sp == std::string_view::npos ? std::string_view{} : rest.substr(sp + 1);
    const bool repeat = !pat.empty() && pat.back() == '*';
    if (repeat) pat.pop_back();
    while (repeat && (int)pat.size() < n) pat += pat.back();
    if ((int)pat.size() == n) fits.push_back(pat);
  }
  const std::string pat = fits.empty() ? std::string((size_t)n, 'x') : fits[rng() % fits.size()];
  std::vector<Value> row;
  for (char want : pat) {
    const unsigned roll = rng() % 100;
    bool text = want == '2' || (want == 'x' && rng() % 2);
    if (roll < 10) {
      row.push_back(Value::missing());
      continue;
    }
    if (roll < 13) text = !text;
    if (text && roll == 99 && allow_long) row.push_back(Value::str(std::string(66000, 'w') + "z"));  // a result past 64K
    else if (text) row.push_back(Value::str(texts()[rng() % texts().size()]));
    else row.push_back(Value::num(kNumbers[rng() % std::size(kNumbers)]));
  }
  return row;
}

// The row through the column path agrees with Worker::call in everything a
// caller can see.
void expect_same(const Cell &c, const ColumnCall &col, const zeqhost::CallOutcome &o, const std::string &where) {
  ASSERT_EQ(c.refused, !o.error.empty()) << where << ": " << o.sentence();
  const zeqhost::CallOutcome got = col.outcome();
  EXPECT_EQ(got.sentence(), o.sentence()) << where;
  EXPECT_EQ(got.bad_argument, o.bad_argument) << where;
  if (c.refused) return;
  EXPECT_EQ(c.status, o.status) << where;
  EXPECT_EQ(c.kind, o.result.kind) << where;
  if (o.result.kind == Value::Number) {
    EXPECT_EQ(c.number, o.result.number) << where;
  } else if (o.result.kind == Value::Text) {
    EXPECT_EQ(c.text, o.result.text) << where;
  }
  EXPECT_EQ(c.noted, !o.messages.empty()) << where;
  ASSERT_EQ(got.messages.size(), o.messages.size()) << where;
  for (size_t i = 0; i < o.messages.size(); i++) EXPECT_EQ(got.messages[i].text, o.messages[i].text) << where;
}

std::vector<Arg> views(const std::vector<Value> &row) {
  std::vector<Arg> out;
  for (const Value &v : row) out.push_back(Arg::of(v));
  return out;
}

TEST(ColumnCall, AgreesWithWorkerCallOnRandomRowsOfEveryFunction) {
  std::vector<CallOptions> options(4);
  options[1].growable = false, options[1].length = 12;
  options[2].max_length = 16;
  options[3].varchar = true, options[3].length = 3;
  std::mt19937 rng(20261207);
  for (Encoding enc : {Encoding::Latin1, Encoding::Utf8}) {
    Worker ref(zeqtest::host(), enc), w(zeqtest::host(), enc);
    for (const Function &fn : zeq::catalogue::kFunctions) {
      if (!fn.has(zeq::catalogue::ZEQ_FN_FUNCTION) || fn.has(zeq::catalogue::ZEQ_FN_HIDDEN)) continue;
      const int top = fn.max_args == zeq::catalogue::kAnyCount ? fn.min_args + 3 : fn.max_args;
      for (int n = std::max(0, fn.min_args - 1); n <= top + 1; n++) {
        for (size_t k = 0; k < options.size(); k++) {
          ColumnCall col(w, fn, (size_t)n, options[k]);
          zeqhost::CallSite site(ref, fn, options[k]);  // keeps its call-site cache as the column does
          ColumnCall::Block block(col);
          for (int r = 0; r < 7; r++) {
            const std::vector<Value> row = random_row(fn, n, rng, k == 0);
            const std::string where = std::string(fn.name) + "/" + std::to_string(n) + " args, options " +
                                      std::to_string(k) + (enc == Encoding::Utf8 ? ", utf-8" : ", latin-1") +
                                      ", row " + std::to_string(r);
            const Cell &c = col.run(views(row));
            expect_same(c, col, site.call(row), where);
          }
        }
      }
    }
  }
}

TEST(ColumnCall, RowsOutsideABlockAndAPreparedCallThatCannotRun) {
  Worker w(zeqtest::host(), Encoding::Utf8), ref(zeqtest::host(), Encoding::Utf8);
  const Function &lev = *zeq::catalogue::find("COMPLEV");
  ColumnCall col(w, lev, 2);
  EXPECT_EQ(col.run({Arg::text("kitten"), Arg::text("sitting")}).number, 3);
  EXPECT_EQ(col.run({Arg::text("B\xC3\xA9nin"), Arg::text("Benin")}).number, 2);
  EXPECT_TRUE(col.run({Arg::text("a")}).refused);
  EXPECT_EQ(col.outcome().sentence(), "COMPLEV: this call site takes 2 arguments, got 1");

  // Blocks of two calls open at once: each row's lines stay with its call.
  ColumnCall other(w, lev, 3);
  {
    ColumnCall::Block b1(col), b2(other);
    const Cell &c = col.run({Arg::text("abc"), Arg::text("q")});
    EXPECT_FALSE(c.noted);
    EXPECT_TRUE(other.run({Arg::text("abc"), Arg::text("abd"), Arg::text("Q")}).noted);
    EXPECT_EQ(other.outcome().messages.size(), ref.call("COMPLEV", {Value::str("abc"), Value::str("abd"), Value::str("Q")}).messages.size());
    EXPECT_EQ(ref.call("COMPLEV", {Value::str("a"), Value::str("b")}).result.number, 1);  // a call inside the blocks
  }

  ColumnCall bad(w, lev, 7);
  EXPECT_EQ(bad.error(), ref.call(lev, std::vector<Value>(7)).sentence());
  EXPECT_TRUE(bad.run(std::vector<Arg>(7)).refused);
  CallOptions huge;
  huge.length = zeqhost::kMaxResultLength + 1;
  EXPECT_NE(ColumnCall(w, lev, 2, huge).error(), "");
}

TEST(ColumnCall, SuccessfulRowsAllocateNothing) {
  Worker w(zeqtest::host(), Encoding::Utf8);
  const std::string a = "Jonathan Smithers", b = "J\xC3\xB3nathan Smythe", longer(5000, 'k');
  for (const char *name : {"COMPLEV", "COMPGED", "CATX", "FIRST"}) {
    const Function &fn = *zeq::catalogue::find(name);
    const size_t n = fn.result == zeq::catalogue::Result::Direct ? 1 : 3;
    ColumnCall col(w, fn, n);
    ColumnCall::Block block(col);
    const bool cat = fn.result == zeq::catalogue::Result::Char;  // CATX(separator, items...)
    const Arg rows[2][3] = {{Arg::text(a), Arg::text(b), cat ? Arg::text(a) : Arg::num(100)},
                            {Arg::text(longer), Arg::text(b), cat ? Arg::missing() : Arg::num(6000)}};
    for (int warm = 0; warm < 2; warm++) col.run(std::span<const Arg>(rows[warm], n));
    const size_t before = g_news.load();
    for (int r = 0; r < 2000; r++) ASSERT_TRUE(col.run(std::span<const Arg>(rows[r % 2], n)).ok()) << name;
    EXPECT_EQ(g_news.load(), before) << name;
  }
}

TEST(ColumnCall, ThreadsOfBothEncodingsRunBlocksAtOnce) {
  const Function &find = *zeq::catalogue::find("FIND");
  const std::string a = "\xC3\xA9\xC3\xA9!", b = "!";  // at 3 in characters, 5 in bytes
  std::atomic<int> wrong{0};
  auto part = [&](Encoding enc) {
    Worker w(zeqtest::host(), enc);
    ColumnCall col(w, find, 2);
    const double want = enc == Encoding::Utf8 ? 3 : 5;
    for (int b0 = 0; b0 < 200; b0++) {
      ColumnCall::Block block(col);
      for (int r = 0; r < 50; r++)
        if (col.run({Arg::text(a), Arg::text(b)}).number != want) wrong++;
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) threads.emplace_back(part, t % 2 ? Encoding::Utf8 : Encoding::Latin1);
  for (auto &t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
