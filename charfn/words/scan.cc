// charfn/words/scan.cc - SCAN: the n-th word of a string.
//
// Function form (callForm other than 2): SCAN(string, n <, charlist
// <, modifiers>>) answers the word.  Call form (callForm 2): SCAN(string, n,
// position, length <, charlist <, modifiers>>) stores the word's 1-based
// byte position and its length into the two numeric targets.  A negative n
// counts words from the right.  Words and delimiters: charfn/words/delims.h.
//
// fncscan is the byte route and never diverts; SCAN_FUNCTION is the
// multibyte route, which the host calls itself with a string service.
#include <cstring>
#include <initializer_list>

#include "charfn/entries.h"
#include "charfn/words/delims.h"
#include "charfn/words/scan_parts.h"
#include "core/messages.h"
#include "strkernel/blanks.h"
#include "strkernel/strkernel.h"

using namespace zeq::args;


namespace zeq::words {
namespace {

constexpr int kPositionTarget = 2;  // argument 3
constexpr int kLengthTarget = 3;    // argument 4

double *numeric_target(FncArgList *args, int index) {
  FncArg *g = zeq::arg(args, index);
  if (!g || !(g->type & FNC_ARG_NUMERIC) || !g->value) return nullptr;
  return static_cast<double *>(g->value);
}

// Invalid n, or a call form missing a target: the function form answers an
// empty word; the call form gives each present target the missing value and
// reports each absent one with message 32.
int32_t answer_invalid(FncArgList *args, FncString *result, bool call_form) {
  if (call_form) {
    for (int t : {kPositionTarget, kLengthTarget}) {
      if (double *v = numeric_target(args, t))
        *v = zeq::missing_value();
      else
        xpmlog(FNC_MSG_SET, zeq::msg::kAbsentArgument, "SCAN", static_cast<i64>(t + 1));
    }
  } else if (result) {
    result->length = 0;
  }
  return FNC_RC_NOTE;
}

// Dequotes a word into at most `room` bytes by the rule of zdequote, cutting
// the output short instead of refusing it when the room is smaller than the
// quoted text.
int64_t dequote_bounded(const char *text, int64_t n, char *out, int64_t room) {
  const char q = n > 0 ? text[0] : 0;
  if (n <= 0 || (q != '"' && q != '\'') || text[n - 1] != q) {
    const int64_t k = n < room ? n : room;
    if (k > 0) std::memmove(out, text, static_cast<size_t>(k));
    return k > 0 ? k : 0;
  }
  const int64_t end = n - 1;  // the outer closing quote
  int64_t w = 0;
  for (int64_t i = 1; i < end && w < room;) {
    if (text[i] != q) {
      out[w++] = text[i++];
    } else if (text[i + 1] == q) {  // i + 1 <= end: the outer quote is a q too
      out[w++] = q;
      i += 2;
    } else {
      // A lone quote starts a run up to the next quote, which is dropped.
      for (i++; i < end && text[i] != q && w < room;) out[w++] = text[i++];
      i++;
    }
  }
  return w;
}

int32_t write_word(FncString *result, const char *word, int64_t length, bool dequote) {
  if (!dequote) return write_plain_word(result, word, length);
  int32_t rc;
  if (!sized_for(result, length, &rc)) return rc;
  const int64_t room = zeq::result_room(result);
  constexpr int64_t kMax = 2147483647;
  if (room >= length && length <= kMax) {
    result->length = zdequote(word, static_cast<int32_t>(length), result->data,
                              static_cast<int32_t>(room < kMax ? room : kMax));
  } else {
    result->length = dequote_bounded(word, length, result->data, room);
  }
  return rc;
}

}  // namespace

int32_t refuse_word_number(FncArgList *args, FncString *result, bool call_form) {
  zeq::mark_bad(zeq::arg(args, 1));
  return answer_invalid(args, result, call_form);
}

int32_t answer_no_word(FncArgList *args, FncString *result, const WordFlags &flags) {
  if (flags.R || flags.M || args->resultKind == zeq::kResultKindX || result->maxLength <= 0) {
    result->length = 0;
    return FNC_RC_OK;
  }
  return scan_blank(result);
}

namespace {

// Every call but the plain one of scan_with_defaults.
__attribute__((noinline)) int32_t scan_general(FncArgList *args, FncString *result) {
  const bool call_form = args->callForm == FNC_FORM_CALL;
  if (call_form && args->resultKind == zeq::kResultKindX) zfncmunq(args);

  int64_t n = 0;
  if (!valid_word_number(zeq::arg(args, 1), &n)) return refuse_word_number(args, result, call_form);
  double *position = nullptr, *length = nullptr;
  if (call_form) {
    position = numeric_target(args, kPositionTarget);
    length = numeric_target(args, kLengthTarget);
    if (!position || !length) return answer_invalid(args, result, call_form);
  }

  WordArgs where;
  where.source = 0;
  where.list = call_form ? 4 : 2;
  where.modifiers = call_form ? 5 : 3;
  where.name = "SCAN";
  where.scan = true;
  uint8_t local[kTableSize];
  DelimSetup ds;
  int32_t rc = build_delimiters(args, where, n < 0, local, &ds);
  if (rc != FNC_RC_OK) return rc;

  const bool rtl = ds.flags.rtl || n < 0;
  const ByteText text{reinterpret_cast<const uint8_t *>(ds.source), ds.source_length, ds.table,
                      ds.flags.M, ds.flags.Q, ds.defaults};
  const int64_t k = n < 0 ? -n : n;
  WordSpan w = ds.flags.Q ? find_word(text, k, rtl) : find_unquoted_word(text, k, rtl);

  if (!w.found) {
    if (call_form) {
      *position = 0;
      *length = 0;
      return FNC_RC_OK;
    }
    return result ? answer_no_word(args, result, ds.flags) : FNC_RC_OK;
  }

  if (ds.flags.R && w.length > 0) {
    const char *p = ds.source + w.offset;
    w.length = zeq::trailing_trimmed(p, w.length);
    const int64_t lead = zeq::leading_blanks(p, w.length);
    w.offset += lead;
    w.length -= lead;
  }

  if (call_form) {
    *position = static_cast<double>(w.offset + 1);
    *length = static_cast<double>(w.length);
    return FNC_RC_OK;
  }
  if (!result) return FNC_RC_OK;
  const char *word = w.offset >= 0 ? ds.source + w.offset : ds.source;
  return write_word(result, word, w.length, ds.flags.R && ds.flags.Q);
}

}  // namespace
}  // namespace zeq::words

