// charfn/args/modifiers.cc - the modifier alphabet, argInit / argTerm, the
// route choice between the byte route and the multibyte route, and the
// string preparation that COMPARE's multibyte route applies (leading blanks
// and name literals).
//
// Everything here that touches a string goes through the session string
// service (zeq/host.h): views, reading, upper-casing, counting.  A null
// service is tolerated everywhere: nothing is bound and the caller sees
// empty views.

#include "charfn/args/modifiers.h"

#include <cmath>
#include <cstring>

#include "task/task_context.h"

using namespace zeq::args;

namespace zeq {

// A..X, then E, R, colon, blank, then the terminating zero: the order fixes
// nothing but the lookup, each letter maps to its own ModifierFlags field.
const TKChar upcase_modifiers[26] = {'A', 'B', 'C', 'D', 'F', 'G', 'H', 'I', 'K',
                                     'L', 'M', 'N', 'O', 'P', 'Q', 'S', 'T', 'U',
                                     'V', 'W', 'X', 'E', 'R', ':', ' ', 0};

ZeqStringService *string_service() {
  ZeqKernel *k = Exported_TKHandle;
  if (!k || !k->string_service) return nullptr;
  static const TKChar kName[] = {'M', 'V', 'A', 0};
  // The factory creates the service on first use and answers the same one
  // afterwards; the option block is all zero.
  alignas(16) unsigned char options[128];
  std::memset(options, 0, sizeof options);
  return k->string_service(kName, options);
}

}  // namespace zeq

