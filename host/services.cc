// host/services.cc - the service vectors of the control block and the host
// services behind them.
//
// Vector V entry S is reached by the module's forwarder V/S with its own
// arguments unchanged (zeq/abi.h, /work/shared/host-abi.md gives each
// signature).  Entries the module does not use lead to a stub that logs
// "host service V/S is not available" (the forwarder leaves V*2^32+S in r10)
// and answers 0.
//
// Choices made here:
//   zfmt, format code 99: best fit of the value in the width, right-aligned
//     (best_fit below); another code answers kStatusBadRequest and produces
//     nothing.
//   xpsstr: writes at most `size` bytes and a terminating zero only when it
//     fits, so "%20lld" into 20 bytes gives all 20 characters; answers the
//     bytes written.
//   xyrcgef: copies at most *length bytes, sets *length to the bytes copied,
//     adds a zero when room is left; an unknown option answers kStatusNoOption.
//   xyrngef: "YEARCUTOFF" (case-blind) stores the value as a double.
//   wzsx8ac / wzsxoff: the multibyte name tests, see host.h.
#include <sys/uio.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/internal.h"

extern "C" __attribute__((visibility("hidden"))) int64_t zeqhost_missing_service(uint64_t vs) noexcept;

// The forwarder leaves V*2^32+S in r10: hand it to the C handler.
asm(R"(
  .text
  .globl zeqhost_missing_service_entry
  .hidden zeqhost_missing_service_entry
  .type zeqhost_missing_service_entry,@function
zeqhost_missing_service_entry:
  mov %r10, %rdi
  jmp zeqhost_missing_service
  .size zeqhost_missing_service_entry, .-zeqhost_missing_service_entry
)");
extern "C" __attribute__((visibility("hidden"))) void zeqhost_missing_service_entry();

extern "C" int64_t zeqhost_missing_service(uint64_t vs) noexcept {
  using namespace zeqhost;
  if (!g_state) return 0;
  char buf[96];
  std::snprintf(buf, sizeof buf, "The host service %u/%u is not available.", (unsigned)(vs >> 32),
                (unsigned)(vs & 0xFFFFFFFFu));
  LogEntry e;
  e.kind = LogEntry::Formatted;
  e.level = 4;
  e.text = level_word(4) + buf;
  g_state->add_log(std::move(e));
  return 0;
}

