// charfn/concat/items.h - what the concatenation entries (concat.cc) and
// CATQ (catq.cc) share: the text of one item and saturating length sums.
// Private to charfn/concat.
#pragma once

#include <cstdint>

#include "core/frame.h"
#include "strkernel/blanks.h"

namespace zeq::cat {

// How the blanks (byte 0x20) of a character item are trimmed.
enum class Trim : uint8_t { None, Trailing, Both };

// The text of one item.  A numeric item is formatted into `buf` through the
// host's number formatter; a character item points into its argument's data.
// `data` may be null only when `length` is 0.
struct ItemText {
  const char *data = nullptr;
  int64_t length = 0;
  char buf[48];
};

// Bytes of a text.  `data` may be null only when `length` is 0.
struct Span {
  const char *data = nullptr;
  int64_t length = 0;
};

// A character value's bytes trimmed as `trim` says (trailing blanks first,
// then for Both the leading ones); a negative length or null data is empty.
inline Span trimmed_text(const FncString *s, Trim trim) {
  if (!s->data || s->length <= 0) return {};
  const char *data = s->data;
  int64_t len = s->length;
  if (trim != Trim::None) len = trailing_trimmed(data, len);
  if (trim == Trim::Both) {
    const int64_t lead = leading_blanks(data, len);
    data += lead;
    len -= lead;
  }
  return {data, len};
}

// Works out the text of argument `g`:
// - numeric: formatted by zfmt with format code 99 in width 12 (missing, or
//   1e-4 <= |x| <= 1e10) or 32 (otherwise, zero included), leading blanks
//   dropped, never trimmed further;
// - character: its bytes, trailing blanks dropped for Trailing, leading and
//   trailing blanks for Both; a negative length or null data counts as empty;
// - absent (null value) or of no known type: empty.
void item_text(FncArgList *args, const FncArg *g, Trim trim, ItemText *out);

// Formats one double the way item_text does; `out` receives the text.
void format_number(FncArgList *args, double x, ItemText *out);

// a + b for non-negative lengths, saturating at INT64_MAX.
inline int64_t sat_add(int64_t a, int64_t b) {
  return (b > INT64_MAX - a) ? INT64_MAX : a + b;
}

// The room a result may be filled in: capacity or maxLength, never
// negative, and 0 when there is no buffer to write into.
inline int64_t usable_room(const FncString *r) {
  int64_t room = zeq::result_room(r);
  if (room < 0 || r->data == nullptr) return 0;
  return room;
}

}  // namespace zeq::cat
