// Tests of the shared modifier parser argInit (letters, blanks, invalid
// characters, L and N order, start position, word number, default
// delimiters), argTerm, and the route choice (hasMultiByte,
// CheckVarcharAndMultibyte) on the reference host's string service.
#include <cctype>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "charfn/args/modifiers.h"
#include "host/host.h"
#include "tests/support/call.h"
#include "tests/support/host_fixture.h"

using namespace zeq::args;

namespace {

using zeqtest::host;

using ArgInitFn = void (*)(FncArgList *, ZeqStringService *, int32_t *, ParsedArgs *,
                           ModifierFlags *, int32_t, int32_t, const char *);
using ArgTermFn = void (*)(ParsedArgs *);
using HasMbFn = int32_t (*)(ZeqStringService *, const char *, int64_t);
using CheckFn = ZeqStringService *(*)(FncArgList *);

using A = zeqtest::Arg;
using zeqtest::C;
using zeqtest::V;
using zeqtest::N;
using zeqtest::Miss;
using zeqtest::Absent;

class Modifiers : public ::testing::Test {
 protected:
  void SetUp() override {
    host().set_utf8(true);
    svc_ = host().string_service();
    if (!svc_) GTEST_SKIP() << "the host offers no string service";
  }
  void TearDown() override { host().set_utf8(false); }

