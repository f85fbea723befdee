// Tests of COUNT and COUNTC through the reference host: the counting rules,
// modifiers and class letters, the COUNTC call-site cache in the four caching
// environments, allocation failure, the multibyte route and its agreement
// with the byte route, and the vector kernels against the plain loops of
// tests/reference/countfind_reference.h (in both builds).
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "charfn/entry_types.h"
#include "tests/reference/countfind_reference.h"
#include "tests/support/call.h"
#include "tests/support/host_fixture.h"

namespace {

using zeqtest::host;

using namespace zeqref::rows;

struct Outcome {
  int32_t rc;
  double value;
};

Outcome run(const char *entry, const std::vector<Arg> &args, uint8_t kind = 0) {
  zeqtest::NumberSite site(entry, kind);
  add_args(site.call, args);
  const int32_t rc = site();
  return {rc, site.out};
}

std::vector<int> messages() { return host().message_numbers(); }

using Case = zeqtest::NumberCase;

// ---------------------------------------------------------------------------
// COUNT, byte route.
// ---------------------------------------------------------------------------
class Count : public ::testing::TestWithParam<Case> {};

TEST_P(Count, AnswersTheCount) { zeqtest::expect_number_case("fnccous", GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Rules, Count,
    ::testing::Values(
        Case{"OccurrencesDoNotOverlap", {S("aaaa"), S("aa")}, 2},
        Case{"ScanResumesAfterEachMatch", {S("ababab"), S("aba")}, 1},
        Case{"CountsInsideWords", {S("This is"), S("is")}, 2},
        Case{"CaseMattersWithoutI", {S("IS is"), S("is")}, 1},
        Case{"IgnoresCaseWithI", {S("IS is"), S("is"), S("I")}, 2},
        Case{"LowerCaseModifier", {S("IS is"), S("is"), S("i")}, 2},
        Case{"BlankAndOAreAccepted", {S("IS is"), S("is"), S(" o I ")}, 2},
        Case{"BlanksOnlyModifiers", {S("aXa"), S("a"), S("   ")}, 2},
        Case{"InvalidLetterIsReportedAndSkipped", {S("IS is"), S("is"), S("zI")}, 2, 1},
        Case{"BIsNotACountModifier", {S("abab"), S("ab"), S("B")}, 2, 1},
        Case{"EmptySubstringCountsNothing", {S("abc"), S("")}, 0},
        Case{"BlankSubstringWithTIsEmpty", {S("a  b"), S("  "), S("T")}, 0},
        Case{"BlanksAreOrdinaryWithoutT", {S("a  b"), S("  ")}, 1},
        Case{"TTrimsTheSubstring", {S("ab ab"), S("ab "), S("T")}, 2},
        Case{"TrailingBlankMattersWithoutT", {S("ab ab"), S("ab ")}, 1},
        Case{"TTrimsTheString", {S("x  "), S("x  "), S("T")}, 1},
        Case{"OneByte", {S("banana"), S("a")}, 3},
        Case{"OneByteIgnoringCase", {S("bAnAna"), S("a"), S("I")}, 3},
        Case{"Latin1Letters", {S("\xC9\xE9" "E"), S("\xE9"), S("I")}, 2},
        Case{"SubstringLongerThanString", {S("ab"), S("abc")}, 0},
        Case{"AbsentString", {Absent(), S("a")}, 0},
        Case{"AbsentSubstring", {S("abc"), Absent()}, 0},
        Case{"LongStringIgnoringCase",
             {S(std::string(100, 'x') + "AbC" + std::string(100, 'y') + "aBc"), S("abc"), S("I")},
             2}),
    zeqtest::number_case_name);

// ---------------------------------------------------------------------------
// COUNTC, byte route.
// ---------------------------------------------------------------------------
class Countc : public ::testing::TestWithParam<Case> {};

TEST_P(Countc, AnswersTheCount) { zeqtest::expect_number_case("fnccouc", GetParam()); }

// Letters A b F x, digit 1, blank, comma, tab, underscore, control 0x01.
const std::string kMixed = std::string("Ab1 ,\t_x\x01") + "F";

INSTANTIATE_TEST_SUITE_P(
    Rules, Countc,
    ::testing::Values(
        Case{"EmptyListCountsNothing", {S("abc"), S("")}, 0},
        Case{"EmptyListWithVCountsAll", {S("abc"), S(""), S("V")}, 3},
        Case{"ListBytes", {S("Hello World"), S("lo")}, 5},
        Case{"ListBytesOutside", {S("Hello World"), S("lo"), S("V")}, 6},
        Case{"EmptyString", {S(""), S("a")}, 0},
        Case{"AbsentString", {Absent(), S("a")}, 0},
        Case{"AbsentList", {S("abc"), Absent()}, 0},
        Case{"AbsentListWithV", {S("abc"), Absent(), S("V")}, 3},
        Case{"AbsentListWithClass", {S("a1b2"), Absent(), S("D")}, 2},
        Case{"OneByteList", {S("banana"), S("n")}, 2},
        Case{"OneByteListOutside", {S("banana"), S("n"), S("V")}, 4},
        Case{"IAddsBothCases", {S("aAbB"), S("a"), S("I")}, 2},
        Case{"OneByteLongStringIgnoringCase", {S(std::string(60, 'a') + std::string(60, 'A')), S("A"), S("I")}, 120},
        Case{"TDropsTheListsTrailingBlank", {S("a b a"), S("a "), S("T")}, 2},
        Case{"TKeepsALeadingBlank", {S("a b a"), S(" a"), S("T")}, 4},
        Case{"TDropsTheStringsTrailingBlanks", {S("ab  "), S("b "), S("VT")}, 1},
        Case{"TCanEmptyTheList", {S("ab  "), S("  "), S("TV")}, 2},
        Case{"Letters", {S(kMixed), S(""), S("A")}, 4},
        Case{"UpperCase", {S(kMixed), S(""), S("U")}, 2},
        Case{"LowerCase", {S(kMixed), S(""), S("L")}, 2},
        Case{"Digits", {S(kMixed), S(""), S("D")}, 1},
        Case{"DigitsOutside", {S(kMixed), S(""), S("DV")}, 9},
        Case{"Punctuation", {S(kMixed), S(""), S("P")}, 2},
        Case{"WhiteSpace", {S(kMixed), S(""), S("S")}, 2},
        Case{"HorizontalTab", {S(kMixed), S(""), S("H")}, 1},
        Case{"HexDigits", {S(kMixed), S(""), S("X")}, 4},
        Case{"Controls", {S(kMixed), S(""), S("C")}, 2},
        Case{"NameCharacters", {S(kMixed), S(""), S("N")}, 6},
        Case{"NameStarters", {S(kMixed), S(""), S("F")}, 5},
        Case{"Graphic", {S(kMixed), S(""), S("G")}, 7},
        Case{"Printable", {S(kMixed), S(""), S("W")}, 8},
        Case{"ListAndClass", {S("a1b2,"), S(","), S("D")}, 3},
        Case{"DigitsFromTheSpecExample", {S("a1b2"), S(""), S("D")}, 2},
        Case{"KIsNotACountcModifier", {S("abc"), S("a"), S("K")}, 1, 1},
        Case{"InvalidLettersReportedOneByOne", {S("abc"), S("a"), S("e!")}, 1, 2},
        Case{"LowerCaseClassLetter", {S("a1b2"), S(""), S("d")}, 2}),
    zeqtest::number_case_name);

TEST(CountcModifiers, InvalidLetterIsReportedUpperCased) {
  host().clear_log();
  EXPECT_EQ(run("fnccouc", {S("abc"), S("a"), S("bd")}).value, 1);
  ASSERT_EQ(messages(), (std::vector<int>{6}));
  EXPECT_EQ(host().log()[0].args[0], "COUNTC");
  EXPECT_EQ(host().log()[0].args[1], "B");
}

// ---------------------------------------------------------------------------
// The COUNTC call-site cache.
// ---------------------------------------------------------------------------

class CountcCache : public ::testing::TestWithParam<uint8_t> {};

TEST_P(CountcCache, SecondCallUsesTheFirstTable) {
  zeqtest::NumberSite site("fnccouc", GetParam());
  site.call.str("aXbX").str("X").str("O");
  const size_t before = host().task_pool().allocations();
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 2);
  ASSERT_NE(site.call.block()->noteCount, 0);
  EXPECT_EQ(host().task_pool().allocations(), before + 1);
  EXPECT_EQ(host().task_pool().last_size(), 258u);
  EXPECT_EQ(host().task_pool().last_flags(), 0x2004u);

  // Another list and invalid modifiers: neither is read again.
  set_text(site.call, 1, "ab");
  set_text(site.call, 2, "!V");
  host().clear_log();
  const int64_t block = site.call.block()->noteCount;
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 2);
  EXPECT_EQ(site.call.block()->noteCount, block);
  EXPECT_EQ(host().task_pool().allocations(), before + 1);
  EXPECT_TRUE(messages().empty());
}