namespace {

using zeq::cmp::kNameLiteralMax;

// Code units of a character value: bytes, or TKChar units for wide text.
int64_t value_units(const FncString *s, int32_t wide) {
  if (!s || !s->data || s->length <= 0) return 0;
  return wide ? s->length / 4 : s->length;
}

// Sets the field of one alphabet letter.  place is the 1-based place of the
// character in the modifier string (used for L and N).
void set_flag(ModifierFlags *f, TKChar letter, int64_t place) {
  uint8_t p = place > 255 ? 255 : (uint8_t)place;
  switch (letter) {
    case 'A': f->A = 1; break;
    case 'B': f->B = 1; break;
    case 'C': f->C = 1; break;
    case 'D': f->D = 1; break;
    case 'E': f->E = 1; break;
    case 'F': f->F = 1; break;
    case 'G': f->G = 1; break;
    case 'H': f->H = 1; break;
    case 'I': f->I = 1; break;
    case 'K': f->K = 1; break;
    case 'L': f->Lpos = p; break;
    case 'M': f->M = 1; break;
    case 'N': f->Npos = p; break;
    case 'O': f->O = 1; break;
    case 'P': f->P = 1; break;
    case 'Q': f->Q = 1; break;
    case 'R': f->R = 1; break;
    case 'S': f->S = 1; break;
    case 'T': f->T = 1; break;
    case 'U': f->U = 1; break;
    case 'V': f->V = 1; break;
    case 'W': f->W = 1; break;
    case 'X': f->X = 1; break;
    case ':': f->colon = 1; break;
    default: break;
  }
}

bool in_alphabet(TKChar c) {
  for (int i = 0; i < 25; i++)
    if (zeq::upcase_modifiers[i] == c) return true;
  return false;
}

// The argument of a role (roles are 1-based argument numbers, 0 = absent).
FncArg *role_arg(FncArgList *args, const int32_t *arglocs, int role) {
  if (!arglocs) return nullptr;
  int32_t n = arglocs[role];
  if (n <= 0) return nullptr;
  return zeq::arg(args, n - 1);
}

bool bind_value(ZeqStringService *svc, ZeqStrView *v, const FncArg *g, int32_t wide) {
  FncString *s = zeq::str_value(g);
  if (!svc || !s) return false;
  int64_t units = value_units(s, wide);
  const void *data = s->data ? s->data : "";
  return svc->bind(svc, v, data, units, wide) == 0;
}

int64_t char_count(ZeqStringService *svc, const ZeqStrView *v, int32_t wide) {
  if (!svc || !v->start || v->length <= 0) return 0;
  int64_t n = svc->count(svc, v->start, v->length, wide);
  return n < 0 ? 0 : n;
}

// Reads the modifier string character by character (Part of every
// multibyte-route function): letters set their fields, blanks are skipped,
// anything else is reported with catalogue message 6 and skipped.
void parse_modifiers(ZeqStringService *svc, const FncArg *g, ModifierFlags *flags, int32_t wide,
                     const char *name) {
  ZeqStrView v{};
  if (!bind_value(svc, &v, g, wide) || v.length <= 0) return;
  int64_t place = 0;
  for (;;) {
    int32_t c = svc->read(svc, &v, wide);
    if (c < 0) break;
    place++;
    TKChar u = svc->upper(svc, (TKChar)c);
    if (u == ' ') {
      // skipped
    } else if (in_alphabet(u)) {
      set_flag(flags, u, place);
    } else {
      printBadmodLog(name ? name : "", (int)u);
    }
    if (svc->move(svc, &v, 1, wide) != 0) break;
  }
}

// A numeric role's value: false when the role has no usable number (absent
// argument, not numeric, null value) or the number is missing.
bool role_number(const FncArg *g, double *x) {
  const double *p = zeq::num_value(g);
  if (!p || zeq::is_missing(*p)) return false;
  *x = *p;
  return true;
}

// Drops the leading blanks of a bound view (rebinding it over the rest).
void drop_leading_blanks(ZeqStringService *svc, ZeqStrView *v, int32_t wide) {
  if (!v->start || v->length <= 0) return;
  ZeqStrView w = *v;
  if (svc->seek(svc, &w, 0, wide) != 0) return;
  while (svc->read(svc, &w, wide) == ' ') {
    if (svc->move(svc, &w, 1, wide) != 0) break;
  }
  int64_t skip = w.pos;
  if (skip <= 0) return;
  const char *base = static_cast<const char *>(v->start) + skip * (wide ? 4 : 1);
  svc->bind(svc, v, base, v->length - skip, wide);
}

// Replaces a bound view that holds a name literal by the literal's content,
// copied into buf (128 bytes).
void unquote_literal(ZeqStringService *svc, ZeqStrView *v, TKChar *buf, int32_t wide) {
  if (!v->start || v->length <= 0) return;
  alignas(4) unsigned char tmp[zeq::cmp::kNameBufferBytes];
  int64_t units = 0;
  int64_t n = zeq::cmp::zstripn_enc(svc, wide, v, tmp, &units);
  if (n < 0) return;
  std::memcpy(buf, tmp, (size_t)units * (wide ? 4 : 1));
  svc->bind(svc, v, buf, units, wide);
}

// COMPARE's string preparation (kind 5): L drops leading blanks, N replaces a
// name literal by its content; with both, in the order they were written.
void stripBlanksQMarks(ZeqStringService *svc, ZeqStrView *v, TKChar *buf, const ModifierFlags *f,
                       int32_t wide, int64_t *chars) {
  bool L = f->Lpos != 0, N = f->Npos != 0;
  if (L && N) {
    if (f->L_before_N) {
      drop_leading_blanks(svc, v, wide);
      unquote_literal(svc, v, buf, wide);
    } else {
      unquote_literal(svc, v, buf, wide);
      drop_leading_blanks(svc, v, wide);
    }
  } else if (L) {
    drop_leading_blanks(svc, v, wide);
  } else if (N) {
    unquote_literal(svc, v, buf, wide);
  }
  *chars = char_count(svc, v, wide);
}

}  // namespace

