// charfn/words/names.cc - names of the host language: the validity test,
// the literal conversion, ANYNAME, NOTNAME, ANYFIRST and NOTFIRST.
//
// A valid name (mode V7) is 1 to 32 bytes of 0-9, A-Z, a-z and the
// underscore that does not begin with a digit (bit 0x04 of the host's class
// table).  A name literal is a quoted text followed by the letter N; it can
// spell any text as a name.
//
// Host multibyte services used by the position functions in a multibyte
// session (vector 4, reached through the forwarders wzsx8ac and wzsxoff).
// Their C shapes are this module's choice:
//
//   int wzsx8ac(const char *text, long long length, int code, long long start);
//     Searches the `length` bytes of `text` (session encoding) for the first
//     character whose class test `code` passes and answers its 1-based
//     character position, 0 when there is none.  start > 0: look from
//     character `start` towards the end; start < 0: from character |start|
//     (the last character when |start| exceeds the count) towards the
//     beginning; start 0 or beyond the count: 0.
//     code: 269 name character (ANYNAME), 13 not a name character (NOTNAME),
//     268 first character of a name (ANYFIRST), 12 not one (NOTFIRST); plus
//     512 when the string is a varying-length value.  Bit 256 means "is in
//     the class", its absence "is not in the class"; bits 0-3 name the class
//     (13 name characters, 12 first characters).
//
//   int wzsxoff(const char *text, long long length, long long offset, long long count);
//     Byte offset of the character `count` characters after (count < 0:
//     before) the character that starts at byte `offset`; moving exactly to
//     the end answers `length`; -1 when that leaves the text.
//
// With the UTF-8 session encoding (identifier 20) and a varying-length
// string the search is one call of wzsx8ac; otherwise the module walks the
// characters with wzsxoff and asks wzsx8ac about each single character
// (start 1).  Strings longer than INT32_MAX bytes answer 0 on that route.
#include <cmath>
#include <cstring>

#include "charfn/args/modifiers.h"
#include "charfn/entries.h"
#include "core/frame.h"
#include "core/messages.h"
#include "strkernel/blanks.h"
#include "strkernel/strkernel.h"
#include "task/task_context.h"