TEST_P(CountcCache, RemembersTAndTheInvertedTable) {
  zeqtest::NumberSite site("fnccouc", GetParam());
  site.call.str("ab  ").str("a").str("OTV");
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 1);
  set_text(site.call, 0, "cd   ");
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 2);  // trailing blanks still dropped; c and d are outside {a}
}

TEST_P(CountcCache, AllocationFailureAnswersNoRoom) {
  zeqtest::NumberSite site("fnccouc", GetParam());
  site.call.str("aXbX").str("X").str("O");
  EXPECT_EQ(site.refusing_allocation(), FNC_RC_NOROOM);
  EXPECT_EQ(site.out, -1);  // no result
  EXPECT_EQ(site.call.block()->noteCount, 0);
  EXPECT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 2);
  EXPECT_NE(site.call.block()->noteCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Environments, CountcCache, ::testing::Values(0x48, 0x58, 0x68, 0x88));

class CountcNoCache : public ::testing::TestWithParam<uint8_t> {};

TEST_P(CountcNoCache, OHasNoEffect) {
  zeqtest::NumberSite site("fnccouc", GetParam());
  site.call.str("aXbX").str("X").str("O");
  ASSERT_EQ(site.refusing_allocation(), FNC_RC_OK);  // nothing may be allocated
  EXPECT_EQ(site.out, 2);
  EXPECT_EQ(site.call.block()->noteCount, 0);
  set_text(site.call, 1, "ab");
  ASSERT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 2);  // a and b now
}