namespace zeq::cmp {

int64_t zstripn_enc(ZeqStringService *svc, int32_t wide, const ZeqStrView *text, void *out,
                    int64_t *out_units) {
  *out_units = 0;
  if (!svc || !text || !text->start || text->length <= 0) return -1;
  ZeqStrView v = *text;
  int64_t n = svc->count(svc, v.start, v.length, wide);
  if (n <= 0) return -1;
  // Trailing blanks do not belong to the literal.
  int64_t m = n;
  while (m > 0) {
    if (svc->seek(svc, &v, m - 1, wide) != 0) return -1;
    if (svc->read(svc, &v, wide) != ' ') break;
    m--;
  }
  if (m <= 2) return -1;
  if (svc->seek(svc, &v, 0, wide) != 0) return -1;
  int32_t q = svc->read(svc, &v, wide);
  if (q != '"' && q != '\'') return -1;

  unsigned char *dst = static_cast<unsigned char *>(out);
  const int64_t unit = wide ? 4 : 1;
  int64_t content = 0, units = 0;
  auto put = [&](TKChar c) {
    content++;
    if (content > kNameLiteralMax) return;
    unsigned char enc[16];
    int32_t k = svc->encode(svc, c, enc, wide);
    if (k <= 0 || k > 4) return;
    if ((units + k) * unit > kNameBufferBytes) return;
    std::memcpy(dst + units * unit, enc, (size_t)(k * unit));
    units += k;
  };

  // i: index of the character under v.
  for (int64_t i = 1; i < m; i++) {
    if (svc->move(svc, &v, 1, wide) != 0) return -1;
    int32_t c = svc->read(svc, &v, wide);
    if (c < 0) return -1;
    if (c != q) {
      put((TKChar)c);
      continue;
    }
    // A quote: doubled, or the closing one.
    if (i + 1 < m) {
      ZeqStrView w = v;
      if (svc->move(svc, &w, 1, wide) != 0) return -1;
      int32_t d = svc->read(svc, &w, wide);
      if (d == q) {
        put((TKChar)q);
        v = w;
        i++;
        continue;
      }
      // Closing quote: exactly one more character, the letter N.
      if (i + 2 != m) return -1;
      if (d < 0 || svc->upper(svc, (TKChar)d) != 'N') return -1;
      if (content > kNameLiteralMax) return -content;
      *out_units = units;
      return content;
    }
    return -1;  // a quote as the very last character
  }
  return -1;  // no closing quote
}

}  // namespace zeq::cmp