namespace {

struct NameTables {
  uint8_t invalid[256];         // 1: not allowed in a name
  uint8_t invalid_upcase[256];  // 1: not allowed in an upper-case name
  uint8_t first[256];           // 1: may begin a name
  constexpr NameTables() : invalid{}, invalid_upcase{}, first{} {
    for (int c = 0; c < 256; ++c) {
      const bool digit = c >= '0' && c <= '9';
      const bool upper = c >= 'A' && c <= 'Z';
      const bool lower = c >= 'a' && c <= 'z';
      const bool under = c == '_';
      invalid[c] = (digit || upper || lower || under) ? 0 : 1;
      invalid_upcase[c] = (digit || upper || under) ? 0 : 1;
      first[c] = (upper || lower || under) ? 1 : 0;
    }
  }
};
constexpr NameTables kTables;

constexpr int kOptionNamingMode = 4429;

enum class Mode { V7, Upcase, Any, V6, NLiteral };

struct ModeRule {
  const char *word;
  Mode mode;
};
// Matching order of the mode words.
constexpr ModeRule kModes[] = {
    {"V7", Mode::V7},   {"LONG", Mode::V7}, {"UPCASE", Mode::Upcase}, {"ANY", Mode::Any},
    {"ANYLONG", Mode::Any}, {"V6", Mode::V6}, {"NLITERAL", Mode::NLiteral},
};

int64_t trimmed_length(const char *data, int64_t len) {
  return (!data || len <= 0) ? 0 : zeq::trailing_trimmed(data, len);
}

bool is_digit_byte(uint8_t c) { return (zeq::class_table()[c] & ZEQ_CLASS_DIGIT) != 0; }

// Matches a mode text (blanks skipped anywhere, letters upper-cased through
// the host table) against the mode words: a word matches when the two agree
// up to the end of the shorter one.  An empty text matches V7.
bool match_mode(const char *text, int64_t len, Mode *mode) {
  const uint8_t *up = zeq::upcase_table();
  for (const ModeRule &rule : kModes) {
    int64_t i = 0;
    const char *w = rule.word;
    bool ok = true;
    while (*w) {
      while (i < len && text[i] == ' ') ++i;
      if (i >= len) break;  // the text ended first
      if (up[static_cast<uint8_t>(text[i])] != static_cast<uint8_t>(*w)) {
        ok = false;
        break;
      }
      ++i;
      ++w;
    }
    if (ok) {
      *mode = rule.mode;
      return true;
    }
  }
  return false;
}

// Reason code of a name under one of the byte rules.
double judge(const uint8_t *name, int64_t len, Mode mode) {
  const int64_t largest = mode == Mode::V6 ? 8 : 32;
  if (len <= 0) return -1;
  if (len > largest) return -2;
  if (mode == Mode::Any) return 0;
  if (is_digit_byte(name[0])) return 1;
  const uint8_t *table = mode == Mode::Upcase ? kTables.invalid_upcase : kTables.invalid;
  for (int64_t i = 0; i < len; ++i)
    if (table[name[i]]) return 2;
  return 0;
}

// NLITERAL rule for a name that begins with a quote: the content up to the
// next lone quote of the same kind (a doubled quote is one content
// character), then exactly one N or n as the last character.  A well-formed
// literal is judged by its content length under the ANY rules; anything else
// answers 3.
double judge_literal(const char *name, int64_t len) {
  const char q = name[0];
  const uint8_t *up = zeq::upcase_table();
  int64_t content = 0;
  int64_t i = 1;
  while (i < len) {
    if (name[i] != q) {
      ++content;
      ++i;
      continue;
    }
    if (i + 1 < len && name[i + 1] == q) {  // doubled quote
      ++content;
      i += 2;
      continue;
    }
    // Lone closing quote: exactly one N must follow and end the name.
    if (i + 2 == len && up[static_cast<uint8_t>(name[i + 1])] == 'N')
      return content == 0 ? -1 : (content > 32 ? -2 : 0);
    return 3;
  }
  return 3;  // no closing quote
}

bool all_valid(const uint8_t *text, int64_t len) {
  for (int64_t i = 0; i < len; ++i)
    if (kTables.invalid[text[i]]) return false;
  return true;
}

// Start position argument: truncated towards zero; absent or missing is 1;
// magnitudes beyond any string length are clamped (no undefined
// double-to-integer conversion).
int64_t start_position(const FncArg *g) {
  const double *x = zeq::num_value(g);
  if (!x || *x != *x) return 1;
  const double t = std::trunc(*x);
  if (t >= 4e18) return INT64_MAX / 2;
  if (t <= -4e18) return -(INT64_MAX / 2);
  return static_cast<int64_t>(t);
}

enum Test { AnyName, NotName, AnyFirst, NotFirst };

bool passes(Test test, uint8_t c) {
  switch (test) {
    case AnyName: return kTables.invalid[c] == 0;
    case NotName: return kTables.invalid[c] == 1;
    case AnyFirst: return kTables.first[c] == 1;
    case NotFirst: return kTables.first[c] == 0;
  }
  return false;
}

int64_t search_bytes(Test test, const uint8_t *data, int64_t len, int64_t s) {
  if (s == 0 || s > len) return 0;
  if (s > 0) {
    for (int64_t p = s; p <= len; ++p)
      if (passes(test, data[p - 1])) return p;
    return 0;
  }
  int64_t p = -s;
  if (p > len) p = len;
  for (; p >= 1; --p)
    if (passes(test, data[p - 1])) return p;
  return 0;
}

int64_t search_characters(Test test, const char *data, int64_t len, int64_t s, bool varchar,
                          int32_t encoding_id) {
  static constexpr int kCodes[] = {269, 13, 268, 12};
  const int code = kCodes[test] + (varchar ? 512 : 0);
  if (len > INT32_MAX) return 0;
  if (s == 0) return 0;
  if (encoding_id == ZEQ_ENC_UTF8 && varchar) {
    const int pos = wzsx8ac(data, static_cast<long long>(len), code, static_cast<long long>(s));
    return pos > 0 ? pos : 0;
  }
  // Walk the characters: count them first, then test one at a time.
  auto next = [&](int64_t off) -> int64_t {
    const int n = wzsxoff(data, static_cast<long long>(len), static_cast<long long>(off), 1LL);
    return (n <= off || n > len) ? len : n;  // a stuck or wild answer ends the walk
  };
  auto test_at = [&](int64_t off) -> bool {
    const int64_t end = next(off);
    return wzsx8ac(data + off, static_cast<long long>(end - off), code, 1LL) > 0;
  };
  int64_t count = 0;
  for (int64_t off = 0; off < len; off = next(off)) ++count;
  if (s > count) return 0;
  int64_t p = s > 0 ? s : (-s > count ? count : -s);
  int64_t off = 0;
  for (int64_t k = 1; k < p; ++k) off = next(off);
  if (s > 0) {
    for (; p <= count; ++p, off = next(off))
      if (test_at(off)) return p;
    return 0;
  }
  for (;;) {
    if (test_at(off)) return p;
    if (p == 1) return 0;
    const int prev = wzsxoff(data, static_cast<long long>(len), static_cast<long long>(off), -1LL);
    if (prev < 0 || prev >= off) return 0;
    off = prev;
    --p;
  }
}

int32_t position_function(FncArgList *args, double *result, Test test) {
  if (!result) return FNC_RC_OK;
  *result = 0;
  const FncArg *g = zeq::arg(args, 0);
  const FncString *s = zeq::str_value(g);
  if (!s || !s->data || s->length <= 0) return FNC_RC_OK;
  const int64_t start = start_position(zeq::arg(args, 1));
  const ZeqSessionEncoding *enc = zeq::session_encoding();
  int64_t pos;
  if (enc && enc->multibyte)
    pos = search_characters(test, s->data, s->length, start, (g->type & FNC_ARG_VARCHAR) != 0,
                            enc->encoding_id);
  else
    pos = search_bytes(test, reinterpret_cast<const uint8_t *>(s->data), s->length, start);
  *result = static_cast<double>(pos);
  return FNC_RC_OK;
}

}  // namespace