INSTANTIATE_TEST_SUITE_P(Environments, CountcNoCache, ::testing::Values(0x00, 0x08, 0x50, 0x78));

TEST(CountcCacheRecord, ForeignCallSiteWordIsIgnoredOutsideCachingEnvironments) {
  // Outside the four environments the word may hold anything (the
  // concatenation functions count notes in it); it is never followed.
  zeqtest::NumberSite site("fnccouc", 0x40);
  site.call.str("aXbX").str("X");
  site.call.block()->noteCount = 3;
  EXPECT_EQ(site(), FNC_RC_OK);
  EXPECT_EQ(site.out, 2);
}

// ---------------------------------------------------------------------------
// Odd input for every counting and finding entry: no block, no result,
// strings with negative lengths or no data, numbers where text belongs.
// ---------------------------------------------------------------------------
TEST(CountFindInput, EveryEntryToleratesOddInput) {
  for (const char *entry : {"fnccous", "fnccouc", "fncfind", "fncfndc", "fncfndw", "fncfndl"}) {
    SCOPED_TRACE(entry);
    auto fn = host().fn<zeqtest::NumEntry>(entry);
    ASSERT_NE(fn, nullptr);
    double out = -1;
    EXPECT_EQ(fn(nullptr, &out), FNC_RC_NOTE);

    // No result record: the answer is dropped, the status stays.
    zeqtest::Call plain;
    plain.str("abcabc").str("b").num(0);
    EXPECT_EQ(fn(plain.block(), nullptr), FNC_RC_OK);

    // Negative length and missing data read as empty strings.
    zeqtest::Call odd;
    odd.str("abc").str("b").num(0);
    odd.string_arg(0)->length = -5;
    odd.string_arg(1)->data = nullptr;
    odd.string_arg(1)->length = 5;
    out = -1;
    EXPECT_EQ(fn(odd.block(), &out), FNC_RC_OK);
    EXPECT_EQ(out, 0);

    // Numbers where the texts belong.
    zeqtest::Call numbers;
    numbers.num(1).num(2).num(0);
    out = -1;
    EXPECT_EQ(fn(numbers.block(), &out), FNC_RC_OK);
    EXPECT_EQ(out, 0);

    // No arguments at all (FINDLEV then lacks its level).
    zeqtest::Call none;
    out = -1;
    const int32_t rc = fn(none.block(), &out);
    EXPECT_EQ(rc, std::string(entry) == "fncfndl" ? FNC_RC_MISSING : FNC_RC_OK);
  }
}