using namespace zeq::words;

ZEQ_EXPORT int32_t fncscan(FncArgList *args, FncString *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  if (plain_scan(args, result)) return scan_with_defaults(args, result);
  return scan_general(args, result);
}

// Multibyte route.  Roles for argInit: source 1, word number 2, delimiters 3
// (call form 5) when the argument count reaches that position and the
// argument has a value, modifiers 4 (call form 6) only when the argument
// count is exactly that and the argument has a value.  A word number that is
// missing, 0 or not whole answers FNC_RC_NOTE at once with nothing written.
ZEQ_EXPORT int32_t SCAN_FUNCTION(FncArgList *args, FncString *result, ZeqStringService *svc,
                                 int32_t wide, const char *name) noexcept {
  if (!args || !svc) return FNC_RC_NOTE;
  const bool call_form = result == nullptr;
  if (const double *v = zeq::num_value(zeq::arg(args, 1))) {
    const double x = *v;
    if (x != x || x == 0) return FNC_RC_NOTE;
    if (x > -9.2e18 && x < 9.2e18 && static_cast<double>(static_cast<int64_t>(x)) != x)
      return FNC_RC_NOTE;
  }
  int32_t roles[ROLE_COUNT] = {1, 0, 0, 0, 0, 2, 0};
  const int list_pos = call_form ? 5 : 3;
  const int mods_pos = call_form ? 6 : 4;
  const FncArg *list = zeq::arg(args, list_pos - 1);
  if (args->argCount >= list_pos && list && list->value) roles[ROLE_DELIMS] = list_pos;
  const FncArg *mods = zeq::arg(args, mods_pos - 1);
  if (args->argCount == mods_pos && mods && mods->value) roles[ROLE_MODIFIERS] = mods_pos;
  return zeq::words::word_machine(args, nullptr, svc, wide, roles, call_form ? KIND_SCAN_OTHER : KIND_SCAN_WORD,
                       result, name ? name : "SCAN", nullptr);
}
