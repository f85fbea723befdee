// tests/oom_test.cc - running out of memory at every allocation.
//
// Each call below runs again and again with the host refusing allocation n
// (n = 1, 2, ...) of one source - the call's task pool, the global pool, the
// scratch arenas, or a growable result's allocator - until the call no
// longer reaches allocation n.  Every time: the status is the call's normal one or the shortage status
// (NOROOM, NOMEM), a result stays inside its room, the same call site called
// again without a shortage answers what it answers normally (so nothing half
// built is kept), the pools hold as many blocks as before (no leak) and no
// block was released twice.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "charfn/catalogue.h"
#include "charfn/entry_types.h"
#include "tests/support/host_fixture.h"
#include "tools/zeq/parser.h"
#include "zeq/rng.h"

namespace {

using zeqtest::Arg;
using zeqtest::C;
using zeqtest::Call;
using zeqtest::host;
using zeqtest::N;
using zeq::catalogue::Result;

constexpr int kMaxAllocations = 64;  // no call here makes more

// A growable result's allocator that refuses its n-th request; the data
// moves on every resize so that a stale pointer shows under ASan.
struct FailingGrow {
  FncStringAllocator rec{};  // first member: the module hands &rec back
  int fail_at = 0;           // 1-based request to refuse; 0 none
  int requests = 0;
  std::vector<void *> blocks;
  FailingGrow() { rec.resize = resize; }
  ~FailingGrow() {
    for (void *b : blocks) std::free(b);
  }
  static void *resize(FncStringAllocator *self, void *old, int64_t size, uint32_t) {
    auto *g = reinterpret_cast<FailingGrow *>(self);
    if (++g->requests == g->fail_at) return nullptr;
    void *p = std::malloc(size > 0 ? (size_t)size : 1);
    if (old) std::memcpy(p, old, (size_t)size);  // the module never shrinks through resize
    for (void *&b : g->blocks)
      if (b == old) {
        std::free(b);
        b = nullptr;
      }
    g->blocks.push_back(p);
    return p;
  }
};

// One call of a catalogue function with its arguments, and where it runs.
struct Row {
  const char *fn;
  std::vector<Arg> args;
  uint8_t kind = 0;      // resultKind: 0x48 keeps call-site caches
  bool utf8 = false;     // session encoding (multibyte route on multibyte text)
  bool growable = false; // character result through an allocator
};

std::string row_name(const ::testing::TestParamInfo<Row> &info) {
  const Row &r = info.param;
  return std::string(r.fn) + (r.kind ? "_cached" : "") + (r.utf8 ? "_utf8" : "") + (r.growable ? "_grow" : "") +
         "_" + std::to_string(info.index);
}

// What a call answered.
struct Outcome {
  int32_t rc = 0;
  double number = -1;
  std::string text;
  bool operator==(const Outcome &o) const {
    return rc == o.rc && text == o.text && (number == o.number || (std::isnan(number) && std::isnan(o.number)));
  }
};

std::ostream &operator<<(std::ostream &os, const Outcome &o) {
  return os << "{rc " << o.rc << ", number " << o.number << ", text \"" << o.text << "\"}";
}

constexpr int64_t kRoom = 64;
constexpr size_t kGuard = 16;

// One call site of a row on a task of its own: its argument block (and so
// its call-site cache) lasts as long as the site.
class Site {
 public:
  Site(const Row &row, FncTask *task) : row_(row), fn_(zeq::catalogue::find(row.fn)) {
    zeqtest::add_args(call_, row.args);
    call_.task(task).kind(row.kind);
    if (fn_->result == Result::Routine) call_.form(FNC_FORM_CALL);
  }
  const zeq::catalogue::Function &fn() const { return *fn_; }
  FailingGrow &grow() { return grow_; }

