// tests/string_service_test.cc - the session string service of the
// reference host: binding, counting, reading and moving over UTF-8 (and
// TKChar) text, the out-of-range answer -99, blank-padded comparison with
// the position of the first difference, class codes, case mapping and
// encoding, and the switch between a Latin-1 and a UTF-8 session.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host.h"

namespace {

using zeqhost::Host;
using zeqhost::HostOptions;

HostOptions utf8_session() {
  HostOptions o;
  o.utf8 = true;
  return o;
}

const TKChar kMVA[] = {'M', 'V', 'A', 0};

// The service as the module obtains it: the factory under the name "MVA".
ZeqStringService *service_of(Host &h) {
  unsigned char options[128] = {};
  return h.kernel()->string_service(kMVA, options);
}

struct View {
  ZeqStringService *s;
  std::string bytes;
  ZeqStrView v{};
  View(ZeqStringService *svc, std::string text) : s(svc), bytes(std::move(text)) {
    EXPECT_EQ(s->bind(s, &v, bytes.data(), (int64_t)bytes.size(), 0), 0);
  }
  int32_t read() const { return s->read(s, &v, 0); }
  int64_t move(int64_t n) { return s->move(s, &v, n, 0); }
  int64_t seek(int64_t i) { return s->seek(s, &v, i, 0); }
};

TEST(StringService, FactoryAnswersTheSessionService) {
  Host h(utf8_session());
  ZeqStringService *s = service_of(h);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s, h.string_service());
  EXPECT_EQ(s->encoding_id, ZEQ_ENC_UTF8);
  EXPECT_NE(s->multibyte, 0);
  h.set_utf8(false);  // the same service follows the session at run time
  EXPECT_EQ(service_of(h), s);
  EXPECT_EQ(s->encoding_id, ZEQ_ENC_LATIN1);
  EXPECT_EQ(s->multibyte, 0);
}

TEST(StringService, CountsCharacters) {
  Host h(utf8_session());
  ZeqStringService *s = service_of(h);
  struct Case { std::string text; int64_t count; } cases[] = {
      {"", 0},
      {"abc", 3},
      {"a\xC3\xA9z", 3},                      // e acute: 2 bytes
      {"\xE2\x82\xAC\xF0\x9F\x98\x80", 2},    // euro sign, emoji
      {"\x80\x80", 2},                        // stray continuation bytes: one each
      {"\xC3", 1},                            // cut short by the end
      {"\xC0\xAF", 2},                        // overlong form
      {"\xED\xA0\x80", 3},                    // a surrogate is not a character
      {"\xF4\x90\x80\x80", 4},                // above U+10FFFF
  };
  for (const auto &c : cases)
    EXPECT_EQ(s->count(s, c.text.data(), (int64_t)c.text.size(), 0), c.count) << c.text;
  const TKChar wide[] = {0x1F600, 'a', 0};
  EXPECT_EQ(s->count(s, wide, 2, 1), 2);
  EXPECT_LT(s->count(s, nullptr, 5, 0), 0);
  EXPECT_LT(s->count(s, "abc", -1, 0), 0);
}

TEST(StringService, ReadsAndMovesByCharacters) {
  Host h(utf8_session());
  View v(service_of(h), "a\xC3\xA9\xE2\x82\xAC!");  // a, e acute, euro, !
  const int32_t chars[] = {'a', 0xE9, 0x20AC, '!'};
  const int64_t offsets[] = {0, 1, 3, 6};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(v.v.pos, offsets[i]);
    EXPECT_EQ(v.read(), chars[i]);
    EXPECT_EQ(v.move(1), 0);
  }
  EXPECT_EQ(v.v.pos, 7);
  EXPECT_EQ(v.read(), -1);  // at the end
  EXPECT_EQ(v.move(1), ZEQ_SS_OUT_OF_RANGE);
  EXPECT_EQ(v.v.pos, 7);  // unchanged
  EXPECT_EQ(v.move(-2), 0);
  EXPECT_EQ(v.read(), 0x20AC);
  EXPECT_EQ(v.move(-3), ZEQ_SS_OUT_OF_RANGE);
  EXPECT_EQ(v.v.pos, 3);
  EXPECT_EQ(v.move(-2), 0);
  EXPECT_EQ(v.v.pos, 0);
  EXPECT_EQ(v.move(4), 0);  // exactly to the end is allowed
  EXPECT_EQ(v.move(0), 0);
}

