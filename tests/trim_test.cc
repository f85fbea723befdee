// tests/trim_test.cc - trailing blanks, justification, padded copies, set and
// substring scans, dequoting, name literals, TKChar deletion and the clocks.
// Texts are written with '.' for a blank where it helps to see them.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host/host.h"
#include "strkernel/strkernel.h"
#include "tests/support/host_fixture.h"

namespace {

std::string blanks(std::string s) {
  for (char &c : s)
    if (c == '.') c = ' ';
  return s;
}

using zeqtest::host;

TEST(Strip, DropsTrailingBlanks) {
  const struct {
    std::string text;
    int32_t length;
    int32_t want;
  } cases[] = {
      {"ab..", 4, 2},     {"....", 4, 0},  {"", 0, 0},        {"a.b", 3, 3},    {".a", 2, 2},
      {"ab", -3, -3},     {"x" + std::string(40, '.'), 41, 1},
      {"abcdefgh" + std::string(16, '.'), 24, 8},            {"ab..cd", 4, 2},
  };
  for (const auto &c : cases) {
    std::string t = blanks(c.text);
    EXPECT_EQ(wzstrip(t.data(), c.length), c.want) << c.text;
    EXPECT_EQ(zstripf(t.data(), c.length), c.want) << c.text;
    EXPECT_EQ(zstripl(t.data(), c.length), c.want) << c.text;
  }
  EXPECT_EQ(wzstrip(nullptr, 5), 0);
  const TKChar t[] = {'a', 0x20, 0x3000, 0x20, 0x20};
  EXPECT_EQ(tkzstrp(t, 5), 3);
  EXPECT_EQ(tkzstrp(t, 2), 1);
  EXPECT_EQ(tkzstrp(t, 0), 0);
}

TEST(Strip, AgreesWithAPlainLoop) {
  std::mt19937 rng(3);
  for (int round = 0; round < 2000; round++) {
    std::string s(rng() % 70, ' ');
    for (char &c : s) c = (rng() % 5) ? ' ' : 'x';
    int32_t want = (int32_t)s.size();
    while (want > 0 && s[want - 1] == ' ') want--;
    ASSERT_EQ(wzstrip(s.data(), (int32_t)s.size()), want) << s;
  }
}

TEST(StrLen, SignedLengthOfAZeroTerminatedText) {
  EXPECT_EQ(wzstlen("abc"), 3);
  EXPECT_EQ(wzstlen(""), 0);
  EXPECT_EQ(wzstlen(nullptr), 0);
}

TEST(Justify, MovesTheTrimmedTextInPlace) {
  const struct {
    std::string text;
    char mode;
    std::string want;
    int32_t start, length;
  } cases[] = {
      {"..ab..", 'L', "ab....", 0, 2}, {"..ab..", 'R', "....ab", 4, 2}, {"..ab..", 'C', "..ab..", 2, 2},
      {"ab....", 'C', "..ab..", 2, 2}, {"....ab", 'C', "..ab..", 2, 2}, {"..ab..", 'l', "ab....", 0, 2},
      {"..ab..", 'r', "....ab", 4, 2}, {"..ab..", 'X', "..ab..", 2, 2}, {"ab.c", 'R', "ab.c", 0, 4},
      {"a.....", 'C', "..a...", 2, 1}, {"abcde.", 'C', "abcde.", 0, 5}, {".a.b.c..", 'R', "...a.b.c", 3, 5},
  };
  for (const auto &c : cases) {
    std::string t = blanks(c.text);
    int32_t length = -1, start = -1;
    wzstjls(t.data(), (int32_t)t.size(), c.mode, &length, &start);
    EXPECT_EQ(t, blanks(c.want)) << c.text << " " << c.mode;
    EXPECT_EQ(start, c.start) << c.text << " " << c.mode;
    EXPECT_EQ(length, c.length) << c.text << " " << c.mode;
  }
}

TEST(Justify, BlankOrEmptyTextGivesZeros) {
  for (std::string t : {std::string("    "), std::string()}) {
    std::string before = t;
    int32_t length = -1, start = -1;
    wzstjls(t.data(), (int32_t)t.size(), 'R', &length, &start);
    EXPECT_EQ(t, before);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(start, 0);
  }
  int32_t length = -1, start = -1;
  wzstjls(nullptr, 5, 'L', &length, &start);
  EXPECT_EQ(length, 0);
  wzstjls(nullptr, 5, 'L', nullptr, nullptr);
}

TEST(PaddedCopy, CopiesAndPadsWithBlanks) {
  const struct {
    std::string src;
    int32_t src_length, dst_length;
    std::string want;
  } cases[] = {
      {"abc", 3, 5, "abc.."}, {"abc", 3, 2, "ab"}, {"abc", 0, 4, "...."},
      {"abc", -2, 3, "..."},  {"abc", 3, 0, ""},   {"abc", 3, -1, ""},
  };
  for (const auto &c : cases) {
    std::string dst(8, '#');
    vzmp(c.src.data(), c.src_length, dst.data(), c.dst_length);
    size_t written = c.dst_length > 0 ? (size_t)c.dst_length : 0;
    EXPECT_EQ(dst.substr(0, written), blanks(c.want)) << c.src << "/" << c.dst_length;
    EXPECT_EQ(dst.substr(written), std::string(8 - written, '#'));
  }
  std::string overlap = "abcdef";
  vzmp(overlap.data() + 1, 4, overlap.data(), 6);
  EXPECT_EQ(overlap, "bcde  ");
}

TEST(SetScan, FirstByteInTheTable) {
  uint8_t table[256] = {};
  table[(uint8_t)','] = 1;
  table[0xE9] = 1;
  const std::string t = "ab\xE9,c";
  EXPECT_EQ(vzstl((const uint8_t *)t.data(), (int64_t)t.size(), table), 2);
  EXPECT_EQ(vzstl((const uint8_t *)"abc", 3, table), -1);
  EXPECT_EQ(vzstl((const uint8_t *)",", 0, table), -1);
  EXPECT_EQ(vzstl((const uint8_t *)",", -1, table), -1);
}

int32_t ref_index(const std::string &s, const std::string &x) {
  if (x.empty()) return 0;
  size_t p = s.find(x);
  return p == std::string::npos ? -1 : (int32_t)p;
}

TEST(Index, FirstOccurrence) {
  const struct {
    std::string src, excerpt;
    int32_t want;
  } cases[] = {
      {"abcabc", "ca", 2}, {"abc", "", 0}, {"", "", 0},   {"", "a", -1}, {"ab", "abc", -1},
      {"ab  ", "b ", 1},   {"aab", "ab", 1}, {"abc", "c", 2}, {"a b", " ", 1},
  };
  for (const auto &c : cases)
    EXPECT_EQ(wzstndx(c.src.data(), (int32_t)c.src.size(), c.excerpt.data(), (int32_t)c.excerpt.size()),
              c.want)
        << c.src << "/" << c.excerpt;
  EXPECT_EQ(wzstndx("xxabc", 5, "ab", -1), 2);  // zero-terminated excerpt
  EXPECT_EQ(wzstndx("xxabc", 5, nullptr, -1), 0);
  std::mt19937 rng(11);
  for (int round = 0; round < 3000; round++) {
    std::string s(rng() % 30, 'a'), x(rng() % 4, 'a');
    for (char &c : s) c = "ab "[rng() % 3];
    for (char &c : x) c = "ab "[rng() % 3];
    ASSERT_EQ(wzstndx(s.data(), (int32_t)s.size(), x.data(), (int32_t)x.size()), ref_index(s, x))
        << s << "/" << x;
  }
}

TEST(Dequote, RemovesOneLevelOfQuotes) {
  const struct {
    std::string text;
    int32_t room;
    std::string want;
  } cases[] = {
      {"'it''s'", 20, "it's"},  {"'ab'cd'", 20, "abcd"}, {"abc", 20, "abc"},   {"'abc'", 4, ""},
      {"\"a\"\"b\"", 20, "a\"b"}, {"'abc\"", 20, "'abc\""}, {"abcdef", 3, "abc"}, {"''", 2, ""},
      {"'a'b'c'", 20, "abc"},  {"'", 1, ""},             {"", 5, ""},
  };
  for (const auto &c : cases) {
    std::string out(24, '#');
    int32_t n = zdequote(c.text.data(), (int32_t)c.text.size(), out.data(), c.room);
    EXPECT_EQ(n, (int32_t)c.want.size()) << c.text;
    EXPECT_EQ(out.substr(0, (size_t)n), c.want) << c.text;
    EXPECT_EQ(out[(size_t)n], '#') << c.text;
  }
  EXPECT_EQ(zdequote(nullptr, 3, nullptr, 3), 0);
}

struct LiteralCase {
  std::string text;
  int32_t want;
  std::string content;
};

void expect_literals(const std::vector<LiteralCase> &cases) {
  for (const auto &c : cases) {
    char out[40];
    std::memset(out, '#', sizeof out);
    std::string t = blanks(c.text);
    EXPECT_EQ(zstripn(t.data(), (int32_t)t.size(), out), c.want) << c.text;
    if (c.want >= 0) {
      EXPECT_EQ(std::string(out, (size_t)c.want), blanks(c.content)) << c.text;
    }
    EXPECT_EQ(out[32], '#') << c.text;  // the 32-byte buffer is never overrun
  }
}

TEST(NameLiteral, ContentOrMinusOne) {
  std::string c32(32, 'x'), c33(33, 'x');
  std::string c32_doubled = "''" + std::string(31, 'y');  // 32 bytes of content
  expect_literals({
      {"'my.var'n", 6, "my.var"},
      {"\"a\"\"b\"N", 3, "a\"b"},
      {"'a''b'n", 3, "a'b"},
      {"\"a'b\"n", 3, "a'b"},
      {"'abc'", -1, ""},
      {"'abc'nx", -1, ""},
      {"'abc'n...", 3, "abc"},
      {"'a'.n", -1, ""},
      {"'a'x", -1, ""},
      {"''n", 0, ""},
      {"'n", -1, ""},
      {"abc'n", -1, ""},
      {"'abc\"n", -1, ""},
      {"'abc''", -1, ""},
      {"'" + c32 + "'n", 32, c32},
      {"'" + c33 + "'n", -1, ""},
      {"'" + c32_doubled + "'n", 32, "'" + std::string(31, 'y')},
  });
  EXPECT_EQ(zstripn(nullptr, 5, nullptr), -1);
}

// The letter after the closing quote is read through the host's upper-case
// table, so a host whose table maps 'x' to 'N' accepts 'abc'x.
TEST(NameLiteral, LetterGoesThroughTheHostTable) {
  ASSERT_TRUE(host().loaded()) << host().load_error();
  ZeqControlBlock *cb = host().control_block();
  uint8_t table[256];
  for (int i = 0; i < 256; i++) table[i] = cb->upcase ? cb->upcase[i] : (uint8_t)i;
  table[(uint8_t)'x'] = 'N';
  table[(uint8_t)'n'] = 'n';
  const uint8_t *saved = cb->upcase;
  cb->upcase = table;
  expect_literals({{"'abc'x", 3, "abc"}, {"'abc'n", -1, ""}, {"'abc'N", 3, "abc"}});
  cb->upcase = saved;
}

TEST(DeleteUnits, RemovesEveryUnitOfTheSet) {
  auto T = [](const std::u32string &s) { return std::vector<TKChar>(s.begin(), s.end()); };
  {
    auto text = T(U"abcabc");
    const TKChar set[] = {'b'};
    EXPECT_EQ(tkzsdel(text.data(), 6, set, 1), 4);
    EXPECT_EQ(text, T(U"acac  "));
  }
  {
    auto text = T(U"a\u3042b\u3042c");
    text.push_back(0);
    text.push_back('#');
    const TKChar set[] = {0x3042, 'c', 0};
    EXPECT_EQ(tkzsdel(text.data(), -1, set, -1), 2);
    EXPECT_EQ(text[0], 'a');
    EXPECT_EQ(text[1], 'b');
    EXPECT_EQ(text[2], 0u);
  }
  {
    auto text = T(U"abc");
    const TKChar set[] = {'a'};
    EXPECT_EQ(tkzsdel(text.data(), 3, set, 0), 3);
    EXPECT_EQ(text, T(U"abc"));
    EXPECT_EQ(tkzsdel(text.data(), 0, set, 1), 0);
    EXPECT_EQ(tkzsdel(text.data(), 3, nullptr, 1), 3);
  }
  {
    auto text = T(U"aaaa");
    const TKChar set[] = {'a'};
    EXPECT_EQ(tkzsdel(text.data(), 4, set, 1), 0);
    EXPECT_EQ(text, T(U"    "));
  }
}

// ---------------------------------------------------------------------------
// Clocks.
// ---------------------------------------------------------------------------

double wall() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return tv.tv_sec + tv.tv_usec / 1e6;
}

