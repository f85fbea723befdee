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

#include <algorithm>
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

#include "charfn/catalogue.h"
#include "charfn/entry_types.h"
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

// The result shapes in the order of zeq::catalogue::Result, then the twins'.
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

using namespace zeq::typed;
namespace cat = zeq::catalogue;

// The longest random text of the functions whose cost grows with the product
// of their lengths; 3000 bytes for the others.
size_t text_cap(std::string_view name) {
  static constexpr std::pair<std::string_view, size_t> kCaps[] = {
      {"COMPCOST", 200}, {"COMPGED", 300}, {"COMPLEV", 300}, {"FINDLEV", 200}, {"COMPARE", 1000}};
  for (const auto &[n, cap] : kCaps)
    if (n == name) return cap;
  return 3000;
}

// One more argument than either form of the row takes (8 for any count).
int most_args(const cat::Function &f) {
  if (f.max_args == cat::kAnyCount) return 8;
  const int call = f.has_call() ? 1 + (int)std::count(f.call_usage.begin(), f.call_usage.end(), ',') : 0;
  return std::max(f.max_args, call) + 1;
}

// Every catalogue row: its entry in each of its slots (or by name), and its
// multibyte twin.  A new row is stressed without a line here.
std::vector<Entry> entries() {
  std::vector<Entry> v;
  for (const cat::Function &f : cat::kFunctions) {
    const bool text = f.result == cat::Result::Char;
    Entry e{f.entry.data(), 0, Shape(f.result), most_args(f), text_cap(f.name), text && f.call_result == 0,
            text && f.max_args == cat::kAnyCount};
    if (!f.slot) v.push_back(e);
    for (int slot : {f.slot, f.slot2})
      if (slot) v.push_back({e.name, slot, e.shape, e.max_args, e.cap, e.scan_like, e.concat});
    if (!f.mb_entry.empty())
      v.push_back({f.mb_entry.data(), 0, text ? kMbChar : kMbNum, e.max_args, e.cap, e.scan_like, false});
  }
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
  if (e.slot) {
    ASSERT_EQ(fn, h.symbol(e.name)) << "slot " << e.slot;
  }
  const std::string label = e.slot ? std::string(e.name) + "@" + std::to_string(e.slot) : e.name;
  const std::string fname = mb_name(e.name);
  const bool mb = e.shape == kMbNum || e.shape == kMbChar;

  Rand r(0x5EED0000u + (uint64_t)e.slot * 7919u + std::hash<std::string>{}(e.name));
  const int iterations = 2000;
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
        case kChar: rc = reinterpret_cast<CharEntry>(fn)(a, res); break;
        case kNum: rc = reinterpret_cast<NumberEntry>(fn)(a, &num); break;
        case kDirect: rc = reinterpret_cast<DirectEntry>(fn)(&direct_arg, res); break;
        case kRoutine: rc = reinterpret_cast<RoutineEntry>(fn)(a); break;
        case kMbNum:
          rc = reinterpret_cast<MbNumberEntry>(fn)(a, &num, h.string_service(), 0, fname.c_str());
          break;
        case kMbChar:
          rc = reinterpret_cast<MbCharEntry>(fn)(a, res, h.string_service(), 0, fname.c_str());
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
// String kernels: random contents, lengths within the buffers or negative,
// null data where the contract tolerates it, guard bytes behind outputs.
// ---------------------------------------------------------------------------

template <class F> F sym(const char *name) {
  F f = host().fn<F>(name);
  EXPECT_NE(reinterpret_cast<void *>(f), nullptr) << name;
  return f;
}

// A heap copy of exactly n bytes (ASan sees any read past it) followed by
// nothing; `terminated` adds one zero byte.
struct Bytes {
  char *p = nullptr;
  size_t n = 0;
  Bytes(const std::string &s, bool terminated = false) : n(s.size()) {
    p = static_cast<char *>(std::malloc(s.size() + (terminated ? 1 : 0) + 1));
    std::memcpy(p, s.data(), s.size());
    if (terminated) p[s.size()] = 0;
  }
  ~Bytes() { std::free(p); }
  Bytes(const Bytes &) = delete;
  Bytes &operator=(const Bytes &) = delete;
};

// An output area of `room` bytes followed by guard bytes.
struct Area {
  std::vector<char> v;
  size_t room;
  explicit Area(size_t n) : v(n + kGuardBytes, (char)kGuard), room(n) {}
  char *data() { return v.data(); }
  bool guards_ok() const {
    for (size_t i = room; i < v.size(); i++)
      if ((unsigned char)v[i] != kGuard) return false;
    return true;
  }
};

int64_t some_length(Rand &r, size_t n) {
  const int k = (int)r.in(0, 99);
  if (k < 75) return r.in(0, (int64_t)n);
  if (k < 85) return (int64_t)n;
  static const std::vector<int64_t> neg = {-1, -2, -17, INT32_MIN, -0x7FFFFFFF, INT64_MIN, -((int64_t)1 << 40)};
  return r.pick(neg);
}
int32_t some_length32(Rand &r, size_t n) {
  const int64_t x = some_length(r, n);
  return x < INT32_MIN ? INT32_MIN : (int32_t)x;
}

std::vector<TKChar> rand_units(Rand &r, size_t cap) {
  const std::string t = rand_text(r, cap);
  std::vector<TKChar> u;
  for (unsigned char c : t) {
    const int k = (int)r.in(0, 99);
    if (k < 80) u.push_back(c);
    else if (k < 90) u.push_back((TKChar)r.in(0x80, 0xFFFF));
    else {
      static const std::vector<TKChar> odd = {0x10000, 0x1F600, 0x10FFFF, 0x110000, 0xD800, 0xFFFFFFFF, 0x7FFFFFFF,
                                              0x212A, 0x1E9E, 0x0130};
      u.push_back(r.pick(odd));
    }
  }
  return u;
}

TEST(KernelStress, ByteAndUnitPrimitives) {
  Rand r(0xB17E5);
  auto memnot = sym<int32_t (*)(int, const void *, uint64_t)>("skMemNot");
  auto memtnot = sym<int32_t (*)(TKChar, const TKChar *, uint64_t)>("skMemTNot");
  auto memset_ = sym<void (*)(void *, int, uint64_t)>("skMemSet");
  auto memtset = sym<void (*)(TKChar *, TKChar, uint64_t)>("skMemTSet");
  auto memcmp_ = sym<int32_t (*)(const void *, const void *, uint64_t)>("skMemCmp");
  auto wmemcmp = sym<int32_t (*)(const TKChar *, const TKChar *, uint64_t)>("skWMemCmp");
  auto memcpy_ = sym<void *(*)(const void *, void *, uint64_t)>("skMemCpy");
  auto memscpy = sym<void *(*)(const void *, void *, uint64_t)>("skMemSCpy");
  auto scan = sym<int64_t (*)(const void *, uint64_t, int)>("skMemScan");
  auto nscan = sym<int64_t (*)(const void *, uint64_t, int)>("skMemNScan");
  auto tnscan = sym<int64_t (*)(const TKChar *, uint64_t, TKChar)>("skMemTNScan");
  auto strlen_ = sym<uint64_t (*)(const char *)>("skStrLen");
  auto strtlen = sym<uint64_t (*)(const TKChar *)>("skStrTLen");
  auto strcpy_ = sym<void (*)(const char *, char *)>("skStrCpy");
  auto strup = sym<void (*)(char *, uint64_t)>("skStrUp");
  auto strlow = sym<void (*)(char *, uint64_t)>("skStrLow");
  auto miss = sym<int32_t (*)(const double *, uint64_t)>("skMissArray");
  EXPECT_EQ(strlen_(nullptr), 0u);
  EXPECT_EQ(strtlen(nullptr), 0u);
  strcpy_(nullptr, nullptr);
  for (int it = 0; it < 3000; it++) {
    const std::string t = rand_text(r, 600);
    Bytes a(t), b(rand_text(r, 600));
    const uint64_t n = (uint64_t)r.in(0, (int64_t)t.size());
    const uint64_t m = std::min<uint64_t>(n, b.n);
    const int v = (int)r.in(-300, 300);
    const int32_t nt = memnot(v, a.p, n);
    EXPECT_TRUE(nt == 0 || nt == 1);
    const int64_t s1 = scan(r.pct(10) ? nullptr : a.p, n, v), s2 = nscan(r.pct(10) ? nullptr : a.p, n, v);
    EXPECT_TRUE(s1 >= -1 && s1 < (int64_t)std::max<uint64_t>(n, 1));
    EXPECT_TRUE(s2 >= -1 && s2 < (int64_t)std::max<uint64_t>(n, 1));
    const int32_t c = memcmp_(a.p, b.p, m);
    EXPECT_TRUE(c >= -1 && c <= 1);
    Area out(n);
    memcpy_(a.p, out.data(), n);
    memscpy(a.p, a.p + (n ? r.in(0, (int64_t)n / 2) : 0), n / 2);  // overlapping, inside the block
    memcpy_(out.data(), out.data() + (n ? r.in(0, (int64_t)n / 2) : 0), n / 2);
    memset_(out.data(), v, n);
    strup(out.data(), n);
    strlow(a.p, n);
    EXPECT_TRUE(out.guards_ok());

    std::vector<TKChar> u = rand_units(r, 300), w = rand_units(r, 300);
    const uint64_t k = (uint64_t)r.in(0, (int64_t)u.size()), kk = std::min<uint64_t>(k, w.size());
    const TKChar tv = r.pct(50) ? (TKChar)r.in(0, 0x7F) : (TKChar)r.u();
    const int32_t tn = memtnot(tv, u.data(), k);
    EXPECT_TRUE(tn == 0 || tn == 1);
    const int64_t ts = tnscan(r.pct(10) ? nullptr : u.data(), k, tv);
    EXPECT_TRUE(ts >= -1 && ts < (int64_t)std::max<uint64_t>(k, 1));
    const int32_t wc = wmemcmp(u.data(), w.data(), kk);
    EXPECT_TRUE(wc >= -1 && wc <= 1);
    memtset(u.data(), tv, k);
    std::vector<double> d(r.in(0, 20));
    for (auto &x : d) x = rand_number(r);
    const int32_t ms = miss(d.data(), d.size());
    EXPECT_TRUE(ms == 0 || ms == 1);
  }
}

TEST(KernelStress, CaseMappingOfTKCharText) {
  Rand r(0xCA5E);
  auto up = sym<void (*)(TKChar *, int64_t)>("tkzstup");
  auto lo = sym<void (*)(TKChar *, int64_t)>("tkzstlo");
  auto mn = sym<void (*)(TKChar *, int64_t)>("tkzstmin");
  auto mx = sym<void (*)(TKChar *, int64_t)>("tkzstmax");
  auto eqn = sym<int32_t (*)(const TKChar *, int64_t, const TKChar *, int64_t)>("tkzseqn");
  auto ncmp = sym<int32_t (*)(const TKChar *, int64_t, const TKChar *, int64_t)>("tkzsncmp");
  auto trp = sym<int64_t (*)(const TKChar *, int64_t)>("tkzstrp");
  auto del = sym<int64_t (*)(TKChar *, int64_t, const TKChar *, int64_t)>("tkzsdel");
  for (int it = 0; it < 3000; it++) {
    std::vector<TKChar> u = rand_units(r, 400), w = rand_units(r, 400);
    u.push_back(0);  // zero-terminated forms may read up to here
    w.push_back(0);
    const int64_t n = some_length(r, u.size() - 1), m = some_length(r, w.size() - 1);
    switch (r.in(0, 3)) {
      case 0: up(u.data(), n); break;
      case 1: lo(u.data(), n); break;
      case 2: mn(u.data(), n); break;
      default: mx(u.data(), n); break;
    }
    const int32_t e = eqn(u.data(), n, w.data(), m);
    EXPECT_TRUE(e == 0 || e == 1);
    const int32_t c = ncmp(u.data(), n, w.data(), m);
    EXPECT_TRUE(c >= -2 && c <= 2) << c;
    const int64_t t = trp(u.data(), n);
    EXPECT_LE(t, std::max<int64_t>(n, 0));
    const int64_t d = del(u.data(), n, w.data(), r.pct(70) ? std::min<int64_t>(m, 8) : m);
    EXPECT_LE(d, (int64_t)u.size());
    EXPECT_EQ(u.back(), 0u);
  }
}

TEST(KernelStress, Utf8Routines) {
  Rand r(0x0778);
  auto rmdel = sym<int64_t (*)(char *, int64_t)>("tkzsu8RemoveDelimiters");
  auto noteq = sym<int64_t (*)(const char *, int64_t, const char *)>("tkzsu8NotEqual");
  auto del = sym<int64_t (*)(char *, int64_t, const char *, int64_t)>("tkzsu8Delete");
  auto addq = sym<int32_t (*)(const char *, int64_t, char *, int64_t, const char *, int64_t *)>("tkzsu8AddQuotes");
  auto rev = sym<void (*)(char *, int64_t)>("tkzsu8Reverse");
  EXPECT_EQ(rmdel(nullptr, 5), 0);
  EXPECT_EQ(noteq(nullptr, 5, "a"), 0);
  for (int it = 0; it < 4000; it++) {
    std::string t = rand_text(r, 500);
    if (r.pct(30) && !t.empty()) t.back() = t.front();  // quoted shape
    Bytes a(t);
    const int64_t n = some_length(r, a.n);
    // A character argument: one character with room for the longest lead.
    std::string ch = r.pct(50) ? r.pick(kUtf8) : r.pct(50) ? std::string(1, t.empty() ? 'a' : t[0]) : r.pick(kBad);
    ch.resize(8, '\0');
    const int64_t ne = noteq(a.p, n, ch.data());
    EXPECT_TRUE(ne >= -1 && ne <= std::max<int64_t>(n, 0)) << ne;
    const int64_t rd = rmdel(a.p, n);
    EXPECT_TRUE(rd >= 0 && rd <= std::max<int64_t>(n, 0)) << rd;
    Bytes set(rand_text(r, 12));
    const int64_t dl = del(a.p, some_length(r, a.n), set.p, some_length(r, set.n));
    EXPECT_LE(dl, (int64_t)a.n);
    rev(a.p, some_length(r, a.n));
    const int64_t room = r.pct(85) ? r.in(0, 1200) : r.pick(std::vector<int64_t>{-1, INT64_MIN, -4096});
    Area out(room > 0 ? (size_t)room : 0);
    int64_t written = -7;
    const int32_t q = addq(a.p, some_length(r, a.n), out.data(), room, ch.data(), r.pct(20) ? nullptr : &written);
    EXPECT_TRUE(q == 0 || q == ZEQ_RC_UTF8_NOROOM) << q;
    EXPECT_TRUE(out.guards_ok());
    if (written != -7) {
      EXPECT_TRUE(written >= 0 && written <= std::max<int64_t>(room, 0)) << written;
    }
  }
}

TEST(KernelStress, TrimDequoteAndSearch) {
  Rand r(0x7213);
  auto strip = sym<int32_t (*)(const char *, int32_t)>("wzstrip");
  auto stripf = sym<int32_t (*)(const char *, int32_t)>("zstripf");
  auto stripl = sym<int32_t (*)(const char *, int32_t)>("zstripl");
  auto stlen = sym<int32_t (*)(const char *)>("wzstlen");
  auto jls = sym<void (*)(char *, int32_t, int, int32_t *, int32_t *)>("wzstjls");
  auto mp = sym<void (*)(const char *, int32_t, char *, int32_t)>("vzmp");
  auto stl = sym<int64_t (*)(const uint8_t *, int64_t, const uint8_t *)>("vzstl");
  auto ndx = sym<int32_t (*)(const char *, int32_t, const char *, int32_t)>("wzstndx");
  auto deq = sym<int32_t (*)(const char *, int32_t, char *, int32_t)>("zdequote");
  auto stripn = sym<int32_t (*)(const char *, int32_t, char *)>("zstripn");
  EXPECT_EQ(stlen(nullptr), 0);
  uint8_t table[256];
  for (int it = 0; it < 5000; it++) {
    std::string t = rand_text(r, 400);
    if (r.pct(25)) t = (r.pct(50) ? "'" : "\"") + t + (r.pct(50) ? "'" : "\"") + (r.pct(40) ? "n" : "");
    Bytes a(t, true);
    const int32_t n = some_length32(r, a.n);
    const int32_t s1 = strip(a.p, n), s2 = stripf(a.p, n);
    EXPECT_TRUE(n <= 0 ? s1 == n : (s1 >= 0 && s1 <= n));
    EXPECT_EQ(s1, s2);
    if (a.n > 16) {
      const int32_t l = (int32_t)r.in(17, (int64_t)a.n);
      EXPECT_EQ(stripl(a.p, l), strip(a.p, l));
    }
    EXPECT_GE(stlen(a.p), 0);
    int32_t ol = -7, os = -7;
    jls(a.p, some_length32(r, a.n), r.pick(std::vector<int>{'L', 'R', 'C', 'l', 'c', 'x', 0, -1, 0x4C + 256}), &ol,
        &os);
    EXPECT_GE(ol, 0);
    const int32_t dn = r.pct(80) ? (int32_t)r.in(0, 500) : some_length32(r, 0);
    Area out(dn > 0 ? (size_t)dn : 0);
    mp(a.p, some_length32(r, a.n), out.data(), dn);
    EXPECT_TRUE(out.guards_ok());
    for (auto &b : table) b = r.pct(3);
    const int64_t sl = stl(reinterpret_cast<const uint8_t *>(a.p), some_length(r, a.n), table);
    EXPECT_TRUE(sl >= -1 && sl < (int64_t)std::max<size_t>(a.n, 1));
    Bytes ex(rand_text(r, 6), true);
    const int32_t el = r.pct(20) ? -1 : some_length32(r, ex.n);
    const int32_t x = ndx(a.p, some_length32(r, a.n), (el < 0 && r.pct(20)) ? nullptr : ex.p, el);
    EXPECT_TRUE(x >= -1 && x <= (int32_t)a.n) << x;
    const int32_t room = r.pct(85) ? (int32_t)r.in(0, 500) : some_length32(r, 0);
    Area dq(room > 0 ? (size_t)room : 0);
    const int32_t dw = deq(a.p, some_length32(r, a.n), dq.data(), room);
    EXPECT_TRUE(dw >= 0 && dw <= std::max(room, 0)) << dw;
    EXPECT_TRUE(dq.guards_ok());
    Area name(32);
    const int32_t sn = stripn(a.p, some_length32(r, a.n), name.data());
    EXPECT_TRUE(sn >= -1 && sn <= 32) << sn;
    EXPECT_TRUE(name.guards_ok());
  }
}

// ---------------------------------------------------------------------------
// Settings accessors with null, empty and odd names and buffers.
// ---------------------------------------------------------------------------

TEST(SettingsStress, AccessorsWithOddNamesAndBuffers) {
  Rand r(0x5E77);
  auto cget = sym<int64_t (*)(const TKChar *, int64_t, char *, int64_t)>("tknrcget");
  auto tget = sym<int64_t (*)(const TKChar *, int64_t, TKChar *, int64_t)>("tknrtget");
  auto dget = sym<double (*)(const TKChar *, int64_t, double)>("tknrdget");
  auto lget = sym<int64_t (*)(const TKChar *, int64_t, int64_t)>("tknrlget");
  auto dset = sym<int32_t (*)(const TKChar *, int64_t, double)>("tknrdset");
  auto tset = sym<int32_t (*)(const TKChar *, int64_t, const TKChar *, int64_t)>("tknrtset");
  auto lset = sym<int32_t (*)(const TKChar *, int64_t, int64_t)>("tknrlset");
  auto look = sym<int32_t (*)(const TKChar *, int64_t, int32_t, ...)>("tknrlook");
  auto limit = sym<int64_t (*)(const TKChar *, int64_t, int64_t)>("tknrlimit");
  auto stol = sym<int64_t (*)(const TKChar *)>("tknrstol");
  const std::vector<std::string> names = {"ROBUST.A", "ROBUST.B", "ROBUST.NUM", "", " ", "ROBUST.\xC3\xA9",
                                          "OSENV.ROBUST_X", "tkbug.ROBUST"};
  auto units = [](const std::string &s) {
    std::vector<TKChar> u(s.begin(), s.end());
    u.push_back(0);
    return u;
  };
  const std::vector<TKChar> w1 = units("ONE"), w2 = units("TWO");
  for (int it = 0; it < 4000; it++) {
    std::vector<TKChar> name = r.pct(80) ? units(r.pick(names)) : rand_units(r, 40);
    if (name.empty() || name.back() != 0) name.push_back(0);
    const int64_t nl = r.pct(60) ? (int64_t)name.size() - 1 : r.pct(50) ? -1 : r.in(-3, (int64_t)name.size() - 1);
    const TKChar *np = r.pct(8) ? nullptr : name.data();
    std::vector<TKChar> text = rand_units(r, 60);
    text.push_back(0);
    switch (r.in(0, 9)) {
      case 0: {
        const int64_t size = r.pct(80) ? r.in(0, 64) : r.pick(std::vector<int64_t>{-1, INT64_MIN, 1});
        Area buf(size > 0 ? (size_t)size : 0);
        const int64_t got = cget(np, nl, size > 0 || r.pct(50) ? buf.data() : nullptr, size);
        EXPECT_TRUE(got >= 0 && got <= (size > 0 ? size - 1 : 0)) << got;
        EXPECT_TRUE(buf.guards_ok());
        break;
      }
      case 1: {
        const int64_t size = r.pct(80) ? r.in(0, 64) : r.pick(std::vector<int64_t>{-1, INT64_MIN, 1});
        std::vector<TKChar> buf((size_t)std::max<int64_t>(size, 0) + 4, 0xA5A5A5A5u);
        const int64_t got = tget(np, nl, size > 0 || r.pct(50) ? buf.data() : nullptr, size);
        EXPECT_TRUE(got >= 0 && got <= (size > 0 ? size - 1 : 0)) << got;
        for (size_t i = (size_t)std::max<int64_t>(size, 0); i < buf.size(); i++) EXPECT_EQ(buf[i], 0xA5A5A5A5u);
        break;
      }
      case 2: (void)dget(np, nl, rand_number(r)); break;
      case 3: (void)lget(np, nl, (int64_t)r.u()); break;
      case 4: (void)dset(np, nl, rand_number(r)); break;
      case 5: {
        const int64_t tl = r.pct(70) ? (int64_t)text.size() - 1 : r.in(-2, (int64_t)text.size() - 1);
        (void)tset(np, nl, r.pct(10) ? nullptr : text.data(), tl);
        break;
      }
      case 6: (void)lset(np, nl, r.pct(50) ? (int64_t)r.u() : r.in(-5, 5)); break;
      case 7: (void)look(np, nl, (int32_t)r.in(-5, 5), w1.data(), 1, w2.data(), 2, (const TKChar *)nullptr); break;
      case 8: (void)limit(np, nl, r.in(-3, 200)); break;
      default: {
        const int64_t v = stol(text.data());
        EXPECT_TRUE(v >= -((int64_t)1 << 53) && v <= ((int64_t)1 << 53)) << v;
        break;
      }
    }
  }
  EXPECT_EQ(stol(nullptr), -((int64_t)1 << 53));
}

// ---------------------------------------------------------------------------
// Random engine: every builder's slots on a zero blob and after seeding,
// state loads and dumps, the method resolver, and streams (null and real).
// ---------------------------------------------------------------------------

const char *const kBuilders[] = {"zrnfSUBKEY32", "zrnfSUBKEY64", "zrnfRANUNI",  "zrnfRDRAND",  "zrnfMT1998",
                                 "zrnfMTHYBRID", "zrnfMT32",     "zrnfMT64",    "zrnfMH3",     "zrnfXOR64",
                                 "zrnfXOR128",   "zrnfXOR1024",  "zrnfXOR4096", "zrnfXORGENS", "zrnfFRY2X32",
                                 "zrnfFRY2X64",  "zrnfFRY4X64",  "zrnfPCG32I",  "zrnfPCG64I"};

bool draw_all(zrng_desc &d, void *blob) {
  bool ok = true;
  auto check = [&](double x) {
    if (std::isinf(x)) ok = false;
  };
  if (d.uint32) (void)d.uint32(blob);
  if (d.uint64) (void)d.uint64(blob);
  for (zrng_double_fn f : {d.double_default, d.double_crude, d.double_with_zero, d.double_infinite})
    if (f) check(f(blob));
  for (int i = 0; i < 5; i++) {
    if (d.double_32[i]) check(d.double_32[i](blob));
    if (d.double_53[i]) check(d.double_53[i](blob));
    if (d.double_64[i]) check(d.double_64[i](blob));
  }
  return ok;
}

TEST(RngStress, BuilderSlotsOnZeroAndSeededBlobs) {
  Rand r(0x96A);
  for (const char *name : kBuilders) {
    auto build = sym<zrng_builder_fn>(name);
    if (!build) continue;
    zrng_desc d{};
    build(&d);
    const int64_t size = d.blob_size ? d.blob_size() : 0;
    ASSERT_GE(size, 0) << name;
    for (int round = 0; round < 60; round++) {
      Area blob((size_t)size + 8);  // never less than a word for the slots that take one
      std::memset(blob.data(), 0, blob.room);
      EXPECT_TRUE(draw_all(d, blob.data())) << name << " zero blob";
      const uint64_t v = r.pct(30) ? r.pick(std::vector<uint64_t>{0, 1, ~0ull, 1ull << 63, 0xFFFFFFFFull}) : r.u();
      const double x = rand_number(r);
      for (zrng_set32_fn f : {d.seed_32, d.key_32, d.thread_32, d.count_32})
        if (f && r.pct(60)) {
          EXPECT_EQ(f(blob.data(), (uint32_t)v), 0) << name;
        }
      for (zrng_set64_fn f : {d.seed_64, d.key_64, d.thread_64, d.count_64})
        if (f && r.pct(60)) {
          EXPECT_EQ(f(blob.data(), v), 0) << name;
        }
      for (zrng_setd_fn f : {d.seed_double, d.key_double})
        if (f && r.pct(60)) {
          EXPECT_EQ(f(blob.data(), x), 0) << name;
        }
      for (int k = 0; k < 20; k++) EXPECT_TRUE(draw_all(d, blob.data())) << name << " seeded";
      if (d.state) {
        Bytes bytes(rand_text(r, 3000));
        const int64_t len = some_length(r, bytes.n);
        const int32_t mode = r.pct(70) ? (int32_t)r.in(0, 3) : (int32_t)r.u();
        const int32_t rc = d.state(blob.data(), bytes.p, len, mode);
        EXPECT_TRUE(rc >= -1 && rc <= 4) << name << " state " << rc;
        EXPECT_TRUE(draw_all(d, blob.data())) << name << " loaded";
      }
      const int64_t words64 = size / 8, words32 = size / 4;
      if (d.dump_blob_64 && r.pct(30))
        d.dump_blob_64(reinterpret_cast<const uint64_t *>(blob.data()), r.in(-3, words64 + 40));
      if (d.dump_blob_32 && r.pct(30))
        d.dump_blob_32(reinterpret_cast<const uint32_t *>(blob.data()), r.in(-3, words32 + 40));
      EXPECT_TRUE(blob.guards_ok()) << name;
    }
    host().clear_log();
  }
}

TEST(RngStress, MethodResolverWithRandomWords) {
  Rand r(0x3E7);
  auto meth = sym<int32_t (*)(const void *, int64_t, zrng_desc *, int64_t)>("zrngmeth");
  const std::vector<std::string> words = {"MT", "mt64", " threefry ", "FRY4X64", "PCG", "xor", "rdrand", "MH3",
                                          "MTHYBRID", "RANUNI", "SUBKEY32", "XORGENS", "", "XOR4096XOR4096X",
                                          "tf2x32", "hybrid"};
  for (int it = 0; it < 3000; it++) {
    std::string w = r.pct(60) ? r.pick(words) : rand_text(r, 40);
    zrng_desc d{};
    const bool wide = r.pct(40);
    int32_t rc;
    if (wide) {
      std::vector<TKChar> u(w.begin(), w.end());
      if (r.pct(30)) u = rand_units(r, 30);
      u.push_back(0);
      const int64_t len = r.pct(30) ? -1 : r.in(0, (int64_t)u.size() - 1);
      rc = meth(r.pct(5) ? nullptr : u.data(), len, r.pct(5) ? nullptr : &d, 1 | (r.u() & ~1ull));
    } else {
      Bytes b(w, true);
      const int64_t len = r.pct(30) ? -1 : r.in(0, (int64_t)b.n);
      rc = meth(r.pct(5) ? nullptr : b.p, len, r.pct(5) ? nullptr : &d, (int64_t)(r.u() & ~1ull));
    }
    EXPECT_TRUE(rc == 0 || rc == ZRAND_RC_BAD_METHOD || rc == ZRAND_RC_NO_HARDWARE) << rc;
  }
  host().clear_log();
}

bool stream_status_ok(int32_t rc) {
  return rc == 0 || rc == ZEQ_RC_NULL_STREAM || (rc >= ZRAND_RC_NOT_INIT && rc <= ZRAND_RC_KEY_RANGE);
}

TEST(RngStress, StreamsNullAndReal) {
  Rand r(0x57E);
  auto seed = sym<int32_t (*)(uint64_t, zrand_stream *)>("zrand_seed");
  auto crude = sym<int32_t (*)(zrand_stream *)>("zrand_crude");
  auto init = sym<int32_t (*)(void *)>("zrand_init");
  auto rewind = sym<int32_t (*)(zrand_stream *)>("zrand_rewind");
  auto method = sym<int32_t (*)(const void *, int64_t, zrand_stream *)>("zrand_method");
  auto check = sym<int32_t (*)(zrand_stream *, int64_t)>("zrand_check");
  auto clone = sym<int32_t (*)(zrand_stream *, uint64_t, zrand_stream *)>("zrand_clone");
  auto clone_mva = sym<zrand_stream *(*)(ZeqPool *, uint64_t, zrand_stream *)>("zrand_clone_mva");
  auto alloc = sym<zrand_stream *(*)(uint64_t, uint64_t)>("zrand_alloc_mva");
  auto fre = sym<void (*)(void *)>("zrndfre");
  auto macros = sym<void (*)(int32_t, zrand_stream *)>("zrand_macros");
  EXPECT_EQ(seed(1, nullptr), ZEQ_RC_NULL_STREAM);
  EXPECT_EQ(crude(nullptr), ZEQ_RC_NULL_STREAM);
  EXPECT_EQ(init(nullptr), ZEQ_RC_NULL_STREAM);
  EXPECT_EQ(rewind(nullptr), ZEQ_RC_NULL_STREAM);
  EXPECT_EQ(method("MT", 2, nullptr), ZEQ_RC_NULL_STREAM);
  EXPECT_EQ(check(nullptr, 0), 0);  // a hook that does nothing
  EXPECT_TRUE(stream_status_ok(clone(nullptr, 1, nullptr)));
  fre(nullptr);
  macros(0, nullptr);
  EXPECT_EQ(clone_mva(host().global_pool().raw(), 1, nullptr), nullptr);

  const std::vector<std::string> words = {"MT", "MT64", "FRY2X32", "PCG64I", "XOR1024", "RANUNI", "SUBKEY64",
                                          "MH3", "XORGENS", "bogus", "", "RDRAND", "MT1998", "XOR128"};
  for (int it = 0; it < 300; it++) {
    const bool fail = r.pct(5);
    if (fail) host().task_pool().fail_nth(1), host().global_pool().fail_nth(1);
    zrand_stream *s = alloc(r.pct(50) ? 0 : r.u(), r.u());
    if (fail) host().task_pool().fail_nth(0), host().global_pool().fail_nth(0);
    if (!s) continue;
    for (int k = 0; k < 8; k++) {
      int32_t rc = 0;
      switch (r.in(0, 6)) {
        case 0: {
          Bytes w(r.pick(words), true);
          rc = method(w.p, r.pct(30) ? -1 : r.in(0, (int64_t)w.n), s);
          break;
        }
        case 1: rc = init(s); break;
        case 2: rc = seed(r.pct(20) ? 0 : r.u(), s); break;
        case 3: rc = rewind(s); break;
        case 4: rc = crude(s); break;
        case 5: rc = check(s, (int64_t)r.u()); break;
        default: {
          // From the source's task pool, so that zrndfre may give the
          // header back (the clone's blob stays, as the contract says).
          zrand_stream *c = clone_mva(nullptr, r.u(), s);
          if (c) {
            if (c->desc && c->state && c->desc->uint32) (void)c->desc->uint32(c->state);
            fre(c);
          }
          break;
        }
      }
      EXPECT_TRUE(stream_status_ok(rc)) << rc;
      if (s->desc && s->state && s->ready) {
        EXPECT_TRUE(draw_all(*s->desc, s->state));
      }
    }
    fre(s);
  }
  host().clear_log();
  EXPECT_FALSE(host().task_pool().double_free_seen());
  EXPECT_FALSE(host().global_pool().double_free_seen());
}

}  // namespace
