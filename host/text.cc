// host/text.cc - the session encoding record, the national-language service
// (transcoders between the session encoding and TKChar, on ICU converters)
// and the session string service of the multibyte route.
//
// String service contract (zeq/host.h ZeqStringService):
//   - UTF-8 session: encoding 20, multibyte.  A byte sequence that is not
//     well-formed UTF-8 (stray continuation byte, overlong form, surrogate,
//     above U+10FFFF, cut short by the end) is one character of one byte,
//     read as U+FFFD, so counting and moving never stall and never read past
//     the view.
//   - Latin-1 session: encoding 1, single byte; a byte is the code point.
//   - wide 1: the view holds TKChar units, one character each.
//   - Case mapping is ICU's simple (one to one) mapping.
//   - Classes (ZEQ_SC_*), from ICU properties: UPPER Uppercase, LOWER
//     Lowercase, DIGIT general category Nd, SPACE White_Space, PUNCT the P*
//     categories, BLANK Zs, CONTROL Cc and Cf, XDIGIT 0-9 A-F a-f (also fullwidth), ALPHA
//     Alphabetic without case, GRAPH every other graphic character (symbols,
//     marks, other numbers, private use).
//   - encode: a code point that the session encoding cannot hold is written as
//     the converter's substitution (U+FFFD in UTF-8, byte 0x1A in Latin-1).
#include <unicode/ucnv.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/internal.h"

