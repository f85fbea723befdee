// settings/settings.cc - typed accessors over the host's name/value store.
//
// The store (kernel table 0x128) keeps named values of three types: double,
// signed 64-bit integer and TKChar text.  These accessors read and write one
// value as a given type, fall back to a default whenever the name has no
// value, look a text value up in a table of words, and keep countdowns that
// every caller of the same name shares (the engine's message limits).
//
// Contract common to every accessor:
//  - names are TKChar texts; a length below 1 means the name runs to its
//    terminating zero;
//  - a null name, or a host without a store, answers the default (getters)
//    or 0 (setters) and touches nothing else;
//  - the kernel status "no value" (ZEQ_RC_NV_NOVALUE) is not an error: the
//    default stands and setters answer 0;
//  - any other failing status is written to the journal (when the host has
//    one) as the failure report below, and the default answers;
//  - when OSENV.ZEQ_TKNR_DEBUG has a value, every getter and tknrlset /
//    tknrlimit write one trace line at journal level 1.
#include <cstdarg>
#include <cstdint>

#include "core/frame.h"
#include "core/tktext.h"
#include "settings/settings.h"
#include "strkernel/strkernel.h"

namespace {

using zeq::tk::TKText;

constexpr int64_t kTwo53 = int64_t{1} << 53;

// Journal levels.
constexpr int kLevelTrace = 1;
constexpr int kLevelNote = 2;
constexpr int kLevelError = 4;

// Room of the text reads that tknrlget and tknrlook make (99 characters and
// the terminator).
constexpr int64_t kWordRoom = 100;

constexpr TKText kDebugName{"OSENV.ZEQ_TKNR_DEBUG"};
static_assert(kDebugName.length() == 20);

// Trace formats (TKChar; %hs takes bytes, %s and %.*S take TKChar).
constexpr TKText kTraceBytes{"%hs(%.*S)='%hs'"};
constexpr TKText kTraceText{"%hs(%.*S)='%s'"};
constexpr TKText kTraceDouble{"%hs(%.*S)=%20g"};
constexpr TKText kTraceLong{"%hs(%.*S)=%lli"};
constexpr TKText kTraceStoredText{"%hs(%.*S)='%.*S'"};
constexpr TKText kTraceLookMatch{"%hs(%.*S) '%.*S' == '%.*S' %i"};
constexpr TKText kTraceLookMiss{"%hs(%.*S) '%.*S' != '%.*S' %i"};
constexpr TKText kTraceLookDefault{"%hs(%.*S)=%i '%.*S'"};
constexpr TKText kFailed{"%s failed for %.*S in %hs"};
constexpr TKText kLimitUnreadable{
    "tkNameValueGet failed for %.*S in %hs. The existing value may not be a TKChar string or "
    "ZEQLONG."};
constexpr TKText kLongFormat{"%lli"};
constexpr TKText kOpGet{"tkNameValueGet"};
constexpr TKText kOpSet{"tkNameValueSet"};

// A length handed over as a 32-bit int by a caller that declared it so
// arrives zero-extended; read such values as the int they were.
int64_t as_count(int64_t n) {
  if (n > INT32_MAX && n <= static_cast<int64_t>(UINT32_MAX)) return static_cast<int32_t>(n);
  return n;
}

uint64_t tk_strlen(const TKChar *s) {
  uint64_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

// One accessor call: the resolved name and what the host offers.
struct Access {
  const char *accessor;
  const TKChar *name;
  int64_t len;  // resolved unit count of name
  ZeqNameValueStore *nv;
  ZeqLogger *lg;
  bool trace;

  Access(const char *who, const TKChar *n, int64_t length)
      : accessor(who), name(n), len(0), nv(zeq::nv_store()), lg(zeq::journal()), trace(false) {
    if (name) {
      length = as_count(length);
      len = length < 1 ? static_cast<int64_t>(tk_strlen(name)) : length;
    }
    if (nv && nv->has_value)
      trace = nv->has_value(nv, kDebugName.get(), kDebugName.length()) != 0;
  }

  bool usable() const { return name != nullptr && nv != nullptr; }

  int get(int32_t type, int32_t unit, void *value, int64_t room, int64_t *produced) const {
    *produced = 0;
    if (!nv->get) return ZEQ_RC_NV_NOVALUE;
    return nv->get(nv, name, len, type, unit, value, room, produced);
  }

  int set(int32_t mode, int32_t type, const void *value, int64_t size) const {
    if (!nv->set) return ZEQ_RC_NV_NOVALUE;
    return nv->set(nv, name, len, mode, type, value, size);
  }

  bool has_value() const { return nv->has_value && nv->has_value(nv, name, len) != 0; }

  // Level-1 trace line; the leading arguments are always the accessor's
  // name and the setting's name.
  template <size_t N, typename... A>
  void trace_line(const TKText<N> &format, A... args) const {
    if (trace && lg) tklMessageToJnl(lg, kLevelTrace, format.get(), accessor, static_cast<int>(len), name, args...);
  }

  // Failure report: the line, the kernel status, and the line's own failure.
  void report(const TKChar *operation, int status) const {
    if (!lg) return;
    int rc = tklMessageToJnl(lg, kLevelError, kFailed.get(), operation, static_cast<int>(len), name,
                             accessor);
    tklStatusToJnl(lg, kLevelError, status);
    if (rc != 0) tklStatusToJnl(lg, kLevelError, rc);
  }

  void status(int level, int status) const {
    if (lg) tklStatusToJnl(lg, level, status);
  }
};

// Shared body of tknrcget and tknrtget: `unit` is 1 (bytes) or 4 (TKChar).
int64_t read_text(const Access &a, void *buffer, int64_t size, int unit) {
  size = as_count(size);
  if (!buffer || size < 1) return 0;
  char *bytes = static_cast<char *>(buffer);
  TKChar *units = static_cast<TKChar *>(buffer);
  auto terminate = [&](int64_t at) {
    if (unit == 1) bytes[at] = 0; else units[at] = 0;
  };
  terminate(0);
  if (!a.usable() || size == 1) return 0;

  int64_t room = (size - 1) * unit;
  int64_t produced = 0;
  int rc = a.get(ZEQ_NV_TEXT, unit, buffer, room, &produced);
  int64_t count = 0;
  if (rc == 0) {
    if (produced < 0) produced = 0;
    if (produced > room) produced = room;
    count = produced / unit;
    terminate(count);
    // The length is that of the text up to its first zero.
    for (int64_t i = 0; i < count; ++i) {
      if ((unit == 1 ? static_cast<uint32_t>(bytes[i]) : units[i]) == 0) {
        count = i;
        break;
      }
    }
  } else {
    terminate(0);
    if (rc != ZEQ_RC_NV_NOVALUE) a.report(kOpGet.get(), rc);
  }
  return count;
}

int32_t set_status(int rc) { return rc == ZEQ_RC_NV_NOVALUE ? 0 : rc; }

// tknrtset without its own Access (tknrlook erases through it).
int32_t store_text(const Access &a, const TKChar *text, int64_t text_len) {
  if (!a.usable()) return 0;
  static const TKChar kEmpty[1] = {0};
  int64_t n = 0;
  if (!text) {
    text = kEmpty;
  } else {
    text_len = as_count(text_len);
    n = text_len < 1 ? static_cast<int64_t>(tk_strlen(text)) : text_len;
  }
  int rc = a.set(1, ZEQ_NV_TEXT, text, n * static_cast<int64_t>(sizeof(TKChar)));
  if (rc != 0 && rc != ZEQ_RC_NV_NOVALUE) a.report(kOpSet.get(), rc);
  return set_status(rc);
}

bool is_wrong_type(int rc) { return rc == ZEQ_RC_NV_WRONGTYPE1 || rc == ZEQ_RC_NV_WRONGTYPE2; }

}  // namespace

extern "C" {

ZEQ_EXPORT int64_t tknrcget(const TKChar *name, int64_t name_len, char *buffer, int64_t size) {
  Access a("tknrcget", name, name_len);
  int64_t n = read_text(a, buffer, size, 1);
  if (a.name && buffer && as_count(size) >= 1) a.trace_line(kTraceBytes, static_cast<const char *>(buffer));
  return n;
}

ZEQ_EXPORT int64_t tknrtget(const TKChar *name, int64_t name_len, TKChar *buffer, int64_t size) {
  Access a("tknrtget", name, name_len);
  int64_t n = read_text(a, buffer, size, 4);
  if (a.name && buffer && as_count(size) >= 1) a.trace_line(kTraceText, static_cast<const TKChar *>(buffer));
  return n;
}

ZEQ_EXPORT double tknrdget(const TKChar *name, int64_t name_len, double dflt) {
  Access a("tknrdget", name, name_len);
  if (!a.usable()) return dflt;
  double value = dflt;
  int64_t produced = 0;
  int rc = a.get(ZEQ_NV_DOUBLE, 8, &value, sizeof value, &produced);
  if (rc != 0) {
    value = dflt;
    if (rc != ZEQ_RC_NV_NOVALUE) a.report(kOpGet.get(), rc);
  }
  a.trace_line(kTraceDouble, value);
  return value;
}

ZEQ_EXPORT int64_t tknrlget(const TKChar *name, int64_t name_len, int64_t dflt) {
  Access a("tknrlget", name, name_len);
  if (!a.usable()) return dflt;
  int64_t value = dflt;
  int64_t produced = 0;
  int rc = a.get(ZEQ_NV_INT64, 8, &value, sizeof value, &produced);
  if (is_wrong_type(rc)) {
    // The name holds text (or a double): read it as text and convert it.
    value = dflt;
    TKChar text[kWordRoom];
    int64_t n = tknrtget(a.name, a.len, text, kWordRoom);
    if (a.trace) a.status(kLevelError, rc);
    if (n > 0) {
      int64_t v = tknrstol(text);
      if (v != -kTwo53) {
        value = v;
      } else if (a.lg) {
        tklStatusToJnl(a.lg, kLevelError, ZEQ_RC_NV_NOT_NUMBER, static_cast<int>(n), text,
                       static_cast<int>(a.len), a.name, static_cast<long long>(-kTwo53),
                       static_cast<long long>(kTwo53));
      }
    }
  } else if (rc != 0) {
    value = dflt;
    if (rc != ZEQ_RC_NV_NOVALUE) a.report(kOpGet.get(), rc);
  }
  a.trace_line(kTraceLong, static_cast<long long>(value));
  return value;
}

ZEQ_EXPORT int32_t tknrdset(const TKChar *name, int64_t name_len, double value) {
  Access a("tknrdset", name, name_len);
  if (!a.usable()) return 0;
  int rc = a.set(1, ZEQ_NV_DOUBLE, &value, sizeof value);
  if (rc != 0 && rc != ZEQ_RC_NV_NOVALUE) a.report(kOpSet.get(), rc);
  return set_status(rc);
}

ZEQ_EXPORT int32_t tknrtset(const TKChar *name, int64_t name_len, const TKChar *text, int64_t text_len) {
  Access a("tknrtset", name, name_len);
  return store_text(a, text, text_len);
}

ZEQ_EXPORT int32_t tknrlset(const TKChar *name, int64_t name_len, int64_t value) {
  Access a("tknrlset", name, name_len);
  if (!a.usable()) return 0;
  a.trace_line(kTraceLong, static_cast<long long>(value));
  int rc = a.set(1, ZEQ_NV_INT64, &value, sizeof value);
  if (is_wrong_type(rc)) {
    // The name holds a value of another type: keep the number as text.
    if (a.trace) a.status(kLevelError, rc);
    TKChar text[24] = {};
    if (a.lg) tklMessageToBuf(a.lg, text, 24, kLongFormat.get(), static_cast<long long>(value));
    text[23] = 0;
    if (text[0] == 0) {
      // No journal to format with: write the decimal digits here.
      char digits[24];
      int n = 0;
      uint64_t mag = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
      do { digits[n++] = static_cast<char>('0' + mag % 10); mag /= 10; } while (mag);
      int k = 0;
      if (value < 0) text[k++] = '-';
      while (n) text[k++] = static_cast<unsigned char>(digits[--n]);
      text[k] = 0;
    }
    int64_t n = static_cast<int64_t>(tk_strlen(text));
    a.trace_line(kTraceStoredText, static_cast<int>(n), static_cast<const TKChar *>(text));
    rc = a.set(1, ZEQ_NV_TEXT, text, n * static_cast<int64_t>(sizeof(TKChar)));
  }
  if (rc != 0 && rc != ZEQ_RC_NV_NOVALUE) a.report(kOpSet.get(), rc);
  return set_status(rc);
}

ZEQ_EXPORT int32_t tknrlook(const TKChar *name, int64_t name_len, int32_t dflt, ...) {
  Access a("tknrlook", name, name_len);
  if (!a.usable()) return dflt;

  TKChar text[kWordRoom];
  int64_t n = tknrtget(a.name, a.len, text, kWordRoom);
  n = n > 0 ? tkzstrp(text, n) : 0;
  if (n > 0) tkzstup(text, n);
  if (n <= 0) {
    a.trace_line(kTraceLookDefault, static_cast<int>(dflt), 0, static_cast<const TKChar *>(text));
    return dflt;
  }

  va_list ap;
  va_start(ap, dflt);
  bool found = false;
  int32_t answer = dflt;
  for (;;) {
    const TKChar *word = va_arg(ap, const TKChar *);
    if (!word) break;
    int32_t value = va_arg(ap, int);
    int64_t wlen = static_cast<int64_t>(tk_strlen(word));
    bool same = wlen == n;
    for (int64_t i = 0; same && i < n; ++i) same = word[i] == text[i];
    if (same) {
      a.trace_line(kTraceLookMatch, static_cast<int>(n), static_cast<const TKChar *>(text),
                   static_cast<int>(wlen), word, static_cast<int>(value));
      answer = value;
      found = true;
      break;
    }
    a.trace_line(kTraceLookMiss, static_cast<int>(n), static_cast<const TKChar *>(text),
                 static_cast<int>(wlen), word, static_cast<int>(value));
  }
  va_end(ap);
  if (found) return answer;

  // Unknown word: say so once, erase it, and let the default stand.
  if (a.lg)
    tklStatusToJnl(a.lg, kLevelError, ZEQ_RC_NV_UNKNOWN_WORD, static_cast<int>(n),
                   static_cast<const TKChar *>(text), static_cast<int>(a.len), a.name);
  tknrtset(a.name, a.len, nullptr, 0);
  a.trace_line(kTraceLookDefault, static_cast<int>(dflt), static_cast<int>(n),
               static_cast<const TKChar *>(text));
  return dflt;
}

ZEQ_EXPORT int64_t tknrlimit(const TKChar *name, int64_t name_len, int64_t dflt) {
  Access a("tknrlimit", name, name_len);
  if (!a.usable()) return dflt;
  int64_t next;
  if (a.has_value()) {
    int64_t v = tknrlget(a.name, a.len, -666);
    if (v == -666) {
      if (a.trace && a.lg)
        tklMessageToJnl(a.lg, kLevelError, kLimitUnreadable.get(), static_cast<int>(a.len), a.name,
                        a.accessor);
      v = 100;
    }
    if (v == 1 && a.lg)
      tklStatusToJnl(a.lg, kLevelNote, ZEQ_RC_NV_LIMIT, static_cast<int>(a.len), a.name);
    next = v >= 0 ? v - 1 : -1;
  } else {
    next = dflt;
  }
  int rc = tknrlset(a.name, a.len, next);
  if (rc != 0) a.status(kLevelError, rc);
  a.trace_line(kTraceLong, static_cast<long long>(next));
  return next;
}

ZEQ_EXPORT int64_t tknrstol(const TKChar *text) {
  const double two53 = 9007199254740992.0;
  if (!text) return -kTwo53;
  const TKChar *p = text;
  while (*p == ' ') ++p;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return -kTwo53;
  double v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + static_cast<double>(*p - '0');
    if (v > two53) return negative ? -kTwo53 : kTwo53;
  }
  if (*p == '.') {
    ++p;
    while (*p == '0') ++p;
  }
  while (*p == ' ') ++p;
  if (*p != 0) return -kTwo53;
  int64_t r = static_cast<int64_t>(v);
  return negative ? -r : r;
}

}  // extern "C"
