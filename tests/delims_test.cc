// Tests of the word functions' delimiter sets: every class letter over all
// 256 bytes, the 17 defaults, I, K, Q, T, invalid letters, the call-site
// caches of SCAN and COUNTW, and the multibyte classification.
#include <cctype>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "charfn/entry_types.h"
#include "host/host.h"
#include "tests/support/call.h"
#include "tests/support/host_fixture.h"

namespace {

using zeqtest::host;

using CountEntry = zeq::typed::NumberEntry;
using ScanEntry = zeq::typed::CharEntry;
using CountMb = zeq::typed::MbNumberEntry;

double countw(const std::vector<std::string> &args, uint8_t kind = 0) {
  zeqtest::Call c;
  for (const std::string &a : args) c.str(a);
  c.kind(kind);
  double out = -1;
  EXPECT_EQ(zeq::typed::entry<zeq::typed::COUNTW>(host())(c.block(), &out), FNC_RC_OK);
  return out;
}

// True when COUNTW finds no word in the one-byte string b: b is a delimiter.
bool delimits(uint8_t b, const std::string &list, const std::string &mods) {
  return countw({std::string(1, (char)b), list, mods}) == 0;
}

// ---------------------------------------------------------------------------
// Class letters: ASCII against <cctype> (C locale), the upper half against
// the host's class table.
// ---------------------------------------------------------------------------
struct ClassLetter {
  char letter;
  int (*ascii)(int);  // null: given by `extra`
  uint8_t high_bits;  // class bits that select bytes 128..255
};

int is_tab(int c) { return c == '\t'; }
int is_name(int c) { return std::isalpha(c) || c == '_'; }
int is_name_or_digit(int c) { return std::isalnum(c) || c == '_'; }

TEST(DelimiterClasses, EveryLetterOverEveryByte) {
  const ClassLetter letters[] = {
      {'A', [](int c) { return std::isalpha(c); }, 0x03},
      {'C', [](int c) { return std::iscntrl(c); }, 0x40},
      {'D', [](int c) { return std::isdigit(c); }, 0x00},
      {'F', is_name, 0x00},
      {'G', [](int c) { return std::isgraph(c); }, 0x17},
      {'H', is_tab, 0x00},
      {'L', [](int c) { return std::islower(c); }, 0x02},
      {'N', is_name_or_digit, 0x00},
      {'P', [](int c) { return std::ispunct(c); }, 0x10},
      {'S', [](int c) { return std::isspace(c); }, 0x08},
      {'U', [](int c) { return std::isupper(c); }, 0x01},
      {'W', [](int c) { return std::isprint(c); }, 0x37},
      {'X', [](int c) { return std::isxdigit(c); }, 0x80},
  };
  const uint8_t *cls = host().control_block()->charclass;
  for (const ClassLetter &l : letters) {
    const std::string mods(1, l.letter);
    for (int b = 0; b < 256; b++) {
      const bool want = b < 128 ? l.ascii(b) != 0 : (cls[b] & l.high_bits) != 0;
      ASSERT_EQ(delimits((uint8_t)b, "", mods), want) << l.letter << " byte " << b;
    }
  }
}

TEST(DelimiterClasses, ScanBuildsTheSameTable) {
  const struct {
    const char *mods;
    const char *text;
    const char *word2;
  } cases[] = {{"D", "ab1cd2ef", "cd"}, {"U", "abCdeFgh", "de"}, {"S", "a\tb\nc", "b"},
               {"P", "a.b!c", "b"},     {"H", "a\tb c", "b c"},  {"FN", "1a_2b", " "}};
  for (const auto &tc : cases) {
    zeqtest::Call c;
    c.str(tc.text).num(2).str("").str(tc.mods);
    zeqtest::Result r(16);
    ASSERT_EQ(zeq::typed::entry<zeq::typed::SCAN>(host())(c.block(), &r.rec), FNC_RC_OK);
    EXPECT_EQ(r.text(), tc.word2) << tc.mods;
  }
}

TEST(DelimiterDefaults, ExactlyTheSeventeen) {
  const std::string defaults = " !$%&()*+,-./;<^|";
  int seen = 0;
  for (int b = 0; b < 256; b++) {
    const std::string s = std::string("a") + (char)b + "a";
    const bool is_default = defaults.find((char)b) != std::string::npos;
    seen += is_default;
    ASSERT_EQ(countw({s}), is_default ? 2 : 1) << "byte " << b;
  }
  EXPECT_EQ(seen, 17);
}

TEST(DelimiterList, IgnoreCaseAddsBothForms) {
  EXPECT_TRUE(delimits('a', "a", ""));
  EXPECT_FALSE(delimits('A', "a", ""));
  EXPECT_TRUE(delimits('A', "a", "I"));
  EXPECT_TRUE(delimits('a', "A", "i"));
  EXPECT_TRUE(delimits(0xE9, "\xC9", "I"));  // Latin-1 e-acute from E-acute
}

TEST(DelimiterList, KComplementsEverything) {
  for (int b = 0; b < 256; b++) {
    ASSERT_TRUE(delimits((uint8_t)b, "", "K")) << b;
    const bool quote = b == '"' || b == '\'';
    ASSERT_EQ(delimits((uint8_t)b, "", "KQ"), !quote) << b;
  }
  EXPECT_FALSE(delimits('x', "x", "K"));
  EXPECT_TRUE(delimits('y', "x", "K"));
  EXPECT_FALSE(delimits('7', "", "DK"));
}

TEST(DelimiterList, QuotesNeverDelimitWithQ) {
  EXPECT_TRUE(delimits('"', "\"'", ""));
  EXPECT_FALSE(delimits('"', "\"'", "Q"));
  EXPECT_FALSE(delimits('\'', "\"'", "Q"));
}

TEST(DelimiterList, TTrimsTheListAtOnce) {
  EXPECT_EQ(countw({"a a", "  ", ""}), 2);
  EXPECT_EQ(countw({"a a", "  ", "T"}), 1);
  EXPECT_EQ(countw({"a a", " ,", "T"}), 2);  // an inner blank stays
  EXPECT_EQ(countw({"a,a  ", ",", "M"}), 2);
  EXPECT_EQ(countw({"a,a  ", " ,", "M"}), 4);
  EXPECT_EQ(countw({"a,a  ", " ,", "TM"}), 2);  // and the string loses its own
}

TEST(DelimiterModifiers, InvalidLettersAreReported) {
  host().clear_log();
  EXPECT_EQ(countw({"a,b", ",", "JEVR"}), 2);
  EXPECT_EQ(host().message_numbers(), (std::vector<int>{6, 6, 6, 6}));
  for (const auto &e : host().log()) EXPECT_EQ(e.args[0], "COUNTW");

  // SCAN accepts R but not J, E, V.
  zeqtest::Call c;
  c.str("a, b").num(2).str(",").str("jRev");
  zeqtest::Result r(8);
  host().clear_log();
  ASSERT_EQ(zeq::typed::entry<zeq::typed::SCAN>(host())(c.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), "b");
  EXPECT_EQ(host().message_numbers(), (std::vector<int>{6, 6, 6}));
  ASSERT_EQ(host().log().size(), 3u);
  EXPECT_EQ(host().log()[0].args, (std::vector<std::string>{"SCAN", "J"}));
}

// ---------------------------------------------------------------------------
// Call-site caches.
// ---------------------------------------------------------------------------
constexpr uint8_t kLimited = 0x58;

std::string scan_again(zeqtest::Call &c, double n) {
  *c.number_arg(1) = n;
  zeqtest::Result r(16);
  EXPECT_EQ(zeq::typed::entry<zeq::typed::SCAN>(host())(c.block(), &r.rec), FNC_RC_OK);
  return r.text();
}

void set_text(zeqtest::Call &c, int i, const char *text) {
  FncString *s = c.string_arg(i);
  s->data = const_cast<char *>(text);
  s->length = s->maxLength = (int64_t)std::strlen(text);
}

TEST(DelimiterCache, ScanKeepsTheFirstTableAndFlags) {
  for (uint8_t kind : {0x48, 0x58, 0x68, 0x88}) {
    zeqtest::Call c;
    c.str("a,b c;d").num(1).str(",").str("O").kind(kind);
    const size_t before = host().task_pool().allocations();
    EXPECT_EQ(scan_again(c, 2), "b c;d");
    ASSERT_NE(c.block()->noteCount, 0);
    EXPECT_EQ(host().task_pool().allocations(), before + 1);
    EXPECT_EQ(host().task_pool().last_size(), 266u);
    EXPECT_EQ(host().task_pool().last_flags(), 0x2004u);
    const int64_t cache = c.block()->noteCount;
    set_text(c, 2, ";");
    set_text(c, 3, "BM");
    EXPECT_EQ(scan_again(c, 2), "b c;d");  // still ',' and left to right
    EXPECT_EQ(c.block()->noteCount, cache);
    EXPECT_EQ(host().task_pool().allocations(), before + 1);
  }
}

TEST(DelimiterCache, OtherEnvironmentsIgnoreO) {
  zeqtest::Call c;
  c.str("a,b c;d").num(1).str(",").str("O").kind(0x40);
  EXPECT_EQ(scan_again(c, 2), "b c;d");
  EXPECT_EQ(c.block()->noteCount, 0);
  set_text(c, 2, ";");
  EXPECT_EQ(scan_again(c, 2), "d");
}

TEST(DelimiterCache, ScanRemembersDirectionOfNegativeWord) {
  zeqtest::Call c;
  c.str("a b c").num(-1).str(" ").str("O").kind(kLimited);
  EXPECT_EQ(scan_again(c, -1), "c");
  EXPECT_EQ(scan_again(c, 1), "c");
  EXPECT_EQ(scan_again(c, 2), "b");
}

TEST(DelimiterCache, CachedTTrimsLaterStrings) {
  zeqtest::Call c;
  c.str("x").num(1).str(" ,").str("TMO").kind(kLimited);
  EXPECT_EQ(scan_again(c, 1), "x");
  set_text(c, 0, "a,b   ");
  EXPECT_EQ(scan_again(c, -1), "b");
  EXPECT_EQ(scan_again(c, 3), "");
}

TEST(DelimiterCache, CachedTableTakesTheTrimmedList) {
  // T trims the list at once, whether the table serves one call or a cache:
  // a list of blanks leaves no delimiters.
  for (uint8_t kind : {uint8_t{0x40}, kLimited}) {
    SCOPED_TRACE(kind);
    EXPECT_EQ(countw({"a b  ", " ", "TO"}, kind), 1);
    EXPECT_EQ(countw({"a b,c ", ", ", "TO"}, kind), 2);
    zeqtest::Call c;
    c.str("a b").num(1).str("   ").str("TO").kind(kind);
    EXPECT_EQ(scan_again(c, 1), "a b");
  }
}

TEST(DelimiterCache, CountwKeepsTheFirstTable) {
  zeqtest::Call c;
  c.str("a,b,,c").str(",").str("OM").kind(kLimited);
  double out = -1;
  auto fnccouw = zeq::typed::entry<zeq::typed::COUNTW>(host());
  ASSERT_EQ(fnccouw(c.block(), &out), FNC_RC_OK);
  EXPECT_EQ(out, 4);
  EXPECT_EQ(host().task_pool().last_size(), 264u);
  set_text(c, 1, "b");
  set_text(c, 2, "");
  ASSERT_EQ(fnccouw(c.block(), &out), FNC_RC_OK);
  EXPECT_EQ(out, 4);
  set_text(c, 0, "x,,y,");
  ASSERT_EQ(fnccouw(c.block(), &out), FNC_RC_OK);
  EXPECT_EQ(out, 4);
}

TEST(DelimiterCache, CachedQStillSparesQuotes) {
  zeqtest::Call c;
  c.str("'a b' c").str(" '").str("QO").kind(kLimited);
  double out = -1;
  auto fnccouw = zeq::typed::entry<zeq::typed::COUNTW>(host());
  ASSERT_EQ(fnccouw(c.block(), &out), FNC_RC_OK);
  EXPECT_EQ(out, 2);
  ASSERT_EQ(fnccouw(c.block(), &out), FNC_RC_OK);
  EXPECT_EQ(out, 2);
}

TEST(DelimiterCache, AllocationFailureIsNoRoom) {
  zeqtest::Call c;
  c.str("a b").str(" ").str("O").kind(kLimited);
  double out = -1;
  host().task_pool().fail_nth(1);
  EXPECT_EQ(zeq::typed::entry<zeq::typed::COUNTW>(host())(c.block(), &out), FNC_RC_NOROOM);
  EXPECT_EQ(out, -1);
  EXPECT_EQ(c.block()->noteCount, 0);

  zeqtest::Call s;
  s.str("a b").num(1).str(" ").str("O").kind(kLimited);
  zeqtest::Result r(8);
  r.rec.length = 5;
  host().task_pool().fail_nth(1);
  EXPECT_EQ(zeq::typed::entry<zeq::typed::SCAN>(host())(s.block(), &r.rec), FNC_RC_NOROOM);
  EXPECT_EQ(r.rec.length, 5);
  host().task_pool().fail_nth(0);
}

// ---------------------------------------------------------------------------
// Odd argument blocks: null data, negative lengths, values of the wrong kind.
// None may crash; strings read as empty.
// ---------------------------------------------------------------------------
TEST(WordArguments, OddBlocksAreSafe) {
  FncString null_data{};
  null_data.length = 5;
  FncString negative{};
  char text[] = "a b";
  negative.data = text;
  negative.length = -3;
  double number = 2, target = 0, list_number = 1;
  std::vector<unsigned char> raw(FNC_ARGLIST_SIZE(6), 0);
  auto *b = reinterpret_cast<FncArgList *>(raw.data());
  auto fill = [&](uint8_t form, int argc) {
    std::fill(raw.begin(), raw.end(), 0);
    b->callForm = form;
    b->argCount = argc;
    b->args[0] = {FNC_ARG_CHAR, 0, {}, &null_data};
    b->args[1] = {FNC_ARG_NUMERIC, 0, {}, &number};
    b->args[2] = {FNC_ARG_CHAR, 0, {}, &negative};  // a target that is not numeric
    b->args[3] = {FNC_ARG_NUMERIC, 0, {}, &target};
    b->args[4] = {FNC_ARG_NUMERIC, 0, {}, &list_number};  // a list that is a number
    b->args[5] = {FNC_ARG_CHAR, 0, {}, &null_data};
  };
  auto fncscan = zeq::typed::entry<zeq::typed::SCAN>(host());
  auto fncscnq = zeq::typed::entry<zeq::typed::SCANQ>(host());
  auto fnccouw = zeq::typed::entry<zeq::typed::COUNTW>(host());
  auto fnccouq = zeq::typed::entry<zeq::typed::COUNTQ>(host());
  for (int argc = 0; argc <= 6; argc++) {
    for (uint8_t form : {1, 2}) {
      zeqtest::Result r(8);
      double out = -1;
      fill(form, argc);
      fncscan(b, form == 1 ? &r.rec : nullptr);
      fill(form, argc);
      fncscnq(b, form == 1 ? &r.rec : nullptr);
      fill(form, argc);
      EXPECT_EQ(fnccouw(b, &out), FNC_RC_OK);
      fill(form, argc);
      fnccouq(b, &out);
    }
  }
  EXPECT_EQ(std::string(text), "a b");
  EXPECT_EQ(number, 2);
  EXPECT_EQ(list_number, 1);
  fill(1, 3);
  zeqtest::Result r(8);
  EXPECT_EQ(fncscan(b, &r.rec), FNC_RC_OK);
  EXPECT_EQ(r.text(), " ");  // an empty string has no word 2
}

// ---------------------------------------------------------------------------
// Multibyte classification.
// ---------------------------------------------------------------------------
class DelimiterMultibyte : public ::testing::Test {
 protected:
  void SetUp() override { host().set_utf8(true); }
  void TearDown() override { host().set_utf8(false); }
  double count(const std::vector<std::string> &args) {
    static const TKChar name[] = {'M', 'V', 'A', 0};
    unsigned char opts[128] = {};
    ZeqStringService *svc = host().kernel()->string_service(name, opts);
    zeqtest::Call c;
    for (const std::string &a : args) c.str(a);
    double out = -1;
    EXPECT_EQ(zeq::typed::mb_entry<zeq::typed::COUNTW>(host())(c.block(), &out, svc, 0, "COUNTW"), FNC_RC_OK);
    return out;
  }
};

TEST_F(DelimiterMultibyte, PunctuationIncludesTheNineSymbols) {
  for (char sym : std::string("`+$=|<>^~.,;!")) {
    const std::string s = std::string("a") + sym + "b";
    EXPECT_EQ(count({s, "", "P"}), 2) << sym;
  }
  EXPECT_EQ(count({"a\xc3\xa9" "b", "", "P"}), 1);
}

TEST_F(DelimiterMultibyte, ClassLettersOnCharacters) {
  EXPECT_EQ(count({"\xc3\xa9" "1\xc3\xa9", "", "A"}), 1);   // letters delimit
  EXPECT_EQ(count({"\xc3\xa9\t\xc3\xa9", "", "H"}), 2);
  EXPECT_EQ(count({"\xc3\xa9_x1y", "", "F"}), 2);          // _ and x delimit, e-acute does not
  EXPECT_EQ(count({"\xc3\xa9_x1y", "", "N"}), 1);
  EXPECT_EQ(count({"a\xc2\xa0" "b", "", "S"}), 2);         // no-break space
  EXPECT_EQ(count({"\xc3\xa9 \xc3\xa9", "", "K"}), 0);
  EXPECT_EQ(count({"\xc3\xa9 \xc3\xa9", " ", "K"}), 1);    // only the blank is a word
  EXPECT_EQ(count({"a\xc3\x89" "b\xc3\xa9" "c", "\xc3\xa9", "I"}), 3);
  EXPECT_EQ(count({"a.b c"}), 3);                          // the defaults
  EXPECT_EQ(count({"a.b c", "", "O"}), 1);                 // a list turns them off
}

}  // namespace