  // Calls the entry once; `clean` is false when a fixed result's guard
  // bytes were overwritten or a result ran past its room.
  Outcome run(bool *clean) {
    Outcome o;
    FncString res{};
    std::string fixed(kRoom + kGuard, '#');
    res.maxLength = kRoom;
    if (row_.growable) {
      res.allocator = &grow_.rec;
    } else {
      res.data = fixed.data();
    }
    void *entry = host().symbol(std::string(fn_->entry).c_str());
    FncArgList *a = call_.block();
    switch (fn_->result) {
      case Result::Char: o.rc = reinterpret_cast<zeq::typed::CharEntry>(entry)(a, &res); break;
      case Result::Number: o.rc = reinterpret_cast<zeq::typed::NumberEntry>(entry)(a, &o.number); break;
      case Result::Direct:
        o.rc = reinterpret_cast<zeq::typed::DirectEntry>(entry)(call_.string_arg(0), &res);
        break;
      case Result::Routine: o.rc = reinterpret_cast<zeq::typed::RoutineEntry>(entry)(a); break;
    }
    const int64_t room = row_.growable ? std::max(res.maxLength, res.capacity) : kRoom;
    *clean = fixed.compare(kRoom, kGuard, std::string(kGuard, '#')) == 0 && res.length >= 0 && res.length <= room;
    if (fn_->result == Result::Char || fn_->result == Result::Direct)
      o.text.assign(res.data ? res.data : "", res.data ? (size_t)std::max<int64_t>(res.length, 0) : 0);
    return o;
  }

  // Gives the site's cache block back, as a host does when the site goes
  // away: the block the site's word addresses, when the task pool holds
  // more blocks than `live_before`.
  void release_cache(zeqhost::Pool &pool, FncTask *task, size_t live_before) {
    FncArgList *a = call_.block();
    if (!FNC_KIND_IS_LIMITED(a->resultKind) || a->noteCount == 0 || pool.live_blocks() <= live_before) return;
    task->pool->release(task->pool, reinterpret_cast<void *>(static_cast<uintptr_t>(a->noteCount)));
    a->noteCount = 0;
  }

