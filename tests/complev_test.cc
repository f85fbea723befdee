// Tests of COMPLEV: distances against a plain O(mn) reference, the cutoff
// (answer = min(distance, cutoff), at, below and above it), modifiers, the
// cutoff arguments, and the scratch memory of long strings.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/host.h"
#include "tests/reference/edit_distance.h"
#include "tests/support/call.h"

namespace {

zeqhost::Host &host() {
  static zeqhost::Host *h = new zeqhost::Host();
  return *h;
}

using NumFn = int32_t (*)(FncArgList *, double *);

struct A {
  enum K { Chr, Num, Miss } k;
  std::string s;
  double x = 0;
};
A C(std::string s) { return {A::Chr, std::move(s)}; }
A N(double x) { return {A::Num, {}, x}; }
A Miss() { return {A::Miss, {}}; }

int32_t complev(const std::vector<A> &args, double *r, zeqtest::Call *keep = nullptr) {
  zeqtest::Call local;
  zeqtest::Call &c = keep ? *keep : local;
  for (const A &a : args) {
    if (a.k == A::Chr) c.str(a.s);
    else if (a.k == A::Num) c.num(a.x);
    else c.missing();
  }
  return host().fn<NumFn>("fncomlev")(c.block(), r);
}

double lev(const std::vector<A> &args) {
  double r = -999;
  EXPECT_EQ(complev(args, &r), FNC_RC_OK);
  return r;
}

struct LevCase {
  const char *name;
  std::vector<A> args;
  double expected;
};

class Complev : public ::testing::TestWithParam<LevCase> {};

TEST_P(Complev, GivesDistanceOrCutoff) {
  host().clear_log();
  EXPECT_EQ(lev(GetParam().args), GetParam().expected);
  EXPECT_TRUE(host().log().empty());
}

const std::string k40a(40, 'a'), k40b(40, 'b');

INSTANTIATE_TEST_SUITE_P(
    Complev, Complev,
    ::testing::Values(
        LevCase{"Kitten", {C("kitten"), C("sitting")}, 3},
        LevCase{"CutoffBelowDistance", {C("kitten"), C("sitting"), N(2)}, 2},
        LevCase{"CutoffAtDistance", {C("kitten"), C("sitting"), N(3)}, 3},
        LevCase{"CutoffAboveDistance", {C("kitten"), C("sitting"), N(4)}, 3},
        LevCase{"TrailingBlanksIgnored", {C("abc"), C("abc   ")}, 0},
        LevCase{"LeadingBlanksCount", {C(" abc"), C("abc")}, 1},
        LevCase{"LeadingBlanksDropped", {C(" abc"), C("abc"), C("L")}, 0},
        LevCase{"CaseMatters", {C("ABC"), C("abc")}, 3},
        LevCase{"IgnoreCase", {C("ABC"), C("abc"), C("I")}, 0},
        LevCase{"LengthGapAboveCutoff", {C("abc"), C("abcdefgh"), N(2)}, 2},
        LevCase{"LengthGapAtCutoff", {C("abc"), C("abcdefgh"), N(5)}, 5},
        LevCase{"BothEmpty", {C(""), C("")}, 0},
        LevCase{"EmptyAgainstThree", {C(""), C("abc")}, 3},
        LevCase{"ThreeAgainstEmpty", {C("abc"), C("")}, 3},
        LevCase{"PrefixAndSuffixOnly", {C("abXYcd"), C("abcd")}, 2},
        LevCase{"HugeCutoffIsNoCutoff", {C("kitten"), C("sitting"), N(5e6)}, 3},
        LevCase{"HugeCutoffAllowsASecond", {C("kitten"), C("sitting"), N(5e6), N(1)}, 1},
        LevCase{"NameLiterals", {C("'ab c'n"), C("AB D"), C("N")}, 1},
        LevCase{"ColonCutsLonger", {C("abcdef"), C("abx"), C(":")}, 1},
        LevCase{"FortyDifferEverywhere", {C(k40a), C(k40b)}, 40},
        LevCase{"FortyWithCutoff", {C(k40a), C(k40b), N(7)}, 7},
        LevCase{"FortyIgnoreCase", {C(k40a), C("AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAB"), C("I")}, 1}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ComplevModifiers, InvalidLetterWritesTheLogLineNamingComplev) {
  host().clear_log();
  EXPECT_EQ(lev({C("ab"), C("ab"), C("#")}), 0);
  ASSERT_EQ(host().log().size(), 1u);
  const auto &e = host().log()[0];
  EXPECT_EQ(e.kind, zeqhost::LogEntry::Formatted);
  EXPECT_EQ(e.level, 2);
  EXPECT_NE(e.text.find("The modifier\"#\" in the COMPLEV function is not valid."),
            std::string::npos)
      << e.text;
}

TEST(ComplevCutoff, InvalidCutoffMarksItsArgument) {
  struct Bad {
    std::vector<A> args;
    int marked;
  } cases[] = {
      {{C("a"), C("b"), N(0.5)}, 2}, {{C("a"), C("b"), N(2.5)}, 2},
      {{C("a"), C("b"), Miss()}, 2}, {{C("a"), C("b"), N(0)}, 2},
      {{C("a"), C("b"), N(3), N(3)}, 3}, {{C("a"), C("b"), C("i"), N(-1)}, 3},
  };
  for (auto &tc : cases) {
    zeqtest::Call c;
    double r = -999;
    EXPECT_EQ(complev(tc.args, &r, &c), FNC_RC_NOTE);
    EXPECT_EQ(r, -999);
    for (int i = 0; i < (int)tc.args.size(); i++)
      EXPECT_EQ(c.mark(i), i == tc.marked ? FNC_MARK_BAD : 0);
  }
}

// ---------------------------------------------------------------------------
// Against the reference, fixed seed.
// ---------------------------------------------------------------------------
std::string random_string(std::mt19937 &g, int max_len, const char *alphabet) {
  int n = std::uniform_int_distribution<int>(0, max_len)(g);
  std::string s;
  int k = (int)std::char_traits<char>::length(alphabet);
  for (int i = 0; i < n; i++) s.push_back(alphabet[std::uniform_int_distribution<int>(0, k - 1)(g)]);
  return s;
}

std::string rtrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

TEST(ComplevReference, RandomPairsMatchTheReference) {
  std::mt19937 g(20240611);
  const uint8_t *up = host().control_block()->upcase;
  for (int iter = 0; iter < 3000; iter++) {
    const int max_len = iter % 3 == 0 ? 80 : 12;
    std::string a = random_string(g, max_len, "abcAB ");
    std::string b = random_string(g, max_len, "abcAB ");
    if (iter % 5 == 0) b = a, b.insert(b.begin() + (ptrdiff_t)(a.size() / 2), 'x');
    const bool nocase = iter % 4 == 1;
    std::string ra = rtrim(a), rb = rtrim(b);
    if (nocase)
      for (auto *s : {&ra, &rb})
        for (char &ch : *s) ch = (char)up[(uint8_t)ch];
    const int64_t full = zeqref::levenshtein(ra, rb);

    std::vector<A> args = {C(a), C(b)};
    if (nocase) args.push_back(C("I"));
    ASSERT_EQ(lev(args), (double)full) << "'" << a << "' '" << b << "'";

    const int cutoff = std::uniform_int_distribution<int>(1, 12)(g);
    args.push_back(N(cutoff));
    ASSERT_EQ(lev(args), (double)std::min<int64_t>(full, cutoff))
        << "'" << a << "' '" << b << "' cutoff " << cutoff;
  }
}

// ---------------------------------------------------------------------------
// Memory of long strings.
// ---------------------------------------------------------------------------
struct NoScratch {
  // Swaps the current task's scratch arena for `arena` while in scope.
  explicit NoScratch(ZeqScratch *arena) : saved(host().task()->scratch) {
    host().task()->scratch = arena;
  }
  ~NoScratch() { host().task()->scratch = saved; }
  ZeqScratch *saved;
};

TEST(ComplevMemory, LongStringsGiveTheirScratchBack) {
  std::string a(300, 'a'), b = a;
  b[150] = 'b';
  b += "cc";
  ASSERT_EQ(host().scratch_live(), 0u);
  EXPECT_EQ(lev({C(a), C(b), C("I")}), 3);
  EXPECT_EQ(lev({C(a), C(b), N(2)}), 2);
  EXPECT_EQ(host().scratch_live(), 0u);
}

TEST(ComplevMemory, WithoutArenaTheTaskPoolIsUsedAndReleased) {
  NoScratch none(nullptr);
  auto &pool = host().task_pool();
  size_t live = pool.live_blocks(), served = pool.allocations();
  std::string a(100, 'x'), b(90, 'y');
  EXPECT_EQ(lev({C(a), C(b)}), 100);
  EXPECT_GT(pool.allocations(), served);
  EXPECT_EQ(pool.live_blocks(), live);
}

TEST(ComplevMemory, RefusedMemoryIsNoRoom) {
  NoScratch none(nullptr);
  host().task_pool().fail_always(true);
  double r = -999;
  std::string a(100, 'x'), b(90, 'y');
  EXPECT_EQ(complev({C(a), C(b)}, &r), FNC_RC_NOROOM);
  EXPECT_EQ(r, -999);
  // Short strings need no memory at all.
  EXPECT_EQ(complev({C("abc"), C("abd")}, &r), FNC_RC_OK);
  EXPECT_EQ(r, 1);
  host().task_pool().fail_always(false);
}

}  // namespace