// ---------------------------------------------------------------------------
// Multibyte route.
// ---------------------------------------------------------------------------
using zeqtest::Utf8Session;

TEST(CountMultibyte, VaryingMultibyteStringTakesTheCharacterRoute) {
  Utf8Session on;
  // The list holds one character of two bytes: the byte route would count
  // both of its bytes wherever they occur.
  EXPECT_EQ(run("fnccouc", {Var("a\u00e9b\u00e9"), S("\u00e9")}).value, 2);
  EXPECT_EQ(run("fnccouc", {S("a\u00e9b\u00e9"), S("\u00e9")}).value, 4);
  EXPECT_EQ(run("fnccouc", {Var("a\u00e9b\u00e9"), S("\u00e9"), S("V")}).value, 2);
  EXPECT_EQ(run("fnccous", {Var("\u00e9t\u00e9 \u00c9T\u00c9"), S("\u00e9t"), S("I")}).value, 2);
  EXPECT_EQ(run("fnccous", {Var("\u00e9\u00e9\u00e9\u00e9"), S("\u00e9\u00e9")}).value, 2);
  // A varying string without multibyte characters stays on the byte route.
  EXPECT_EQ(run("fnccouc", {Var("abab"), S("\u00e9a")}).value, 2);
}

TEST(CountMultibyte, ClassesAndCaseUseTheService) {
  Utf8Session on;
  EXPECT_EQ(run("fnccouc", {Var("\u00c9\u00e9e1\u0661"), S(""), S("U")}).value, 1);
  EXPECT_EQ(run("fnccouc", {Var("\u00c9\u00e9e1\u0661"), S(""), S("L")}).value, 2);
  EXPECT_EQ(run("fnccouc", {Var("\u00c9\u00e9e1\u0661"), S(""), S("D")}).value, 2);
  EXPECT_EQ(run("fnccouc", {Var("\u00c9\u00e9e1"), S("\u00e9"), S("I")}).value, 2);
  EXPECT_EQ(run("fnccouc", {Var("a\u00e9\tb"), S(""), S("HV")}).value, 3);
}

TEST(CountMultibyte, TAndOHaveNoEffectAndLettersOutsideTheAlphabetAreReported) {
  Utf8Session on;
  host().clear_log();
  EXPECT_EQ(run("fnccouc", {Var("\u00e9  "), S(" "), S("TO")}, 0x58).value, 2);
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(run("fnccous", {Var("\u00e9a\u00e9a"), S("a"), S("!")}).value, 2);
  EXPECT_EQ(messages(), (std::vector<int>{6}));
}

TEST(CountMultibyte, NoServiceAnswersNote) {
  zeqtest::Call c;
  c.str("abc").str("b");
  double out = -1;
  EXPECT_EQ(zeq::typed::mb_entry<zeq::typed::COUNT>(host())(c.block(), &out, nullptr, 0, "COUNT"), FNC_RC_NOTE);
  EXPECT_EQ(zeq::typed::mb_entry<zeq::typed::COUNTC>(host())(c.block(), &out, nullptr, 0, "COUNTC"), FNC_RC_NOTE);
}

