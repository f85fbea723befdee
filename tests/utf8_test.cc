// UTF-8 string operations.  Texts are placed against an inaccessible page
// so that a read or write one byte past their end faults, and malformed input
// (cut characters, stray continuation bytes, 5- and 6-byte leads) is walked
// through every routine.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "strkernel/strkernel.h"

namespace {

// Bytes that end exactly where an inaccessible page begins.
class Guarded {
 public:
  explicit Guarded(const std::string &bytes) {
    page_ = (size_t)sysconf(_SC_PAGESIZE);
    span_ = ((bytes.size() + page_ - 1) / page_ + 1) * page_;
    base_ = static_cast<char *>(mmap(nullptr, span_ + page_, PROT_READ | PROT_WRITE,
                                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(base_ + span_, page_, PROT_NONE);
    data_ = base_ + span_ - bytes.size();
    std::memcpy(data_, bytes.data(), bytes.size());
    size_ = bytes.size();
  }
  ~Guarded() { munmap(base_, span_ + page_); }
  char *data() { return data_; }
  int64_t size() const { return (int64_t)size_; }
  std::string str() const { return std::string(data_, size_); }

 private:
  size_t page_, span_, size_;
  char *base_, *data_;
};

// ---------------------------------------------------------------------------
// Byte tables, checked for every byte against the bit patterns of UTF-8.
// ---------------------------------------------------------------------------

int leading_ones(unsigned b) {
  int n = 0;
  while (n < 8 && (b & (0x80u >> n))) n++;
  return n;
}

TEST(Utf8Tables, EveryByte) {
  for (unsigned b = 0; b < 256; b++) {
    const int ones = leading_ones(b);
    const int want_len = ones == 0 ? 1 : ones == 1 ? 1 : ones >= 7 ? 6 : ones;
    EXPECT_EQ(_utf8_len[b], want_len) << std::hex << b;
    const bool continuation = ones == 1;
    EXPECT_EQ(valid_2nd_utf8[b], continuation ? 1 : 0) << std::hex << b;
    // A lead of a shortest-form character of at most four bytes whose value
    // can lie within U+0000..U+10FFFF.
    const bool lead = ones == 0 || (ones == 2 && b >= 0xC2) || ones == 3 || (ones == 4 && b <= 0xF4);
    EXPECT_EQ(valid_1st_utf8[b], lead ? 1 : 0) << std::hex << b;
  }
}

// ---------------------------------------------------------------------------
// tkzsu8RemoveDelimiters
// ---------------------------------------------------------------------------

TEST(Utf8RemoveDelimiters, Cases) {
  struct {
    const char *name;
    std::string in;
    int64_t want_length;
    std::string want;  // the whole buffer afterwards
  } cases[] = {
      {"doubled quote written once", "'it''s'", 4, "it's   "},
      {"quote only", "'", 0, "'"},
      {"empty pair", "''", 0, "  "},
      {"lone inner quote copied", "'a'b'", 3, "a'b  "},
      {"doubled quote before the close", "'ab'''", 3, "ab'   "},
      {"double quotes", "\"x\"\"y\"", 3, "x\"y   "},
      {"first byte is taken as the quote", "abca", 2, "bc  "},
      {"one-byte quote, multi-byte close", "'ab\xC2\xAB", 2, "ab   "},
      {"multi-byte quote", "\xC2\xAB" "ab\xC2\xAB\xC2\xAB" "c\xC2\xAB", 5,
       "ab\xC2\xAB" "c      "},
      {"multi-byte quote, no content", "\xC2\xAB\xC2\xAB", 0, "    "},
      {"multi-byte quote no longer than the text", "\xE2\x80\x9C", 0, "\xE2\x80\x9C"},
      {"multi-byte quote, one-byte close", "\xC2\xAB" "ab'", 2, "ab   "},
      {"multi-byte quote, close capped at its lead's length",
       "\xC2\xAB" "a\xC3\xA9\xA9", 2, "a\xC3    "},
      {"close made of continuation bytes only", "\xC2\xAB\x80\x80", 1, "\x80   "},
  };
  for (auto &c : cases) {
    Guarded g(c.in);
    EXPECT_EQ(tkzsu8RemoveDelimiters(g.data(), g.size()), c.want_length) << c.name;
    EXPECT_EQ(g.str(), c.want) << c.name;
  }
  char x[] = "'";
  EXPECT_EQ(tkzsu8RemoveDelimiters(nullptr, 5), 0);
  EXPECT_EQ(tkzsu8RemoveDelimiters(x, 0), 0);
  EXPECT_EQ(tkzsu8RemoveDelimiters(x, -4), 0);
}

// ---------------------------------------------------------------------------
// tkzsu8NotEqual
// ---------------------------------------------------------------------------

TEST(Utf8NotEqual, Cases) {
  struct {
    std::string text, ch;
    int64_t want;
  } cases[] = {
      {"aaab", "a", 3},
      {"aaa", "a", -1},
      {"baa", "a", 0},
      {"\xC3\xA9\xC3\xA9x", "\xC3\xA9", 4},
      {"\xC3\xA9\xC3\xA9", "\xC3\xA9", -1},
      {"\xC3\xA9\xC3\xA8", "\xC3\xA9", 2},     // lead equal, continuation differs
      {"\xC3\xA9\xC3", "\xC3\xA9", 2},         // cut short by the end: differs
      {"\xE2\x82\xAC\xE2\x82", "\xE2\x82\xAC", 3},
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", -1},
      {"\xFC\x80\x80\x80\x80\x80\xFC", "\xFC\x80\x80\x80\x80\x80", 6},  // 6-byte lead
  };
  for (auto &c : cases) {
    Guarded g(c.text);
    EXPECT_EQ(tkzsu8NotEqual(g.data(), g.size(), c.ch.data()), c.want) << c.text;
  }
  EXPECT_EQ(tkzsu8NotEqual(nullptr, 3, "a"), 0);
  EXPECT_EQ(tkzsu8NotEqual("aaa", 0, "a"), 0);
}

// ---------------------------------------------------------------------------
// tkzsu8Delete
// ---------------------------------------------------------------------------

TEST(Utf8Delete, Cases) {
  struct {
    const char *name;
    std::string text, set;
    int64_t want_length;
    std::string want;
  } cases[] = {
      {"two-byte character", "\xC3\xA9-b", "\xC3\xA9", 2, "-b  "},
      {"ASCII set is byte-wise", "a-b-c", "-", 3, "abc  "},
      {"ASCII set with several bytes", "hello world", "lo ", 5, "hewrd      "},
      {"ASCII set leaves multi-byte text alone", "\xC3\xA9x", "x", 2, "\xC3\xA9 "},
      {"mixed set", "a\xC3\xA9" "b\xE2\x82\xAC" "c", "\xE2\x82\xAC" "a", 4,
       "\xC3\xA9" "bc    "},
      {"unmatched lead kept, walk moves one byte", "\xC3\xA8\xC3\xA9", "\xC3\xA9", 2,
       "\xC3\xA8  "},
      {"cut character at the end of the text", "x\xC3", "\xC3\xA9", 2, "x\xC3"},
      {"cut character at the end of the set", "x\xC3\xC3\xA9", "\xC3\xA9\xC3", 1, "x   "},
      {"nothing left", "\xC3\xA9\xC3\xA9", "\xC3\xA9", 0, "    "},
      {"empty set", "abc", "", 3, "abc"},
  };
  for (auto &c : cases) {
    Guarded g(c.text), s(c.set);
    EXPECT_EQ(tkzsu8Delete(g.data(), g.size(), s.data(), s.size()), c.want_length) << c.name;
    EXPECT_EQ(g.str(), c.want) << c.name;
  }
  char t[] = "abc";
  EXPECT_EQ(tkzsu8Delete(t, 0, "a", 1), 0);
  EXPECT_EQ(tkzsu8Delete(nullptr, 3, "a", 1), 0);
  EXPECT_EQ(tkzsu8Delete(t, 3, nullptr, 2), 3);
  EXPECT_EQ(tkzsu8Delete(t, 3, "a", -1), 3);
  EXPECT_STREQ(t, "abc");
}

// ---------------------------------------------------------------------------
// tkzsu8AddQuotes
// ---------------------------------------------------------------------------

struct Quoted {
  int32_t status;
  int64_t written;
  std::string out;
};

Quoted add_quotes(const std::string &src, int64_t room, const char *quote) {
  Guarded s(src);
  Guarded o(std::string((size_t)(room > 0 ? room : 0), '#'));
  Quoted q;
  q.written = -99;
  q.status = tkzsu8AddQuotes(s.data(), s.size(), o.data(), room, quote, &q.written);
  q.out = o.str();
  return q;
}

TEST(Utf8AddQuotes, FitsExactly) {
  Quoted q = add_quotes("it's", 7, "'");
  EXPECT_EQ(q.status, 0);
  EXPECT_EQ(q.written, 7);
  EXPECT_EQ(q.out, "'it''s'");
  q = add_quotes("", 2, "\"");
  EXPECT_EQ(q.status, 0);
  EXPECT_EQ(q.out, "\"\"");
  q = add_quotes("a\xC2\xAB" "b", 10, "\xC2\xAB");
  EXPECT_EQ(q.status, 0);
  EXPECT_EQ(q.written, 10);
  EXPECT_EQ(q.out, "\xC2\xAB" "a\xC2\xAB\xC2\xAB" "b\xC2\xAB");
}

TEST(Utf8AddQuotes, StopsBeforeThePieceThatDoesNotFit) {
  // Every room from 0 to one short of the full length: the output is a prefix
  // of the full result made of whole pieces, and the status reports no room.
  const std::string full = "'it''s'";
  const std::vector<int64_t> cut = {0, 1, 2, 3, 3, 5, 6};  // bytes written per room
  for (int64_t room = 0; room < 7; room++) {
    Quoted q = add_quotes("it's", room, "'");
    EXPECT_EQ(q.status, ZEQ_RC_UTF8_NOROOM) << room;
    EXPECT_EQ(q.written, cut[(size_t)room]) << room;
    EXPECT_EQ(q.out.substr(0, (size_t)q.written), full.substr(0, (size_t)q.written)) << room;
    EXPECT_EQ(q.out.substr((size_t)q.written), std::string((size_t)(room - q.written), '#')) << room;
  }
  // A multi-byte source character is never split.
  Quoted q = add_quotes("\xE2\x82\xAC", 3, "'");
  EXPECT_EQ(q.status, ZEQ_RC_UTF8_NOROOM);
  EXPECT_EQ(q.written, 1);
  // A lead promising more bytes than the source holds is copied as it stands.
  q = add_quotes("a\xE2", 4, "'");
  EXPECT_EQ(q.status, 0);
  EXPECT_EQ(q.out, "'a\xE2'");
}

TEST(Utf8AddQuotes, BadArguments) {
  int64_t w = -1;
  char out[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(tkzsu8AddQuotes("a", 1, out, 0, "'", &w), ZEQ_RC_UTF8_NOROOM);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(tkzsu8AddQuotes("a", 1, out, -3, "'", &w), ZEQ_RC_UTF8_NOROOM);
  EXPECT_EQ(tkzsu8AddQuotes("a", 1, nullptr, 4, "'", &w), ZEQ_RC_UTF8_NOROOM);
  EXPECT_EQ(tkzsu8AddQuotes("a", 1, out, 4, nullptr, &w), ZEQ_RC_UTF8_NOROOM);
  EXPECT_EQ(std::string(out, 4), "####");
  EXPECT_EQ(tkzsu8AddQuotes(nullptr, 5, out, 4, "'", nullptr), 0);  // null source is empty
  EXPECT_EQ(std::string(out, 2), "''");
}

// ---------------------------------------------------------------------------
// tkzsu8Reverse
// ---------------------------------------------------------------------------

// Character-wise reverse of valid UTF-8, by decoding.
std::string reverse_chars(const std::string &s) {
  std::vector<std::string> chars;
  for (size_t i = 0; i < s.size();) {
    size_t k = 1;
    while (i + k < s.size() && ((unsigned char)s[i + k] & 0xC0) == 0x80) k++;
    chars.push_back(s.substr(i, k));
    i += k;
  }
  std::string out;
  for (auto it = chars.rbegin(); it != chars.rend(); ++it) out += *it;
  return out;
}

TEST(Utf8Reverse, Cases) {
  struct {
    std::string in, want;
  } cases[] = {
      {"a\xC3\xA9", "\xC3\xA9" "a"},
      {"abc", "cba"},
      {"x", "x"},
      {"\xF0\x9F\x98\x80\xE2\x82\xAC" "a\xC3\xA9", "\xC3\xA9" "a\xE2\x82\xAC\xF0\x9F\x98\x80"},
      // malformed: stray continuation bytes stay single, a cut character is
      // regrouped with at most its lead's count of bytes
      {"\x80" "a", "a\x80"},
      {"\xC3\xA9\xA9", "\xA9\xC3\xA9"},
      {"\xC3", "\xC3"},
      {"b\xE2\x82", "\xE2\x82" "b"},
  };
  for (auto &c : cases) {
    Guarded g(c.in);
    tkzsu8Reverse(g.data(), g.size());
    EXPECT_EQ(g.str(), c.want) << c.in;
  }
  tkzsu8Reverse(nullptr, 10);
  char one[] = "q";
  tkzsu8Reverse(one, 1);
  tkzsu8Reverse(one, -1);
  EXPECT_STREQ(one, "q");
}

TEST(Utf8Reverse, RandomValidTextReversesByCharacter) {
  std::mt19937 rng(7);
  const char *pieces[] = {"a", "Z", " ", "\xC3\xA9", "\xD0\x96", "\xE2\x82\xAC", "\xE4\xB8\xAD",
                          "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"};
  for (int round = 0; round < 500; round++) {
    std::string s;
    const int n = (int)(rng() % 40);
    for (int i = 0; i < n; i++) s += pieces[rng() % 9];
    Guarded g(s);
    tkzsu8Reverse(g.data(), g.size());
    ASSERT_EQ(g.str(), reverse_chars(s)) << round;
    tkzsu8Reverse(g.data(), g.size());
    ASSERT_EQ(g.str(), s) << round;
  }
}

// Every routine on random bytes: no fault past the end (the guard page) and
// the documented invariants hold.
TEST(Utf8Malformed, RandomBytesStayInBounds) {
  std::mt19937 rng(11);
  for (int round = 0; round < 3000; round++) {
    std::string s((size_t)(rng() % 12), '\0');
    for (auto &ch : s) ch = (char)(rng() % 4 == 0 ? 0x80 + rng() % 0x80 : rng() % 256);
    {
      Guarded g(s);
      const int64_t n = tkzsu8RemoveDelimiters(g.data(), g.size());
      ASSERT_GE(n, 0);
      ASSERT_LE(n, (int64_t)s.size());
      if (n > 0) {
        ASSERT_EQ(g.str().substr((size_t)n), std::string(s.size() - (size_t)n, ' '));
      }
    }
    // A character argument holds all the bytes its lead promises.
    std::string ch = s.empty() ? std::string("'") : s.substr(0, 1);
    ch.resize(_utf8_len[(uint8_t)ch[0]], '\x80');
    {
      Guarded g(s), c(ch);
      const int64_t at = tkzsu8NotEqual(g.data(), g.size(), c.data());
      ASSERT_GE(at, -1);
      ASSERT_LT(at, (int64_t)s.size() + (s.empty() ? 1 : 0));
    }
    {
      Guarded g(s), set(s.substr(0, rng() % (s.size() + 1)));
      const int64_t n = tkzsu8Delete(g.data(), g.size(), set.data(), set.size());
      ASSERT_GE(n, 0);
      ASSERT_LE(n, (int64_t)s.size());
    }
    {
      Guarded g(s);
      tkzsu8Reverse(g.data(), g.size());
      std::string a = g.str(), b = s;
      std::sort(a.begin(), a.end());
      std::sort(b.begin(), b.end());
      ASSERT_EQ(a, b);  // the same bytes, reordered
    }
    {
      const int64_t room = (int64_t)(rng() % 20);
      Guarded src(s), out(std::string((size_t)room, '#')), quote(ch);
      int64_t w = -1;
      tkzsu8AddQuotes(src.data(), src.size(), out.data(), room, quote.data(), &w);
      ASSERT_GE(w, 0);
      ASSERT_LE(w, room);
    }
  }
}

}  // namespace