 private:
  Row row_;
  const zeq::catalogue::Function *fn_;
  Call call_;
  FailingGrow grow_;
};

// A task with its context built, freed with its pool at the end of scope.
struct Task {
  FncTask *t;
  Task() : t(host().new_task()) {
    EXPECT_EQ(host().fn<int32_t (*)(FncTask *)>("fncinit")(t), FNC_RC_OK);
  }
  ~Task() { EXPECT_TRUE(host().free_task(t)); }
  zeqhost::Pool &pool() { return host().pool_of(t); }
};

// Whether the request `n` (counted from `served`) that `pool` was told to
// refuse was reached; clears the refusal.  A refused request is not counted
// as served, so a pool that served n-1 requests may or may not have refused
// the n-th: a probe request tells (it fails only while the refusal waits).
bool refused(zeqhost::Pool &pool, size_t served, int n) {
  const bool enough = (int)(pool.allocations() - served) >= n - 1;
  ZeqPool *raw = pool.raw();
  void *probe = raw->alloc(raw, 8, ZEQ_FLAGS_ZERO);
  pool.fail_nth(0);
  if (probe) raw->release(raw, probe);
  return enough && probe != nullptr;
}

enum class Source { TaskPool, GlobalPool, Scratch, Result };
const char *source_name(Source s) {
  switch (s) {
    case Source::TaskPool: return "task pool";
    case Source::GlobalPool: return "global pool";
    case Source::Scratch: return "scratch arenas";
    default: return "result allocator";
  }
}

class OutOfMemory : public ::testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host().loaded()) << host().load_error();
    host().set_utf8(GetParam().utf8);
  }
  void TearDown() override {
    host().set_utf8(false);
    host().clear_log();
  }

  // The call with memory plentiful, and the task blocks it keeps (COMPCOST's
  // table lives as long as the task).
  Outcome normal(size_t *kept) {
    Task task;
    Site site(GetParam(), task.t);
    const size_t live = task.pool().live_blocks();
    bool clean = false;
    Outcome o = site.run(&clean);
    EXPECT_TRUE(clean);
    site.release_cache(task.pool(), task.t, live);
    *kept = task.pool().live_blocks() - live;
    return o;
  }

  // Refuses allocation n of `source` for n = 1, 2, ... until the call makes
  // fewer than n requests of it; answers how many requests were refused.
  int sweep(Source source, const Outcome &expected, size_t kept) {
    zeqhost::Host &h = host();
    for (int n = 1; n <= kMaxAllocations; n++) {
      SCOPED_TRACE(std::string(source_name(source)) + " refusing request " + std::to_string(n));
      Task task;
      Site site(GetParam(), task.t);
      zeqhost::Pool &pool = source == Source::GlobalPool ? h.global_pool() : task.pool();
      const size_t task_live = task.pool().live_blocks(), global_live = h.global_pool().live_blocks();
      const size_t served = pool.allocations(), scratch = h.scratch_requests();
      if (source == Source::Result) site.grow().fail_at = n;
      else if (source == Source::Scratch) h.fail_scratch_nth(n);
      else pool.fail_nth(n);
      bool clean = false;
      const Outcome o = site.run(&clean);
      bool reached;
      if (source == Source::Result) {
        reached = site.grow().requests >= n;
      } else if (source == Source::Scratch) {
        reached = h.scratch_requests() - scratch >= (size_t)n;
        h.fail_scratch_nth(0);
      } else {
        reached = refused(pool, served, n);
      }
      site.grow().fail_at = 0;

      EXPECT_TRUE(clean) << "result written past its room";
      if (!(o == expected)) {
        EXPECT_TRUE(o.rc == FNC_RC_NOROOM || o.rc == FNC_RC_NOMEM) << o << " normally " << expected;
      }
      // The same site again, memory plentiful: the normal answer.
      bool again_clean = false;
      EXPECT_EQ(site.run(&again_clean), expected);
      EXPECT_TRUE(again_clean);
      site.release_cache(task.pool(), task.t, task_live);
      EXPECT_EQ(task.pool().live_blocks(), task_live + kept) << "task pool blocks kept";
      EXPECT_EQ(h.global_pool().live_blocks(), global_live) << "global pool blocks kept";
      EXPECT_FALSE(task.pool().double_free_seen());
      EXPECT_FALSE(h.global_pool().double_free_seen());
      EXPECT_EQ(h.scratch_live(), 0u);
      if (!reached || ::testing::Test::HasFailure()) return n - 1;
    }
    ADD_FAILURE() << "more than " << kMaxAllocations << " allocations";
    return kMaxAllocations;
  }
};

TEST_P(OutOfMemory, EveryAllocationRefusedInTurn) {
  size_t kept = 0;
  const Outcome expected = normal(&kept);
  const int from_task = sweep(Source::TaskPool, expected, kept);
  sweep(Source::GlobalPool, expected, kept);
  sweep(Source::Scratch, expected, kept);
  // A call-site cache comes from the task pool, a growable result from its
  // allocator: the sweep must have refused them.
  if (FNC_KIND_IS_LIMITED(GetParam().kind)) {
    EXPECT_GT(from_task, 0) << expected;
  }
  if (GetParam().growable) {
    EXPECT_GT(sweep(Source::Result, expected, kept), 0) << expected;
  }
}

// The arguments of a row's first example, when it is a function call of
// constants.
std::optional<Row> example_row(const zeq::catalogue::Function &f) {
  const std::string_view ex = f.examples.substr(0, f.examples.find(" => "));
  zeqtool::ParseError err;
  const auto st = zeqtool::parse_statement(std::string(ex.substr(0, ex.find(" | "))), err);
  if (!st || st->call) return std::nullopt;
  Row r{f.name.data(), {}};
  for (const zeqtool::Arg &a : st->args) {
    if (a.kind == zeqtool::Arg::Variable) return std::nullopt;
    r.args.push_back(a.kind == zeqtool::Arg::String ? C(a.text) : a.kind == zeqtool::Arg::Number ? N(a.number)
                                                                                               : zeqtest::Miss());
  }
  return r;
}

