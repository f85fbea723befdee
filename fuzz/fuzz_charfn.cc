// fuzz/fuzz_charfn.cc - the character functions as a host calls them.
//
// Each input is decoded into one call site: a function-table slot, an
// exported byte-route entry or a multibyte twin (shapes from the catalogue),
// 0-8 arguments of any type (missing, NaN, infinities, huge and negative
// numbers, raw bytes with NULs and malformed UTF-8), a fixed result of 0-300
// bytes or a growable one, any resultKind and call form, either session
// encoding, optionally COMPCOST first and a host pool failing a chosen
// allocation.  The site is called once or twice with the same block (so
// call-site caches are built and then used), after which its cache block is
// given back as a host does when the site goes away.
//
// Checked after every input: the status is one the module uses, a character
// result stays inside its room, guard bytes behind every output are intact,
// and the pools, the scratch arena and the release log are as before.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "charfn/entry_types.h"
#include "charfn/catalogue.h"
#include "fuzz/fuzz_common.h"
#include "zeq/abi.h"

namespace {

using zeq::catalogue::Function;
using zeq::catalogue::kFunctionCount;
using zeq::catalogue::kFunctions;
using zeq::catalogue::Result;
using namespace zeqfuzz;

using CharFn = zeq::typed::CharEntry;
using NumFn = zeq::typed::NumberEntry;
using DirectFn = zeq::typed::DirectEntry;
using RoutineFn = zeq::typed::RoutineEntry;
using MbCharFn = zeq::typed::MbCharEntry;
using MbNumFn = zeq::typed::MbNumberEntry;

// The statuses an entry may answer (besides the ones of a host service it
// passes on, which the reference host never produces here).
bool known_status(int32_t rc) {
  return rc == FNC_RC_OK || rc == FNC_RC_MISSING || rc == FNC_RC_NOTE || rc == FNC_RC_NOROOM ||
         rc == FNC_RC_NOMEM;
}

// A growable result whose allocator moves the data on every resize, so that
// a stale pointer shows under ASan; the guard bytes follow the usable size.
struct Grow {
  FncStringAllocator rec{};  // first member: the module hands &rec back
  int64_t size = 0;
  std::vector<char *> blocks;
  ~Grow() {
    for (char *b : blocks) std::free(b);
  }
  static void *resize(FncStringAllocator *self, void *old, int64_t size, uint32_t) {
    auto *g = reinterpret_cast<Grow *>(self);
    if (size < 0 || size > (int64_t)1 << 24) return nullptr;
    char *p = static_cast<char *>(std::malloc((size_t)size + Area::kGuardBytes));
    std::memset(p, Area::kGuard, (size_t)size + Area::kGuardBytes);
    if (old) std::memcpy(p, old, (size_t)std::min(g->size, size));
    for (char *&b : g->blocks)
      if (b == old) {
        std::free(b);
        b = nullptr;
      }
    g->blocks.push_back(p);
    g->size = size;
    return p;
  }
  bool intact(const FncString &r) const {
    if (!r.data || r.data != (blocks.empty() ? nullptr : blocks.back())) return true;
    for (size_t i = 0; i < Area::kGuardBytes; i++)
      if ((unsigned char)r.data[size + (int64_t)i] != Area::kGuard) return false;
    return true;
  }
};

// The result record of a character entry: fixed (0-300 bytes) or growable.
struct Out {
  FncString rec{};
  Grow grow;
  Area fixed{0};
  bool growable = false;
  void make(FuzzedDataProvider &p) {
    growable = p.ConsumeBool();
    const int64_t room = p.ConsumeIntegralInRange<int64_t>(0, 300);
    rec.maxLength = growable && p.ConsumeBool() ? p.ConsumeIntegralInRange<int64_t>(0, 40000) : room;
    if (growable) {
      grow.rec.resize = Grow::resize;
      rec.allocator = &grow.rec;
      rec.capacity = 0;
    } else {
      fixed = Area(room);
      rec.data = fixed.data();
    }
  }
  int64_t room() const { return growable ? std::max<int64_t>(rec.maxLength, rec.capacity) : (int64_t)fixed.room; }
  bool intact() const { return growable ? grow.intact(rec) : fixed.intact(); }
};

// The argument block of one call site and the values it points at.
struct Block {
  std::vector<unsigned char> raw;
  std::deque<FncString> strings;
  std::deque<std::vector<char>> texts;
  std::deque<double> numbers;

  FncArgList *b() { return reinterpret_cast<FncArgList *>(raw.data()); }