// Validity test with reason code: argument 1 the name, argument 2 the
// naming mode (optional; the host option 4429 when not written).  Writes -1
// empty, -2 too long, 0 valid, 1 begins with a digit, 2 holds a character the
// mode does not allow, 3 a malformed name literal (mode NLITERAL).  An
// ambiguous (V alone) or unknown mode, or a failing option fetch, returns
// FNC_RC_NOTE and writes nothing.
ZEQ_EXPORT int32_t fncninv(FncArgList *args, double *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  FncArg *mode_arg = args->argCount >= 2 ? &args->args[1] : nullptr;

  char option[33];
  const char *mode_text = nullptr;
  int64_t mode_len = 0;
  if (mode_arg && mode_arg->value) {
    const FncString *m = zeq::str_value(mode_arg);
    if (!m) {  // a number is no mode word
      zeq::mark_bad(mode_arg);
      return FNC_RC_NOTE;
    }
    mode_text = m->data;
    mode_len = (m->data && m->length > 0) ? m->length : 0;
  } else {
    int length = 32;
    std::memset(option, 0, sizeof option);
    const int rc = xyrcgef(0, kOptionNamingMode, 0, 0, 0, option, &length, 0,
                           zeq::current_task(args));
    if (rc != 0) {
      xprrlog(rc);
      if (rc < 0) return FNC_RC_NOTE;
    }
    if (length < 0) length = 0;
    if (length > 32) length = 32;
    mode_text = option;
    mode_len = length;
  }
  // Leading and trailing blanks do not count.
  mode_len = trimmed_length(mode_text, mode_len);
  while (mode_len > 0 && mode_text[0] == ' ') {
    ++mode_text;
    --mode_len;
  }

  Mode mode = Mode::V7;
  const uint8_t *up = zeq::upcase_table();
  if ((mode_len == 1 && up[static_cast<uint8_t>(mode_text[0])] == 'V') ||
      !match_mode(mode_text, mode_len, &mode)) {
    zeq::mark_bad(mode_arg);
    return FNC_RC_NOTE;
  }

  const FncString *name = zeq::str_value(zeq::arg(args, 0));
  const char *data = name ? name->data : nullptr;
  const int64_t len = trimmed_length(data, name ? name->length : 0);
  double code;
  if (mode == Mode::NLiteral && len > 0 && (data[0] == '\'' || data[0] == '"'))
    code = judge_literal(data, len);
  else
    code = judge(reinterpret_cast<const uint8_t *>(data), len,
                 mode == Mode::NLiteral ? Mode::V7 : mode);
  if (result) *result = code;
  return FNC_RC_OK;
}

