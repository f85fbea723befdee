// strkernel/utf8.cc - byte strings treated as UTF-8 text: removing the
// enclosing quotes, finding the first character that differs from a given
// one, deleting the characters of a set, adding quotes, and reversing.
//
// A character's byte count comes from its lead byte alone (_utf8_len).  The
// routines do not reject malformed input; they work through it byte-wise.
// A lead byte that promises more bytes than remain never makes a routine read
// past the end of its text: such a character is taken as the bytes that are
// left, and it never matches a complete character.

#include <cstdint>
#include <cstring>

#include "core/frame.h"
#include "strkernel/strkernel.h"

extern "C" {

// Byte count of a character by its lead byte: 00-BF 1 (ASCII, and stray
// continuation bytes are walked one at a time), C0-DF 2, E0-EF 3, F0-F7 4,
// F8-FB 5, FC-FF 6 (the original, pre-2003 UTF-8 ranges).
__attribute__((visibility("default"))) extern const uint8_t _utf8_len[256] = {
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 00..0F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 10..1F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 20..2F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 30..3F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 40..4F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 50..5F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 60..6F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 70..7F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 80..8F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 90..9F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // A0..AF
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // B0..BF
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // C0..CF
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // D0..DF
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,  // E0..EF
    4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6,  // F0..FF
};

// 1 for a byte that may start a well-formed character: ASCII and C2-F4 (C0
// and C1 only start overlong forms, F5-FF code points above U+10FFFF).
__attribute__((visibility("default"))) extern const uint8_t valid_1st_utf8[256] = {
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 00..0F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 10..1F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 20..2F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 30..3F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 40..4F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 50..5F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 60..6F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 70..7F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 80..8F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 90..9F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // A0..AF
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // B0..BF
    0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // C0..CF
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // D0..DF
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // E0..EF
    1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // F0..FF
};

// 1 for a continuation byte, 80-BF.
__attribute__((visibility("default"))) extern const uint8_t valid_2nd_utf8[256] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 00..0F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 10..1F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 20..2F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 30..3F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 40..4F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 50..5F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 60..6F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 70..7F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 80..8F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 90..9F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // A0..AF
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // B0..BF
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // C0..CF
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // D0..DF
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // E0..EF
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // F0..FF
};

}  // extern "C"

namespace {

constexpr char kBlank = ' ';

inline uint8_t byte_at(const char *p, int64_t i) { return (uint8_t)p[i]; }

// Bytes of the character that starts at p[i], cut to the n - i bytes left.
inline int64_t char_bytes(const char *p, int64_t i, int64_t n) {
  const int64_t k = _utf8_len[byte_at(p, i)];
  return k <= n - i ? k : n - i;
}

inline void reverse_range(char *p, int64_t lo, int64_t hi) {  // bytes lo..hi inclusive
  while (lo < hi) {
    const char t = p[lo];
    p[lo++] = p[hi];
    p[hi--] = t;
  }
}

}  // namespace

// Removes the enclosing quote characters of text (n bytes) in place and
// returns the new length; the bytes freed at the end become blanks.  The
// opening quote q is the first character, of k bytes; nothing changes and 0
// is returned when the text is no longer than it.  The closing delimiter is
// the last character: the last byte alone when it may start a character,
// else the trailing run of continuation bytes with its lead, at most that
// lead's byte count (the run is never followed into the opening quote).  The
// content between them is moved to the front with every q q written as one q.
ZEQ_EXPORT int64_t tkzsu8RemoveDelimiters(char *text, int64_t length) {
  if (!text || length <= 0) return 0;
  const int64_t n = length;
  const int64_t k = _utf8_len[byte_at(text, 0)];
  if (k >= n) return 0;

  char q[6];
  std::memcpy(q, text, (size_t)k);  // the front is overwritten below
  int64_t lead = n - 1;
  if (!valid_1st_utf8[byte_at(text, lead)]) {
    while (lead > k && valid_2nd_utf8[byte_at(text, lead)]) lead--;
  }
  int64_t closing = n - lead;
  const int64_t cap = _utf8_len[byte_at(text, lead)];
  if (closing > cap) closing = cap;
  const int64_t end = n - closing;

  int64_t w = 0;
  for (int64_t i = k; i < end;) {
    if (i + 2 * k <= end && std::memcmp(text + i, q, (size_t)k) == 0 &&
        std::memcmp(text + i + k, q, (size_t)k) == 0) {
      std::memcpy(text + w, q, (size_t)k);
      w += k;
      i += 2 * k;
    } else {
      text[w++] = text[i++];
    }
  }
  std::memset(text + w, kBlank, (size_t)(n - w));
  return w;
}

