// charfn/words/scan_parts.h - what SCAN's entry (charfn/words/scan.cc)
// shares with its plain call, the function form with only a string and a
// word number, which each build of charfn/words/word_masks.cc answers whole.
#pragma once

#include <cstdint>
#include <cstring>

#include <emmintrin.h>

#include "charfn/words/delims.h"
#include "strkernel/short_copy.h"

namespace zeq::words {

// A value that SCAN accepts as its word number: whole, inside the signed
// 32-bit range and not 0.  The truncating conversion answers INT32_MIN for
// a NaN or a value outside the range, which then differs from the value (as
// does any value that is not whole).
inline bool whole_word_number(double x, int64_t *n) {
  const int32_t whole = _mm_cvttsd_si32(_mm_set_sd(x));
  if (!(static_cast<double>(whole) == x) || whole == 0) return false;
  *n = whole;
  return true;
}

// A word number that SCAN accepts: present, not missing, whole, inside the
// signed 32-bit range and not 0.
inline bool valid_word_number(const FncArg *g, int64_t *n) {
  const double *v = zeq::num_value(g);
  return v && whole_word_number(*v, n);
}

// Sizes the result for `length` bytes (tkfncSetRetstg, whose status goes to
// *rc; the plain call's words are short, so a result that needs no growing
// is settled without the call).  True when the result then has room and
// data to write into; else its length is set to 0 (or left alone when sizing
// failed).
inline bool sized_for(FncString *result, int64_t length, int32_t *rc) {
  *rc = zeq::sized_without_growing(result, length) ? FNC_RC_OK : tkfncSetRetstg(result, length);
  if (*rc != FNC_RC_OK) return false;
  if (zeq::result_room(result) > 0 && result->data) return true;
  result->length = 0;
  return false;
}

// How many bytes of a word of `length` a sized result takes: the word cut
// to maxLength and to the room.
inline int64_t taken_bytes(const FncString *result, int64_t length) {
  const int64_t room = zeq::result_room(result);
  const int64_t k = length < result->maxLength ? length : result->maxLength;
  const int64_t copy = k < room ? k : room;
  return copy > 0 ? copy : 0;
}

// The word (at most 64 bytes) into a result that holds it without growing,
// as write_plain_word would put it; false, with nothing written but a
// capacity that tkfncSetRetstg would set as well, when the result needs
// sizing or has no room.
inline bool put_short_word(FncString *result, const char *word, int64_t length) {
  if (!zeq::sized_without_growing(result, length) || zeq::result_room(result) <= 0 || !result->data) return false;
  const int64_t copy = taken_bytes(result, length);
  zeq::move_short(result->data, word, copy);
  result->length = copy;
  return true;
}

// The word into the result as it stands, cut to maxLength and to the room.
inline int32_t write_plain_word(FncString *result, const char *word, int64_t length) {
  int32_t rc;
  if (!sized_for(result, length, &rc)) return rc;
  const int64_t copy = taken_bytes(result, length);
  zeq::move_short(result->data, word, copy);
  result->length = copy;
  return rc;
}

// A refused word number: argument 2 is marked, and the function form
// answers an empty word (the call form: see scan.cc).  FNC_RC_NOTE.
int32_t refuse_word_number(FncArgList *args, FncString *result, bool call_form);

// The function form's answer for a word that is not there: empty with R or
// M, in the x environment or without room, else one blank.
int32_t answer_no_word(FncArgList *args, FncString *result, const WordFlags &flags);

// The plain call: function form with a result, exactly a string and a word
// number, and no call-site cache.  It needs the default table and nothing
// else.
inline bool plain_scan(const FncArgList *args, const FncString *result) {
  return result && args->callForm != FNC_FORM_CALL && args->argCount == 2 && !site_cache_block(args);
}

// Answers a plain call as the general path does: the chosen build.  Only
// for a call that plain_scan accepts (so the block has two arguments).
extern int32_t (*scan_with_defaults)(FncArgList *args, FncString *result);

}  // namespace zeq::words