  // Runs argInit over `args` with the role table `roles`.
  void parse(const std::vector<A> &args, std::vector<int32_t> roles, int kind,
             const char *name = "COUNT") {
    call_ = std::make_unique<zeqtest::Call>();
    zeqtest::add_args(*call_, args);
    roles.resize(ROLE_COUNT, 0);
    roles_ = roles;
    std::memset(&pa_, 0x5A, sizeof pa_);
    std::memset(&mf_, 0x5A, sizeof mf_);
    host().clear_log();
    host().fn<ArgInitFn>("argInit")(call_->block(), svc_, roles_.data(), &pa_, &mf_, 0, kind, name);
  }
  // The flags with only the given fields set (by offset).
  static ModifierFlags flags_with(std::initializer_list<std::pair<size_t, uint8_t>> fields) {
    ModifierFlags f;
    std::memset(&f, 0, sizeof f);
    for (auto &p : fields) reinterpret_cast<uint8_t *>(&f)[p.first] = p.second;
    return f;
  }
  ZeqStringService *svc_ = nullptr;
  std::unique_ptr<zeqtest::Call> call_;
  std::vector<int32_t> roles_;
  ParsedArgs pa_;
  ModifierFlags mf_;
};

#define FIELD(f) offsetof(ModifierFlags, f)

// Roles: source 1, modifiers 2.
const std::vector<int32_t> kSourceMods = {1, 0, 0, 2};

TEST_F(Modifiers, BlanksOnlySetNothingAndReportNothing) {
  parse({V("abc"), V("    ")}, kSourceMods, KIND_COUNT);
  ModifierFlags zero = flags_with({});
  EXPECT_EQ(std::memcmp(&mf_, &zero, sizeof mf_), 0);
  EXPECT_TRUE(host().log().empty());
}

TEST_F(Modifiers, EveryLetterSetsItsOwnField) {
  struct L {
    char letter;
    size_t field;
  } letters[] = {{'A', FIELD(A)}, {'B', FIELD(B)}, {'C', FIELD(C)}, {'D', FIELD(D)},
                 {'E', FIELD(E)}, {'F', FIELD(F)}, {'G', FIELD(G)}, {'H', FIELD(H)},
                 {'I', FIELD(I)}, {'K', FIELD(K)}, {'M', FIELD(M)}, {'O', FIELD(O)},
                 {'P', FIELD(P)}, {'Q', FIELD(Q)}, {'R', FIELD(R)}, {'S', FIELD(S)},
                 {'T', FIELD(T)}, {'U', FIELD(U)}, {'V', FIELD(V)}, {'W', FIELD(W)},
                 {'X', FIELD(X)}, {':', FIELD(colon)}};
  for (const L &l : letters) {
    for (char c : {l.letter, (char)tolower(l.letter)}) {
      parse({V("abc"), V(std::string(" ") + c)}, kSourceMods, KIND_COUNT);
      ModifierFlags want = flags_with({{l.field, 1}});
      EXPECT_EQ(std::memcmp(&mf_, &want, sizeof mf_), 0) << "modifier " << c;
      EXPECT_TRUE(host().log().empty()) << "modifier " << c;
    }
  }
}

TEST_F(Modifiers, EveryOtherByteIsReported) {
  const std::string alphabet = "ABCDEFGHIKLMNOPQRSTUVWX: ";
  for (int b = 1; b < 128; b++) {
    char c = (char)b;
    char up = (char)toupper(b);
    if (alphabet.find(up) != std::string::npos) continue;
    parse({V("abc"), V(std::string(1, c))}, kSourceMods, KIND_COUNT);
    EXPECT_EQ(host().message_numbers(), std::vector<int>{6}) << "byte " << b;
  }
}

TEST_F(Modifiers, BadCharacterIsReportedOnceAndParsingGoesOn) {
  parse({V("abc"), V("ab!")}, kSourceMods, KIND_FIND, "FIND");
  EXPECT_EQ(mf_.A, 1);
  EXPECT_EQ(mf_.B, 1);
  ASSERT_EQ(host().message_numbers(), std::vector<int>{6});
  EXPECT_EQ(host().log()[0].args, (std::vector<std::string>{"FIND", "!"}));
}

TEST_F(Modifiers, LAndNKeepTheirPlaces) {
  parse({V("a"), V("b"), V("l n")}, {1, 2, 0, 3}, KIND_COMPARE, "COMPARE");
  EXPECT_EQ(mf_.Lpos, 1);
  EXPECT_EQ(mf_.Npos, 3);
  EXPECT_EQ(mf_.L_before_N, 1);
  parse({V("a"), V("b"), V("NL")}, {1, 2, 0, 3}, KIND_COMPARE, "COMPARE");
  EXPECT_EQ(mf_.Npos, 1);
  EXPECT_EQ(mf_.Lpos, 2);
  EXPECT_EQ(mf_.L_before_N, 0);
  // The last L counts.
  parse({V("a"), V("b"), V("LNL")}, {1, 2, 0, 3}, KIND_COMPARE, "COMPARE");
  EXPECT_EQ(mf_.Lpos, 3);
  EXPECT_EQ(mf_.L_before_N, 0);
  // Only COMPARE sets L-before-N.
  parse({V("a"), V("LN")}, kSourceMods, KIND_COUNT);
  EXPECT_EQ(mf_.L_before_N, 0);
}

TEST_F(Modifiers, CompareStringsTakeLAndNInWrittenOrder) {
  // L then N: blanks go, then the literal is unquoted.
  parse({V("  'x\xc3\xa9'n"), V("abc"), V("LN")}, {1, 2, 0, 3}, KIND_COMPARE, "COMPARE");
  EXPECT_EQ(pa_.source_chars, 2);
  EXPECT_EQ(pa_.second_chars, 3);
  // N then L: the blanks hide the literal; only the blanks go.
  parse({V("  'x\xc3\xa9'n"), V("abc"), V("NL")}, {1, 2, 0, 3}, KIND_COMPARE, "COMPARE");
  EXPECT_EQ(pa_.source_chars, 5);
  // A literal of 33 characters stays as it is.
  const std::string long_lit = "'" + std::string(33, 'a') + "'n";
  parse({V(long_lit), V("a"), V("N")}, {1, 2, 0, 3}, KIND_COMPARE, "COMPARE");
  EXPECT_EQ(pa_.source_chars, 36);
  const std::string lit32 = "'" + std::string(31, 'a') + "\xc3\xa9'N  ";
  parse({V(lit32), V("a"), V("N")}, {1, 2, 0, 3}, KIND_COMPARE, "COMPARE");
  EXPECT_EQ(pa_.source_chars, 32);
}

TEST_F(Modifiers, LengthsAreCharacters) {
  parse({V("\xc3\xa9t\xc3\xa9"), V("\xe2\x82\xac")}, {1, 2}, KIND_COUNT);
  EXPECT_EQ(pa_.source_chars, 3);
  EXPECT_EQ(pa_.second_chars, 1);
  EXPECT_EQ(pa_.bound[0], 1);
  EXPECT_EQ(pa_.bound[1], 1);
  EXPECT_EQ(pa_.bound[2], 0);
}

struct StartCase {
  const char *name;
  std::vector<A> args;      // source, [modifiers], [start]
  std::vector<int32_t> roles;
  int64_t start, scan_limit;
  uint8_t B;
};

class StartPosition : public Modifiers, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartPosition, FollowsTheSignAndTheB) {
  const StartCase &tc = GetParam();
  parse(tc.args, tc.roles, KIND_FIND, "FIND");
  EXPECT_EQ(pa_.start, tc.start);
  EXPECT_EQ(pa_.scan_limit, tc.scan_limit);
  EXPECT_EQ(mf_.B, tc.B);
}

