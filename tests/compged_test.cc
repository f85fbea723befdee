// Tests of COMPCOST and COMPGED: the built-in costs, every operation priced
// on its own, the parsing of operation names and values with their messages,
// the refused table, the cutoff, and random pairs against the plain
// reference (tests/reference/edit_distance.h).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "charfn/entry_types.h"
#include "host/host.h"
#include "tests/reference/countfind_reference.h"
#include "tests/reference/edit_distance.h"
#include "tests/support/call.h"
#include "tests/support/host_fixture.h"

namespace {

using zeqtest::host;

using NumFn = zeq::typed::NumberEntry;
using CostFn = zeq::typed::RoutineEntry;

using A = zeqtest::Arg;
using zeqtest::C;
using zeqtest::N;
using zeqtest::Miss;
using zeqtest::Absent;

// A task of its own, so that the cost table of one test does not leak into
// another.
struct Task {
  FncTask *t = host().new_task();

  int32_t compcost(const std::vector<A> &args, zeqtest::Call *keep = nullptr) {
    zeqtest::Call local;
    zeqtest::Call &c = keep ? *keep : local;
    c.task(t);
    zeqtest::add_args(c, args);
    return zeq::typed::entry<zeq::typed::COMPCOST>(host())(c.block());
  }
  int32_t compged(const std::vector<A> &args, double *r, zeqtest::Call *keep = nullptr) {
    zeqtest::Call local;
    zeqtest::Call &c = keep ? *keep : local;
    c.task(t);
    zeqtest::add_args(c, args);
    return zeq::typed::entry<zeq::typed::COMPGED>(host())(c.block(), r);
  }
  double ged(const std::vector<A> &args) {
    double r = -999;
    EXPECT_EQ(compged(args, &r), FNC_RC_OK);
    return r;
  }
  // The task's cost table (null before the first COMPCOST).
  const int64_t *table() const {
    auto *ctx = static_cast<FncContext *>(t->slots ? t->slots[FNC_TASK_SLOT_CONTEXT] : nullptr);
    return ctx ? static_cast<const int64_t *>(ctx->editCosts) : nullptr;
  }
};

constexpr int64_t kUnset = 4294967295LL;
enum { LEAST, INSERT, DELETE, REPLACE, FINSERT, FDELETE, FREPLACE, APPEND, TRUNCATE, DOUBLE,
       SINGLE, SWAP, BLANK, PUNCT, MATCH };
const char *const kNames[] = {"", "insert", "delete", "replace", "finsert", "fdelete", "freplace",
                              "append", "truncate", "double", "single", "swap", "blank",
                              "punctuation", "match"};

// ---------------------------------------------------------------------------
// Built-in costs.
// ---------------------------------------------------------------------------
struct GedCase {
  const char *name;
  std::vector<A> args;
  double expected;
};

class DefaultCosts : public ::testing::TestWithParam<GedCase> {};

TEST_P(DefaultCosts, GiveTheLeastTotalCost) {
  Task task;
  host().clear_log();
  EXPECT_EQ(task.ged(GetParam().args), GetParam().expected);
  EXPECT_TRUE(host().log().empty());
  EXPECT_EQ(host().scratch_live(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Compged, DefaultCosts,
    ::testing::Values(
        GedCase{"Equal", {C("abc"), C("abc")}, 0},
        GedCase{"Replace", {C("abc"), C("abd")}, 100},
        GedCase{"FirstReplace", {C("abc"), C("xbc")}, 200},
        GedCase{"Truncate", {C("abc"), C("abcd")}, 10},
        GedCase{"Append", {C("abcd"), C("abc")}, 50},
        GedCase{"Swap", {C("abc"), C("acb")}, 20},
        GedCase{"Single", {C("abc"), C("abbc")}, 20},
        GedCase{"Double", {C("abbc"), C("abc")}, 20},
        GedCase{"Blank", {C("ab c"), C("abc")}, 10},
        GedCase{"Punctuation", {C("a,bc"), C("abc")}, 30},
        GedCase{"EmptyFirst", {C(""), C("abc")}, 600},
        GedCase{"EmptySecond", {C("abc"), C("")}, 600},
        GedCase{"BothEmpty", {C(""), C("   ")}, 0},
        GedCase{"CaseMatters", {C("ABC"), C("abc")}, 400},
        GedCase{"IgnoreCase", {C("ABC"), C("abc"), C("I")}, 0},
        GedCase{"CutoffBelow", {C("ABC"), C("abc"), N(50)}, 50},
        GedCase{"CutoffAt", {C("ABC"), C("abc"), N(400)}, 400},
        GedCase{"CutoffAbove", {C("ABC"), C("abc"), N(401)}, 400},
        GedCase{"CutoffAfterModifiers", {C("ABC"), C("abd"), C("i"), N(60)}, 60},
        GedCase{"LengthGapBeyondBand", {C("a"), C("abcdefghij"), N(30)}, 30},
        GedCase{"HugeCutoffIsNoCutoff", {C("ABC"), C("abc"), N(1e12)}, 400},
        GedCase{"CutoffBeyondSmallCells",
                {C(std::string(20, 'a') + "bc"), C(std::string(20, 'A') + "cb"), N(3e9)}, 2120},
        GedCase{"HugeCutoffAllowsASecond", {C("ABC"), C("abc"), N(1e12), N(7)}, 7},
        GedCase{"LeadingBlanksDropped", {C("  abc"), C("abc"), C("L")}, 0},
        GedCase{"NameLiteral", {C("'a b'n"), C("A B"), C("N")}, 0},
        GedCase{"SwapTwoRowsOnBeatsEarlyStop", {C("ab"), C("ba"), N(21)}, 20},
        GedCase{"LongStringsOneReplace",
                {C(std::string(50, 'q') + "x" + std::string(50, 'r')),
                 C(std::string(50, 'q') + "y" + std::string(50, 'r'))},
                100},
        GedCase{"LongStringsIgnoreCase",
                {C(std::string(40, 'q') + "x"), C(std::string(40, 'Q') + "XZ"), C("I")}, 10}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CompgedModifiers, InvalidLetterWritesTheLogLineNamingCompged) {
  Task task;
  host().clear_log();
  EXPECT_EQ(task.ged({C("ab"), C("ab"), C("z")}), 0);
  ASSERT_EQ(host().log().size(), 1u);
  EXPECT_NE(host().log()[0].text.find("The modifier\"Z\" in the COMPGED function is not valid."),
            std::string::npos);
}

TEST(CompgedCutoff, InvalidCutoffMarksItsArgument) {
  Task task;
  struct Bad {
    std::vector<A> args;
    int marked;
  } cases[] = {{{C("a"), C("b"), N(2.5)}, 2}, {{C("a"), C("b"), N(0.5)}, 2},
               {{C("a"), C("b"), Miss()}, 2}, {{C("a"), C("b"), N(100), N(5)}, 3}};
  for (auto &tc : cases) {
    zeqtest::Call c;
    double r = -999;
    EXPECT_EQ(task.compged(tc.args, &r, &c), FNC_RC_NOTE);
    EXPECT_EQ(r, -999);
    for (int i = 0; i < (int)tc.args.size(); i++)
      EXPECT_EQ(c.mark(i), i == tc.marked ? FNC_MARK_BAD : 0);
  }
}

// ---------------------------------------------------------------------------
// Each operation priced on its own: every other cost is 1000, the one under
// test 7, so the pair can only come out at 7 through that operation.
// ---------------------------------------------------------------------------
struct OpCase {
  int op;
  const char *s1, *s2;
};

class SingleOperation : public ::testing::TestWithParam<OpCase> {};

TEST_P(SingleOperation, IsPricedByItsOwnCost) {
  const OpCase &tc = GetParam();
  Task task;
  std::vector<A> costs;
  for (int e = INSERT; e <= MATCH; e++) {
    costs.push_back(C(kNames[e]));
    costs.push_back(N(e == tc.op ? 7 : e == MATCH ? 0 : 1000));
  }
  ASSERT_EQ(task.compcost(costs), FNC_RC_OK);
  EXPECT_EQ(task.ged({C(tc.s1), C(tc.s2)}), tc.op == MATCH ? 7 * 2 : 7)
      << kNames[tc.op] << " '" << tc.s1 << "' '" << tc.s2 << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Compged, SingleOperation,
    ::testing::Values(OpCase{INSERT, "abXcd", "abcd"}, OpCase{DELETE, "abcd", "abXcd"},
                      OpCase{REPLACE, "abXd", "abYd"}, OpCase{FINSERT, "Xabc", "abc"},
                      OpCase{FDELETE, "abc", "Xabc"}, OpCase{FREPLACE, "Xbc", "Ybc"},
                      OpCase{APPEND, "abcX", "abc"}, OpCase{TRUNCATE, "abc", "abcX"},
                      OpCase{DOUBLE, "abbc", "abc"}, OpCase{SINGLE, "abc", "abbc"},
                      OpCase{SWAP, "abdc", "abcd"}, OpCase{BLANK, "ab cd", "abcd"},
                      OpCase{PUNCT, "ab;cd", "abcd"}, OpCase{MATCH, "ab", "ab"}),
    [](const auto &info) { return std::string(kNames[info.param.op]); });

// ---------------------------------------------------------------------------
// COMPCOST: names, values, the derived least cost.
// ---------------------------------------------------------------------------
struct NameCase {
  const char *text;
  int entry;  // -1: an error
};

class OperationName : public ::testing::TestWithParam<NameCase> {};

TEST_P(OperationName, ChoosesItsEntry) {
  const NameCase &tc = GetParam();
  Task task;
  zeqtest::Call c;
  host().clear_log();
  int32_t rc = task.compcost({C(tc.text), N(3)}, &c);
  const int64_t *t = task.table();
  ASSERT_NE(t, nullptr);
  if (tc.entry < 0) {
    EXPECT_EQ(rc, FNC_RC_NOTE);
    EXPECT_EQ(c.mark(0), FNC_MARK_BAD);
    EXPECT_EQ(t[LEAST], kUnset);
    EXPECT_EQ(host().message_numbers(), std::vector<int>{39});
  } else {
    EXPECT_EQ(rc, FNC_RC_OK);
    EXPECT_EQ(c.mark(0), 0);
    EXPECT_EQ(t[tc.entry], 3) << tc.text;
    EXPECT_TRUE(host().log().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Compcost, OperationName,
    ::testing::Values(NameCase{"ins=", INSERT}, NameCase{"INS", INSERT}, NameCase{"i", INSERT},
                      NameCase{"INSERT", INSERT}, NameCase{"insertion", INSERT},
                      NameCase{"  In s e rt = ", INSERT}, NameCase{"insx", -1},
                      NameCase{"d", -1}, NameCase{"D=", -1}, NameCase{"de", DELETE},
                      NameCase{"do", DOUBLE}, NameCase{"f", -1}, NameCase{"fi", FINSERT},
                      NameCase{"fd", FDELETE}, NameCase{"fr", FREPLACE}, NameCase{"s", -1},
                      NameCase{"si", SINGLE}, NameCase{"sw", SWAP}, NameCase{"a", APPEND},
                      NameCase{"t", TRUNCATE}, NameCase{"b", BLANK}, NameCase{"p", PUNCT},
                      NameCase{"punct", PUNCT}, NameCase{"m", MATCH}, NameCase{"r", REPLACE},
                      NameCase{"x", -1}, NameCase{"dx", -1}, NameCase{"ins==", -1}),
    [](const auto &info) {
      std::string n;
      for (const char *p = info.param.text; *p; p++)
        n += isalnum((unsigned char)*p) ? *p : '_';
      return n + "_" + std::to_string(info.index);
    });

TEST(Compcost, UnnamedEntriesTakeDefaultsOrStayUnset) {
  Task task;
  ASSERT_EQ(task.compcost({C("insert"), N(10)}), FNC_RC_OK);
  const int64_t *t = task.table();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t[INSERT], 10);
  EXPECT_EQ(t[DELETE], 100);
  EXPECT_EQ(t[REPLACE], 100);
  EXPECT_EQ(t[FINSERT], 10);
  EXPECT_EQ(t[FDELETE], 100);
  EXPECT_EQ(t[FREPLACE], 100);
  for (int e : {APPEND, TRUNCATE, DOUBLE, SINGLE, SWAP, BLANK, PUNCT}) EXPECT_EQ(t[e], kUnset);
  EXPECT_EQ(t[MATCH], 0);
  EXPECT_EQ(t[LEAST], 10);
  // APPEND is never worth using: the end character is an INSERT.
  EXPECT_EQ(task.ged({C("abcd"), C("abc")}), 10);
  // A later call starts afresh.
  ASSERT_EQ(task.compcost({C("delete"), N(5)}), FNC_RC_OK);
  EXPECT_EQ(t[INSERT], 100);
  EXPECT_EQ(t[LEAST], 5);
}

TEST(Compcost, LeastCostSkipsZeroBlankAndPunctuation) {
  Task task;
  ASSERT_EQ(task.compcost({C("blank"), N(0), C("punct"), N(3), C("insert"), N(40),
                           C("delete"), N(50), C("append"), N(60), C("truncate"), N(70)}),
            FNC_RC_OK);
  EXPECT_EQ(task.table()[LEAST], 3);
  ASSERT_EQ(task.compcost({C("blank"), N(0), C("punct"), N(0), C("double"), N(8)}), FNC_RC_OK);
  EXPECT_EQ(task.table()[LEAST], 8);
  // Negative costs take part in the least cost too.
  ASSERT_EQ(task.compcost({C("swap"), N(-9), C("single"), N(-4)}), FNC_RC_OK);
  EXPECT_EQ(task.table()[LEAST], -4);
}

TEST(Compcost, MissingValueUnsetsTheEntry) {
  Task task;
  ASSERT_EQ(task.compcost({C("insert"), N(10), C("insert"), Miss()}), FNC_RC_OK);
  EXPECT_EQ(task.table()[INSERT], 100);
  ASSERT_EQ(task.compcost({C("swap"), N(10), C("swap"), Miss()}), FNC_RC_OK);
  EXPECT_EQ(task.table()[SWAP], kUnset);
}

TEST(Compcost, ValueBounds) {
  Task task;
  EXPECT_EQ(task.compcost({C("insert"), N(2147483647)}), FNC_RC_OK);
  EXPECT_EQ(task.table()[INSERT], 2147483647);
  EXPECT_EQ(task.compcost({C("insert"), N(-2147483647)}), FNC_RC_OK);
  EXPECT_EQ(task.table()[INSERT], -2147483647);
  EXPECT_EQ(task.compcost({C("insert"), N(2147483648.0)}), FNC_RC_NOTE);
  EXPECT_EQ(task.compcost({C("insert"), N(-2147483648.0)}), FNC_RC_NOTE);
}

struct CostError {
  const char *name;
  std::vector<A> args;
  int marked;
  std::vector<int> messages;
};

class CompcostErrors : public ::testing::TestWithParam<CostError> {};

TEST_P(CompcostErrors, MarkTheArgumentAndRefuseTheTable) {
  const CostError &tc = GetParam();
  Task task;
  zeqtest::Call c;
  host().clear_log();
  ASSERT_EQ(task.compcost(tc.args, &c), FNC_RC_NOTE);
  EXPECT_EQ(host().message_numbers(), tc.messages);
  for (int i = 0; i < (int)tc.args.size(); i++)
    EXPECT_EQ(c.mark(i), i == tc.marked ? FNC_MARK_BAD : 0) << "argument " << i + 1;
  ASSERT_NE(task.table(), nullptr);
  EXPECT_EQ(task.table()[LEAST], kUnset);
  double r = -999;
  EXPECT_EQ(task.compged({C("abc"), C("abd")}, &r), FNC_RC_MISSING);
  EXPECT_EQ(r, -999);
  // A good call lifts the refusal.
  ASSERT_EQ(task.compcost({C("replace"), N(9)}), FNC_RC_OK);
  EXPECT_EQ(task.ged({C("abc"), C("abd")}), 9);
}

INSTANTIATE_TEST_SUITE_P(
    Compcost, CompcostErrors,
    ::testing::Values(
        CostError{"FractionalValue", {C("insert"), N(2.5)}, 1, {3}},
        CostError{"CharacterValue", {C("insert"), C("12")}, 1, {2}},
        CostError{"NumericOperation", {N(4), N(2)}, 0, {1}},
        CostError{"AbsentOperation", {Absent(), N(2)}, 0, {32}},
        CostError{"EmptyOperation", {C(""), N(2)}, 0, {33}},
        CostError{"BlankOperation", {C("   "), N(2)}, 0, {34}},
        CostError{"UnknownOperation", {C("zap"), N(2)}, 0, {39}},
        CostError{"OddCount", {C("insert"), N(2), C("delete")}, -1, {9}},
        CostError{"SecondPairBadName", {C("insert"), N(2), C("q"), N(1)}, 2, {39}},
        CostError{"SecondPairBadValue", {C("insert"), N(2), C("swap"), N(1e10)}, 3, {3}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Compcost, MessageArguments) {
  Task task;
  host().clear_log();
  task.compcost({C("insert"), N(1), N(5), N(2)});
  ASSERT_GE(host().log().size(), 2u);
  EXPECT_EQ(host().log()[0].number, 1);
  EXPECT_EQ(host().log()[0].args, std::vector<std::string>{"3"});
  EXPECT_EQ(host().log()[1].kind, zeqhost::LogEntry::Formatted);
  EXPECT_EQ(host().log()[1].level, 3);
  EXPECT_NE(host().log()[1].text.find("Argument type=1"), std::string::npos);

  host().clear_log();
  task.compcost({C("insert"), N(0.5)});
  ASSERT_EQ(host().log().size(), 1u);
  EXPECT_EQ(host().log()[0].args,
            (std::vector<std::string>{"2", "-2147483647", "2147483647"}));

  host().clear_log();
  task.compcost({C("insert"), N(1), C("delete"), C("ten")});
  ASSERT_EQ(host().log().size(), 1u);
  EXPECT_EQ(host().log()[0].number, 2);
  EXPECT_EQ(host().log()[0].args, (std::vector<std::string>{"4", "ten"}));

  host().clear_log();
  task.compcost({C("insert")});
  ASSERT_EQ(host().log().size(), 1u);
  EXPECT_EQ(host().log()[0].args, (std::vector<std::string>{"COMPCOST", "1"}));
}

TEST(Compcost, CharacterArgumentsAreUnquotedInTheXEnvironment) {
  Task task;
  // The host rewrites "'ins'" to "ins" (NUL-terminated) and says so.
  host().set_unquote_hook([](char *text, FncString *) {
    if (std::string(text).rfind("'ins'", 0) != 0) return 0;
    std::strcpy(text, "ins");
    return 1;
  });
  zeqtest::Call c;
  c.form(FNC_FORM_CALL).kind(0x78);
  int32_t rc = task.compcost({C("'ins'"), N(4)}, &c);
  host().set_unquote_hook(nullptr);
  EXPECT_EQ(rc, FNC_RC_OK);
  EXPECT_EQ(task.table()[INSERT], 4);
}

// ---------------------------------------------------------------------------
// Scratch memory.
// ---------------------------------------------------------------------------
ZeqScratch refusing_arena() {
  ZeqScratch a{};
  a.alloc = [](ZeqScratch *, uint64_t) -> void * { return nullptr; };
  a.mark = [](ZeqScratch *) -> uint64_t { return 0; };
  a.release = [](ZeqScratch *, uint64_t) {};
  return a;
}

TEST(CompgedMemory, RefusedScratchIsNoRoom) {
  Task task;
  ZeqScratch refusing = refusing_arena();
  ZeqScratch *saved = task.t->scratch;
  task.t->scratch = &refusing;
  double r = -999;
  EXPECT_EQ(task.compged({C("abc"), C("abd")}, &r), FNC_RC_NOROOM);
  EXPECT_EQ(task.compged({C(std::string(40, 'a')), C(std::string(40, 'b')), C("I")}, &r),
            FNC_RC_NOROOM);
  EXPECT_EQ(r, -999);
  // Equal strings need no programme.
  EXPECT_EQ(task.compged({C("abc"), C("abc")}, &r), FNC_RC_OK);
  EXPECT_EQ(r, 0);
  task.t->scratch = saved;
}

TEST(CompgedMemory, WithoutArenaTheTaskPoolIsUsedAndReleased) {
  Task task;
  ZeqScratch *saved = task.t->scratch;
  task.t->scratch = nullptr;
  auto &pool = host().pool_of(task.t);
  EXPECT_EQ(task.ged({C("abc"), C("abd")}), 100);  // builds the context first
  size_t live = pool.live_blocks(), served = pool.allocations();
  EXPECT_EQ(task.ged({C(std::string(40, 'a') + "x"), C(std::string(40, 'A') + "y"), C("I")}), 100);
  EXPECT_GT(pool.allocations(), served);
  EXPECT_EQ(pool.live_blocks(), live);
  pool.fail_always(true);
  double r = -999;
  EXPECT_EQ(task.compged({C("abc"), C("abd")}, &r), FNC_RC_NOROOM);
  pool.fail_always(false);
  task.t->scratch = saved;
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

// COMPCOST arguments naming about three quarters of the operations with
// costs from 1 to 300 (MATCH 0 or a small cost).  With `affixes`, the
// operations that work on particular characters cost more than inserting or
// deleting, so that equal leading and trailing characters may be set aside.
std::vector<A> random_costs(std::mt19937 &g, bool affixes, bool every = false) {
  std::vector<A> args;
  std::uniform_int_distribution<int> cost(1, 300), low(1, 150), high(150, 300), pick(0, 3);
  for (int e = INSERT; e <= MATCH; e++) {
    if (pick(g) == 0 && !every) continue;  // left unnamed
    int v = cost(g);
    if (e == MATCH) v = affixes ? 0 : std::uniform_int_distribution<int>(0, 1)(g) * v / 4;
    if (affixes && (e == INSERT || e == DELETE)) v = low(g);
    if (affixes && ((e >= FINSERT && e <= FREPLACE) || e >= APPEND)) v = e == MATCH ? 0 : high(g);
    args.push_back(C(kNames[e]));
    args.push_back(N(v));
  }
  return args;
}

// Pairs of up to long_len characters every fourth pair, else 10.  With
// every_entry, COMPCOST names every operation (no entry left unset).
void run_random_rounds(uint32_t seed, int rounds, bool default_costs, int long_len = 45,
                       bool every_entry = false) {
  std::mt19937 g(seed);
  zeqref::GedTables tables{host().control_block()->upcase, host().control_block()->charclass};
  for (int round = 0; round < rounds; round++) {
    Task task;
    if (!default_costs) {
      ASSERT_EQ(task.compcost(random_costs(g, round % 2 == 1, every_entry)), FNC_RC_OK);
    }
    int64_t costs[15];
    if (default_costs) {
      const int64_t def[15] = {10, 100, 100, 100, 200, 200, 200, 50, 10, 20, 20, 20, 10, 30, 0};
      std::copy(def, def + 15, costs);
    } else {
      std::copy(task.table(), task.table() + 15, costs);
    }
    for (int pair = 0; pair < 40; pair++) {
      const int max_len = pair % 4 == 0 ? long_len : 10;
      std::string a = random_string(g, max_len, "aabbcA ,");
      std::string b = random_string(g, max_len, "aabbcA ,");
      if (pair % 3 == 0) b = a, b.insert(b.begin() + (ptrdiff_t)(a.size() / 2), 'b');
      const bool nocase = pair % 5 == 2;
      const int64_t full = zeqref::generalized(a, b, costs, nocase, tables);
      std::vector<A> args = {C(a), C(b)};
      if (nocase) args.push_back(C("I"));
      std::string cs;
      for (int e = 0; e < 15; e++) cs.append(1, ' ').append(std::to_string(costs[e]));
      ASSERT_EQ(task.ged(args), (double)full)
          << "'" << a << "' '" << b << "' round " << round << " pair " << pair
          << (nocase ? " I" : "") << " costs" << cs;
      const int cutoff = std::uniform_int_distribution<int>(1, 700)(g);
      args.push_back(N(cutoff));
      ASSERT_EQ(task.ged(args), (double)std::min<int64_t>(full, cutoff))
          << "'" << a << "' '" << b << "' cutoff " << cutoff << " round " << round;
    }
  }
  EXPECT_EQ(host().scratch_live(), 0u);
}

TEST(CompgedReference, DefaultCostsMatchTheReference) { run_random_rounds(7, 40, true); }

TEST(CompgedReference, RandomCostsMatchTheReference) { run_random_rounds(11, 150, false); }
// Long pairs run most rows through the plain-row passes; small costs named
// for every operation take 32-bit cells.
TEST(CompgedReference, LongPairsMatchTheReference) { run_random_rounds(23, 10, true, 240); }
TEST(CompgedReference, EveryEntryNamedMatchesTheReference) {
  run_random_rounds(31, 60, false, 150, true);
}

// Cells are 32-bit only while every cost lies below 65536 and the strings
// are short enough; tables just inside and just outside that, and one with
// a negative cost, over long pairs with and without a cutoff.
TEST(CompgedReference, CostsAroundTheCellWidth) {
  struct Table {
    const char *name;
    int64_t low, high;  // costs drawn from this range for every operation
  };
  const Table tables[] = {{"inside", 60000, 65535},
                          {"just outside", 65000, 65536},
                          {"large", 1, 2147483647},
                          {"negative", -50, 300}};
  std::mt19937 g(4711);
  zeqref::GedTables ref{host().control_block()->upcase, host().control_block()->charclass};
  for (const Table &tb : tables) {
    Task task;
    std::vector<A> args;
    std::uniform_int_distribution<int64_t> cost(tb.low, tb.high);
    for (int e = INSERT; e <= MATCH; e++) {
      args.push_back(C(kNames[e]));
      args.push_back(N((double)(e == MATCH ? 0 : cost(g))));
    }
    // One operation at the top of the range, so that the table reaches it.
    args.push_back(C("swap"));
    args.push_back(N((double)tb.high));
    ASSERT_EQ(task.compcost(args), FNC_RC_OK) << tb.name;
    int64_t costs[15];
    std::copy(task.table(), task.table() + 15, costs);
    for (int pair = 0; pair < 12; pair++) {
      std::string a = random_string(g, 150, "aabbcA ,");
      std::string b = pair % 2 ? random_string(g, 150, "aabbcA ,") : a;
      if (pair % 2 == 0 && !b.empty()) b[b.size() / 3] = 'x', b.insert(b.begin(), 'c');
      // Without a cutoff the answer is capped at 4294967295 all the same.
      const int64_t full = std::min(zeqref::generalized(a, b, costs, false, ref), kUnset);
      ASSERT_EQ(task.ged({C(a), C(b)}), (double)full) << tb.name << " pair " << pair;
      // A negative cost lets a row below the cutoff follow one at it, which
      // the early stop of the programme does not wait for: no cutoff there.
      if (tb.low < 0) continue;
      const double cutoff = (double)std::max<int64_t>(1, full / 2 + 1);
      ASSERT_EQ(task.ged({C(a), C(b), N(cutoff)}), std::min((double)full, cutoff))
          << tb.name << " pair " << pair << " cutoff " << cutoff;
    }
  }
}

// Rows are computed in blocks of eight cells past their band: lengths on
// both sides of multiples of eight, with bands of every width from a
// cutoff, must give what the full table gives.
TEST(CompgedReference, LengthsAroundBlocksOfEight) {
  std::mt19937 g(808);
  zeqref::GedTables ref{host().control_block()->upcase, host().control_block()->charclass};
  const int64_t def[15] = {10, 100, 100, 100, 200, 200, 200, 50, 10, 20, 20, 20, 10, 30, 0};
  Task task;
  for (int len : {1, 2, 7, 8, 9, 15, 16, 17, 23, 24, 25, 63, 64, 65}) {
    for (int round = 0; round < 6; round++) {
      std::string a;
      for (int i = 0; i < len; i++) a.push_back("abcab ,"[g() % 7]);
      std::string b = a;
      if (!b.empty()) b[g() % b.size()] = 'z';
      if (round % 2) b.insert(b.begin() + (ptrdiff_t)(g() % (b.size() + 1)), 'q');
      if (round % 3 == 2) b.erase(0, 1);
      const int64_t full = zeqref::generalized(a, b, def, false, ref);
      const std::string what = "'" + a + "' '" + b + "'";
      ASSERT_EQ(task.ged({C(a), C(b)}), (double)full) << what;
      for (int64_t cutoff : {int64_t(10), int64_t(100), full, full + 1, int64_t(1000)}) {
        if (cutoff < 1) continue;
        ASSERT_EQ(task.ged({C(a), C(b), N((double)cutoff)}), (double)std::min(full, cutoff))
            << what << " cutoff " << cutoff;
      }
    }
  }
}

// Every cost setting the rows treat apart, over lengths on both sides of
// the register-wide rows (8), the blocks of eight and the stack-held arrays
// (128), with modifiers and cutoffs: each must give what the full table
// gives.  The rerun with the generic build forced checks the same cases
// there, so both builds agree.
struct CostSetting {
  const char *name;
  std::vector<std::pair<int, double>> costs;  // COMPCOST entries named, the rest default
};

const CostSetting kCostSettings[] = {
    {"builtin", {}},
    {"blank free", {{BLANK, 0}}},
    {"punctuation free", {{PUNCT, 0}}},
    {"both free", {{BLANK, 0}, {PUNCT, 0}}},
    {"cheap swap and doubles", {{SWAP, 1}, {DOUBLE, 2}, {SINGLE, 3}}},
    {"cheap ends", {{APPEND, 1}, {TRUNCATE, 2}, {INSERT, 40}, {DELETE, 70}}},
    {"cheap first positions", {{FINSERT, 5}, {FDELETE, 7}, {FREPLACE, 9}}},
    {"dear first positions", {{FINSERT, 900}, {FDELETE, 800}, {FREPLACE, 1000}}},
    {"match costs", {{MATCH, 15}, {REPLACE, 30}}},
    {"negative", {{SWAP, -5}, {MATCH, 0}, {BLANK, 3}, {DOUBLE, -1}}},
    {"wide cells", {{INSERT, 70000}, {DELETE, 90000}, {REPLACE, 100000}}},
};

std::vector<A> compcost_args(const CostSetting &cs) {
  std::vector<A> args;
  const int64_t def[15] = {10, 100, 100, 100, 200, 200, 200, 50, 10, 20, 20, 20, 10, 30, 0};
  for (int e = INSERT; e <= MATCH; e++) {
    args.push_back(C(kNames[e]));
    double v = (double)def[e];
    for (const auto &[entry, value] : cs.costs)
      if (entry == e) v = value;
    args.push_back(N(v));
  }
  return args;
}

std::string drop_leading_blanks(const std::string &s) {
  const size_t k = s.find_first_not_of(' ');
  return k == std::string::npos ? std::string() : s.substr(k);
}

TEST(CompgedRoutes, EveryCostSettingAndLengthMatchesTheReference) {
  std::mt19937 g(2718);
  zeqref::GedTables ref{host().control_block()->upcase, host().control_block()->charclass};
  const int lengths[] = {1, 2, 5, 7, 8, 9, 16, 31, 32, 33, 63, 64, 65, 127, 128, 129, 140};
  // The strings hold no quotes, so N acts as I.
  const char *const modifiers[] = {"", "I", "L", "IL", "N", "LN"};
  for (const CostSetting &cs : kCostSettings) {
    Task task;
    ASSERT_EQ(task.compcost(compcost_args(cs)), FNC_RC_OK) << cs.name;
    int64_t costs[15];
    std::copy(task.table(), task.table() + 15, costs);
    const bool negative = std::any_of(costs + 1, costs + 15, [](int64_t c) { return c < 0; });
    int round = 0;
    for (int len : lengths) {
      for (int k = 0; k < 4; k++, round++) {
        std::string a;
        for (int i = 0; i < len; i++) a.push_back("aabBc ,."[g() % 8]);
        std::string b = a;
        // Edits of every kind the costs price, at random places.
        for (int e = 0; e < 1 + len / 8; e++) {
          const size_t at = b.empty() ? 0 : g() % b.size();
          switch (g() % 5) {
            case 0: if (!b.empty()) b[at] = "xyA "[g() % 4]; break;
            case 1: if (!b.empty()) b.erase(at, 1); break;
            case 2: b.insert(at, 1, b.empty() ? 'q' : b[at]); break;
            case 3: b.insert(at, 1, ",. "[g() % 3]); break;
            default: if (at + 1 < b.size()) std::swap(b[at], b[at + 1]); break;
          }
        }
        if (k == 3) b = random_string(g, len + 3, "abc ,");
        if (round % 2) std::swap(a, b);
        const char *mod = modifiers[round % 6];
        const bool nocase = std::strpbrk(mod, "IN") != nullptr;
        const bool lead = std::strchr(mod, 'L') != nullptr;
        const int64_t full = std::min(
            zeqref::generalized(lead ? drop_leading_blanks(a) : a,
                                lead ? drop_leading_blanks(b) : b, costs, nocase, ref),
            kUnset);
        const std::string what = std::string(cs.name) + " '" + a + "' '" + b + "' " + mod;
        std::vector<A> args = {C(a), C(b)};
        if (*mod) args.push_back(C(mod));
        ASSERT_EQ(task.ged(args), (double)full) << what;
        // A negative cost lets a row below the cutoff follow one at it, which
        // the early stop does not wait for: no cutoff there.
        if (negative) continue;
        for (int64_t cutoff : {int64_t(1), full / 2 + 1, full, full + 1, int64_t(100000)}) {
          if (cutoff < 1) continue;
          args.push_back(N((double)cutoff));
          ASSERT_EQ(task.ged(args), (double)std::min(full, cutoff)) << what << " cutoff " << cutoff;
          args.pop_back();
        }
      }
    }
  }
  EXPECT_EQ(host().scratch_live(), 0u);
}

// Every scratch request of a call may be refused: the rows, the arrays of a
// long string beyond the stack-held ones, the filtered copies.  Each refusal
// answers FNC_RC_NOROOM with nothing written and nothing left held.
TEST(CompgedMemory, EachRefusedRequestIsNoRoom) {
  struct Case {
    const char *name;
    std::string a, b;
    const char *modifiers;
  };
  const std::string long_a = std::string(150, 'a') + "xyz", long_b = std::string(150, 'a') + "xzy";
  const Case cases[] = {
      {"register rows", "abcdefgh", "abdcefgx", ""},
      {"block rows", "abcdefghijkl", "abdcefghijkx", ""},
      {"long strings", long_a, long_b, ""},
      {"long filtered", long_a, long_b, "I"},
  };
  for (const Case &c : cases) {
    Task task;
    std::vector<A> args = {C(c.a), C(c.b)};
    if (*c.modifiers) args.push_back(C(c.modifiers));
    const size_t before = host().scratch_requests();
    double r = -999;
    ASSERT_EQ(task.compged(args, &r), FNC_RC_OK) << c.name;
    const int requests = (int)(host().scratch_requests() - before);
    ASSERT_GE(requests, 1) << c.name;
    for (int nth = 1; nth <= requests; nth++) {
      host().fail_scratch_nth(nth);
      r = -999;
      EXPECT_EQ(task.compged(args, &r), FNC_RC_NOROOM) << c.name << " request " << nth;
      EXPECT_EQ(r, -999) << c.name;
      host().fail_scratch_nth(0);
      EXPECT_EQ(host().scratch_live(), 0u) << c.name;
    }
  }
}

TEST(Builds, SuitePassesWithTheGenericBuildForced) {
  if (std::getenv("ZEQ_FORCE_GENERIC")) GTEST_SKIP() << "already the generic run";
  EXPECT_EQ(zeqref::rerun_with_generic_build(), 0);
}
// A longer sweep for changes to the shortcuts (run with --gtest_also_run_disabled_tests).
TEST(CompgedReference, DISABLED_ManySeeds) { for (uint32_t s = 100; s < 400; s++) run_random_rounds(s, 60, false); }

}  // namespace
