// charfn/concat/access.cc - CHAR, FIRST, SUBPAD and the text-position entry:
// picking bytes out of a character value.  All four work on bytes and count
// positions from 1.  They write into the result's room maxLength and never
// size it from their arguments; a growable result whose buffer is shorter
// than what is written is grown first (tkfncSetRetstg), so nothing is ever
// written past the buffer the host handed over.
//
// Numeric arguments are doubles; every conversion to an integer is preceded
// by a range check, so NaN, infinities and huge values take the documented
// paths instead of an out-of-range conversion.

#include <cstdint>
#include <cstring>

#include "charfn/entries.h"
#include "core/frame.h"
#include "strkernel/strkernel.h"

namespace {

constexpr double kTwo63 = 9223372036854775808.0;  // 2^63
constexpr char kBlank = ' ';
const char kBlankSource[1] = {' '};  // a valid source for blank-only fills

// A character argument's bytes and length; a null value or null data reads
// as an empty text.  `length` is the full 64-bit length.
struct Text {
  const char *data = nullptr;
  int64_t length = 0;
  bool valid = false;  // the argument is a character value
};

Text text_of(const FncString *s) {
  Text t;
  if (!s) return t;
  t.valid = true;
  if (s->data && s->length > 0) {
    t.data = s->data;
    t.length = s->length;
  }
  return t;
}

Text text_arg(FncArgList *args, int i) { return text_of(zeq::str_value(zeq::arg(args, i))); }

// The numeric argument i, or NaN when it is absent or not numeric.
double number_arg(FncArgList *args, int i) {
  const double *x = zeq::num_value(zeq::arg(args, i));
  return x ? *x : __builtin_nan("");
}

// Makes sure `need` bytes may be written at result->data.  A fixed result
// must already have them (callers never ask beyond maxLength); a growable one
// is grown when its capacity is short.
int32_t make_room(FncString *result, int64_t need) {
  if (need <= 0) return FNC_RC_OK;
  if (result->allocator) {
    if (result->capacity < need || !result->data) {
      const int32_t rc = tkfncSetRetstg(result, need);
      if (rc != FNC_RC_OK) return rc;
      if (!result->data || result->capacity < need) return FNC_RC_NOROOM;
    }
    return FNC_RC_OK;
  }
  return result->data ? FNC_RC_OK : FNC_RC_NOROOM;
}

// Result of one byte.
int32_t one_byte(FncString *result, char b) {
  const int32_t rc = make_room(result, 1);
  if (rc != FNC_RC_OK) return rc;
  result->data[0] = b;
  result->length = 1;
  return FNC_RC_OK;
}

// An empty result with a note: the culprit argument (0-based) is marked.
int32_t note(FncArgList *args, FncString *result, int culprit) {
  zeq::mark_bad(zeq::arg(args, culprit));
  result->length = 0;
  return FNC_RC_NOTE;
}

// Copy-and-pad through vzmp, whose lengths are 32-bit: dst receives `count`
// bytes, the first min(avail, count) from src and blanks after them.
void copy_pad(const char *src, int64_t avail, char *dst, int64_t count) {
  constexpr int64_t kStep = 1 << 30;
  if (avail < 0) avail = 0;
  while (count > 0) {
    const int64_t piece = count < kStep ? count : kStep;
    const int64_t from = avail < piece ? avail : piece;
    vzmp(src, (int32_t)from, dst, (int32_t)piece);
    src += from;
    avail -= from;
    dst += piece;
    count -= piece;
  }
}

}  // namespace

// CHAR(value, position): the byte at a 1-based position, one blank when the
// position lies outside the value.  A fractional position is truncated, so
// 2.9 picks the second byte and 3.99 the third of a 3-byte value; positions
// below 1 and from length + 1 on give the blank (the length is read as its
// low 32 bits).  A missing position marks argument 2 and gives an empty
// result with FNC_RC_NOTE; a first argument that is not a character value
// marks argument 1 the same way.  A result of room 0 is left untouched.
ZEQ_EXPORT int32_t fncchar(FncArgList *args, FncString *result) noexcept {
  if (!result || result->maxLength <= 0) return FNC_RC_OK;
  const double pos = number_arg(args, 1);
  if (zeq::is_missing(pos)) return note(args, result, 1);
  const Text t = text_arg(args, 0);
  if (!t.valid) return note(args, result, 0);
  const int32_t len = (int32_t)(uint32_t)(uint64_t)t.length;
  // trunc(pos) lies in 1 .. len exactly when 1 <= pos < len + 1.
  if (!(pos >= 1.0) || !(pos < (double)len + 1.0)) return one_byte(result, kBlank);
  return one_byte(result, t.data[(int64_t)pos - 1]);
}