const std::string k10 = "abcdefgh\xc3\xa9j";  // ten characters

INSTANTIATE_TEST_SUITE_P(
    ArgInit, StartPosition,
    ::testing::Values(
        StartCase{"AbsentIsOne", {V(k10)}, {1}, 1, 1, 0},
        StartCase{"AbsentWithBIsTheLength", {V(k10), V("b")}, {1, 0, 0, 2}, 10, 1, 1},
        StartCase{"AbsentWithBOnEmptyIsOne", {V(""), V("b")}, {1, 0, 0, 2}, 1, 1, 1},
        StartCase{"Positive", {V(k10), N(4.9)}, {1, 0, 0, 0, 2}, 4, 1, 0},
        StartCase{"Zero", {V(k10), N(0)}, {1, 0, 0, 0, 2}, 0, 1, 0},
        StartCase{"MinusThree", {V(k10), N(-3)}, {1, 0, 0, 0, 2}, 3, 1, 1},
        StartCase{"MinusThirty", {V(k10), N(-30)}, {1, 0, 0, 0, 2}, 10, 1, 1},
        StartCase{"HugeNegative", {V(k10), N(-1e300)}, {1, 0, 0, 0, 2}, 10, 1, 1},
        StartCase{"Missing", {V(k10), Miss()}, {1, 0, 0, 0, 2}, 0, 1, 0},
        StartCase{"TooLarge", {V(k10), N(2147483648.0)}, {1, 0, 0, 0, 2}, 0, 1, 0},
        StartCase{"LargestAccepted", {V(k10), N(2147483647.0)}, {1, 0, 0, 0, 2}, 2147483647, 1, 0},
        StartCase{"PositiveWithBLimitsTheScan", {V(k10), V("B"), N(4)}, {1, 0, 0, 2, 3}, 10, 4, 1},
        StartCase{"PositiveWithBBeyondLength", {V(k10), V("B"), N(40)}, {1, 0, 0, 2, 3}, 10, 10, 1}),
    [](const auto &info) { return std::string(info.param.name); });

struct WordCase {
  const char *name;
  A word;
  int64_t expected;
  uint8_t B;
};

class WordNumber : public Modifiers, public ::testing::WithParamInterface<WordCase> {};

TEST_P(WordNumber, IsTruncatedAndSignGivesDirection) {
  const WordCase &tc = GetParam();
  parse({V("a b c"), tc.word}, {1, 0, 0, 0, 0, 2}, KIND_SCAN_WORD, "SCAN");
  EXPECT_EQ(pa_.word, tc.expected);
  EXPECT_EQ(mf_.B, tc.B);
}