// Both routes on the same ASCII text must agree (the multibyte route called
// directly with the session's service).
TEST(CountRoutes, AgreeOnAsciiText) {
  std::mt19937 rng(4242);
  const char alphabet[] = "abAB1 ,.\t_";
  const char *mods[] = {"", "I", "D", "A", "P", "S", "U", "L", "X", "W", "G", "N", "F", "H",
                        "C", "V", "IV", "DP"};
  for (int round = 0; round < 400; round++) {
    std::string s(rng() % 40, ' ');
    for (char &ch : s) ch = alphabet[rng() % (sizeof alphabet - 1)];
    std::string w(1 + rng() % 3, ' ');
    for (char &ch : w) ch = alphabet[rng() % (sizeof alphabet - 1)];
    const std::string m = mods[rng() % (sizeof mods / sizeof *mods)];
    for (const char *entry : {"COUNT", "COUNTC"}) {
      if (std::string(entry) == "COUNT" && m != "" && m != "I") continue;
      const std::string name = std::string(entry) == "COUNT" ? "fnccous" : "fnccouc";
      const std::string mb = std::string(entry) + "_FUNCTION";
      const auto o = zeqtest::call_both_routes(name.c_str(), mb.c_str(), entry, {S(s), S(w), S(m)});
      ASSERT_EQ(o.byte_rc, FNC_RC_OK);
      ASSERT_EQ(o.multibyte_rc, FNC_RC_OK);
      ASSERT_EQ(o.byte, o.multibyte) << entry << " '" << s << "' '" << w << "' " << m;
    }
  }
}

// ---------------------------------------------------------------------------
// Kernels against the plain loops.
// ---------------------------------------------------------------------------
const uint8_t *upper_table() { return host().control_block()->upcase; }

TEST(CountReference, SubstringCountsAgree) {
  std::mt19937 rng(1234);
  const char alphabet[] = "abAB ";
  for (int round = 0; round < 3000; round++) {
    std::string s(rng() % 300, ' ');
    for (char &ch : s) ch = alphabet[rng() % (sizeof alphabet - 1)];
    std::string w(1 + rng() % 4, ' ');
    for (char &ch : w) ch = alphabet[rng() % (sizeof alphabet - 1)];
    const bool fold = rng() & 1;
    const double want = (double)zeqref::count_occurrences(s, w, fold ? upper_table() : nullptr);
    ASSERT_EQ(run("fnccous", {S(s), S(w), S(fold ? "I" : "")}).value, want)
        << "'" << s << "' '" << w << "' fold " << fold;
  }
}

TEST(CountReference, SetCountsAgreeOverEveryByte) {
  std::mt19937 rng(99);
  for (int round = 0; round < 2000; round++) {
    std::string s(rng() % 400, ' ');
    for (char &ch : s) ch = static_cast<char>(rng() % 256);
    std::string list(rng() % 6, ' ');
    for (char &ch : list) ch = static_cast<char>(rng() % 256);
    const bool outside = rng() & 1;
    zeqref::ByteFlags set{};
    for (char ch : list) set[static_cast<uint8_t>(ch)] = true;
    if (outside)
      for (bool &b : set) b = !b;
    const double want = (double)zeqref::count_members(s, set, 0, (int64_t)s.size());
    ASSERT_EQ(run("fnccouc", {S(s), S(list), S(outside ? "V" : "")}).value, want) << round;
  }
}

TEST(CountReference, LongTextAgrees) {
  std::mt19937 rng(7);
  std::string s(1 << 17, ' ');
  for (char &ch : s) ch = "the quick brown fox, THE LAZY DOG.\n"[rng() % 35];
  for (const char *w : {"e", "he", "the", "fox,", " "}) {
    EXPECT_EQ(run("fnccous", {S(s), S(w)}).value, (double)zeqref::count_occurrences(s, w, nullptr));
    EXPECT_EQ(run("fnccous", {S(s), S(w), S("I")}).value,
              (double)zeqref::count_occurrences(s, w, upper_table()));
  }
  zeqref::ByteFlags set{};
  for (char ch : std::string("aeiouAEIOU,.")) set[static_cast<uint8_t>(ch)] = true;
  EXPECT_EQ(run("fnccouc", {S(s), S("aeiouAEIOU,.")}).value,
            (double)zeqref::count_members(s, set, 0, (int64_t)s.size()));
}

// Runs this executable again with the generic build forced, so the module's
// kernels take their generic path whatever the processor offers.
TEST(Builds, SuitePassesWithTheGenericBuildForced) {
  if (std::getenv("ZEQ_FORCE_GENERIC")) GTEST_SKIP() << "already the generic run";
  EXPECT_EQ(zeqref::rerun_with_generic_build(), 0);
}

}  // namespace