// Every table entry, with arguments that make it allocate where it can:
// growable results, call-site caches (resultKind 0x48), the multibyte route;
// a catalogue row without a line here runs its first example.
std::vector<Row> rows() {
  const uint8_t kCache = 0x48;
  const std::string e = "\xC3\xA9";  // é
  std::vector<Row> v = {
      {"ANYFIRST", {C("12ab")}},
      {"ANYNAME", {C("+-" + e + "a1")}, 0, true},
      {"NOTFIRST", {C("ab1")}},
      {"NOTNAME", {C("ab-c")}, 0, true},
      {"NVALID", {C("abc")}},
      {"NVALIDCODE", {C("1abc")}},
      {"CHAR", {C("a" + e + "c"), N(2)}, 0, true},
      {"SUBPAD", {C("abc"), N(2), N(4)}},
      {"FIRST", {C(e + "bc")}, 0, true},
      {"NLITERAL", {C("a b")}},
      {"POSITION", {C("abcabc"), C("ca")}},
      {"COMPCOST", {C("REPLACE="), N(50), C("INSERT="), N(20)}},
      {"COMPGED", {C("abc"), C("abd")}},
      {"COMPGED", {C("a" + e + "bcdefghijklmnopqrstuvwxyz0123456789abcdef"), C("abd" + e), N(900), C("iL")}, 0, true},
      {"COMPLEV", {C("kitten" + std::string(40, 'x')), C("sitting" + e)}, 0, true},
      {"COMPARE", {C("ab" + e), C("AB" + e), C("i")}, 0, true},
      {"COUNT", {C("banana"), C("AN"), C("i")}},
      {"COUNT", {C("b" + e + "n" + e + "n" + e), C(e + "N"), C("i")}, 0, true},
      {"COUNTC", {C("banana"), C("an"), C("io")}, kCache},
      {"COUNTC", {C("b" + e + "nana"), C("an" + e), C("o")}, kCache, true},
      {"COUNTQ", {C("a 'b c' d"), C(",")}, kCache},
      {"COUNTW", {C("a b  c"), C(" ,"), C("to")}, kCache},
      {"COUNTW", {C("a " + e + "  c"), C(" " + e), C("o")}, kCache, true},
      {"FIND", {C("She sells sea shells"), C("she"), C("i")}},
      {"FIND", {C("S" + e + " sells"), C("SELLS"), C("i")}, 0, true},
      {"FINDC", {C("hello"), C("l"), C("ko")}, kCache},
      {"FINDC", {C("h" + e + "llo"), C("l" + e), C("o")}, kCache, true},
      {"FINDLEV", {C("the color red"), C("colour"), N(1)}},
      {"FINDW", {C("The quick brown fox"), C("fox"), C(" "), C("EO")}, kCache},
      {"FINDW", {C("The qu" + e + "ck fox"), C("fox"), C(" " + e), C("o")}, kCache, true},
      {"SCAN", {C("one two three"), N(-1), C(" "), C("o")}, kCache, false, true},
      {"SCAN", {C("one t" + e + "o three"), N(2), C(" " + e), C("o")}, kCache, true, true},
      {"SCANQ", {C("a 'b c' d"), N(2), C(" ")}, kCache, false, true},
      {"CAT", {C("a "), C("b"), N(5)}, 0, false, true},
      {"CATB", {C(" a "), C("b ")}, 0, false, true},
      {"CATC", {C(" a "), C("b ")}, 0, false, true},
      {"CATM", {C("-"), C("a"), C(" "), C("b")}, 0, false, true},
      {"CATN", {C("a"), N(1)}},
      {"CATQ", {C("C"), C("a,b"), C("c")}},  // CATQ fills the room it has; it never grows a result
      {"CATS", {C(" a "), C(" b")}, 0, false, true},
      {"CATT", {C(" a "), C("b")}, 0, false, true},
      {"CATX", {C("-"), C("a"), C("  "), C(std::string(200, 'b'))}, 0, false, true},
  };
  for (const auto &f : zeq::catalogue::kFunctions) {
    bool listed = false;
    for (const Row &r : v) listed = listed || f.name == r.fn;
    if (!listed)
      if (auto r = example_row(f)) v.push_back(*r);
  }
  return v;
}