TEST(Clock, TimeOfDayIsLocal) {
  int32_t h = -1, m = -1;
  double s = -1;
  time_t now = time(nullptr);
  EXPECT_EQ(tkztime(&h, &m, &s), 0);
  struct tm lt;
  localtime_r(&now, &lt);
  EXPECT_GE(h, 0);
  EXPECT_LT(h, 24);
  EXPECT_GE(m, 0);
  EXPECT_LT(m, 60);
  EXPECT_GE(s, 0.0);
  EXPECT_LT(s, 61.0);
  int got = h * 3600 + m * 60 + (int)s, want = lt.tm_hour * 3600 + lt.tm_min * 60 + lt.tm_sec;
  int diff = std::abs(got - want);
  EXPECT_TRUE(diff <= 2 || diff >= 86398) << got << " vs " << want;
  EXPECT_EQ(tkztime(nullptr, nullptr, nullptr), 0);
}

TEST(Clock, SecondsAndMicroseconds) {
  double before = wall();
  double t = bkztod();
  double after = wall();
  EXPECT_GE(t, before - 1e-6);
  EXPECT_LE(t, after + 1e-6);
  int64_t masked = tkzTimeUsec(0);
  EXPECT_GE(masked, 0);
  EXPECT_LT(masked, 1000000);
  int64_t full = tkzTimeUsec(-1);
  EXPECT_NEAR(full / 1e6, wall(), 2.0);
  int64_t low = tkzTimeUsec(0xFF);
  EXPECT_LT(low, 256 * 1000000LL);
}

// The first reading (remembered 0) is a jump: the kernel's clock-change entry
// is told once; readings within the next seconds are not.
TEST(Clock, ClockJumpsAreReportedToTheKernel) {
  ASSERT_TRUE(host().loaded()) << host().load_error();
  int before = host().clock_changes();
  bkztod();
  bkztod();
  bkztod();
  int told = host().clock_changes() - before;
  EXPECT_LE(told, 1);
  if (before == 0) {
    EXPECT_EQ(told, 1);
  }
}

}  // namespace