  FncString *text_value(FuzzedDataProvider &p) {
    const std::string t = some_text(p, p.ConsumeIntegralInRange<int>(0, 9) == 0 ? 600 : 48);
    texts.emplace_back(t.begin(), t.end());  // exactly the bytes: ASan sees a read past them
    FncString s{};
    s.length = (int64_t)t.size();
    s.maxLength = s.length;
    s.data = t.empty() && p.ConsumeBool() ? nullptr : texts.back().data();
    strings.push_back(s);
    return &strings.back();
  }

  void make(FuzzedDataProvider &p, int argc) {
    raw.assign(FNC_ARGLIST_SIZE(argc > 0 ? argc : 1), 0);
    FncArgList *a = b();
    static const uint8_t kKinds[] = {0, 0, 0x48, 0x58, 0x68, 0x88, 0x78, 0x38};
    a->resultKind = p.ConsumeIntegralInRange<int>(0, 15) == 0 ? p.ConsumeIntegral<uint8_t>()
                                                              : kKinds[p.ConsumeIntegralInRange<size_t>(0, 7)];
    a->callForm = p.ConsumeIntegralInRange<int>(0, 3) == 0 ? FNC_FORM_CALL : FNC_FORM_FUNCTION;
    a->argCount = argc;
    for (int i = 0; i < argc; i++) {
      FncArg &arg = a->args[i];
      switch (p.ConsumeIntegralInRange<int>(0, 9)) {
        case 0: case 1: case 2:
          arg.type = FNC_ARG_NUMERIC;
          numbers.push_back(some_number(p));
          arg.value = &numbers.back();
          break;
        case 3: case 4: case 5: case 6:
          arg.type = FNC_ARG_CHAR;
          arg.value = text_value(p);
          break;
        case 7:
          arg.type = FNC_ARG_VARCHAR;
          arg.value = text_value(p);
          break;
        case 8:  // an optional argument not written
          arg.type = p.ConsumeBool() ? FNC_ARG_CHAR : FNC_ARG_NUMERIC;
          break;
        default:  // type bits no host uses, with a value of the other kind
          arg.type = p.ConsumeIntegral<uint8_t>();
          // A type claiming both a number and a character value names no
          // one record: no host builds one.
          if ((arg.type & FNC_ARG_NUMERIC) && (arg.type & FNC_ARG_ISCHAR))
            arg.type &= p.ConsumeBool() ? (uint8_t)~FNC_ARG_NUMERIC : (uint8_t)~FNC_ARG_ISCHAR;
          if (arg.type & FNC_ARG_NUMERIC) {
            numbers.push_back(some_number(p));
            arg.value = &numbers.back();
          } else {
            arg.value = text_value(p);
          }
          break;
      }
      if (p.ConsumeIntegralInRange<int>(0, 31) == 0) arg.mark = FNC_MARK_BAD;
    }
  }
};

// What one input calls.
struct Target {
  const Function *fn;
  void *entry;
  bool multibyte;
};

Target choose(FuzzedDataProvider &p) {
  zeqhost::Host &h = host();
  const Function &f = kFunctions[p.ConsumeIntegralInRange<size_t>(0, kFunctionCount - 1)];
  switch (p.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
      if (f.slot) return {&f, h.slot(p.ConsumeBool() && f.slot2 ? f.slot2 : f.slot), false};
      break;
    case 1:
      if (!f.mb_entry.empty()) return {&f, h.symbol(std::string(f.mb_entry).c_str()), true};
      break;
    default: break;
  }
  return {&f, h.symbol(std::string(f.entry).c_str()), false};
}

int32_t call(const Target &t, Block &blk, Out &out, FncString *res, FncString *direct_arg, double *num) {
  FncArgList *a = blk.b();
  const std::string name(t.fn->name);
  ZeqStringService *svc = host().string_service();
  switch (t.fn->result) {
    case Result::Char:
      return t.multibyte ? reinterpret_cast<MbCharFn>(t.entry)(a, res, svc, 0, name.c_str())
                         : reinterpret_cast<CharFn>(t.entry)(a, res);
    case Result::Number:
      return t.multibyte ? reinterpret_cast<MbNumFn>(t.entry)(a, num, svc, 0, name.c_str())
                         : reinterpret_cast<NumFn>(t.entry)(a, num);
    case Result::Direct: return reinterpret_cast<DirectFn>(t.entry)(direct_arg, &out.rec);
    case Result::Routine: return reinterpret_cast<RoutineFn>(t.entry)(a);
  }
  return 0;
}

// COMPCOST with random pairs, as a program sets its costs before COMPGED.
void set_costs(FuzzedDataProvider &p) {
  static const char *const kOps[] = {"APPEND=", "BLANK=", "DELETE=", "DOUBLE=", "FDELETE=", "FINSERT=",
                                     "FREPLACE=", "INSERT=", "MATCH=", "PUNCTUATION=", "REPLACE=", "SINGLE=",
                                     "SWAP=", "TRUNCATE=", "ins", "x="};
  Block blk;
  const int pairs = p.ConsumeIntegralInRange<int>(0, 5);
  const int argc = pairs * 2 + (p.ConsumeIntegralInRange<int>(0, 7) == 0 ? 1 : 0);
  blk.raw.assign(FNC_ARGLIST_SIZE(argc > 0 ? argc : 1), 0);
  FncArgList *a = blk.b();
  a->argCount = argc;
  a->callForm = FNC_FORM_CALL;
  for (int i = 0; i < argc; i++) {
    if (i % 2 == 0) {
      const std::string op = kOps[p.ConsumeIntegralInRange<size_t>(0, std::size(kOps) - 1)];
      blk.texts.emplace_back(op.begin(), op.end());
      blk.strings.push_back({(int64_t)op.size(), (int64_t)op.size(), blk.texts.back().data(), nullptr, 0});
      a->args[i] = {FNC_ARG_CHAR, 0, {}, &blk.strings.back()};
    } else {
      blk.numbers.push_back(some_number(p));
      a->args[i] = {FNC_ARG_NUMERIC, 0, {}, &blk.numbers.back()};
    }
  }
  sym<RoutineFn>("fncomcos")(a);
}

// Gives a call site's cache block back to the task pool, as a host does when
// the site goes away: the block the site's word addresses, when the site
// holds one more task block than before it ran.
void release_site_cache(FncArgList *a, size_t task_live_before) {
  zeqhost::Host &h = host();
  if (!FNC_KIND_IS_LIMITED(a->resultKind) || a->noteCount == 0) return;
  if (h.task_pool().live_blocks() <= task_live_before) return;
  ZeqPool *pool = h.task()->pool;
  pool->release(pool, reinterpret_cast<void *>(static_cast<uintptr_t>(a->noteCount)));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  zeqhost::Host &h = host();
  // The task context and COMPCOST's table live as long as the task: build
  // them once here so that every input starts from the same pools.
  build_task_context();
  FuzzedDataProvider none(nullptr, 0);
  set_costs(none);
  h.clear_log();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider p(data, size);
  zeqhost::Host &h = host();
  const PoolMark mark;
  const bool utf8 = p.ConsumeBool();
  if (h.utf8() != utf8) h.set_utf8(utf8);
  if (p.ConsumeIntegralInRange<int>(0, 5) == 0) set_costs(p);

  const Target t = choose(p);
  if (!t.entry) finding("catalogue entry not exported");
  Block blk;
  blk.make(p, p.ConsumeIntegralInRange<int>(0, 8));
  Out out;
  out.make(p);
  FncString *res = &out.rec;
  FncArgList *a = blk.b();
  if (t.fn->result == Result::Char && a->callForm == FNC_FORM_CALL && p.ConsumeBool()) {
    // CALL forms: no result record (SCAN's position form), or the result is
    // the target argument, updated in place.
    if (p.ConsumeBool() || a->argCount == 0) {
      res = nullptr;
    } else {
      const int target = a->argCount > 1 && p.ConsumeBool() ? 1 : 0;
      a->args[target].type = p.ConsumeBool() ? FNC_ARG_CHAR : FNC_ARG_VARCHAR;
      a->args[target].value = res;
    }
  }
  FncString *direct_arg = blk.text_value(p);

  const int calls = p.ConsumeBool() ? 2 : 1;
  for (int i = 0; i < calls; i++) {
    maybe_fail_allocation(p);
    double num = 12345.0;
    const int32_t rc = call(t, blk, out, res, direct_arg, &num);
    h.global_pool().fail_nth(0);
    h.task_pool().fail_nth(0);
    require(known_status(rc), "unknown status");
    require(!std::isinf(num), "infinite result");
    if (res && rc != FNC_RC_NOROOM && (t.fn->result == Result::Char || t.fn->result == Result::Direct))
      require(res->length >= 0 && res->length <= out.room(), "result length outside its room");
    require(out.intact(), "guard bytes behind the result overwritten");
    require(h.scratch_live() == 0, "scratch arena not given back");
  }
  release_site_cache(a, mark.task);
  mark.finish();
  return 0;
}
