// Tests of COMPLEV: distances against a plain O(mn) reference, the cutoff
// (answer = min(distance, cutoff), at, below and above it), modifiers, the
// cutoff arguments, and the scratch memory of long strings.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "charfn/entry_types.h"
#include "host/host.h"
#include "tests/reference/edit_distance.h"
#include "tests/support/call.h"
#include "tests/support/host_fixture.h"

namespace {

using zeqtest::host;

using NumFn = zeq::typed::NumberEntry;

using A = zeqtest::Arg;
using zeqtest::C;
using zeqtest::N;
using zeqtest::Miss;

int32_t complev(const std::vector<A> &args, double *r, zeqtest::Call *keep = nullptr) {
  zeqtest::Call local;
  zeqtest::Call &c = keep ? *keep : local;
  zeqtest::add_args(c, args);
  return zeq::typed::entry<zeq::typed::COMPLEV>(host())(c.block(), r);
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

std::string ltrim(std::string s) {
  s.erase(0, s.find_first_not_of(' ') == std::string::npos ? s.size() : s.find_first_not_of(' '));
  return s;
}

// Upper-cased by the session table, as I and N compare.
std::string upper(std::string s) {
  const uint8_t *up = host().control_block()->upcase;
  for (char &ch : s) ch = (char)up[(uint8_t)ch];
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
// Long strings: property tests over lengths 0..3000, small and large
// alphabets, related and unrelated pairs, every answer against the reference
// with no cutoff and with cutoffs below, at and one above the distance.
// Lengths near multiples of 64 and pairs a few edits apart matter most: they
// put the band edges and the last cell on word boundaries.
// ---------------------------------------------------------------------------
struct Alphabet {
  const char *name;
  std::string letters;
};

std::string all_bytes() {
  std::string s;
  for (int c = 0; c < 256; c++) s.push_back((char)c);
  return s;
}

const Alphabet kAlphabets[] = {
    {"ab", "ab"}, {"acgt", "acgt"}, {"mixed case", "aAbBcC xyz"}, {"every byte", all_bytes()}};

std::string draw(std::mt19937 &g, int64_t n, const std::string &letters) {
  std::string s;
  std::uniform_int_distribution<size_t> pick(0, letters.size() - 1);
  for (int64_t i = 0; i < n; i++) s.push_back(letters[pick(g)]);
  return s;
}

// s with `edits` random replacements, deletions and insertions.
std::string mutate(std::mt19937 &g, std::string s, int edits, const std::string &letters) {
  std::uniform_int_distribution<size_t> pick(0, letters.size() - 1);
  for (int e = 0; e < edits; e++) {
    const size_t at = std::uniform_int_distribution<size_t>(0, s.size())(g);
    switch (g() % 3) {
      case 0: if (at < s.size()) s[at] = letters[pick(g)]; break;
      case 1: if (at < s.size()) s.erase(at, 1); break;
      default: s.insert(s.begin() + (ptrdiff_t)at, letters[pick(g)]); break;
    }
  }
  return s;
}

int64_t draw_length(std::mt19937 &g, int iter) {
  switch (iter % 4) {
    case 0: return std::uniform_int_distribution<int64_t>(0, 140)(g);
    case 1: return 64 * std::uniform_int_distribution<int64_t>(1, 6)(g) +
                   std::uniform_int_distribution<int64_t>(-2, 2)(g);
    case 2: return std::uniform_int_distribution<int64_t>(0, 700)(g);
    default: return std::uniform_int_distribution<int64_t>(0, 3000)(g);
  }
}

// COMPLEV of a and b with `extra` arguments, against min(reference, cutoff)
// for no cutoff and cutoffs around the reference distance.
void expect_all_cutoffs(const std::string &a, const std::string &b, std::vector<A> extra,
                        int64_t full, const std::string &what) {
  std::vector<A> args = {C(a), C(b)};
  args.insert(args.end(), extra.begin(), extra.end());
  ASSERT_EQ(lev(args), (double)full) << what;
  for (int64_t cutoff : {full - 2, full - 1, full, full + 1, full / 2 + 1, int64_t(64), int64_t(65)}) {
    if (cutoff < 1) continue;
    std::vector<A> with = {C(a), C(b), N((double)cutoff)};
    with.insert(with.end(), extra.begin(), extra.end());
    ASSERT_EQ(lev(with), (double)std::min(full, cutoff)) << what << ", cutoff " << cutoff;
  }
}

TEST(ComplevReference, LongRandomPairsMatchTheReferenceAtEveryCutoff) {
  std::mt19937 g(77031);
  for (const Alphabet &alpha : kAlphabets) {
    for (int iter = 0; iter < 48; iter++) {
      const int64_t n = draw_length(g, iter);
      const std::string a = draw(g, n, alpha.letters);
      // Mostly a few edits apart, some unrelated, some far apart in length.
      std::string b;
      switch (iter % 6) {
        case 0: b = draw(g, draw_length(g, iter + 1), alpha.letters); break;
        case 1: b = mutate(g, a, 1 + (int)(g() % 3), alpha.letters); break;
        case 2: b = mutate(g, a, 1 + (int)(n / 8), alpha.letters); break;
        case 3: b = a.substr(0, a.size() / 3) + mutate(g, a.substr(a.size() / 3), 4, alpha.letters); break;
        default: b = mutate(g, a, 1 + (int)(g() % 40), alpha.letters); break;
      }
      // Either order: the shorter string may come first or second.
      const std::string &s1 = iter % 2 ? b : a, &s2 = iter % 2 ? a : b;
      const int64_t full = zeqref::levenshtein(rtrim(s1), rtrim(s2));
      expect_all_cutoffs(s1, s2, {}, full,
                         std::string(alpha.name) + " #" + std::to_string(iter) + " lengths " +
                             std::to_string(s1.size()) + "/" + std::to_string(s2.size()));
    }
  }
}

TEST(ComplevReference, LongPairsWithBlanksAndModifiers) {
  std::mt19937 g(5150);
  const std::string letters = "abcdeABCDE  ";
  for (int iter = 0; iter < 60; iter++) {
    std::string a = draw(g, draw_length(g, iter), letters);
    std::string b = mutate(g, a, 1 + (int)(g() % 12), letters);
    if (iter % 3 == 0) b = upper(b);
    // Blank padding on either side; trailing blanks never count.
    if (iter % 2) a += std::string(g() % 150, ' ');
    if (iter % 5 < 2) b = std::string(g() % 70, ' ') + b + std::string(g() % 200, ' ');
    std::string what = "#";
    what += std::to_string(iter) + " lengths " + std::to_string(a.size()) + "/" + std::to_string(b.size());

    expect_all_cutoffs(a, b, {}, zeqref::levenshtein(rtrim(a), rtrim(b)), what);
    expect_all_cutoffs(a, b, {C("I")}, zeqref::levenshtein(rtrim(upper(a)), rtrim(upper(b))),
                       what + " I");
    expect_all_cutoffs(a, b, {C("L")}, zeqref::levenshtein(rtrim(ltrim(a)), rtrim(ltrim(b))),
                       what + " L");
    // The colon cuts the longer string to the shorter length (at least 1).
    std::string ca = a, cb = b;
    if (cb.size() < ca.size()) ca.resize(std::max<size_t>(cb.size(), 1));
    else if (!cb.empty()) cb.resize(std::max<size_t>(ca.size(), 1));
    expect_all_cutoffs(a, b, {C("i:")}, zeqref::levenshtein(rtrim(upper(ca)), rtrim(upper(cb))),
                       what + " i:");
  }
}

// Pairs a few edits apart at every cutoff from 1 to 10 (the edit-sequence
// route takes cutoffs up to 4, the one-word route remainders up to 64
// bytes), with trailing blanks and each modifier.
TEST(ComplevReference, SmallCutoffsMatchTheReference) {
  std::mt19937 g(9021);
  const std::string letters = "abcAB  ";
  for (int iter = 0; iter < 400; iter++) {
    const int64_t n = iter % 2 ? std::uniform_int_distribution<int64_t>(0, 80)(g)
                               : std::uniform_int_distribution<int64_t>(0, 300)(g);
    std::string a = draw(g, n, letters);
    std::string b = mutate(g, a, (int)(g() % 6), letters);
    if (iter % 3 == 0) b += std::string(g() % 5, ' ');
    if (iter % 2) std::swap(a, b);
    const std::string what = "#" + std::to_string(iter) + " '" + a + "' '" + b + "'";
    if (iter % 4 == 1) a = std::string(g() % 4, ' ') + a;
    struct Variant {
      const char *modifiers;
      int64_t distance;
    };
    const Variant variants[] = {{"", zeqref::levenshtein(rtrim(a), rtrim(b))},
                                {"I", zeqref::levenshtein(rtrim(upper(a)), rtrim(upper(b)))},
                                {"L", zeqref::levenshtein(rtrim(ltrim(a)), rtrim(ltrim(b)))}};
    for (const Variant &v : variants)
      for (int64_t cutoff = 1; cutoff <= 10; cutoff++)
        ASSERT_EQ(lev({C(a), C(b), N((double)cutoff), C(v.modifiers)}),
                  (double)std::min(v.distance, cutoff))
            << what << " '" << v.modifiers << "' cutoff " << cutoff;
  }
}

// Equal long strings but for one region, and strings of one repeated byte:
// the prefix and suffix go first, then the remainders straddle word sizes.
TEST(ComplevReference, RemaindersAroundWordSizes) {
  for (int64_t len : {31, 32, 33, 63, 64, 65, 127, 128, 129, 191, 192, 193, 1000}) {
    const std::string a(len, 'a'), b(len, 'b');
    expect_all_cutoffs(a, b, {}, len, "a/b " + std::to_string(len));
    const std::string frame(100, 'z');
    expect_all_cutoffs(frame + a + frame, frame + b + "x" + frame, {}, len + 1,
                       "framed " + std::to_string(len));
    std::string c = a;
    c[(size_t)len / 2] = 'c';
    expect_all_cutoffs(a + "q", c + std::string(3, 'r'), {}, zeqref::levenshtein(a + "q", c + "rrr"),
                       "middle " + std::to_string(len));
  }
}

// Every route around its thresholds: remainders of 31 to 128 bytes (one
// word up to 64, blocks beyond), cutoffs 1 to 10 (edit sequences up to 4)
// and 62 to 64 (the one-word diagonal band up to 63), related and unrelated
// pairs, trailing blanks, and each modifier.
TEST(ComplevReference, RoutesAroundTheirThresholds) {
  std::mt19937 g(31337);
  const std::string letters = "abcdAB ";
  const int64_t lengths[] = {31, 32, 33, 63, 64, 65, 128};
  for (int iter = 0; iter < 84; iter++) {
    std::string a = draw(g, lengths[iter % 7], letters);
    std::string b = iter % 3 == 2 ? draw(g, lengths[(iter / 7) % 7], letters)
                                  : mutate(g, a, 1 + (int)(g() % 8), letters);
    if (iter % 4 == 1) b += std::string(g() % 4, ' ');
    if (iter % 2) std::swap(a, b);
    struct Variant {
      const char *modifiers;
      int64_t distance;
    };
    const Variant variants[] = {{"", zeqref::levenshtein(rtrim(a), rtrim(b))},
                                {"I", zeqref::levenshtein(rtrim(upper(a)), rtrim(upper(b)))},
                                {"N", zeqref::levenshtein(rtrim(upper(a)), rtrim(upper(b)))},
                                {"L", zeqref::levenshtein(rtrim(ltrim(a)), rtrim(ltrim(b)))}};
    const std::string what = "#" + std::to_string(iter) + " lengths " + std::to_string(a.size()) +
                             "/" + std::to_string(b.size());
    for (const Variant &v : variants) {
      ASSERT_EQ(lev({C(a), C(b), C(v.modifiers)}), (double)v.distance) << what << " '" << v.modifiers;
      for (int64_t cutoff : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 62, 63, 64})
        ASSERT_EQ(lev({C(a), C(b), N((double)cutoff), C(v.modifiers)}),
                  (double)std::min(v.distance, cutoff))
            << what << " '" << v.modifiers << "' cutoff " << cutoff;
    }
  }
}

// Every pair of strings of up to four letters from a two-letter alphabet
// (and a capital, for I), at every cutoff of
// the edit-sequence route and just past it: the route stops at the least
// distance its remainders can have, and may skip its walks altogether.
TEST(ComplevReference, AllShortPairsAtSmallCutoffs) {
  std::vector<std::string> all = {""};
  for (size_t at = 0; at < all.size() && all[at].size() < 4; at++)
    for (char c : {'a', 'b', 'A'}) all.push_back(all[at] + c);
  for (const std::string &a : all) {
    for (const std::string &b : all) {
      const int64_t exact = zeqref::levenshtein(rtrim(a), rtrim(b));
      const int64_t nocase = zeqref::levenshtein(rtrim(upper(a)), rtrim(upper(b)));
      for (int64_t cutoff = 1; cutoff <= 5; cutoff++) {
        ASSERT_EQ(lev({C(a), C(b), N((double)cutoff)}), (double)std::min(exact, cutoff))
            << "'" << a << "' '" << b << "' cutoff " << cutoff;
        ASSERT_EQ(lev({C(a), C(b), N((double)cutoff), C("I")}), (double)std::min(nocase, cutoff))
            << "'" << a << "' '" << b << "' I cutoff " << cutoff;
      }
    }
  }
}

// Long pairs under cutoffs the diagonal band takes, with the lengths apart
// by up to the cutoff (the band is then lopsided or one diagonal wide) and
// edits bunched at either end or spread out.
TEST(ComplevReference, LongPairsInTheDiagonalBand) {
  std::mt19937 g(4242);
  for (const Alphabet &alpha : kAlphabets) {
    for (int iter = 0; iter < 40; iter++) {
      const int64_t n = std::uniform_int_distribution<int64_t>(65, 1500)(g);
      const std::string a = draw(g, n, alpha.letters);
      const int64_t cutoff = std::uniform_int_distribution<int64_t>(5, 63)(g);
      std::string b = a;
      switch (iter % 4) {
        case 0: b = mutate(g, a, (int)(cutoff / 2), alpha.letters); break;
        case 1: b = a + draw(g, cutoff - 1 - iter % 3, alpha.letters); break;
        case 2: b = draw(g, cutoff - 2, alpha.letters) + mutate(g, a, 1, alpha.letters); break;
        default: b = mutate(g, a, (int)cutoff + 3, alpha.letters); break;
      }
      const std::string &s1 = iter % 2 ? b : a, &s2 = iter % 2 ? a : b;
      const int64_t full = zeqref::levenshtein(rtrim(s1), rtrim(s2));
      const std::string what = std::string(alpha.name) + " #" + std::to_string(iter) + " lengths " +
                               std::to_string(s1.size()) + "/" + std::to_string(s2.size());
      for (int64_t c : {cutoff, full, full + 1, int64_t(63)}) {
        if (c < 5 || c > 63) continue;
        ASSERT_EQ(lev({C(s1), C(s2), N((double)c)}), (double)std::min(full, c)) << what << ", cutoff " << c;
      }
    }
  }
}

// Remainders of more than 64 bytes whose lengths differ by about the width
// of the one-word band or more: the band must give up at once and the
// wider routes answer.
TEST(ComplevReference, LongRemaindersFarApartInLength) {
  std::mt19937 g(6502);
  const std::pair<int64_t, int64_t> lengths[] = {{65, 127}, {65, 128}, {65, 129}, {70, 133},
                                                 {100, 300}, {128, 200}, {129, 192}, {300, 364}};
  for (const auto &[short_len, long_len] : lengths) {
    const std::string a = draw(g, short_len, "abc");
    const std::string b = mutate(g, a, 3, "abc") + draw(g, long_len - short_len, "abc");
    const int64_t full = zeqref::levenshtein(a, rtrim(b));
    for (int64_t cutoff : {int64_t(0), int64_t(62), int64_t(63), int64_t(64), full, full + 1}) {
      std::vector<A> args = {C(b), C(a)};
      if (cutoff > 0) args.push_back(N((double)cutoff));
      ASSERT_EQ(lev(args), (double)(cutoff > 0 ? std::min(full, cutoff) : full))
          << short_len << "/" << long_len << ", cutoff " << cutoff;
    }
  }
}

// One edit at every offset of a long run of equal bytes, and strings equal
// but for their first or last byte: the runs compared eight bytes at a time
// must stop exactly at the difference, from the front and from the back.
TEST(ComplevReference, EditsAtEveryOffsetOfALongRun) {
  std::mt19937 g(808);
  const std::string base = draw(g, 45, all_bytes());
  for (size_t at = 0; at < base.size(); at++) {
    std::string replaced = base, dropped = base, added = base;
    replaced[at] = (char)(replaced[at] ^ 0x41);
    dropped.erase(at, 1);
    added.insert(at, 1, (char)0xE9);
    for (const std::string *other : {&replaced, &dropped, &added}) {
      const int64_t full = zeqref::levenshtein(rtrim(base), rtrim(*other));
      ASSERT_EQ(lev({C(base), C(*other)}), (double)full) << "offset " << at;
      for (int64_t cutoff : {1, 2, 3, 4, 5})
        ASSERT_EQ(lev({C(*other), C(base), N((double)cutoff)}), (double)std::min(full, cutoff))
            << "offset " << at << ", cutoff " << cutoff;
    }
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
  // Remainders of more than 32 bytes take scratch memory on every route but
  // that of cutoffs up to 4.
  const std::string x40(40, 'x'), y40(40, 'y'), x100(100, 'x'), y90(90, 'y');
  const std::vector<A> refused[] = {
      {C(x100), C(y90)},           {C(x40), C(y40)},          {C(x40), C(y40), C("I")},
      {C(x40), C(y40), N(10)},     {C(x100 + "q"), C("r" + x100), N(10)}, {C(x100), C(y90), N(80)},
  };
  for (const auto &args : refused) {
    double r = -999;
    EXPECT_EQ(complev(args, &r), FNC_RC_NOROOM);
    EXPECT_EQ(r, -999);
  }
  // Short strings need no memory at all, nor do the edit sequences.
  double r = -999;
  EXPECT_EQ(complev({C("abc"), C("abd")}, &r), FNC_RC_OK);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(complev({C(x40), C(y40), N(4)}, &r), FNC_RC_OK);
  EXPECT_EQ(r, 4);
  host().task_pool().fail_always(false);
}

// The block is two rows of 8-byte cells over the shorter remainder, and
// room for upper-cased copies of both when case is ignored.
TEST(ComplevMemory, TakesTheDocumentedBlock) {
  NoScratch none(nullptr);
  auto &pool = host().task_pool();
  struct Case {
    std::vector<A> args;
    uint64_t bytes;
  } cases[] = {
      {{C("pre" + std::string(40, 'a')), C("pre" + std::string(45, 'b'))}, 8 * 41},
      {{C(std::string(40, 'a')), C(std::string(45, 'b')), C("I")}, 8 * 41 + 85},
      {{C("q" + std::string(100, 'a') + "q"), C("r" + std::string(104, 'a') + "r"), N(9)}, 8 * 103},
  };
  for (auto &tc : cases) {
    const size_t live = pool.live_blocks(), served = pool.allocations();
    lev(tc.args);
    EXPECT_EQ(pool.allocations(), served + 1);
    EXPECT_EQ(pool.last_size(), tc.bytes);
    EXPECT_EQ(pool.live_blocks(), live);
  }
}

// A call site that keeps call-site caches answers what a fresh block
// answers while one argument stays fixed (either one, with case counted or
// ignored, cutoffs on both sides of the edit-sequence route), while both
// change, and when the fixed argument changes.
TEST(ComplevSiteCache, FixedArgumentGivesTheSameAnswers) {
  std::mt19937_64 g(26);
  auto text = [&](size_t n) {
    std::string t;
    for (size_t i = 0; i < n; i++) t += "abcAB xyz"[g() % 9];
    return t;
  };
  for (int fixed : {0, 1, -1})
    for (const char *mods : {"", "I"})
      for (double cutoff : {3.0, 5.0, 40.0, 999.0}) {
        zeqtest::Call site;
        site.kind(0x48).str("").str("").num(cutoff).str(mods);
        auto fn = zeq::typed::entry<zeq::typed::COMPLEV>(host());
        std::string pattern = text(1 + g() % 64), other;
        for (int row = 0; row < 60; row++) {
          if (row == 30 || fixed < 0) pattern = text(g() % 70);
          other = text(g() % 90);
          const std::string &a = fixed == 1 ? other : pattern, &b = fixed == 1 ? pattern : other;
          for (int i : {0, 1}) {
            FncString *arg = site.string_arg(i);
            arg->data = const_cast<char *>((i ? b : a).data());
            arg->length = arg->maxLength = (int64_t)(i ? b : a).size();
          }
          double cached = -1;
          ASSERT_EQ(fn(site.block(), &cached), FNC_RC_OK);
          ASSERT_EQ(cached, lev({C(a), C(b), N(cutoff), C(mods)})) << a << " / " << b << " cutoff " << cutoff;
        }
        EXPECT_EQ(site.block()->noteCount != 0, cutoff > 4) << "the site keeps a record";
      }
}

}  // namespace