INSTANTIATE_TEST_SUITE_P(Table, OutOfMemory, ::testing::ValuesIn(rows()), row_name);

// Every catalogue function has a row above: a row of its own, or its first
// example (a row without one needs a line in rows()).
TEST(OutOfMemoryRows, CoverTheCatalogue) {
  const std::vector<Row> all = rows();
  for (const auto &f : zeq::catalogue::kFunctions) {
    bool found = false;
    for (const Row &r : all) found = found || f.name == r.fn;
    EXPECT_TRUE(found) << f.name;
  }
}

// ---------------------------------------------------------------------------
// Task contexts and random streams.
// ---------------------------------------------------------------------------

using Init = int32_t (*)(FncTask *);
using AllocReb = zrand_stream *(*)(FncTask *, uint64_t, uint64_t);
using CloneFrom = zrand_stream *(*)(ZeqPool *, uint64_t, zrand_stream *);
using Free = void (*)(void *);

// A task whose context runs out of memory half-way: fncinit answers NOMEM,
// and the first function call completes what can be completed and answers
// normally; nothing is released twice.
TEST(OutOfMemoryTask, ContextCreation) {
  zeqhost::Host &h = host();
  auto fncinit = h.fn<Init>("fncinit");
  const Row compged{"COMPGED", {C("abc"), C("abd")}};
  for (int n = 1; n <= kMaxAllocations; n++) {
    SCOPED_TRACE("task pool refusing request " + std::to_string(n));
    FncTask *t = h.new_task();
    zeqhost::Pool &pool = h.pool_of(t);
    const size_t served = pool.allocations();
    pool.fail_nth(n);
    const int32_t rc = fncinit(t);
    const bool reached = refused(pool, served, n);
    EXPECT_EQ(rc, reached ? FNC_RC_NOMEM : FNC_RC_OK);
    if (t->slots[FNC_TASK_SLOT_CONTEXT]) {  // a half-built context is completed on use
      Site site(compged, t);
      bool clean = false;
      EXPECT_EQ(site.run(&clean).number, 100);
    }
    EXPECT_FALSE(pool.double_free_seen());
    EXPECT_TRUE(h.free_task(t));
    if (!reached) return;
  }
  ADD_FAILURE() << "more than " << kMaxAllocations << " allocations";
}

// Streams of a task pool and clones from a pool object: a refused request
// gives no stream and keeps no block.
TEST(OutOfMemoryStreams, MakingAndCloning) {
  zeqhost::Host &h = host();
  auto alloc = h.fn<AllocReb>("zrand_alloc_mva_reb");
  auto clone_tk = h.fn<CloneFrom>("zrand_clone_tk");
  auto clone_mva = h.fn<CloneFrom>("zrand_clone_mva");
  auto release = h.fn<Free>("zrndfre");
  Task task;
  zeqhost::Pool &objects = h.new_pool();
  zrand_stream *parent = alloc(task.t, 42, 0);
  ASSERT_NE(parent, nullptr);
  for (int n = 1; n <= 3; n++) {
    SCOPED_TRACE("refusing request " + std::to_string(n));
    const size_t live = task.pool().live_blocks(), object_live = objects.live_blocks();
    task.pool().fail_nth(n);
    zrand_stream *s = alloc(task.t, 7, 0);
    task.pool().fail_nth(0);
    if (s) release(s);
    EXPECT_EQ(task.pool().live_blocks(), live);

    for (bool tk : {true, false}) {
      objects.fail_nth(n);
      zrand_stream *c = (tk ? clone_tk : clone_mva)(objects.raw(), 3, parent);
      objects.fail_nth(0);
      if (c) {
        EXPECT_EQ(c->ready, 1);
        objects.raw()->release(objects.raw(), c->state);
        objects.raw()->release(objects.raw(), c);
      }
      EXPECT_EQ(objects.live_blocks(), object_live);
    }
  }
  release(parent);
  EXPECT_FALSE(task.pool().double_free_seen());
  EXPECT_FALSE(objects.double_free_seen());
}

}  // namespace
