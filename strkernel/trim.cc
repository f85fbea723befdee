// strkernel/trim.cc - trailing-blank lengths, justification in place,
// blank-padded copies, substring and set scans, dequoting, name literals,
// deletion from TKChar texts.
//
// A blank is the byte 0x20 (U+0020 in TKChar text).  Lengths are signed
// 32-bit unless a routine says otherwise; a null area reads as empty.
#include <cstring>

#include "core/frame.h"
#include "strkernel/strkernel.h"

namespace {

constexpr uint64_t kEightBlanks = 0x2020202020202020ull;

// Length of data[0, n) without trailing blanks; n > 0.  Whole words of
// blanks are dropped eight bytes at a time.
int64_t strip_bytes(const char *data, int64_t n) {
  while (n >= 8) {
    uint64_t w;
    std::memcpy(&w, data + n - 8, 8);
    if (w != kEightBlanks) break;
    n -= 8;
  }
  while (n > 0 && data[n - 1] == ' ') n--;
  return n;
}

int32_t strip32(const char *data, int32_t length) {
  if (length <= 0) return length;
  if (!data) return 0;
  return static_cast<int32_t>(strip_bytes(data, length));
}

// Largest name-literal content the callers' buffers hold.
constexpr int kNameLiteralRoom = 32;

}  // namespace