namespace zeqhost {

void HostState::record_call(const char *name, std::vector<int64_t> args) {
  if (!options.keep_log) return;  // a long-running front end reads no record of them
  std::lock_guard<std::mutex> lock(calls_mu);
  if (calls.size() >= 20000) return;  // a bound for long loops
  calls.push_back(ServiceCall{name, std::move(args)});
}

// ---------------------------------------------------------------------------
// Number formatting: best fit.
// ---------------------------------------------------------------------------
namespace {

// The significant digits (sig of them) and decimal exponent of a > 0.
void digits_of(double a, int sig, std::string &digits, int &exp10) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", sig - 1, a);
  digits.clear();
  const char *p = buf;
  for (; *p && *p != 'e'; p++)
    if (*p >= '0' && *p <= '9') digits += *p;
  exp10 = *p == 'e' ? std::atoi(p + 1) : 0;
}

std::string strip_fraction(std::string s) {
  if (s.find('.') == std::string::npos) return s;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

std::string fixed_text(const std::string &d, int e) {
  std::string s;
  if (e >= 0) {
    for (int i = 0; i <= e; i++) s += i < (int)d.size() ? d[(size_t)i] : '0';
    if ((int)d.size() > e + 1) s += "." + d.substr((size_t)e + 1);
  } else {
    s = "0.";
    s.append((size_t)(-e - 1), '0');
    s += d;
  }
  return strip_fraction(s);
}

std::string sci_text(const std::string &d, int e) {
  std::string m = d.substr(0, 1);
  if (d.size() > 1) m = strip_fraction(m + "." + d.substr(1));
  return m + "E" + std::to_string(e);
}

}  // namespace

// Best fit of x in `width` characters (1 to 32), right-aligned:
//   - a missing value (NaN) is "." and an infinity is "*" filled;
//   - a whole number below 1e16 is written exactly, without decimals;
//   - otherwise fixed notation when the magnitude is 1e-5 or more and the
//     integer part fits, with as many significant digits as fit (at most 15),
//     trailing zeros of the fraction dropped;
//   - otherwise scientific notation (1.5E-7, 1E40) with as many digits as fit;
//   - a value that fits in neither is "*" filled.
std::string best_fit(double x, int width) {
  if (width <= 0) return "";
  if (width > 32) width = 32;
  std::string body;
  if (std::isnan(x)) {
    body = ".";
  } else if (std::isinf(x)) {
    return std::string((size_t)width, '*');
  } else if (x == 0) {
    body = "0";
  } else {
    bool neg = x < 0;
    double a = std::fabs(x);
    int room = width - (neg ? 1 : 0);
    std::string s;
    if (a == std::floor(a) && a < 1e16) {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.0f", a);
      if ((int)std::strlen(buf) <= room) s = buf;
    }
    std::string d;
    int e;
    digits_of(a, 15, d, e);
    if (s.empty() && e >= -5 && e < room) {
      for (int sig = 15; sig >= 1 && s.empty(); sig--) {
        digits_of(a, sig, d, e);
        std::string t = fixed_text(d, e);
        if ((int)t.size() <= room && t != "0") s = t;
      }
    }
    for (int sig = 15; sig >= 1 && s.empty(); sig--) {
      digits_of(a, sig, d, e);
      std::string t = sci_text(d, e);
      if ((int)t.size() <= room) s = t;
    }
    if (s.empty()) return std::string((size_t)width, '*');
    body = (neg ? "-" : "") + s;
  }
  return std::string((size_t)width - body.size(), ' ') + body;
}

namespace {

HostState *H() { return g_state; }

// ---------------------------------------------------------------------------
// Messages.
// ---------------------------------------------------------------------------
int svc_xpmlog(int set, int number, ...) {
  if (!H()) return 0;
  LogEntry e;
  e.kind = LogEntry::Catalogue;
  e.set = set;
  e.number = number;
  if (set == FNC_MSG_SET) {
    va_list ap;
    va_start(ap, number);
    std::string word;
    std::string text = render_catalogue(number, ap, &e.args, &word);
    va_end(ap);
    e.text = word + ": " + text;
  } else {
    e.text = "NOTE: Message " + std::to_string(number) + " of set " + std::to_string(set) + ".";
  }
  H()->add_log(std::move(e));
  return 0;
}

int svc_xpslog(const char *format, ...) {
  if (!H() || !format) return 0;
  LogEntry e;
  e.kind = LogEntry::Formatted;
  const char *f = format;
  if (f[0] == '%' && f[1] >= '0' && f[1] <= '9' && f[2] == 'z') {
    e.level = f[1] - '0';
    f += 3;
  }
  va_list ap;
  va_start(ap, format);
  std::string body = format_printf(u32_of_utf8(f), false, ap, &e.args);
  va_end(ap);
  e.text = level_word(e.level) + body;
  H()->add_log(std::move(e));
  return 0;
}

int svc_xpsstr(char *buffer, int size, const char *format, ...) {
  if (!buffer || size <= 0 || !format) return 0;
  va_list ap;
  va_start(ap, format);
  char tmp[1024];
  int n = std::vsnprintf(tmp, sizeof tmp, format, ap);
  va_end(ap);
  if (n < 0) return 0;
  if (n > (int)sizeof tmp - 1) n = (int)sizeof tmp - 1;
  int w = n < size ? n : size;
  std::memcpy(buffer, tmp, (size_t)w);
  if (w < size) buffer[w] = 0;
  return w;
}

// ---------------------------------------------------------------------------
// Formatting and conversion services.
// ---------------------------------------------------------------------------
int svc_zfmt(void *request) {
  ZeqFmtRequest *r = static_cast<ZeqFmtRequest *>(request);
  if (!r || !r->out) return kStatusBadRequest;
  if (r->code != 99 || !r->value || r->value_size != 8) {
    r->width = 0;
    return kStatusBadRequest;
  }
  int width = r->width > 32 ? 32 : r->width;
  std::string s = best_fit(*r->value, width);
  std::memcpy(r->out, s.data(), s.size());
  r->out[s.size()] = 0;
  r->width = (int32_t)s.size();
  return 0;
}

int svc_wzfmhc(const void *data, int length, int digits, int flag, char *dest) {
  static const char kHex[] = "0123456789ABCDEF";
  if (!data || !dest || length <= 0 || digits <= 0) return 0;
  if (digits > 2 * length) digits = 2 * length;
  const uint8_t *b = static_cast<const uint8_t *>(data);
  for (int i = 0; i < digits; i++) dest[i] = kHex[(i & 1) ? (b[i / 2] & 15) : (b[i / 2] >> 4)];
  return digits;
}

// Reads a decimal number (blanks, sign, digits, point, exponent) at the
// start of the text.  Answers 0 with the number, else kStatusBadRequest.
int svc_wzrlchr(const char *text, int length, int, int *consumed, double *value) {
  if (consumed) *consumed = 0;
  if (!text || length <= 0) return kStatusBadRequest;
  std::string s(text, (size_t)(length > 256 ? 256 : length));
  size_t nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
  const char *p = s.c_str();
  char *end = nullptr;
  double v = std::strtod(p, &end);
  if (end == p) return kStatusBadRequest;
  // Hexadecimal, infinities and NaN are not numbers of this service.
  for (const char *q = p; q < end; q++)
    if (*q == 'x' || *q == 'X' || *q == 'n' || *q == 'N' || *q == 'i' || *q == 'I') return kStatusBadRequest;
  if (consumed) *consumed = (int)(end - p);
  if (value) *value = v;
  return 0;
}

// ---------------------------------------------------------------------------
// Task, options, version.
// ---------------------------------------------------------------------------
TaskBox *box_of(FncTask *task) {
  if (!H()) return nullptr;
  std::lock_guard<std::mutex> lock(H()->tasks_mu);  // other threads make and free tasks
  for (auto &t : H()->tasks)
    if (&t->rec == task) return t.get();
  return nullptr;
}

int svc_wtrsset(void *task, int slot, void *value) {
  FncTask *t = static_cast<FncTask *>(task);
  if (!t || !t->slots || slot < 0) return kStatusBadRequest;
  TaskBox *box = box_of(t);
  size_t limit = box ? box->slots.size() : 64;
  if ((size_t)slot >= limit) return kStatusBadRequest;
  t->slots[slot] = value;
  return 0;
}

[[noreturn]] void svc_xexit(int code, int) {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "ERROR: fatal exit %d\n", code);
  if (n > 0) (void)!write(2, buf, (size_t)n);
  _exit(code & 0xFF);
}

int svc_xyrngef(const char *name, int length, int, int, int, void *out, int, void *) {
  if (!H()) return kStatusNoOption;
  if (!name) return kStatusNoOption;
  size_t n = length > 0 ? (size_t)length : std::strlen(name);
  std::string word(name, n);
  while (!word.empty() && word.back() == ' ') word.pop_back();
  for (char &c : word) c = (char)std::toupper((unsigned char)c);
  if (word != "YEARCUTOFF") return kStatusNoOption;
  auto f = H()->option_fail.find(kOptionYearCutoff);
  if (f != H()->option_fail.end() && f->second != 0) return f->second;
  if (out) std::memcpy(out, &H()->yearcutoff, sizeof(double));
  return 0;
}

int svc_xyrcgef(int, int option, int, int, int, char *buffer, int *length, int, void *) {
  if (!H()) return kStatusNoOption;
  int room = length ? *length : 0;
  if (length) *length = 0;
  auto f = H()->option_fail.find(option);
  if (f != H()->option_fail.end() && f->second != 0) return f->second;
  auto it = H()->option_text.find(option);
  if (it == H()->option_text.end()) return kStatusNoOption;
  if (!length || (!buffer && room > 0)) return kStatusBadRequest;
  int n = (int)std::min<size_t>(it->second.size(), room > 0 ? (size_t)room : 0);
  if (n > 0) std::memcpy(buffer, it->second.data(), (size_t)n);
  if (n < room) buffer[n] = 0;
  *length = n;
  return 0;
}

int svc_zzeqver(char version[8]) {
  if (!H() || !version) return kStatusBadRequest;
  std::string v = H()->version;
  v.resize(8, ' ');
  std::memcpy(version, v.data(), 8);
  return 0;
}

// ---------------------------------------------------------------------------
// Memory.
// ---------------------------------------------------------------------------
void *svc_xmrealc(void *pool, void *block, long long old_size, long long new_size, int) {
  ZeqPool *p = static_cast<ZeqPool *>(pool);
  if (!p || !p->alloc || new_size < 0) return nullptr;
  void *nb = p->alloc(p, (uint64_t)new_size, ZEQ_FLAGS_ZERO);
  if (!nb) return nullptr;  // the old block stays as it was
  if (block) {
    long long keep = old_size < new_size ? old_size : new_size;
    if (keep > 0) std::memcpy(nb, block, (size_t)keep);
    if (p->release) p->release(p, block);
  }
  return nb;
}

// ---------------------------------------------------------------------------
// Macro variables.
// ---------------------------------------------------------------------------
void *svc_xalanch(void *) { return H() ? static_cast<void *>(&H()->macros) : nullptr; }

int svc_xjsympc(void *, const char *name, int name_length, const char *value, int value_length, int scope,
                int) {
  if (!H() || !name || name_length <= 0 || value_length < 0 || (!value && value_length > 0))
    return kStatusBadRequest;
  std::string n(name, (size_t)name_length);
  while (!n.empty() && n.back() == ' ') n.pop_back();
  for (char &c : n) c = (char)std::toupper((unsigned char)c);
  H()->macros[n] = {std::string(value ? value : "", (size_t)value_length), scope};
  return 0;
}

int svc_xjundls(void *, char *text, void *value) {
  if (!H() || !H()->unquote_hook || !text) return 0;
  return H()->unquote_hook(text, static_cast<FncString *>(value));
}

// ---------------------------------------------------------------------------
// Recording services.
// ---------------------------------------------------------------------------
int svc_xprrlog(int status) {
  if (H()) H()->record_call("xprrlog", {status});
  return 0;
}
int svc_xpselec(int a, int b) {
  if (H()) H()->record_call("xpselec", {a, b});
  return 0;
}
int svc_xpopset(int a, int b, int c) {
  if (H()) H()->record_call("xpopset", {a, b, c});
  return 0;
}

// ---------------------------------------------------------------------------
// Multibyte name tests.
// ---------------------------------------------------------------------------
// Code bits: 0x001 digits allowed (a name character rather than a first
// character), 0x100 look for a character that passes (ANY...) rather than one
// that fails (NOT...), 0x200 the string is of varying length (no effect here).
// Name characters are A-Z, a-z, the underscore and, with 0x001, 0-9; every
// other character (every non-ASCII one included) is not.
bool passes(uint32_t c, int32_t code) {
  bool name = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
              ((code & 1) && c >= '0' && c <= '9');
  return (code & 0x100) ? name : !name;
}

// Byte offsets of the characters of a UTF-8 (or single-byte) text.
std::vector<std::pair<int64_t, uint32_t>> chars_of(const char *data, int64_t length) {
  std::vector<std::pair<int64_t, uint32_t>> out;
  ZeqStrView v{};
  ZeqStringService *s = &H()->service;
  s->bind(s, &v, data, length, 0);
  while (v.pos < v.length) {
    out.push_back({v.pos, (uint32_t)s->read(s, &v, 0)});
    if (s->move(s, &v, 1, 0) != 0) break;
  }
  return out;
}

// wzsx8ac(text, length, code, start): the whole search.  start > 0: from
// character `start` towards the end; start < 0: from character |start| (the
// last character when beyond) towards the beginning; 0 or beyond the count:
// 0.  Answers the 1-based character position found, or 0.
int svc_wzsx8ac(const char *data, long long length, int code, long long start) {
  if (H()) H()->record_call("wzsx8ac", {length, code, start});
  if (!H() || !data || length <= 0) return 0;
  auto cs = chars_of(data, length);
  long long n = (long long)cs.size();
  if (start == 0 || start > n) return 0;
  if (start > 0) {
    for (long long i = start; i <= n; i++)
      if (passes(cs[(size_t)i - 1].second, code)) return (int)i;
  } else {
    long long from = -start > n ? n : -start;
    for (long long i = from; i >= 1; i--)
      if (passes(cs[(size_t)i - 1].second, code)) return (int)i;
  }
  return 0;
}

// wzsxoff(text, length, offset, count): the byte offset of the character
// `count` characters after (count < 0: before) the one starting at byte
// `offset`; moving exactly to the end answers `length`; -1 when that leaves
// the text or the offset is outside it.
int svc_wzsxoff(const char *data, long long length, long long offset, long long count) {
  if (!H() || !data || length <= 0 || offset < 0 || offset > length || length > INT32_MAX) return -1;
  ZeqStrView v{};
  ZeqStringService *s = &H()->service;
  s->bind(s, &v, data, length, 0);
  v.pos = offset;
  if (s->move(s, &v, count, 0) != 0) return -1;
  return (int)v.pos;
}

template <class F>
void put(HostState &h, int v, int s, F f) {
  h.vectors[(size_t)v][(size_t)s] = reinterpret_cast<void *>(f);
}

}  // namespace