namespace zeqhost {

// ---------------------------------------------------------------------------
// UTF-8 helpers.
// ---------------------------------------------------------------------------
void append_utf8(std::string &out, uint32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    out += (char)c;
  } else if (c < 0x800) {
    out += (char)(0xC0 | (c >> 6));
    out += (char)(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += (char)(0xE0 | (c >> 12));
    out += (char)(0x80 | ((c >> 6) & 0x3F));
    out += (char)(0x80 | (c & 0x3F));
  } else {
    out += (char)(0xF0 | (c >> 18));
    out += (char)(0x80 | ((c >> 12) & 0x3F));
    out += (char)(0x80 | ((c >> 6) & 0x3F));
    out += (char)(0x80 | (c & 0x3F));
  }
}

namespace {

// Decodes one character at p (n bytes available, n >= 1).  *len receives the
// bytes it takes; an ill-formed sequence takes one byte and reads U+FFFD.
uint32_t decode_utf8(const uint8_t *p, int64_t n, int *len) {
  uint8_t b = p[0];
  *len = 1;
  if (b < 0x80) return b;
  int need;
  uint32_t c, min;
  if (b >= 0xC2 && b <= 0xDF) { need = 1; c = b & 0x1F; min = 0x80; }
  else if (b >= 0xE0 && b <= 0xEF) { need = 2; c = b & 0x0F; min = 0x800; }
  else if (b >= 0xF0 && b <= 0xF4) { need = 3; c = b & 0x07; min = 0x10000; }
  else return 0xFFFD;
  if (n < need + 1) return 0xFFFD;
  for (int i = 1; i <= need; i++) {
    if ((p[i] & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (p[i] & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
  *len = need + 1;
  return c;
}

}  // namespace

std::string utf8_of(const std::u32string &s) {
  std::string out;
  for (char32_t c : s) append_utf8(out, (uint32_t)c);
  return out;
}

std::u32string u32_of_utf8(const std::string &s) {
  std::u32string out;
  const uint8_t *p = (const uint8_t *)s.data();
  int64_t n = (int64_t)s.size(), i = 0;
  while (i < n) {
    int len;
    out += (char32_t)decode_utf8(p + i, n - i, &len);
    i += len;
  }
  return out;
}

std::string bytes_to_utf8(const char *p, size_t n) {
  const uint8_t *b = (const uint8_t *)p;
  bool valid = true;
  for (size_t i = 0; i < n && valid;) {
    int len;
    uint32_t c = decode_utf8(b + i, (int64_t)(n - i), &len);
    if (c == 0xFFFD && !(len == 3 && b[i] == 0xEF)) valid = false;
    i += (size_t)len;
  }
  if (valid) return std::string(p, n);
  std::string out;
  for (size_t i = 0; i < n; i++) append_utf8(out, b[i]);
  return out;
}

std::string to_utf8(const TKChar *text, int64_t count) {
  std::string out;
  if (!text) return out;
  if (count < 0) {
    count = 0;
    while (text[count]) count++;
  }
  for (int64_t i = 0; i < count; i++) append_utf8(out, text[i]);
  return out;
}

std::vector<TKChar> to_tkchar(const std::string &utf8) {
  std::u32string s = u32_of_utf8(utf8);
  return std::vector<TKChar>(s.begin(), s.end());
}

// ---------------------------------------------------------------------------
// Reading memory of unknown validity (journal arguments): the kernel copies,
// so a bad address gives EFAULT instead of a crash.
// ---------------------------------------------------------------------------
bool plausible_pointer(uint64_t p) { return p >= 0x10000 && p < 0x800000000000ull; }

size_t safe_read(void *dst, const void *src, size_t n) {
  if (!n) return 0;
  if (!plausible_pointer((uint64_t)(uintptr_t)src)) return 0;
  struct iovec local = {dst, n};
  struct iovec remote = {const_cast<void *>(src), n};
  ssize_t r = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
  if (r >= 0) return (size_t)r;
  if (errno == ENOSYS || errno == EPERM) {  // no such call here: trust the caller
    std::memcpy(dst, src, n);
    return n;
  }
  // A partial page at the end: read byte by byte up to the fault.
  size_t got = 0;
  for (; got < n; got++) {
    struct iovec l1 = {(char *)dst + got, 1};
    struct iovec r1 = {(char *)src + got, 1};
    if (process_vm_readv(getpid(), &l1, 1, &r1, 1, 0) != 1) break;
  }
  return got;
}

bool safe_cstr(const char *p, size_t max, std::string &out) {
  out.clear();
  if (!plausible_pointer((uint64_t)(uintptr_t)p)) return false;
  char chunk[256];
  while (out.size() < max) {
    size_t want = std::min(sizeof chunk, max - out.size());
    // Stay within the page so a valid text near a page end is still read.
    size_t to_page = 4096 - ((uintptr_t)(p + out.size()) & 4095);
    if (want > to_page) want = to_page;
    size_t got = safe_read(chunk, p + out.size(), want);
    if (!got) return !out.empty() || false;
    for (size_t i = 0; i < got; i++) {
      if (!chunk[i]) return true;
      out += chunk[i];
    }
    if (got < want) return true;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Transcoders (national-language service).
// ---------------------------------------------------------------------------
Transcoder::~Transcoder() {
  if (conv) ucnv_close(static_cast<UConverter *>(conv));
}

namespace {

const char *converter_name(int32_t encoding_id) {
  switch (encoding_id) {
    case ZEQ_ENC_LATIN1: return "ISO-8859-1";
    case ZEQ_ENC_UTF8: return "UTF-8";
    default: return nullptr;
  }
}

// Session bytes -> TKChar units.  Ill-formed input reads U+FFFD; output that
// does not fit stops at a character boundary with ZEQ_RC_UTF8_NOROOM.
int32_t convert_to_tkchar(Transcoder *t, const void *in, int64_t in_bytes, void *out,
                          int64_t out_room, int64_t *produced) {
  std::vector<UChar> u16((size_t)in_bytes + 1);
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(static_cast<UConverter *>(t->conv), u16.data(), (int32_t)u16.size(), (const char *)in,
                            (int32_t)in_bytes, &err);
  if (U_FAILURE(err)) return kStatusBadRequest;
  int64_t room = out_room / 4, w = 0;
  TKChar *o = (TKChar *)out;
  for (int32_t i = 0; i < n;) {
    UChar32 c;
    U16_NEXT(u16.data(), i, n, c);
    if (w >= room) {
      *produced = w * 4;
      return ZEQ_RC_UTF8_NOROOM;
    }
    o[w++] = (TKChar)c;
  }
  *produced = w * 4;
  return 0;
}

// TKChar units -> session bytes, one character at a time so that output that
// does not fit stops at a character boundary.
int32_t convert_from_tkchar(Transcoder *t, const void *in, int64_t in_bytes, void *out,
                            int64_t out_room, int64_t *produced) {
  const TKChar *p = (const TKChar *)in;
  int64_t units = in_bytes / 4, w = 0;
  char *o = (char *)out;
  for (int64_t i = 0; i < units; i++) {
    TKChar c = p[i];
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    UChar u16[2];
    int32_t ulen = 0;
    U16_APPEND_UNSAFE(u16, ulen, c);
    char buf[8];
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = ucnv_fromUChars(static_cast<UConverter *>(t->conv), buf, sizeof buf, u16, ulen, &err);
    if (U_FAILURE(err) || n <= 0) continue;
    if (w + n > out_room) {
      *produced = w;
      return ZEQ_RC_UTF8_NOROOM;
    }
    std::memcpy(o + w, buf, (size_t)n);
    w += n;
  }
  *produced = w;
  return 0;
}

int32_t transcoder_convert(ZeqTranscoder *tc, const void *in, int64_t in_bytes, void *out,
                           int64_t out_room, int64_t *produced) {
  int64_t dummy;
  if (!produced) produced = &dummy;
  *produced = 0;
  if (!tc) return kStatusBadRequest;
  Transcoder *t = reinterpret_cast<Transcoder *>(tc);
  std::lock_guard<std::mutex> lock(t->mu);
  if (t->closed || !t->conv) return kStatusBadRequest;
  if (in_bytes <= 0) return 0;
  if (!in || (!out && out_room > 0) || in_bytes > (int64_t(1) << 30)) return kStatusBadRequest;
  if (out_room < 0) out_room = 0;
  return t->direction == ZEQ_NLS_TO_TKCHAR
             ? convert_to_tkchar(t, in, in_bytes, out, out_room, produced)
             : convert_from_tkchar(t, in, in_bytes, out, out_room, produced);
}

// Closing releases the converter; the record itself lives as long as the host
// so that a second close, or a late call, meets a closed record, not freed
// memory.  The session's own transcoders stay open until the host goes.
void transcoder_close(ZeqTranscoder *tc) {
  if (!tc) return;
  Transcoder *t = reinterpret_cast<Transcoder *>(tc);
  std::lock_guard<std::mutex> lock(t->mu);
  if (t->session) return;
  if (t->conv) ucnv_close(static_cast<UConverter *>(t->conv));
  t->conv = nullptr;
  t->closed = true;
}

ZeqTranscoder *open_transcoder(HostState &h, int32_t encoding_id, int32_t direction) {
  const char *name = converter_name(encoding_id);
  if (!name || (direction != ZEQ_NLS_TO_TKCHAR && direction != ZEQ_NLS_FROM_TKCHAR)) return nullptr;
  UErrorCode err = U_ZERO_ERROR;
  UConverter *conv = ucnv_open(name, &err);
  if (U_FAILURE(err) || !conv) return nullptr;
  auto t = std::make_unique<Transcoder>();
  t->rec.convert = transcoder_convert;
  t->rec.close = transcoder_close;
  t->conv = conv;
  t->direction = direction;
  ZeqTranscoder *rec = &t->rec;
  std::lock_guard<std::mutex> lock(h.nls_mu);
  h.transcoders.push_back(std::move(t));
  return rec;
}

ZeqTranscoder *nls_open(ZeqNls *, int32_t encoding_id, int32_t direction) {
  if (!g_state) return nullptr;
  return open_transcoder(*g_state, encoding_id, direction);
}

// ---------------------------------------------------------------------------
// The string service.
// ---------------------------------------------------------------------------
constexpr int32_t kServiceBadArgument = -1;

bool utf8_mode(const ZeqStringService *s) { return s && s->encoding_id == ZEQ_ENC_UTF8; }

// Decodes the character at byte offset pos of a view (wide 0); *len its size.
uint32_t char_at(const ZeqStringService *s, const ZeqStrView *v, int64_t pos, int *len) {
  const uint8_t *p = (const uint8_t *)v->start + pos;
  if (utf8_mode(s)) return decode_utf8(p, v->length - pos, len);
  *len = 1;
  return p[0];
}

// Offset of the character before pos (pos > 0): the longest well-formed
// sequence that ends exactly at pos, else the single byte before it.  Forward
// reading stops at every lead byte, so this agrees with it.
int64_t prev_offset(const ZeqStringService *s, const ZeqStrView *v, int64_t pos) {
  if (!utf8_mode(s)) return pos - 1;
  const uint8_t *b = (const uint8_t *)v->start;
  for (int back = 4; back >= 2; back--) {
    if (pos - back < 0) continue;
    int len;
    decode_utf8(b + pos - back, v->length - (pos - back), &len);
    if (len == back) return pos - back;
  }
  return pos - 1;
}

bool view_ok(const ZeqStrView *v) {
  return v && v->length >= 0 && (v->start || v->length == 0) && v->pos >= 0 && v->pos <= v->length;
}

int32_t ss_bind(ZeqStringService *, ZeqStrView *v, const void *data, int64_t units, int32_t wide) {
  if (!v) return kServiceBadArgument;
  if (units < 0 || (!data && units > 0)) units = 0;
  v->start = data;
  v->length = units;
  v->pos = 0;
  v->end = data ? (const uint8_t *)data + units * (wide ? 4 : 1) : nullptr;
  return 0;
}

int64_t ss_count(ZeqStringService *s, const void *data, int64_t units, int32_t wide) {
  if (units < 0 || (!data && units > 0)) return kServiceBadArgument;
  if (wide || !utf8_mode(s)) return units;
  const uint8_t *p = (const uint8_t *)data;
  int64_t n = 0;
  for (int64_t i = 0; i < units; n++) {
    int len;
    decode_utf8(p + i, units - i, &len);
    i += len;
  }
  return n;
}

int32_t ss_read(ZeqStringService *s, const ZeqStrView *v, int32_t wide) {
  if (!view_ok(v) || v->pos >= v->length) return -1;
  if (wide) return (int32_t)((const TKChar *)v->start)[v->pos];
  int len;
  return (int32_t)char_at(s, v, v->pos, &len);
}

int64_t ss_move(ZeqStringService *s, ZeqStrView *v, int64_t n, int32_t wide) {
  if (!view_ok(v)) return ZEQ_SS_OUT_OF_RANGE;
  int64_t pos = v->pos;
  if (wide || !utf8_mode(s)) {
    if ((n > 0 && n > v->length - pos) || (n < 0 && -n > pos)) return ZEQ_SS_OUT_OF_RANGE;
    v->pos = pos + n;
    return 0;
  }
  for (int64_t i = 0; i < n; i++) {
    if (pos >= v->length) return ZEQ_SS_OUT_OF_RANGE;
    int len;
    char_at(s, v, pos, &len);
    pos += len;
  }
  for (int64_t i = 0; i > n; i--) {
    if (pos <= 0) return ZEQ_SS_OUT_OF_RANGE;
    pos = prev_offset(s, v, pos);
  }
  v->pos = pos;
  return 0;
}

int64_t ss_seek(ZeqStringService *s, ZeqStrView *v, int64_t i, int32_t wide) {
  if (!view_ok(v) || i < 0) return ZEQ_SS_OUT_OF_RANGE;
  int64_t saved = v->pos;
  v->pos = 0;
  if (ss_move(s, v, i, wide) != 0) {
    v->pos = saved;
    return ZEQ_SS_OUT_OF_RANGE;
  }
  return 0;
}

TKChar ss_upper(ZeqStringService *s, TKChar c) {
  if (c > 0x10FFFF) return c;
  UChar32 u = u_toupper((UChar32)c);
  if (!utf8_mode(s) && c <= 0xFF && u > 0xFF) return c;  // stays within Latin-1
  return (TKChar)u;
}

TKChar ss_lower(ZeqStringService *s, TKChar c) {
  if (c > 0x10FFFF) return c;
  UChar32 l = u_tolower((UChar32)c);
  if (!utf8_mode(s) && c <= 0xFF && l > 0xFF) return c;
  return (TKChar)l;
}

}  // namespace

// Class bits (ZEQ_SC_*) of one code point.
uint32_t service_class_bits(TKChar c) {
  if (c > 0x10FFFF) return 0;
  UChar32 u = (UChar32)c;
  uint32_t bits = 0;
  int8_t type = u_charType(u);
  if (u_isUUppercase(u)) bits |= ZEQ_SC_UPPER;
  if (u_isULowercase(u)) bits |= ZEQ_SC_LOWER;
  if (type == U_DECIMAL_DIGIT_NUMBER) bits |= ZEQ_SC_DIGIT;
  if (u_isUWhiteSpace(u)) bits |= ZEQ_SC_SPACE;
  switch (type) {
    case U_CONNECTOR_PUNCTUATION: case U_DASH_PUNCTUATION: case U_START_PUNCTUATION:
    case U_END_PUNCTUATION: case U_INITIAL_PUNCTUATION: case U_FINAL_PUNCTUATION:
    case U_OTHER_PUNCTUATION:
      bits |= ZEQ_SC_PUNCT;
      break;
    default:
      break;
  }
  if (type == U_SPACE_SEPARATOR) bits |= ZEQ_SC_BLANK;
  if (type == U_CONTROL_CHAR || type == U_FORMAT_CHAR) bits |= ZEQ_SC_CONTROL;
  // Hexadecimal digits: 0-9, A-F, a-f and their fullwidth forms (ICU's
  // u_isxdigit would also take every other decimal digit).
  if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f') ||
      (u >= 0xFF10 && u <= 0xFF19) || (u >= 0xFF21 && u <= 0xFF26) || (u >= 0xFF41 && u <= 0xFF46))
    bits |= ZEQ_SC_XDIGIT;
  if (!(bits & (ZEQ_SC_UPPER | ZEQ_SC_LOWER)) && u_isUAlphabetic(u)) bits |= ZEQ_SC_ALPHA;
  if (u_isgraph(u) &&
      !(bits & (ZEQ_SC_UPPER | ZEQ_SC_LOWER | ZEQ_SC_DIGIT | ZEQ_SC_PUNCT | ZEQ_SC_ALPHA)))
    bits |= ZEQ_SC_GRAPH;
  return bits;
}

namespace {

int32_t ss_is_class(ZeqStringService *, TKChar c, int32_t code) {
  return (service_class_bits(c) & (uint32_t)code) != 0;
}

// Reads the next character of a local position, or a blank past the end.
TKChar next_or_blank(const ZeqStringService *s, const ZeqStrView *v, int64_t &pos, int32_t wide) {
  if (pos >= v->length) return 0x20;
  if (wide) return ((const TKChar *)v->start)[pos++];
  int len;
  TKChar c = char_at(s, v, pos, &len);
  pos += len;
  return c;
}

int64_t ss_compare(ZeqStringService *s, const ZeqStrView *a, const ZeqStrView *b, int64_t k,
                   int32_t flags, int32_t wide) {
  if (!view_ok(a) || !view_ok(b) || k <= 0) return 0;
  int64_t pa = a->pos, pb = b->pos;
  for (int64_t i = 1; i <= k; i++) {
    if (pa >= a->length && pb >= b->length) return 0;  // only padding remains
    TKChar ca = next_or_blank(s, a, pa, wide), cb = next_or_blank(s, b, pb, wide);
    if (flags & ZEQ_SS_IGNORE_CASE) {
      ca = ss_upper(s, ca);
      cb = ss_upper(s, cb);
    }
    if (ca != cb) return ca < cb ? -i : i;
  }
  return 0;
}

int32_t ss_encode(ZeqStringService *s, TKChar c, void *out, int32_t wide) {
  if (!out) return 0;
  if (wide) {
    *(TKChar *)out = c;
    return 1;
  }
  uint8_t *o = (uint8_t *)out;
  if (!utf8_mode(s)) {
    o[0] = c <= 0xFF ? (uint8_t)c : 0x1A;
    return 1;
  }
  std::string tmp;
  append_utf8(tmp, c);
  std::memcpy(o, tmp.data(), tmp.size());
  return (int32_t)tmp.size();
}

// Every name gets the session's service (a call reads it under a SessionHold).
ZeqStringService *service_factory(const TKChar *, void *) { return g_state ? &g_state->service : nullptr; }

}  // namespace

void build_session(HostState &h) {
  h.service.bind = ss_bind;
  h.service.count = ss_count;
  h.service.read = ss_read;
  h.service.move = ss_move;
  h.service.seek = ss_seek;
  h.service.upper = ss_upper;
  h.service.lower = ss_lower;
  h.service.is_class = ss_is_class;
  h.service.compare = ss_compare;
  h.service.encode = ss_encode;
  h.nls.open = nls_open;
  h.encoding.locale_handle = &h.locale;
  build_tables(h);
  for (int e = 0; e < 2; e++)
    for (int d = 0; d < 2; d++) {
      ZeqTranscoder *tc = open_transcoder(h, e ? ZEQ_ENC_UTF8 : ZEQ_ENC_LATIN1,
                                          d ? ZEQ_NLS_FROM_TKCHAR : ZEQ_NLS_TO_TKCHAR);
      if (tc) reinterpret_cast<Transcoder *>(tc)->session = true;
      h.session_tc[e][d] = tc;
    }
  switch_session(h, h.options.utf8);
  h.kernel.string_service = service_factory;
  h.kernel.nls = &h.nls;
  h.kernel.encoding = h.options.encoding ? &h.encoding : nullptr;
}

}  // namespace zeqhost