extern "C" {

// The length without trailing blanks (0 when all blank); a length <= 0 is
// answered as it came.
ZEQ_EXPORT int32_t wzstrip(const char *data, int32_t length) { return strip32(data, length); }
ZEQ_EXPORT int32_t zstripf(const char *data, int32_t length) { return strip32(data, length); }
ZEQ_EXPORT int32_t zstripl(const char *data, int32_t length) { return strip32(data, length); }

// The count without trailing U+0020 units; a count <= 0 as it came.
ZEQ_EXPORT int64_t tkzstrp(const TKChar *data, int64_t count) {
  if (count <= 0) return count;
  if (!data) return 0;
  while (count > 0 && data[count - 1] == 0x20) count--;
  return count;
}

// Bytes before the terminating zero, as a signed 32-bit value (capped).
ZEQ_EXPORT int32_t wzstlen(const char *s) {
  uint64_t n = skStrLen(s);
  return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
}

// Justifies the text of data[0, length) inside its own bytes: mode L (left),
// R (right) or C (centre), in either case; any other mode leaves it where it
// is.  Writes the length without leading and trailing blanks to *out_length
// and the offset where the text now starts to *out_start; an all-blank or
// empty text gives 0 and 0 and stays untouched.
ZEQ_EXPORT void wzstjls(char *data, int32_t length, int mode, int32_t *out_length, int32_t *out_start) {
  int64_t lead = 0;
  if (data && length > 0)
    while (lead < length && data[lead] == ' ') lead++;
  if (!data || length <= 0 || lead == length) {
    if (out_length) *out_length = 0;
    if (out_start) *out_start = 0;
    return;
  }
  const int64_t n = length;
  const int64_t s = lead;
  const int64_t end = strip_bytes(data, n);  // one past the last non-blank
  const int64_t t = end - s;
  const int64_t r = n - s;

  int64_t shift = 0;
  switch (mode | 0x20) {  // case-blind for letters
    case 'l': shift = -lead; break;
    case 'r': shift = n - end; break;
    case 'c': shift = r - (n + t + 1) / 2; break;
    default: break;
  }
  if (shift != 0) {
    std::memmove(data + s + shift, data + s, static_cast<size_t>(t));
    if (shift > 0)
      std::memset(data + s, ' ', static_cast<size_t>(shift));  // vacated before the new start
    else
      std::memset(data + s + shift + t, ' ', static_cast<size_t>(-shift));  // after the new end
  }
  if (out_length) *out_length = static_cast<int32_t>(t);
  if (out_start) *out_start = static_cast<int32_t>(s + shift);
}

// Copies min(src_length, dst_length) bytes and pads the destination with
// blanks; a source length <= 0 (or a null source) pads all of it.  Overlap
// is safe.
ZEQ_EXPORT void vzmp(const char *src, int32_t src_length, char *dst, int32_t dst_length) {
  if (!dst || dst_length <= 0) return;
  int64_t n = (src && src_length > 0) ? src_length : 0;
  if (n > dst_length) n = dst_length;
  if (n) std::memmove(dst, src, static_cast<size_t>(n));
  std::memset(dst + n, ' ', static_cast<size_t>(dst_length - n));
}

// Index of the first byte whose table entry is non-zero, or -1.
ZEQ_EXPORT int64_t vzstl(const uint8_t *data, int64_t length, const uint8_t *table) {
  if (!data || !table || length <= 0) return -1;
  for (int64_t i = 0; i < length; i++)
    if (table[data[i]]) return i;
  return -1;
}

// 0-based offset of the first occurrence of the excerpt in the source, or
// -1.  An empty excerpt is found at 0 (also in an empty source).  An excerpt
// length below 0 means a zero-terminated excerpt (a null one is empty).
// Blanks are ordinary bytes.
ZEQ_EXPORT int32_t wzstndx(const char *src, int32_t src_length, const char *excerpt, int32_t excerpt_length) {
  if (excerpt_length < 0) excerpt_length = wzstlen(excerpt);
  if (excerpt_length == 0) return 0;
  if (!excerpt || !src || src_length <= 0) return -1;
  const int64_t candidates = static_cast<int64_t>(src_length) - (excerpt_length - 1);
  const char first = excerpt[0];
  for (int64_t i = 0; i < candidates; i++) {
    const void *hit = std::memchr(src + i, first, static_cast<size_t>(candidates - i));
    if (!hit) return -1;
    i = static_cast<const char *>(hit) - src;
    if (std::memcmp(src + i + 1, excerpt + 1, static_cast<size_t>(excerpt_length - 1)) == 0)
      return static_cast<int32_t>(i);
  }
  return -1;
}

// Removes one level of quoting.  A text that starts and ends with the same
// quote (apostrophe or double quote) needs room >= length; its inner bytes
// are copied with a doubled quote giving one quote, and a lone quote
// dropping itself and the next quote after it.  Any other text is copied as
// it stands, as far as the room goes.  Answers the bytes written.
ZEQ_EXPORT int32_t zdequote(const char *text, int32_t length, char *out, int32_t room) {
  if (!text || !out || length <= 0 || room <= 0) return 0;
  const char q = text[0];
  if ((q == '\'' || q == '"') && text[length - 1] == q) {
    if (room < length) return 0;
    const int32_t close = length - 1;  // the outer closing quote
    int32_t w = 0;
    int32_t i = 1;
    while (i < close) {
      char c = text[i];
      if (c != q) {
        out[w++] = c;
        i++;
      } else if (text[i + 1] == q) {  // doubled quote (the second may be the outer one)
        out[w++] = q;
        i += 2;
      } else {  // lone quote: copy up to the next quote and drop it
        i++;
        while (i < close && text[i] != q) out[w++] = text[i++];
        i++;
      }
    }
    return w;
  }
  int32_t n = length < room ? length : room;
  std::memcpy(out, text, static_cast<size_t>(n));
  return n;
}

// Name literal 'content'n or "content"N: answers the content length with
// the content (doubled quotes made single) in out[0, 32), or -1 when the
// text is not a name literal.  Trailing blanks are ignored; the letter after
// the closing quote is read through the host's upper-case table and must be
// the last byte; a content of more than 32 bytes is no name literal.
ZEQ_EXPORT int32_t zstripn(const char *text, int32_t length, char *out32) {
  if (!text) return -1;
  const int32_t n = wzstrip(text, length);
  if (n <= 2) return -1;
  const char q = text[0];
  if (q != '\'' && q != '"') return -1;
  const uint8_t *upcase = zeq::upcase_table();
  int32_t w = 0;
  for (int32_t i = 1; i < n;) {
    char c = text[i];
    if (c == q && i + 1 < n && text[i + 1] == q) {
      i += 2;  // doubled quote: one quote of content
    } else if (c == q) {
      // The closing quote: exactly one more byte, the letter N.
      if (i + 2 != n) return -1;
      return upcase[static_cast<uint8_t>(text[i + 1])] == 'N' ? w : -1;
    } else {
      i++;
    }
    if (w == kNameLiteralRoom) return -1;
    if (out32) out32[w] = c;
    w++;
  }
  return -1;  // no closing quote
}

// Removes from text every unit that occurs in set; answers the new length.
// length < 0: text is zero-terminated and stays so.  set_count < 0: set is
// zero-terminated; 0 removes nothing.  The units freed at the end of a
// counted text become blanks.
ZEQ_EXPORT int64_t tkzsdel(TKChar *text, int64_t length, const TKChar *set, int64_t set_count) {
  if (!text) return 0;
  const bool terminated = length < 0;
  if (terminated) length = static_cast<int64_t>(skStrTLen(text));
  if (length == 0) return 0;
  if (set_count < 0) set_count = static_cast<int64_t>(skStrTLen(set));
  if (!set || set_count == 0) return length;

  // Membership of the first 256 code points by bitmap, the rest by search.
  uint64_t low[4] = {0, 0, 0, 0};
  bool has_high = false;
  for (int64_t k = 0; k < set_count; k++) {
    if (set[k] < 256)
      low[set[k] >> 6] |= 1ull << (set[k] & 63);
    else
      has_high = true;
  }
  auto in_set = [&](TKChar u) {
    if (u < 256) return ((low[u >> 6] >> (u & 63)) & 1) != 0;
    if (!has_high) return false;
    for (int64_t k = 0; k < set_count; k++)
      if (set[k] == u) return true;
    return false;
  };

  int64_t kept = 0;
  for (int64_t i = 0; i < length; i++)
    if (!in_set(text[i])) text[kept++] = text[i];
  if (terminated) {
    text[kept] = 0;
  } else {
    for (int64_t i = kept; i < length; i++) text[i] = 0x20;
  }
  return kept;
}

}  // extern "C"