TEST(StringService, SeekAnswersMinus99OutsideTheText) {
  Host h(utf8_session());
  View v(service_of(h), "\xC3\xA9t\xC3\xA9");  // 3 characters, 5 bytes
  struct Case { int64_t index; int64_t status; int64_t pos; } cases[] = {
      {2, 0, 3}, {0, 0, 0}, {3, 0, 5}, {4, ZEQ_SS_OUT_OF_RANGE, -1}, {-1, ZEQ_SS_OUT_OF_RANGE, -1},
      {1, 0, 2},
  };
  for (const auto &c : cases) {
    int64_t before = v.v.pos;
    EXPECT_EQ(v.seek(c.index), c.status) << c.index;
    EXPECT_EQ(v.v.pos, c.status ? before : c.pos) << c.index;
  }
}

TEST(StringService, MovesBackOverIllFormedBytes) {
  Host h(utf8_session());
  View v(service_of(h), "a\x80\xC3\xA9\xE2\x82");  // a, stray byte, e acute, cut euro
  // Forward: a | 80 | C3 A9 | E2 | 82
  const int64_t offsets[] = {0, 1, 2, 4, 5, 6};
  for (int i = 1; i < 6; i++) {
    ASSERT_EQ(v.move(1), 0);
    EXPECT_EQ(v.v.pos, offsets[i]);
  }
  for (int i = 4; i >= 0; i--) {
    ASSERT_EQ(v.move(-1), 0);
    EXPECT_EQ(v.v.pos, offsets[i]);
  }
}

TEST(StringService, WideViews) {
  Host h(utf8_session());
  ZeqStringService *s = service_of(h);
  const TKChar text[] = {'x', 0x20AC, 'y'};
  ZeqStrView v{};
  s->bind(s, &v, text, 3, 1);
  EXPECT_EQ(v.end, text + 3);
  EXPECT_EQ(s->move(s, &v, 1, 1), 0);
  EXPECT_EQ(s->read(s, &v, 1), 0x20AC);
  EXPECT_EQ(s->seek(s, &v, 3, 1), 0);
  EXPECT_EQ(s->read(s, &v, 1), -1);
  EXPECT_EQ(s->move(s, &v, -4, 1), ZEQ_SS_OUT_OF_RANGE);
}

TEST(StringService, ComparePaddedWithBlanks) {
  Host h(utf8_session());
  ZeqStringService *s = service_of(h);
  struct Case {
    std::string a, b;
    int64_t k;
    int32_t flags;
    int64_t want;
  } cases[] = {
      {"abc", "abc", 3, 0, 0},
      {"abc", "abd", 3, 0, -3},
      {"abd", "abc", 3, 0, 3},
      {"ab", "ab  ", 4, 0, 0},            // the shorter one is padded with blanks
      {"ab", "abc", 3, 0, -3},            // blank < c
      {"ab", "ab\x01", 3, 0, 3},          // blank > U+0001
      {"abc", "abd", 2, 0, 0},            // only k characters
      {"abc", "xyz", 0, 0, 0},
      {"ABC", "abd", 3, ZEQ_SS_IGNORE_CASE, -3},
      {"ABC", "abc", 3, ZEQ_SS_IGNORE_CASE, 0},
      {"\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\xA9", 3, ZEQ_SS_IGNORE_CASE, 0},
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xE2\x82\xAC", 3, 0, -3},  // positions count characters
      {"", "", 5, 0, 0},
      {"", "a", 1, 0, -1},
  };
  for (const auto &c : cases) {
    View a(s, c.a), b(s, c.b);
    EXPECT_EQ(s->compare(s, &a.v, &b.v, c.k, c.flags, 0), c.want) << c.a << " / " << c.b;
  }
  // From the current positions, not from the start.
  View a(s, "xxab"), b(s, "ab");
  a.move(2);
  EXPECT_EQ(s->compare(s, &a.v, &b.v, 2, 0, 0), 0);
}