// Validity test: 1 when the name is valid under the mode, else 0.  Same
// arguments and statuses as fncninv.
ZEQ_EXPORT int32_t fncnval(FncArgList *args, double *result) noexcept {
  double code = 0;
  const int32_t rc = fncninv(args, &code);
  if (rc == FNC_RC_OK && result) *result = code == 0 ? 1 : 0;
  return rc;
}

// Literal conversion (entry shape 3): a valid name is copied unchanged; any
// other text becomes a name literal, quoted with the apostrophe when it holds
// % or & or fewer apostrophes than double quotes, else with the double
// quote, the quote doubled inside, and N appended.  Trailing blanks do not
// count.  An empty text (message 40) or a result too short (message 41 with
// maxLength, the text's length and the text) answers FNC_RC_NOTE with an
// empty result; a growable result that cannot grow answers FNC_RC_NOROOM.
ZEQ_EXPORT int32_t fncnlit(FncString *arg, FncString *result) noexcept {
  if (!result) return FNC_RC_NOTE;
  result->length = 0;
  const char *data = arg ? arg->data : nullptr;
  const int64_t len = trimmed_length(data, arg ? arg->length : 0);
  if (len == 0) {
    xpmlog(FNC_MSG_SET, zeq::msg::kEmptyName);
    return FNC_RC_NOTE;
  }
  auto too_long = [&]() {
    xpmlog(FNC_MSG_SET, zeq::msg::kNameTooLong, static_cast<i64>(result->maxLength), static_cast<i64>(len),
           static_cast<i64>(len), data);
    return FNC_RC_NOTE;
  };
  if (len > result->maxLength) return too_long();

  const auto *u = reinterpret_cast<const uint8_t *>(data);
  const bool valid = !is_digit_byte(u[0]) && all_valid(u, len);
  char q = '"';
  int64_t size = len;
  if (!valid) {
    int64_t a = 0, d = 0;
    bool special = false;
    for (int64_t i = 0; i < len; ++i) {
      if (data[i] == '\'') ++a;
      else if (data[i] == '"') ++d;
      else if (data[i] == '%' || data[i] == '&') special = true;
    }
    q = (a < d || special) ? '\'' : '"';
    size = len + 3 + (q == '\'' ? a : d);
    if (size > result->maxLength) return too_long();
  }

  // A growable result is grown to the size first; a fixed one has maxLength.
  const int32_t rc = tkfncSetRetstg(result, size);
  if (rc != FNC_RC_OK) return rc;
  const int64_t room = zeq::result_room(result);
  if (!result->data || room < size) return too_long();

  char *p = result->data;
  if (valid) {
    std::memcpy(p, data, static_cast<size_t>(len));
  } else {
    *p++ = q;
    for (int64_t i = 0; i < len; ++i) {
      if (data[i] == q) *p++ = q;
      *p++ = data[i];
    }
    *p++ = q;
    *p = 'N';
  }
  result->length = size;
  return FNC_RC_OK;
}

// ANYNAME, NOTNAME, ANYFIRST, NOTFIRST: argument 1 the string, argument 2
// the start (optional; absent or missing means 1).  The result is the
// 1-based position of the first character that can (ANYNAME) or cannot
// (NOTNAME) appear in a name, or can (ANYFIRST) or cannot (NOTFIRST) begin
// one, searching from the start towards the end, or with a negative start
// from position |start| (the last position when |start| exceeds the length)
// towards the beginning; 0 when none is found, for a start of 0 and for a
// start past the end.  Always FNC_RC_OK.
ZEQ_EXPORT int32_t fncanyname(FncArgList *args, double *result) noexcept {
  return position_function(args, result, AnyName);
}
ZEQ_EXPORT int32_t fncnotname(FncArgList *args, double *result) noexcept {
  return position_function(args, result, NotName);
}
ZEQ_EXPORT int32_t fncanyfirst(FncArgList *args, double *result) noexcept {
  return position_function(args, result, AnyFirst);
}
ZEQ_EXPORT int32_t fncnotfirst(FncArgList *args, double *result) noexcept {
  return position_function(args, result, NotFirst);
}
