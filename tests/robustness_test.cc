// tests/robustness_test.cc - randomized stress of every entry point with
// hostile inputs: argument blocks built by hand (any argCount, wrong type
// bits, absent values, negative and huge lengths, null data), odd numbers
// (NaN, infinities, +-1e300, +-2^31, +-2^63, fractions), random call forms and
// environments, fixed and growable results with guard bytes behind them, and
// pool allocation failures.  Every call must answer a status the module uses,
// keep a character result inside its room, leave the guard bytes alone, never
// produce an infinite number, and give back its scratch memory.  The seeds are
// fixed, so a failure reproduces; ZEQ_ROBUST_TRACE=1 prints each call before
// it is made (useful when a sanitizer stops the process).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "host/host.h"
#include "zeq/abi.h"
#include "zeq/host.h"
#include "zeq/rng.h"

namespace {

zeqhost::Host &host() {
  static zeqhost::Host *h = new zeqhost::Host();
  return *h;
}

bool tracing() {
  static const bool on = std::getenv("ZEQ_ROBUST_TRACE") != nullptr;
  return on;
}

constexpr unsigned char kGuard = 0xA5;
constexpr size_t kGuardBytes = 16;

struct Rand {
  std::mt19937_64 g;
  explicit Rand(uint64_t seed) : g(seed) {}
  uint64_t u() { return g(); }
  int64_t in(int64_t lo, int64_t hi) { return lo + (int64_t)(g() % (uint64_t)(hi - lo + 1)); }
  bool pct(int p) { return (int)(g() % 100) < p; }
  template <class T> const T &pick(const std::vector<T> &v) { return v[g() % v.size()]; }
};

// ---------------------------------------------------------------------------
// Random inputs.
// ---------------------------------------------------------------------------

const std::vector<std::string> kUtf8 = {"\xC3\xA9", "\xC3\xBC", "\xC3\x9F", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80",
                                        "\xC4\xB0", "\xC7\x85", "\xE2\x80\xA8", "\xEF\xBC\xA1", "\xC2\xA0"};
const std::vector<std::string> kBad = {"\x80", "\xBF", "\xC3", "\xE2\x82", "\xF0\x9F\x98", "\xF8\x88\x80\x80\x80",
                                       "\xFF", "\xFE", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80"};

std::string rand_text(Rand &r, size_t cap) {
  size_t n;
  const int k = (int)r.in(0, 99);
  if (k < 70) n = (size_t)r.in(0, 12);
  else if (k < 92) n = (size_t)r.in(13, 80);
  else n = (size_t)r.in(81, 3000);
  if (n > cap) n = cap;
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  static const char punct[] = ",;.-_!?%&/\\()[]{}*+=:#@|<>~^$";
  static const char mods[] = "IiTtLlNnOoAaBbCcDdEeFfGgHhKkMmPpQqRrSsUuVvWwXxYyZz:";
  std::string s;
  while (s.size() < n) {
    const int c = (int)r.in(0, 99);
    if (c < 28) s += letters[r.in(0, 51)];
    else if (c < 43) s += ' ';
    else if (c < 52) s += r.pct(50) ? '\'' : '"';
    else if (c < 61) s += punct[r.in(0, (int64_t)sizeof punct - 2)];
    else if (c < 68) s += (char)('0' + r.in(0, 9));
    else if (c < 78) s += r.pick(kUtf8);
    else if (c < 85) s += r.pick(kBad);
    else if (c < 90) s += (char)r.in(0, 31);
    else if (c < 95) s += mods[r.in(0, (int64_t)sizeof mods - 2)];
    else s += (char)r.in(0, 255);
  }
  if (s.size() > cap) s.resize(cap);
  return s;
}

double rand_number(Rand &r) {
  static const std::vector<double> special = {
      std::nan(""), -std::nan(""), std::numeric_limits<double>::infinity(),
      -std::numeric_limits<double>::infinity(), 1e300, -1e300, 2147483648.0, -2147483648.0, 2147483647.0,
      -2147483649.0, 4294967296.0, 9223372036854775808.0, -9223372036854775808.0, 1.8446744073709552e19,
      1e-300, -0.0, 0.0, 0.5, -0.5, 2.9, -2.9, 0.999999, 1e16};
  const int k = (int)r.in(0, 99);
  if (k < 35) return r.pick(special);
  if (k < 80) return (double)r.in(-12, 40);
  if (k < 90) return (double)r.in(-4000, 4000);
  double bits_value;
  const uint64_t bits = r.u();
  std::memcpy(&bits_value, &bits, 8);
  if (k < 95) return bits_value;
  return (double)r.in(-300, 300) + (double)r.in(1, 999) / 1000.0;
}

// ---------------------------------------------------------------------------
// Results: fixed with guard bytes, or growable through an allocator that
// moves the data on every resize (so stale pointers show under ASan).
// ---------------------------------------------------------------------------

struct Grow {
  FncStringAllocator rec{};  // first member: the module passes &rec back
  bool fail = false;
  int64_t size = 0;          // usable bytes of the current block
  std::vector<char *> blocks;
};

void *grow_resize(FncStringAllocator *self, void *old, int64_t size, uint32_t) {
  auto *g = reinterpret_cast<Grow *>(self);
  if (g->fail || size < 0 || size > (int64_t)1 << 24) return nullptr;
  char *p = static_cast<char *>(std::malloc((size_t)size + kGuardBytes));
  std::memset(p, kGuard, (size_t)size + kGuardBytes);
  if (old) {
    std::memcpy(p, old, (size_t)std::min(g->size, size));
    for (auto &b : g->blocks)
      if (b == old) {
        std::free(b);
        b = nullptr;
      }
  }
  g->blocks.push_back(p);
  g->size = size;
  return p;
}

struct Out {
  FncString rec{};
  Grow grow;
  std::vector<char> fixed;  // fixed buffer: room + guard bytes
  bool growable = false;

  ~Out() {
    for (char *b : grow.blocks) std::free(b);
  }

  void make(Rand &r) {
    growable = r.pct(35);
    if (!growable) {
      int64_t room = r.in(0, 300);
      if (r.pct(10)) room = r.in(0, 3);
      rec.maxLength = room;
      if (r.pct(4)) rec.maxLength = r.pct(50) ? -1 : INT64_MIN, room = 0;
      fixed.assign((size_t)room + kGuardBytes, (char)kGuard);
      if (r.pct(50)) std::memset(fixed.data(), '#', (size_t)room);
      rec.data = fixed.data();
      rec.length = r.pct(70) ? 0 : r.in(0, room);
      return;
    }
    grow.rec.resize = grow_resize;
    grow.fail = r.pct(10);
    rec.allocator = &grow.rec;
    rec.maxLength = r.pct(5) ? ((int64_t)1 << 40) : r.in(0, 300);
    rec.capacity = r.in(0, std::min<int64_t>(rec.maxLength, 300));
    if (r.pct(5)) rec.capacity = 0;
    grow.size = rec.capacity;
    char *p = static_cast<char *>(std::malloc((size_t)rec.capacity + kGuardBytes));
    std::memset(p, kGuard, (size_t)rec.capacity + kGuardBytes);
    grow.blocks.push_back(p);
    rec.data = p;
    rec.length = r.pct(70) ? 0 : r.in(0, rec.capacity);
  }

  int64_t room() const {
    const int64_t n = rec.allocator ? rec.capacity : rec.maxLength;
    return n > 0 ? n : 0;
  }
  // Guard bytes behind the room are untouched.
  bool guards_ok() const {
    if (!rec.data) return true;
    const int64_t n = growable ? grow.size : (int64_t)fixed.size() - (int64_t)kGuardBytes;
    for (size_t i = 0; i < kGuardBytes; i++)
      if ((unsigned char)rec.data[n + (int64_t)i] != kGuard) return false;
    return true;
  }
};

// ---------------------------------------------------------------------------
// Argument blocks built by hand.
// ---------------------------------------------------------------------------

struct Block {
  std::vector<uint64_t> raw;
  std::deque<FncString> strings;
  std::deque<double> numbers;
  std::vector<char *> data;  // exact-size heap copies (ASan sees over-reads)
  std::vector<std::string> texts;

  ~Block() {
    for (char *p : data) std::free(p);
  }
  FncArgList *b() { return reinterpret_cast<FncArgList *>(raw.data()); }

  FncString *make_string(Rand &r, size_t cap) {
    std::string t = rand_text(r, cap);
    texts.push_back(t);
    FncString s{};
    const int64_t n = (int64_t)t.size();
    char *p = static_cast<char *>(std::malloc(t.size() ? t.size() : 1));
    if (!t.empty()) std::memcpy(p, t.data(), t.size());
    data.push_back(p);
    s.data = p;
    s.length = n;
    s.maxLength = n;
    const int k = (int)r.in(0, 99);
    if (k < 4) {
      s.data = nullptr, s.length = 0;
    } else if (k < 12) {
      static const std::vector<int64_t> neg = {-1, -5, INT32_MIN, INT64_MIN, -(int64_t)1 << 40, -0x7FFFFFFF};
      s.length = r.pick(neg);
    } else if (k < 14 && n > 0) {
      s.length = -((int64_t)1 << 32) + r.in(0, std::min<int64_t>(n, 3));  // low 32 bits small
    } else if (k < 20) {
      s.length = r.in(0, n);
    }
    const int m = (int)r.in(0, 99);
    if (m < 6) s.maxLength = r.pct(50) ? -1 : INT64_MIN;
    else if (m < 12) s.maxLength = r.in(0, n);
    strings.push_back(s);
    return &strings.back();
  }

  void make(Rand &r, int argc, size_t cap) {
    raw.assign((FNC_ARGLIST_SIZE(argc ? argc : 1) + 7) / 8, 0);
    FncArgList *a = b();
    a->task = r.pct(50) ? host().task() : nullptr;
    a->callForm = (uint8_t)r.in(0, 2);
    static const std::vector<uint8_t> kinds = {0, 0x48, 0x58, 0x68, 0x88, 120, 0, 1};
    a->resultKind = r.pct(90) ? r.pick(kinds) : (uint8_t)r.u();
    if (!FNC_KIND_IS_LIMITED(a->resultKind) && r.pct(40)) {
      static const std::vector<int64_t> counts = {1, 4, 5, 6, -1, INT64_MAX, INT64_MIN};
      a->noteCount = r.pct(70) ? r.pick(counts) : (int64_t)r.u();
    }
    a->argCount = argc;
    for (int i = 0; i < argc; i++) {
      FncArg &arg = a->args[i];
      const int t = (int)r.in(0, 99);
      if (t < 38) arg.type = FNC_ARG_CHAR;
      else if (t < 58) arg.type = FNC_ARG_VARCHAR;
      else if (t < 90) arg.type = FNC_ARG_NUMERIC;
      else {
        static const std::vector<uint8_t> odd = {0, 0x04, 0x0A, 0x10, 0x11, 0x12, 0x18, 0xF0, 0xF2, 0xF1};
        arg.type = r.pct(70) ? r.pick(odd) : (uint8_t)r.u();
        // A type claiming both a number and a character value names no one
        // record: the host never builds one, so it is not tried.
        if ((arg.type & FNC_ARG_NUMERIC) && (arg.type & FNC_ARG_ISCHAR))
          arg.type &= r.pct(50) ? (uint8_t)~FNC_ARG_NUMERIC : (uint8_t)~FNC_ARG_ISCHAR;
      }
      if (r.pct(3)) arg.mark = FNC_MARK_BAD;
      if (r.pct(8)) continue;  // absent
      if (arg.type & FNC_ARG_NUMERIC) {
        numbers.push_back(rand_number(r));
        arg.value = &numbers.back();
      } else if (arg.type & FNC_ARG_ISCHAR) {
        arg.value = make_string(r, cap);
      } else {
        // No type bit the module reads: give it some record anyway.
        if (r.pct(50)) {
          numbers.push_back(rand_number(r));
          arg.value = &numbers.back();
        } else {
          arg.value = make_string(r, cap);
        }
      }
    }
  }
};

std::string escape(const char *p, int64_t n) {
  std::string s;
  for (int64_t i = 0; i < n && i < 60; i++) {
    const unsigned char c = (unsigned char)p[i];
    if (c >= 0x20 && c < 0x7F && c != '\\') s += (char)c;
    else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      s += buf;
    }
  }
  if (n > 60) s += "...";
  return s;
}

std::string describe(const char *entry, int iter, FncArgList *a, const Out *out) {
  std::string s = std::string(entry) + " #" + std::to_string(iter) + " form=" + std::to_string(a->callForm) +
                  " kind=" + std::to_string(a->resultKind) + " note=" + std::to_string(a->noteCount) +
                  " argc=" + std::to_string(a->argCount) + (host().utf8() ? " utf8" : "");
  for (int i = 0; i < a->argCount; i++) {
    const FncArg &g = a->args[i];
    s += "\n  arg" + std::to_string(i + 1) + " type=" + std::to_string(g.type);
    if (!g.value) {
      s += " absent";
    } else if (g.type & FNC_ARG_NUMERIC || !(g.type & FNC_ARG_ISCHAR)) {
      if (g.type & FNC_ARG_NUMERIC) s += " num=" + std::to_string(*static_cast<double *>(g.value));
    } else {
      auto *v = static_cast<FncString *>(g.value);
      s += " len=" + std::to_string(v->length) + " max=" + std::to_string(v->maxLength) +
           (v->data ? " '" + escape(v->data, std::min<int64_t>(std::max<int64_t>(v->length, 0), 4000)) + "'"
                    : " data=null");
    }
  }
  if (out)
    s += "\n  result " + std::string(out->growable ? "growable" : "fixed") + " max=" +
         std::to_string(out->rec.maxLength) + " cap=" + std::to_string(out->rec.capacity) +
         " len=" + std::to_string(out->rec.length);
  return s;
}

bool status_ok(int32_t rc) {
  return rc == FNC_RC_OK || rc == FNC_RC_MISSING || rc == FNC_RC_NOTE || rc == FNC_RC_NOROOM || rc == FNC_RC_NOMEM;
}

// ---------------------------------------------------------------------------
// The character-function entries.
// ---------------------------------------------------------------------------

enum Shape { kChar, kNum, kDirect, kRoutine, kMbNum, kMbChar };

struct Entry {
  const char *name;   // symbol (or a label for a table slot)
  int slot;           // table slot, 0 for a named export
  Shape shape;
  int max_args;
  size_t cap;         // longest random text
  bool scan_like;     // call form may come without a result
  bool concat;        // call form appends to argument 1 (also the result)
};

using CharFn = int32_t (*)(FncArgList *, FncString *);
using NumFn = int32_t (*)(FncArgList *, double *);
using DirectFn = int32_t (*)(FncString *, FncString *);
using RoutineFn = int32_t (*)(FncArgList *);
using MbNumFn = int32_t (*)(FncArgList *, double *, ZeqStringService *, int32_t, const char *);
using MbCharFn = int32_t (*)(FncArgList *, FncString *, ZeqStringService *, int32_t, const char *);

std::vector<Entry> entries() {
  std::vector<Entry> v;
  auto concat = [&](const char *n, int s) { v.push_back({n, s, kChar, 8, 3000, false, true}); };
  v.push_back({"fncanyfirst", 1, kNum, 3, 3000, false, false});
  v.push_back({"fncanyname", 2, kNum, 3, 3000, false, false});
  concat("fnccat", 3);
  concat("fnccatb", 4);
  concat("fnccatb", 5);
  concat("fnccatc", 6);
  concat("fnccatc", 7);
  concat("fnccatm", 8);
  concat("fnccatm", 9);
  concat("fnccatn", 10);
  concat("fnccatn", 11);
  concat("fnccatq", 12);
  concat("fnccatq", 13);
  concat("fnccats", 14);
  concat("fnccats", 15);
  concat("fnccatt", 16);
  concat("fnccatt", 17);
  concat("fnccatx", 18);
  concat("fnccatx", 19);
  v.push_back({"fncchar", 20, kChar, 3, 3000, false, false});
  v.push_back({"fncomcos", 21, kRoutine, 8, 200, false, false});
  v.push_back({"fncomged", 22, kNum, 5, 300, false, false});
  v.push_back({"fncomlev", 23, kNum, 5, 300, false, false});
  v.push_back({"fnccouc", 24, kNum, 4, 3000, false, false});
  v.push_back({"fnccouq", 25, kNum, 3, 3000, false, false});
  v.push_back({"fnccouw", 26, kNum, 4, 3000, false, false});
  v.push_back({"fncfind", 27, kNum, 5, 3000, false, false});
  v.push_back({"fncfndc", 28, kNum, 5, 3000, false, false});
  v.push_back({"fncfndl", 29, kNum, 5, 200, false, false});
  v.push_back({"fncfndw", 30, kNum, 6, 3000, false, false});
  v.push_back({"fncfirst", 31, kDirect, 1, 3000, false, false});
  v.push_back({"fncndxt", 32, kNum, 3, 3000, false, false});
  v.push_back({"fncninv", 33, kNum, 3, 3000, false, false});
  v.push_back({"fncnlit", 34, kDirect, 1, 3000, false, false});
  v.push_back({"fncnotfirst", 35, kNum, 3, 3000, false, false});
  v.push_back({"fncnotname", 36, kNum, 3, 3000, false, false});
  v.push_back({"fncnval", 37, kNum, 3, 3000, false, false});
  v.push_back({"fncscnq", 38, kChar, 6, 3000, true, false});
  v.push_back({"fncscnq", 39, kChar, 6, 3000, true, false});
  v.push_back({"fncsubp", 40, kChar, 4, 3000, false, false});
  v.push_back({"fncompar", 0, kNum, 5, 3000, false, false});
  v.push_back({"fnccous", 0, kNum, 4, 3000, false, false});
  v.push_back({"fncscan", 0, kChar, 7, 3000, true, false});
  v.push_back({"COMPARE_FUNCTION", 0, kMbNum, 5, 3000, false, false});
  v.push_back({"COUNT_FUNCTION", 0, kMbNum, 4, 3000, false, false});
  v.push_back({"COUNTC_FUNCTION", 0, kMbNum, 4, 3000, false, false});
  v.push_back({"FIND_FUNCTION", 0, kMbNum, 5, 3000, false, false});
  v.push_back({"FINDC_FUNCTION", 0, kMbNum, 5, 3000, false, false});
  v.push_back({"FINDW_FUNCTION", 0, kMbNum, 6, 3000, false, false});
  v.push_back({"COUNTW_FUNCTION", 0, kMbNum, 4, 3000, false, false});
  v.push_back({"SCAN_FUNCTION", 0, kMbChar, 7, 3000, true, false});
  return v;
}

std::string mb_name(const char *symbol) {
  std::string s(symbol);
  return s.substr(0, s.find("_FUNCTION"));
}

class EntryStress : public ::testing::TestWithParam<Entry> {};

TEST_P(EntryStress, HostileBlocksKeepTheContract) {
  const Entry e = GetParam();
  zeqhost::Host &h = host();
  ASSERT_TRUE(h.loaded()) << h.load_error();
  void *fn = e.slot ? h.slot(e.slot) : h.symbol(e.name);
  ASSERT_NE(fn, nullptr) << e.name;
  if (e.slot) ASSERT_EQ(fn, h.symbol(e.name)) << "slot " << e.slot;
  const std::string label = e.slot ? std::string(e.name) + "@" + std::to_string(e.slot) : e.name;
  const std::string fname = mb_name(e.name);
  const bool mb = e.shape == kMbNum || e.shape == kMbChar;

  Rand r(0x5EED0000u + (uint64_t)e.slot * 7919u + std::hash<std::string>{}(e.name));
  const int iterations = 2500;
  int failures = 0;
  for (int it = 0; it < iterations && failures < 5; it++) {
    h.set_utf8(mb || (it & 1));
    Block blk;
    int argc = (int)r.in(1, e.max_args);
    if (r.pct(15)) argc = (int)r.in(0, 8);
    blk.make(r, argc, e.cap);
    FncArgList *a = blk.b();

    Out out;
    out.make(r);
    FncString *res = &out.rec;
    if (e.scan_like && a->callForm == FNC_FORM_CALL && r.pct(50)) res = nullptr;
    if (e.concat && a->callForm == FNC_FORM_CALL && argc > 0 && r.pct(50)) {
      // In-place form: the target (argument 1, or 2 after a separator) is
      // the result record.
      const int t = argc > 1 && r.pct(50) ? 1 : 0;
      a->args[t].type = r.pct(50) ? FNC_ARG_CHAR : FNC_ARG_VARCHAR;
      a->args[t].value = res;
    }
    FncString direct_arg{};
    if (e.shape == kDirect) direct_arg = *blk.make_string(r, e.cap);

    const int repeats = r.pct(20) ? 3 : 1;  // the same call site again: caches and counts
    for (int rep = 0; rep < repeats; rep++) {
      const bool fail_pool = r.pct(4);
      if (fail_pool) h.task_pool().fail_nth((int)r.in(1, 3));
      if (tracing()) std::fprintf(stderr, "%s\n", describe(label.c_str(), it, a, res ? &out : nullptr).c_str());
      double num = 12345.0;
      int32_t rc = 0;
      switch (e.shape) {
        case kChar: rc = reinterpret_cast<CharFn>(fn)(a, res); break;
        case kNum: rc = reinterpret_cast<NumFn>(fn)(a, &num); break;
        case kDirect: rc = reinterpret_cast<DirectFn>(fn)(&direct_arg, res); break;
        case kRoutine: rc = reinterpret_cast<RoutineFn>(fn)(a); break;
        case kMbNum:
          rc = reinterpret_cast<MbNumFn>(fn)(a, &num, h.string_service(), 0, fname.c_str());
          break;
        case kMbChar:
          rc = reinterpret_cast<MbCharFn>(fn)(a, res, h.string_service(), 0, fname.c_str());
          break;
      }
      if (fail_pool) h.task_pool().fail_nth(0);

      std::string why;
      if (!status_ok(rc)) why += " status " + std::to_string(rc);
      if (std::isinf(num)) why += " infinite result";
      if (res && (e.shape == kChar || e.shape == kDirect || e.shape == kMbChar) && rc != FNC_RC_NOROOM) {
        if (res->length < 0 || res->length > out.room())
          why += " length " + std::to_string(res->length) + " outside room " + std::to_string(out.room());
      }
      if (res && !out.guards_ok()) why += " guard bytes overwritten";
      if (h.scratch_live() != 0) why += " scratch not released";
      if (!why.empty()) {
        failures++;
        ADD_FAILURE() << why << "\n" << describe(label.c_str(), it, a, res ? &out : nullptr);
        break;
      }
    }
  }
  h.set_utf8(false);
  EXPECT_FALSE(h.task_pool().double_free_seen());
  EXPECT_FALSE(h.global_pool().double_free_seen());
}

INSTANTIATE_TEST_SUITE_P(All, EntryStress, ::testing::ValuesIn(entries()),
                         [](const ::testing::TestParamInfo<Entry> &i) {
                           return std::string(i.param.name) + "_" + std::to_string(i.param.slot);
                         });


// ---------------------------------------------------------------------------
// Faults the stress found, pinned down.
// ---------------------------------------------------------------------------

// A growable result whose resize keeps the old block alive but scribbles
// over it, so a pointer kept across the resize shows in the result.
struct ScribbleGrow {
  FncStringAllocator rec{};
  std::vector<char *> blocks;
  ~ScribbleGrow() {
    for (char *b : blocks) std::free(b);
  }
  static void *resize(FncStringAllocator *self, void *old, int64_t size, uint32_t) {
    auto *g = reinterpret_cast<ScribbleGrow *>(self);
    char *p = static_cast<char *>(std::calloc((size_t)size + 1, 1));
    int64_t old_size = 0;
    if (old) {
      old_size = (int64_t)std::strlen(static_cast<char *>(old));
      std::memcpy(p, old, (size_t)std::min(old_size, size));
      std::memset(old, 'Z', (size_t)old_size);
    }
    g->blocks.push_back(p);
    return p;
  }
};

// CATX whose separator record is also the result: growing the result moved
// the separator's bytes, and the separator used to be read from the old block.
TEST(RobustnessRegression, CatxSeparatorThatIsTheGrownResult) {
  ScribbleGrow grow;
  grow.rec.resize = ScribbleGrow::resize;
  char *first = static_cast<char *>(std::calloc(3, 1));
  std::memcpy(first, ", ", 2);
  grow.blocks.push_back(first);
  FncString result{};
  result.maxLength = 4096;
  result.length = 2;
  result.data = first;
  result.allocator = &grow.rec;
  result.capacity = 2;

  std::string a(1500, 'a'), d = "def";
  FncString sa{(int64_t)a.size(), (int64_t)a.size(), a.data(), nullptr, 0};
  FncString sd{3, 3, d.data(), nullptr, 0};
  std::vector<uint64_t> raw((FNC_ARGLIST_SIZE(3) + 7) / 8, 0);
  auto *b = reinterpret_cast<FncArgList *>(raw.data());
  b->callForm = FNC_FORM_FUNCTION;
  b->argCount = 3;
  b->args[0] = {FNC_ARG_CHAR, 0, {}, &result};
  b->args[1] = {FNC_ARG_CHAR, 0, {}, &sa};
  b->args[2] = {FNC_ARG_CHAR, 0, {}, &sd};
  const int32_t rc = host().fn<int32_t (*)(FncArgList *, FncString *)>("fnccatx")(b, &result);
  EXPECT_EQ(rc, FNC_RC_OK);
  ASSERT_EQ(result.length, 1505);
  const std::string got(result.data, (size_t)result.length);
  EXPECT_EQ(got.find('Z'), std::string::npos);
  EXPECT_EQ(got.substr(1500), "aadef");  // the separator's bytes as they now stand
}

// CATQ with an item that is the result record itself: the quotes written at
// the front were read back as input and doubled without end, past the room.
TEST(RobustnessRegression, CatqItemSharingTheResultStaysInItsRoom) {
  std::vector<char> buf(6 + kGuardBytes, (char)kGuard);
  std::memcpy(buf.data(), "\"\"\"\"", 4);
  FncString result{6, 4, buf.data(), nullptr, 0};
  std::string mods = "A";
  FncString sm{1, 1, mods.data(), nullptr, 0};
  std::vector<uint64_t> raw((FNC_ARGLIST_SIZE(2) + 7) / 8, 0);
  auto *b = reinterpret_cast<FncArgList *>(raw.data());
  b->callForm = FNC_FORM_FUNCTION;
  b->argCount = 2;
  b->args[0] = {FNC_ARG_CHAR, 0, {}, &sm};
  b->args[1] = {FNC_ARG_CHAR, 0, {}, &result};
  const int32_t rc = host().fn<int32_t (*)(FncArgList *, FncString *)>("fnccatq")(b, &result);
  EXPECT_TRUE(rc == FNC_RC_OK || rc == FNC_RC_NOTE) << rc;
  EXPECT_GE(result.length, 0);
  EXPECT_LE(result.length, 6);
  for (size_t i = 6; i < buf.size(); i++) EXPECT_EQ((unsigned char)buf[i], kGuard) << "byte " << i;
}

}  // namespace