extern "C" {

ZEQ_EXPORT void argInit(FncArgList *args, ZeqStringService *svc, int32_t *arglocs,
                        ParsedArgs *parsed, ModifierFlags *flags, int32_t wide, int32_t kind,
                        const char *name) {
  if (!parsed || !flags) return;
  std::memset(parsed, 0, sizeof *parsed);
  std::memset(flags, 0, sizeof *flags);
  parsed->scan_limit = 1;
  wide = wide ? 1 : 0;

  ZeqStrView *views[4] = {&parsed->source, &parsed->second, &parsed->charlist, &parsed->delims};
  const int roles[4] = {ROLE_SOURCE, ROLE_SECOND, ROLE_CHARLIST, ROLE_DELIMS};
  for (int i = 0; i < 4; i++) {
    FncArg *g = role_arg(args, arglocs, roles[i]);
    if (g && g->value && bind_value(svc, views[i], g, wide)) parsed->bound[i] = 1;
  }

  // Modifiers.
  FncArg *mods = role_arg(args, arglocs, ROLE_MODIFIERS);
  if (mods && mods->value && svc) parse_modifiers(svc, mods, flags, wide, name);
  if (kind == KIND_COMPARE && flags->Lpos && flags->Npos && flags->Lpos < flags->Npos)
    flags->L_before_N = 1;

  // Lengths in characters; COMPARE prepares its two strings first.
  if (kind == KIND_COMPARE && svc) {
    if (parsed->bound[0])
      stripBlanksQMarks(svc, &parsed->source, parsed->name_buf[0], flags, wide,
                        &parsed->source_chars);
    if (parsed->bound[1])
      stripBlanksQMarks(svc, &parsed->second, parsed->name_buf[1], flags, wide,
                        &parsed->second_chars);
  } else {
    if (parsed->bound[0]) parsed->source_chars = char_count(svc, &parsed->source, wide);
    if (parsed->bound[1]) parsed->second_chars = char_count(svc, &parsed->second, wide);
  }

  // Default delimiters (the word functions).
  int32_t argc = args ? args->argCount : 0;
  bool has_delim_role = arglocs && arglocs[ROLE_DELIMS] > 0;
  FncArg *delim = role_arg(args, arglocs, ROLE_DELIMS);
  bool delim_valued = delim && delim->value;
  if (!(has_delim_role && delim_valued)) {
    bool def = false;
    switch (kind) {
      case KIND_COUNT: def = argc == 1; break;
      case KIND_FIND: def = argc == 2 || (argc == 3 && !has_delim_role); break;
      case KIND_SCAN_WORD: def = argc < 3 && !has_delim_role; break;
      case KIND_SCAN_OTHER: def = argc < 5 && !has_delim_role; break;
      default: break;
    }
    flags->default_delims = def ? 1 : 0;
  }

  // Word number.
  if (arglocs && arglocs[ROLE_WORDNUM] > 0) {
    double x;
    FncArg *g = role_arg(args, arglocs, ROLE_WORDNUM);
    if (!role_number(g, &x) || x > 2147483647.0) {
      parsed->word = 1;
    } else {
      double t = std::trunc(x);
      if (t < 0) {
        flags->B = 1;
        // Beyond 64 bits the word can never be reached anyway.
        parsed->word = t < -9.0e18 ? INT64_MAX : (int64_t)-t;
      } else {
        parsed->word = (int64_t)t;
      }
    }
  }

  // Start position, applied last.
  const int64_t len = parsed->source_chars;
  parsed->scan_limit = 1;
  if (!arglocs || arglocs[ROLE_START] <= 0) {
    parsed->start = flags->B ? (len > 0 ? len : 1) : 1;
    return;
  }
  double x;
  FncArg *g = role_arg(args, arglocs, ROLE_START);
  if (!role_number(g, &x) || x > 2147483647.0) {
    parsed->start = 0;
    return;
  }
  double t = std::trunc(x);
  if (t < 0) {
    flags->B = 1;
    parsed->start = -t >= (double)len ? len : (int64_t)-t;
  } else if (flags->B) {
    parsed->scan_limit = t >= (double)len ? len : (int64_t)t;
    parsed->start = len > 0 ? len : 1;
  } else {
    parsed->start = (int64_t)t;
  }
}

ZEQ_EXPORT void argTerm(ParsedArgs *parsed) {
  if (!parsed) return;
  ZeqStrView *views[4] = {&parsed->source, &parsed->second, &parsed->charlist, &parsed->delims};
  for (int i = 0; i < 4; i++) {
    if (parsed->bound[i]) {
      views[i]->start = nullptr;
      parsed->bound[i] = 0;
    }
  }
}

ZEQ_EXPORT int32_t hasMultiByte(ZeqStringService *svc, const char *bytes, int64_t length) {
  if (!svc || !svc->multibyte || !bytes || length <= 0) return 0;
  if (svc->encoding_id == ZEQ_ENC_UTF8) {
    for (int64_t i = 0; i < length; i++)
      if (static_cast<unsigned char>(bytes[i]) & 0x80) return 1;
    return 0;
  }
  int64_t n = svc->count(svc, bytes, length, 0);
  return n >= 0 && n < length ? 1 : 0;
}

ZEQ_EXPORT ZeqStringService *CheckVarcharAndMultibyte(FncArgList *args) {
  ZeqSessionEncoding *enc = zeq::session_encoding();
  if (!enc || !enc->multibyte) return nullptr;
  FncArg *g = zeq::arg(args, 0);
  if (!g || !g->value || !(g->type & FNC_ARG_VARCHAR)) return nullptr;
  FncString *s = static_cast<FncString *>(g->value);
  ZeqStringService *svc = zeq::string_service();
  if (!svc) return nullptr;
  if (!s->data || s->length <= 0) return nullptr;
  return hasMultiByte(svc, s->data, s->length) ? svc : nullptr;
}

}  // extern "C"