TEST(StringService, ClassCodes) {
  Host h(utf8_session());
  ZeqStringService *s = service_of(h);
  const int32_t codes[] = {ZEQ_SC_CODE_ALPHA, ZEQ_SC_CODE_CONTROL, ZEQ_SC_CODE_DIGIT, ZEQ_SC_CODE_GRAPH,
                           ZEQ_SC_CODE_PUNCT, ZEQ_SC_CODE_SPACE,   ZEQ_SC_CODE_PRINT, ZEQ_SC_CODE_XDIGIT};
  // Expected answers in the order A C D G P S W X, as a C program's
  // isalpha, iscntrl, isdigit, isgraph, ispunct, isspace, isprint, isxdigit
  // would give them for ASCII (except that the symbols $ + < = > ^ ` | ~ are
  // not punctuation here), extended to Unicode.
  struct Case { TKChar c; const char *want; } cases[] = {
      {'A', "1001001" "1"},   {'g', "1001001" "0"},    {'7', "0011001" "1"},  {'!', "0001101" "0"},
      {'$', "0001001" "0"},   {'~', "0001001" "0"},    {' ', "0000011" "0"},  {'\t', "0100010" "0"},
      {0x7F, "0100000" "0"},  {0xA0, "0000011" "0"},   {0xE9, "1001001" "0"}, {0xDF, "1001001" "0"},
      {0x4E2D, "1001001" "0"},  // CJK ideograph: a letter without case
      {0x0663, "0011001" "0"},  // Arabic-Indic digit three
      {0x20AC, "0001001" "0"},  // euro sign: a symbol
      {0x0301, "0001001" "0"},  // combining acute accent: a mark
      {0x00BF, "0001101" "0"},  // inverted question mark
      {0x200B, "0100000" "0"},  // zero width space: a format character
      {0x2028, "0000010" "0"},  // line separator: white space, not printable
      {0xFF21, "1001001" "1"},  // fullwidth A
  };
  for (const auto &c : cases) {
    for (int i = 0; i < 8; i++) {
      bool want = c.want[i] == '1';
      EXPECT_EQ(s->is_class(s, c.c, codes[i]) != 0, want) << std::hex << c.c << " code " << std::dec << codes[i];
    }
  }
  EXPECT_EQ(s->is_class(s, 0x110000, ZEQ_SC_CODE_PRINT), 0);
}