// FIRST(value): the first byte of the value, one blank for an empty value.
// A result of room 0 is left untouched.
ZEQ_EXPORT int32_t fncfirst(FncString *arg, FncString *result) noexcept {
  if (!result || result->maxLength <= 0) return FNC_RC_OK;
  const Text t = text_of(arg);
  return one_byte(result, t.length > 0 ? t.data[0] : kBlank);
}

// Position of the excerpt (argument 2) in the source (argument 1): 1-based
// offset of the first occurrence, 0 when absent, 1 for an empty excerpt.
// Both lengths are read as their low 32 bits; blanks are ordinary bytes.  A
// length whose low 32 bits are negative (a value of 2 GiB or more) is not
// searched: the result is 0 (or 1 when the excerpt is empty).  Always
// FNC_RC_OK.
ZEQ_EXPORT int32_t fncndxt(FncArgList *args, double *result) noexcept {
  if (!result) return FNC_RC_OK;
  const Text src = text_arg(args, 0);
  const Text exc = text_arg(args, 1);
  int32_t slen = (int32_t)(uint32_t)(uint64_t)src.length;
  const int32_t elen = (int32_t)(uint32_t)(uint64_t)exc.length;
  if (slen < 0) slen = 0;
  int32_t p;
  if (elen == 0)
    p = 0;
  else if (elen < 0 || !exc.data || !src.data)
    p = -1;
  else
    p = wzstndx(src.data, slen, exc.data, elen);
  *result = (double)p + 1.0;
  return FNC_RC_OK;
}

// SUBPAD(value, position [, length]): the piece of the value from the
// position on, padded with blanks to the length (without a length: to the
// end of the value).  Positions before the value give leading blanks.
// Without a length the start offset is trunc(position - 1); with a length it
// is trunc(position) - 1.  A piece longer than the room is cut to the room
// after catalogue message 8 ("SUBPAD", the length asked for); the status
// stays FNC_RC_OK.  A missing or out-of-range position or length gives an
// empty result and FNC_RC_NOTE with argument 2 marked (argument 3 when a
// length is given and the position is at or below -2^63, or the length is
// bad).  A length argument whose value is absent counts as not given.
ZEQ_EXPORT int32_t fncsubp(FncArgList *args, FncString *result) noexcept {
  if (!result) return FNC_RC_OK;
  const double pos = number_arg(args, 1);
  if (zeq::is_missing(pos)) return note(args, result, 1);
  const Text t = text_arg(args, 0);
  if (!t.valid) return note(args, result, 0);
  const int64_t len = t.length;
  const int64_t room = result->maxLength > 0 ? result->maxLength : 0;

  const FncArg *len_arg = zeq::arg(args, 2);
  const bool with_length = len_arg && len_arg->value;

  int64_t offset, count;
  bool blanks = false;
  if (!with_length) {
    if (pos > (double)len) {
      result->length = 0;
      return FNC_RC_OK;
    }
    if (pos <= -kTwo63 || pos > kTwo63) return note(args, result, 1);
    // pos lies in (-2^63, len], so pos - 1 stays above -2^63.
    offset = (int64_t)(pos - 1.0);
    const __int128 want = (__int128)len - offset;  // at least 1
    count = want > INT64_MAX ? INT64_MAX : (int64_t)want;
    if (count > room) {
      xpmlog(FNC_MSG_SET, 8, "SUBPAD", (i64)count);
      count = room;
    }
    blanks = offset < -count;
  } else {
    const double n = number_arg(args, 2);
    if (zeq::is_missing(n) || n > kTwo63 || n < 0.0) return note(args, result, 2);
    if (n < 1.0) {
      result->length = 0;
      return FNC_RC_OK;
    }
    count = n >= kTwo63 ? INT64_MAX : (int64_t)n;
    if (count > room) {
      xpmlog(FNC_MSG_SET, 8, "SUBPAD", (i64)count);
      count = room;
    }
    if (pos <= -kTwo63) return note(args, result, 2);
    if (pos >= kTwo63) {
      offset = 0;
      blanks = true;  // trunc(pos) is beyond any length
    } else {
      offset = (int64_t)pos;
      if (offset > len) {
        blanks = true;
      } else {
        offset -= 1;
        blanks = offset < -count;
      }
    }
  }

  const int32_t rc = make_room(result, count);
  if (rc != FNC_RC_OK) return rc;
  result->length = count;
  if (count == 0) return FNC_RC_OK;
  char *out = result->data;
  if (blanks) {
    copy_pad(kBlankSource, 0, out, count);
  } else if (offset < 0) {
    const int64_t lead = -offset;  // at most count
    copy_pad(kBlankSource, 0, out, lead);
    copy_pad(t.data, len, out + lead, count - lead);
  } else {
    copy_pad(t.data + offset, len - offset, out, count);
  }
  return FNC_RC_OK;
}
