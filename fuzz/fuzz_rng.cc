// fuzz/fuzz_rng.cc - the random engine driven as a host drives it.
//
// Each input is a sequence of up to 50 operations on up to 8 streams:
// making streams of every kind (task streams, zrndalo, host pool objects),
// clones of streams, of clones and of streams without a method, cloning into
// an existing clone, method words (bytes and TKChar, any length), init, seed,
// crude, rewind and method changes in any order, seeds, keys, thread numbers
// and positions (NaN, infinities, huge), state loads of random bytes and
// sizes, every conversion slot, dumps, the seed macro variables, and the
// settings that change what the engine reports.  Streams are given back as a
// host does (clones before the stream whose descriptor they share), and the
// pools must then be back to their live-block count.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "zeq/rng.h"

// A clone draws through the descriptor it was made with, whatever its
// parent does later, so every stream's descriptor fits its block at every
// step (checked), and any ready stream may be drawn from, loaded or dumped.
// One operation re-methods a parent under ready clones and draws from them.

namespace {

using namespace zeqfuzz;

using AllocReb = zrand_stream *(*)(FncTask *, uint64_t, uint64_t);
using Alloc = zrand_stream *(*)(uint64_t, uint64_t);
using Alo = zrand_stream *(*)(uint64_t);
using AllocTk = zrand_stream *(*)(ZeqPool *, ...);
using Clone = int32_t (*)(zrand_stream *, uint64_t, zrand_stream *);
using CloneFrom = zrand_stream *(*)(ZeqPool *, uint64_t, zrand_stream *);
using Free = void (*)(void *);
using Seed = int32_t (*)(uint64_t, zrand_stream *);
using Op = int32_t (*)(zrand_stream *);
using Init = int32_t (*)(void *);
using Method = int32_t (*)(const void *, int64_t, zrand_stream *);
using Macros = void (*)(int32_t, zrand_stream *);

enum class Kind { Task, PoolObject, Clone };

struct Handle {
  zrand_stream *s = nullptr;
  Kind kind = Kind::Task;
  ZeqPool *pool = nullptr;    // where the host gives the blocks back (not Task)
  void *blob = nullptr;       // a clone's separate state block
  uint64_t blob_bytes = 0;    // its size, or the inline area of a full stream
};

struct Run {
  std::vector<Handle> streams;
  std::deque<std::string> words;          // method words stay alive with the streams
  std::deque<std::vector<TKChar>> wide_words;
};

// The host pool object streams and clones are made from.
zeqhost::Pool &object_pool_counts() {
  static zeqhost::Pool &pool = host().new_pool();
  return pool;
}
ZeqPool *object_pool() { return object_pool_counts().raw(); }

uint64_t some_u64(FuzzedDataProvider &p) {
  static const uint64_t kSpecial[] = {0, 1, 2, 1023, 1024, 0xFFFFF, 0x100000, 0x7FFFFFFF, 0xFFFFFFFF,
                                      0x100000000ull, 1ull << 53, 1ull << 63, ~0ull};
  if (p.ConsumeBool()) return kSpecial[p.ConsumeIntegralInRange<size_t>(0, std::size(kSpecial) - 1)];
  return p.ConsumeIntegral<uint64_t>();
}

bool full(const Handle &h) { return h.kind != Kind::Clone; }

// Bytes of state the stream's method works on.
uint64_t method_bytes(const zrng_desc *d) {
  if (!d) return 0;
  const int64_t n = d->blob_size ? d->blob_size() : 0;
  return std::max<uint64_t>(n > 0 ? (uint64_t)n : 0, d->state_bytes);
}

// A stream whose descriptor asks for more state than its block holds.
bool stale(const Handle &h) { return method_bytes(h.s->desc) > h.blob_bytes; }

void check_fits(const Run &r) {
  for (const Handle &h : r.streams)
    if (h.s) require(!stale(h), "a descriptor asks for more state than its stream's block holds");
}

// One of the streams still held, or null.
Handle *pick(FuzzedDataProvider &p, Run &r) {
  if (r.streams.empty()) return nullptr;
  Handle *h = &r.streams[p.ConsumeIntegralInRange<size_t>(0, r.streams.size() - 1)];
  return h->s ? h : nullptr;
}

// Gives back every stream whose descriptor lives in stream i (only a full
// block has one), then stream i.
void release(Run &r, size_t i) {
  if (r.streams[i].kind != Kind::Clone) {
    const zrng_desc *own = &r.streams[i].s->embedded_desc;
    for (size_t j = 0; j < r.streams.size(); j++)
      if (j != i && r.streams[j].s && r.streams[j].s->desc == own) release(r, j);
  }
  Handle &h = r.streams[i];
  if (!h.s) return;
  switch (h.kind) {
    case Kind::Task: sym<Free>("zrndfre")(h.s); break;
    case Kind::PoolObject: h.pool->release(h.pool, h.s); break;
    case Kind::Clone:
      h.pool->release(h.pool, h.blob);
      h.pool->release(h.pool, h.s);
      break;
  }
  h.s = nullptr;
}

void release_all(Run &r) {
  for (size_t i = r.streams.size(); i-- > 0;)
    if (r.streams[i].s) release(r, i);
  r.streams.clear();
}

void add(Run &r, zrand_stream *s, Kind kind, ZeqPool *pool) {
  if (!s) return;
  Handle h{s, kind, pool, nullptr, ZRAND_INLINE_BYTES};
  if (kind == Kind::Clone) {
    h.blob = s->state;
    h.blob_bytes = s->state_size > 0 ? (uint64_t)s->state_size : 0;
  }
  r.streams.push_back(h);
}

void make_stream(FuzzedDataProvider &p, Run &r) {
  if (r.streams.size() >= 8) return;
  zeqhost::Host &h = host();
  const uint64_t seed = some_u64(p), key = some_u64(p);
  switch (p.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: add(r, sym<AllocReb>("zrand_alloc_mva_reb")(p.ConsumeBool() ? h.task() : nullptr, seed, key), Kind::Task, nullptr); break;
    case 1: add(r, sym<Alloc>("zrand_alloc_mva")(seed, key), Kind::Task, nullptr); break;
    case 2: add(r, sym<Alo>("zrndalo")(seed), Kind::Task, nullptr); break;
    default: add(r, sym<AllocTk>("zrand_alloc_tk")(object_pool(), seed, key), Kind::PoolObject, object_pool()); break;
  }
}

void make_clone(FuzzedDataProvider &p, Run &r) {
  Handle *src = pick(p, r);
  if (!src || r.streams.size() >= 12) return;
  // The new block is sized from the source's state size; a source whose
  // descriptor has outgrown that size hands the clone a short block.
  const uint64_t key = some_u64(p);
  zrand_stream *c;
  ZeqPool *pool;
  if (p.ConsumeBool()) {
    pool = object_pool();
    c = sym<CloneFrom>("zrand_clone_tk")(pool, key, src->s);
  } else {
    const bool own_pool = p.ConsumeBool();
    pool = own_pool ? object_pool() : (src->s->task ? src->s->task->pool : nullptr);
    c = sym<CloneFrom>("zrand_clone_mva")(own_pool ? pool : nullptr, key, src->s);
  }
  add(r, c, Kind::Clone, pool);
}

void clone_into(FuzzedDataProvider &p, Run &r) {
  Handle *dst = pick(p, r), *src = pick(p, r);
  // zrand_clone's target is a clone header with its own blob; a full stream
  // would take the source's task (and so its pool) as its own.
  if (!dst || !src || dst->kind != Kind::Clone) return;
  sym<Clone>("zrand_clone")(dst->s, some_u64(p), src->s);
}

// A method word: a known one, in any case and with blanks, or random bytes;
// as bytes or as TKChar units; with its length, -1 (to its zero) or 0.
void set_method(FuzzedDataProvider &p, Run &r, Handle &h) {
  static const char *const kWords[] = {"MT", "mt64", " threefry ", "FRY2X32", "PCG", "pcg32i", "XOR64",
                                       "xor128", "XOR1024", "XOR4096", "XORGENS", "rdrand", "HARD", "MH3",
                                       "MTHYBRID", "MT1998", "MT2002", "RANUNI", "SUBKEY32", "SUBKEY64",
                                       "TF2", "TF", "TRNG", "", "XOR4096XOR4096X"};
  std::string w = p.ConsumeBool() ? kWords[p.ConsumeIntegralInRange<size_t>(0, std::size(kWords) - 1)]
                                  : some_text(p, 24);
  const bool wide = p.ConsumeBool();
  const int how = p.ConsumeIntegralInRange<int>(0, 3);
  const void *word;
  int64_t length;
  if (wide) {
    std::vector<TKChar> u(w.begin(), w.end());
    if (p.ConsumeBool() && !u.empty()) u[0] = p.ConsumeIntegral<TKChar>();
    u.push_back(0);
    r.wide_words.push_back(std::move(u));
    word = r.wide_words.back().data();
    length = how == 0 ? -1 : how == 1 ? 0 : (int64_t)r.wide_words.back().size() - 1;
  } else {
    r.words.push_back(w);
    word = r.words.back().c_str();
    length = how == 0 ? -1 : how == 1 ? 0 : (int64_t)w.size();
  }
  if (wide) h.s->stream_flags |= ZRAND_FLAG_TKCHAR_WORD;
  else h.s->stream_flags &= ~(int64_t)ZRAND_FLAG_TKCHAR_WORD;
  if (full(h) && p.ConsumeBool()) {
    // The host's way: the word on the stream, read at the next init.
    h.s->method_word = word;
    return;
  }
  sym<Method>("zrand_method")(word, length, h.s);
}

void use_slot(FuzzedDataProvider &p, Handle &h);

// A full stream cloned a few times, the clones made ready, the parent given
// another method (often a larger one) and initialised, then every clone
// drawn from: each goes on with the stream it was cloned as.
void remethod_under_clones(FuzzedDataProvider &p, Run &r) {
  Handle *parent = pick(p, r);
  if (!parent || parent->kind == Kind::Clone) return;
  const size_t at = static_cast<size_t>(parent - r.streams.data()), first = r.streams.size();
  for (int n = p.ConsumeIntegralInRange<int>(1, 3); n > 0 && r.streams.size() < 12; n--) {
    const size_t before = r.streams.size();
    add(r, sym<CloneFrom>("zrand_clone_tk")(object_pool(), some_u64(p), r.streams[at].s), Kind::Clone,
        object_pool());
    if (r.streams.size() == before) continue;
    if (p.ConsumeBool()) sym<Op>("zrand_crude")(r.streams.back().s);
    else sym<Init>("zrand_init")(r.streams.back().s);
  }
  Handle &h = r.streams[at];
  static const char *const kLarger[] = {"MT", "MTHYBRID", "MT1998", "XOR4096", "TF", "XORGENS", "PCG"};
  h.s->method_word = kLarger[p.ConsumeIntegralInRange<size_t>(0, std::size(kLarger) - 1)];
  h.s->stream_flags &= ~(int64_t)ZRAND_FLAG_TKCHAR_WORD;  // a byte word
  sym<Init>("zrand_init")(h.s);
  for (size_t i = first; i < r.streams.size(); i++) {
    require(r.streams[i].s->ready == 1, "a clone lost its readiness when its parent changed method");
    use_slot(p, r.streams[i]);
  }
}

// One conversion or setter slot of the stream's descriptor on its state.
void use_slot(FuzzedDataProvider &p, Handle &h) {
  zrng_desc *d = h.s->desc;
  if (!d || !h.s->state || !h.s->ready) return;
  void *blob = h.s->state;
  const int slot = p.ConsumeIntegralInRange<int>(5, 36);
  void *const *slots = reinterpret_cast<void *const *>(&d->blob_size);
  void *f = slots[slot - 1];
  if (!f) return;
  if (slot <= 14) {
    const bool narrow = slot == 5 || slot == 8 || slot == 11 || slot == 13;
    const bool dbl = slot == 7 || slot == 10;
    if (dbl) reinterpret_cast<zrng_setd_fn>(f)(blob, some_number(p));
    else if (narrow) reinterpret_cast<zrng_set32_fn>(f)(blob, (uint32_t)some_u64(p));
    else reinterpret_cast<zrng_set64_fn>(f)(blob, some_u64(p));
    return;
  }
  const int draws = p.ConsumeIntegralInRange<int>(1, 40);
  for (int i = 0; i < draws; i++) {
    if (slot == 15) (void)reinterpret_cast<zrng_u32_fn>(f)(blob);
    else if (slot == 16) (void)reinterpret_cast<zrng_u64_fn>(f)(blob);
    else require(!std::isinf(reinterpret_cast<zrng_double_fn>(f)(blob)) || slot == 36, "infinite draw");
  }
}

void load_state(FuzzedDataProvider &p, Handle &h) {
  zrng_desc *d = h.s->desc;
  if (!d || !d->state || !h.s->state) return;
  const std::string bytes = some_text(p, 6000);
  std::vector<char> exact(bytes.begin(), bytes.end());
  const int64_t len = p.ConsumeIntegralInRange<int>(0, 7) == 0 ? -p.ConsumeIntegralInRange<int64_t>(1, 1 << 20)
                                                               : (int64_t)exact.size();
  d->state(h.s->state, exact.data(), len, p.ConsumeIntegralInRange<int32_t>(-1, 4));
}

void dump(FuzzedDataProvider &p, Handle &h) {
  zrng_desc *d = h.s->desc;
  if (!d || !h.s->state) return;
  const int64_t bytes = (int64_t)std::min<uint64_t>(method_bytes(d), h.blob_bytes);
  if (d->dump_blob_64 && p.ConsumeBool())
    d->dump_blob_64(static_cast<const uint64_t *>(h.s->state), p.ConsumeIntegralInRange<int64_t>(-3, bytes / 8));
  else if (d->dump_blob_32)
    d->dump_blob_32(static_cast<const uint32_t *>(h.s->state), p.ConsumeIntegralInRange<int64_t>(-3, bytes / 4));
}

void change_setting(FuzzedDataProvider &p) {
  static const char *const kNames[] = {"OSENV.ZEQ_RNG_MESSAGES", "OSENV.ZEQ_RNG_SEVERITY",
                                       "OSENV.ZEQ_RNG_NOTE_LIMIT", "OSENV.ZEQ_RNG_ERROR_LIMIT",
                                       "OSENV.ZEQ_RNG_METHOD", "tkbug.RNGSEED"};
  static const char *const kValues[] = {"ALL", "NOTES", "NOTE", "WARNINGS", "WARN", "ERRORS", "NONE",
                                        "NO", "0", "1", "-1", "MT64", "PCG", "XOR4096", "TF2"};
  zeqhost::Host &h = host();
  const std::string name = kNames[p.ConsumeIntegralInRange<size_t>(0, std::size(kNames) - 1)];
  switch (p.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: h.clear_setting(name); break;
    case 1: h.set_setting_int(name, p.ConsumeIntegralInRange<int64_t>(-3, 200)); break;
    case 2: h.set_setting(name, some_number(p)); break;
    case 3: h.set_setting(name, some_text(p, 20)); break;
    default: h.set_setting(name, kValues[p.ConsumeIntegralInRange<size_t>(0, std::size(kValues) - 1)]); break;
  }
  if (p.ConsumeIntegralInRange<int>(0, 3) == 0)
    h.set_option(4163, p.ConsumeBool() ? "-rngseed=" + std::to_string(p.ConsumeIntegral<int32_t>()) : some_text(p, 20));
}

// Seeds, keys and thread numbers as a host writes them into the stream.
void set_numbers(FuzzedDataProvider &p, Handle &h) {
  zrand_stream *s = h.s;
  switch (p.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: s->seed = some_u64(p); break;
    case 1: s->key = some_u64(p); break;
    case 2: s->thread = some_u64(p); break;
    default:
      if (!full(h) || h.kind == Kind::Clone) break;  // only full streams have these fields
      (p.ConsumeBool() ? s->seed_double : s->key_double) = some_number(p);
      break;
  }
}

// ZEQ_FUZZ_TRACE=1 prints every operation (to see what a saved input does).
bool tracing() {
  static const bool on = std::getenv("ZEQ_FUZZ_TRACE") != nullptr;
  return on;
}

void step(FuzzedDataProvider &p, Run &r) {
  const int op = p.ConsumeIntegralInRange<int>(0, 16);
  if (tracing())
    std::fprintf(stderr, "op %d streams %zu task blocks %zu\n", op, r.streams.size(),
                 host().task_pool().live_blocks());
  if (op == 0) return make_stream(p, r);
  if (op == 1) return make_clone(p, r);
  if (op == 2) return clone_into(p, r);
  if (op == 3) return change_setting(p);
  if (op == 4) {
    sym<int32_t (*)(FncTask *)>("fncrini")(host().task());
    return;
  }
  if (op == 16) return remethod_under_clones(p, r);
  Handle *h = pick(p, r);
  if (!h) return;
  switch (op) {
    case 5:
      if (h->kind != Kind::Clone) set_method(p, r, *h);
      break;
    case 6: sym<Init>("zrand_init")(h->s); break;
    case 7: sym<Seed>("zrand_seed")(some_u64(p), h->s); break;
    case 8: sym<Op>("zrand_crude")(h->s); break;
    case 9: sym<Op>("zrand_rewind")(h->s); break;
    case 10: use_slot(p, *h); break;
    case 11: load_state(p, *h); break;
    case 12: dump(p, *h); break;
    case 13: sym<Macros>("zrand_macros")(p.ConsumeIntegralInRange<int32_t>(-2, 80), h->s); break;
    case 14: set_numbers(p, *h); break;
    default: release(r, (size_t)(h - r.streams.data())); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  zeqhost::Host &h = host();
  build_task_context();
  (void)object_pool();
  h.clear_log();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider p(data, size);
  zeqhost::Host &h = host();
  const PoolMark mark;
  const size_t objects = object_pool_counts().live_blocks();
  Run r;
  maybe_fail_allocation(p);
  for (int i = 0; i < 50 && p.remaining_bytes() > 0; i++) {
    step(p, r);
    check_fits(r);
  }
  release_all(r);
  require(object_pool_counts().live_blocks() == objects, "pool object leak");
  require(!object_pool_counts().double_free_seen(), "double release to a pool object");
  for (const char *name : {"OSENV.ZEQ_RNG_MESSAGES", "OSENV.ZEQ_RNG_SEVERITY", "OSENV.ZEQ_RNG_NOTE_LIMIT",
                           "OSENV.ZEQ_RNG_ERROR_LIMIT", "OSENV.ZEQ_RNG_METHOD", "tkbug.RNGSEED"})
    h.clear_setting(name);
  h.set_option(4163, "");
  mark.finish();
  return 0;
}