// Byte offset of the first character of text that is not the character c;
// -1 when the whole text is repetitions of c; 0 for a null or empty text.  A
// repetition cut short by the end of the text differs.
ZEQ_EXPORT int64_t tkzsu8NotEqual(const char *text, int64_t length, const char *character) {
  if (!text || length <= 0 || !character) return 0;
  const int64_t k = _utf8_len[(uint8_t)character[0]];
  if (k == 1) return skMemNScan(text, (uint64_t)length, (uint8_t)character[0]);
  for (int64_t i = 0; i < length; i += k) {
    if (text[i] != character[0]) return i;
    if (k > length - i || std::memcmp(text + i, character, (size_t)k) != 0) return i;
  }
  return -1;
}

// Deletes in place every character of text that occurs in the set and
// returns the number of bytes kept; the bytes freed at the end become blanks.
// A set of ASCII bytes only is applied byte by byte; otherwise the set is a
// list of characters, and at each position of the text the first one whose
// bytes all match there is dropped, else one byte is kept.
ZEQ_EXPORT int64_t tkzsu8Delete(char *text, int64_t length, const char *set, int64_t set_length) {
  if (!text || length <= 0) return 0;
  if (!set || set_length <= 0) return length;

  bool ascii = true;
  for (int64_t j = 0; j < set_length; j++)
    if (byte_at(set, j) >= 0x80) ascii = false;

  int64_t w = 0;
  if (ascii) {
    bool in_set[256] = {};
    for (int64_t j = 0; j < set_length; j++) in_set[byte_at(set, j)] = true;
    for (int64_t i = 0; i < length; i++)
      if (!in_set[byte_at(text, i)]) text[w++] = text[i];
  } else {
    for (int64_t i = 0; i < length;) {
      int64_t drop = 0;
      for (int64_t j = 0; j < set_length;) {
        const int64_t k = char_bytes(set, j, set_length);
        if (k <= length - i && std::memcmp(text + i, set + j, (size_t)k) == 0) {
          drop = k;
          break;
        }
        j += k;
      }
      if (drop) {
        i += drop;
      } else {
        text[w++] = text[i++];
      }
    }
  }
  std::memset(text + w, kBlank, (size_t)(length - w));
  return w;
}

// Writes the source between two quote characters into out (room bytes),
// with every occurrence of the quote doubled.  The output is built piece by
// piece -- the opening quote, each source character (its bytes, or the
// doubled quote), the closing quote -- and stops before the first piece that
// does not fit: the status is then ZEQ_RC_UTF8_NOROOM, else 0.  *written (when
// asked for) receives the bytes written in every case.  A null output or
// quote writes nothing and reports no room.
ZEQ_EXPORT int32_t tkzsu8AddQuotes(const char *src, int64_t src_length, char *out, int64_t room,
                                   const char *quote, int64_t *written) {
  int64_t w = 0;
  int32_t status = ZEQ_RC_UTF8_NOROOM;
  if (out && room > 0 && quote) {
    const int64_t k = _utf8_len[(uint8_t)quote[0]];
    const int64_t n = (src && src_length > 0) ? src_length : 0;
    if (k <= room) {
      std::memcpy(out, quote, (size_t)k);
      w = k;
      int64_t i = 0;
      while (i < n) {
        const int64_t c = char_bytes(src, i, n);
        const bool is_quote = c == k && std::memcmp(src + i, quote, (size_t)k) == 0;
        const int64_t piece = is_quote ? 2 * k : c;
        if (piece > room - w) break;
        std::memcpy(out + w, src + i, (size_t)c);
        if (is_quote) std::memcpy(out + w + k, quote, (size_t)k);
        w += piece;
        i += c;
      }
      if (i == n && k <= room - w) {
        std::memcpy(out + w, quote, (size_t)k);
        w += k;
        status = 0;
      }
    }
  }
  if (written) *written = w;
  return status;
}

// Reverses the order of the characters of text in place: all bytes are
// reversed, then every multi-byte character (its lead now behind its
// continuation bytes) is turned back.  At most the lead's byte count minus one
// continuation bytes are taken into a character.
ZEQ_EXPORT void tkzsu8Reverse(char *text, int64_t length) {
  if (!text || length < 2) return;
  bool wide = false;
  for (int64_t i = 0; i < length; i++)
    if (byte_at(text, i) >= 0x80) wide = true;
  reverse_range(text, 0, length - 1);
  if (!wide) return;
  for (int64_t i = length - 1; i >= 0;) {
    const int64_t k = _utf8_len[byte_at(text, i)];
    if (k > 1) {
      int64_t c = 0;
      while (c < k - 1 && i - c - 1 >= 0 && valid_2nd_utf8[byte_at(text, i - c - 1)]) c++;
      reverse_range(text, i - c, i);
      i -= c + 1;
    } else {
      i--;
    }
  }
}