TEST(StringService, CaseMappingAndEncoding) {
  Host h(utf8_session());
  ZeqStringService *s = service_of(h);
  struct Case { TKChar c, upper, lower; } cases[] = {
      {'a', 'A', 'a'}, {0xE9, 0xC9, 0xE9}, {0xFF, 0x178, 0xFF}, {0xDF, 0xDF, 0xDF}, {0x3A3, 0x3A3, 0x3C3},
      {'1', '1', '1'}, {0x110000, 0x110000, 0x110000},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(s->upper(s, c.c), c.upper) << std::hex << c.c;
    EXPECT_EQ(s->lower(s, c.c), c.lower) << std::hex << c.c;
  }
  struct Enc { TKChar c; std::string bytes; } encs[] = {
      {'a', "a"}, {0xE9, "\xC3\xA9"}, {0x20AC, "\xE2\x82\xAC"}, {0x1F600, "\xF0\x9F\x98\x80"},
      {0xD800, "\xEF\xBF\xBD"}, {0x110000, "\xEF\xBF\xBD"},
  };
  for (const auto &e : encs) {
    char out[4] = {};
    int32_t n = s->encode(s, e.c, out, 0);
    EXPECT_EQ(std::string(out, (size_t)n), e.bytes) << std::hex << e.c;
  }
  TKChar unit = 0;
  EXPECT_EQ(s->encode(s, 0x1F600, &unit, 1), 1);
  EXPECT_EQ(unit, 0x1F600u);

  h.set_utf8(false);  // Latin-1: one byte, case stays within Latin-1
  char out[4] = {};
  EXPECT_EQ(s->encode(s, 0xE9, out, 0), 1);
  EXPECT_EQ((unsigned char)out[0], 0xE9);
  EXPECT_EQ(s->encode(s, 0x20AC, out, 0), 1);
  EXPECT_EQ((unsigned char)out[0], 0x1A);
  EXPECT_EQ(s->upper(s, 0xFF), 0xFFu);
  View v(s, "a\xE9z");
  EXPECT_EQ(s->count(s, v.bytes.data(), 3, 0), 3);
  v.move(1);
  EXPECT_EQ(v.read(), 0xE9);
}

TEST(StringService, NullAndEmptyViewsAreSafe) {
  Host h(utf8_session());
  ZeqStringService *s = service_of(h);
  ZeqStrView v{};
  EXPECT_EQ(s->bind(s, &v, nullptr, 10, 0), 0);
  EXPECT_EQ(v.length, 0);
  EXPECT_EQ(s->read(s, &v, 0), -1);
  EXPECT_EQ(s->move(s, &v, 1, 0), ZEQ_SS_OUT_OF_RANGE);
  EXPECT_EQ(s->seek(s, &v, 0, 0), 0);
  EXPECT_NE(s->bind(s, nullptr, "a", 1, 0), 0);
  ZeqStrView bad{};
  bad.length = -5;
  EXPECT_EQ(s->read(s, &bad, 0), -1);
  EXPECT_EQ(s->compare(s, &bad, &v, 3, 0, 0), 0);
}

// The multibyte name tests of vector 4 work on characters of the session.
TEST(StringService, NameTestServices) {
  Host h(utf8_session());
  auto wzsx8ac = reinterpret_cast<int (*)(const char *, long long, int, long long)>(
      h.control_block()->vectors[4][104]);
  auto wzsxoff = reinterpret_cast<int (*)(const char *, long long, long long, long long)>(
      h.control_block()->vectors[4][35]);
  const std::string text = "\xC3\xA9-1b_";  // e acute, -, 1, b, _
  const long long n = (long long)text.size();
  struct Case { int code; long long start; int want; } cases[] = {
      {269, 1, 3},   // ANYNAME: the digit 1 is the first name character
      {268, 1, 4},   // ANYFIRST: b
      {13, 3, 0},    // NOTNAME from 3: 1 b _ are all name characters
      {12, 3, 3},    // NOTFIRST from 3: the digit
      {269, -2, 0},  // backwards from 2: -, e acute
      {269 + 512, -9, 5},
      {13, 0, 0},
      {13, 6, 0},
  };
  for (const auto &c : cases)
    EXPECT_EQ(wzsx8ac(text.data(), n, c.code, c.start), c.want) << c.code << " " << c.start;
  EXPECT_EQ(wzsxoff(text.data(), n, 0, 1), 2);
  EXPECT_EQ(wzsxoff(text.data(), n, 2, 3), 5);
  EXPECT_EQ(wzsxoff(text.data(), n, 5, 1), 6);  // exactly to the end
  EXPECT_EQ(wzsxoff(text.data(), n, 5, 2), -1);
  EXPECT_EQ(wzsxoff(text.data(), n, 2, -1), 0);
  EXPECT_EQ(wzsxoff(text.data(), n, 0, -1), -1);
}

}  // namespace