INSTANTIATE_TEST_SUITE_P(
    ArgInit, WordNumber,
    ::testing::Values(WordCase{"Whole", N(2), 2, 0}, WordCase{"Truncated", N(2.9), 2, 0},
                      WordCase{"Negative", N(-2.9), 2, 1}, WordCase{"Missing", Miss(), 1, 0},
                      WordCase{"TooLarge", N(3e9), 1, 0}, WordCase{"Zero", N(0), 0, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Modifiers, WordNumberRoleAbsentStaysZero) {
  parse({V("a b c")}, {1}, KIND_SCAN_WORD, "SCAN");
  EXPECT_EQ(pa_.word, 0);
}

struct DelimCase {
  int kind;
  int argc;          // arguments in the call (source, then character values)
  int delim_role;    // 0: no delimiter role
  bool delim_valued;
  uint8_t expected;
};

class DefaultDelimiters : public Modifiers, public ::testing::WithParamInterface<DelimCase> {};

TEST_P(DefaultDelimiters, DependOnKindAndArgumentCount) {
  const DelimCase &tc = GetParam();
  std::vector<A> args = {V("a b")};
  for (int i = 1; i < tc.argc; i++)
    args.push_back(i + 1 == tc.delim_role && !tc.delim_valued ? Absent() : V(","));
  std::vector<int32_t> roles(ROLE_COUNT, 0);
  roles[ROLE_SOURCE] = 1;
  roles[ROLE_DELIMS] = tc.delim_role;
  parse(args, roles, tc.kind);
  EXPECT_EQ(mf_.default_delims, tc.expected);
}

INSTANTIATE_TEST_SUITE_P(
    ArgInit, DefaultDelimiters,
    ::testing::Values(DelimCase{KIND_COUNT, 1, 0, false, 1}, DelimCase{KIND_COUNT, 2, 0, false, 0},
                      DelimCase{KIND_COUNT, 2, 2, true, 0}, DelimCase{KIND_FIND, 2, 0, false, 1},
                      DelimCase{KIND_FIND, 3, 0, false, 1}, DelimCase{KIND_FIND, 3, 3, false, 0},
                      DelimCase{KIND_FIND, 3, 3, true, 0}, DelimCase{KIND_FIND, 4, 0, false, 0},
                      DelimCase{KIND_SCAN_WORD, 2, 0, false, 1},
                      DelimCase{KIND_SCAN_WORD, 3, 0, false, 0},
                      DelimCase{KIND_SCAN_WORD, 2, 2, false, 0},
                      DelimCase{KIND_SCAN_OTHER, 4, 0, false, 1},
                      DelimCase{KIND_SCAN_OTHER, 5, 0, false, 0},
                      DelimCase{KIND_SCAN_OTHER, 4, 4, false, 0},
                      DelimCase{KIND_COMPARE, 1, 0, false, 0}));

TEST_F(Modifiers, ArgTermReleasesTheBoundViews) {
  parse({V("abc"), V("d"), V(",")}, {1, 2, 0, 0, 0, 0, 3}, KIND_FIND);
  ASSERT_EQ(pa_.bound[0], 1);
  ASSERT_EQ(pa_.bound[3], 1);
  EXPECT_EQ(pa_.bound[2], 0);
  host().fn<ArgTermFn>("argTerm")(&pa_);
  EXPECT_EQ(pa_.source.start, nullptr);
  EXPECT_EQ(pa_.second.start, nullptr);
  EXPECT_EQ(pa_.delims.start, nullptr);
  for (uint8_t b : pa_.bound) EXPECT_EQ(b, 0);
}

// ---------------------------------------------------------------------------
// Route choice.
// ---------------------------------------------------------------------------
TEST_F(Modifiers, HasMultiByteInUtf8) {
  auto has = host().fn<HasMbFn>("hasMultiByte");
  EXPECT_EQ(has(svc_, "abc", 3), 0);
  EXPECT_EQ(has(svc_, "ab\xc3\xa9", 4), 1);
  EXPECT_EQ(has(svc_, "", 0), 0);
  EXPECT_EQ(has(nullptr, "\xc3\xa9", 2), 0);
}

struct RouteCase {
  const char *name;
  bool utf8;
  A first;
  bool multibyte;
};

class Route : public ::testing::TestWithParam<RouteCase> {};

TEST_P(Route, OnlyAVarcharHoldingAMultibyteCharacterTakesTheService) {
  const RouteCase &tc = GetParam();
  host().set_utf8(tc.utf8);
  zeqtest::Call c;
  switch (tc.first.k) {
    case A::Chr: c.str(tc.first.s); break;
    case A::Var: c.var(tc.first.s); break;
    default: c.absent(FNC_ARG_VARCHAR); break;
  }
  c.str("x");
  ZeqStringService *svc = host().fn<CheckFn>("CheckVarcharAndMultibyte")(c.block());
  host().set_utf8(false);
  EXPECT_EQ(svc != nullptr, tc.multibyte);
}

INSTANTIATE_TEST_SUITE_P(
    ArgInit, Route,
    ::testing::Values(RouteCase{"Utf8Varchar", true, V("a\xc3\xa9"), true},
                      RouteCase{"Utf8VarcharAscii", true, V("abc"), false},
                      RouteCase{"Utf8FixedLength", true, C("a\xc3\xa9"), false},
                      RouteCase{"Utf8Absent", true, Absent(), false},
                      RouteCase{"Latin1Varchar", false, V("a\xe9"), false}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