void build_vectors(HostState &h) {
  constexpr size_t kVectors = 64, kEntries = 512;
  h.vectors.assign(kVectors, std::vector<void *>(kEntries, reinterpret_cast<void *>(zeqhost_missing_service_entry)));
  h.vector_table.resize(kVectors);
  for (size_t v = 0; v < kVectors; v++) h.vector_table[v] = h.vectors[v].data();
  std::memset(h.vector_bytes, 0xFF, sizeof h.vector_bytes);
  put(h, 0, 192, svc_wtrsset);
  put(h, 0, 293, svc_wzfmhc);
  put(h, 0, 320, svc_wzrlchr);
  put(h, 4, 35, svc_wzsxoff);
  put(h, 4, 104, svc_wzsx8ac);
  put(h, 39, 4, svc_xexit);
  put(h, 39, 34, svc_xmrealc);
  put(h, 39, 56, svc_xyrcgef);
  put(h, 39, 57, svc_xyrngef);
  put(h, 39, 70, svc_xpmlog);
  put(h, 39, 79, svc_xpsstr);
  put(h, 39, 89, svc_xpslog);
  put(h, 39, 108, svc_xpselec);
  put(h, 39, 130, svc_xprrlog);
  put(h, 39, 138, svc_xpopset);
  put(h, 39, 184, svc_zfmt);
  put(h, 39, 194, svc_zzeqver);
  put(h, 40, 96, svc_xjundls);
  put(h, 40, 277, svc_xalanch);
  put(h, 49, 31, svc_xjsympc);
  h.cb.vectors = h.vector_table.data();
  h.cb.vector_bytes = h.vector_bytes;
}

}  // namespace zeqhost
