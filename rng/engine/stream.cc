// rng/engine/stream.cc - random streams: making, cloning, seeding,
// initialising, rewinding and releasing them, and publishing their seed.
//
// A full stream is one zero-filled block of ZRAND_STREAM_BYTES: header,
// embedded descriptor and an inline area that holds any method's state blob.
// A clone is a ZRAND_CLONE_BYTES header (up to and including `task`) with a
// separately allocated blob, and it shares its parent's descriptor.  The
// header fields past `task` (method_word, seed_double, key_double, the
// embedded descriptor) therefore exist only in full streams; every operation
// here tells the two apart by where `desc` points (and the mark below) and
// never touches those fields of a clone.
//
// A host draws through a clone's descriptor without asking the module, so a
// descriptor a clone shares never changes: once a full stream has been
// cloned, a later method change builds the new descriptor into a store of
// read-only descriptors and points the stream there, leaving its embedded
// descriptor, and the blob size it asks for, to its clones.  A clone of a
// stream whose method never changes shares that stream's embedded
// descriptor as before.
//
// The engine reaches a method only through its descriptor (rng/methods.h);
// every slot may be empty and is tested before it is called.  Diagnostics go
// through zrngmsg, whose settings decide what the user sees; the stream's
// `status` keeps the first problem of its last initialisation.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "core/frame.h"
#include "core/tktext.h"
#include "rng/catalogue.h"
#include "rng/engine.h"
#include "rng/methods.h"

namespace {

constexpr uint32_t kFlagsHostPool = 0x80000000u;  // host pool objects (_tk)
constexpr int kDefaultMacroScope = 70;
constexpr uint64_t kMinusPiBits = 0xC00921FB54442D18ull;
constexpr uint64_t kMinusTwo1023Bits = 0xFFE0000000000000ull;

// Shared-word keying of methods without a thread slot: the key sits above
// the thread number, at bit 21 (32-bit methods) or bit 43 (64-bit methods).
constexpr int kKeyShift32 = 21;
constexpr uint64_t kKeyMax32 = 1023;
constexpr int kKeyShift64 = 43;
constexpr uint64_t kKeyMax64 = 0xFFFFF;
// The catalogue states the thread bits hosts may use (rng/methods.def).
namespace cat = zeq::rng::catalogue;
static_assert(cat::kMethods[cat::row_of("SUBKEY32")].thread_bits == kKeyShift32, "thread bits, 32-bit");
static_assert(cat::kMethods[cat::row_of("SUBKEY64")].thread_bits == kKeyShift64, "thread bits, 64-bit");

double from_bits(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// The current task of the host: the control block's thread record, when
// the control block says it is valid.
FncTask *host_current_task() {
  ZeqControlBlock *cb = v_global_gcb_anchor;
  if (!cb || cb->thread_invalid != 0 || !cb->thread) return nullptr;
  return cb->thread->task;
}

void *pool_alloc(ZeqPool *pool, uint64_t size, uint32_t flags) {
  return pool && pool->alloc ? pool->alloc(pool, size, flags) : nullptr;
}

void pool_release(ZeqPool *pool, void *block) {
  if (pool && pool->release && block) pool->release(pool, block);
}

// Module marks in a stream header's reserved bytes (inside the clone
// header, so a clone's are cleared when it is made).
struct Marks {
  uint8_t cloned;        // the embedded descriptor may be shared by clones
  uint8_t moved;         // a full stream whose descriptor is in the store
  uint8_t unused[6];
  int64_t embedded_blob;  // blob bytes the embedded descriptor asks for, once moved
};
static_assert(sizeof(Marks) == sizeof(zrand_stream::reserved1), "marks fill reserved1");

Marks marks(const zrand_stream *s) {
  Marks m;
  std::memcpy(&m, s->reserved1, sizeof m);
  return m;
}
void set_marks(zrand_stream *s, const Marks &m) { std::memcpy(s->reserved1, &m, sizeof m); }

// Descriptors that full streams left for their clones' sake: each written
// once, under the lock, before any stream points at it, and never changed.
// Builders are deterministic, so a process needs one entry per method (and
// processor route); a full store refuses further method changes of cloned
// streams.
struct StoredDesc {
  zrng_desc desc;
  int64_t blob_bytes;
};
constexpr int kStoreRoom = 128;
StoredDesc g_store[kStoreRoom];
int g_stored = 0;
std::mutex g_store_lock;

const StoredDesc *stored(const zrng_desc *d) {
  const auto p = reinterpret_cast<uintptr_t>(d);
  const auto first = reinterpret_cast<uintptr_t>(&g_store[0]);
  if (p < first || p >= first + sizeof g_store) return nullptr;
  return &g_store[(p - first) / sizeof(StoredDesc)];
}

// The store's copy of `d` with its blob size, or null when the store is full.
zrng_desc *keep(const zrng_desc &d, int64_t blob_bytes) {
  std::lock_guard<std::mutex> hold(g_store_lock);
  for (int i = 0; i < g_stored; ++i)
    if (g_store[i].blob_bytes == blob_bytes && std::memcmp(&g_store[i].desc, &d, sizeof d) == 0)
      return &g_store[i].desc;
  if (g_stored == kStoreRoom) return nullptr;
  g_store[g_stored] = {d, blob_bytes};
  return &g_store[g_stored++].desc;
}

// A full stream carries its descriptor (or, once moved, the store's); a
// clone points at its parent's.
bool is_full(const zrand_stream *s) {
  return s->desc == nullptr || s->desc == &s->embedded_desc || marks(s).moved;
}

// The full stream whose embedded descriptor `d` is (d is no stored one).
zrand_stream *owner_of(const zrng_desc *d) {
  return reinterpret_cast<zrand_stream *>(const_cast<char *>(reinterpret_cast<const char *>(d)) -
                                          offsetof(zrand_stream, embedded_desc));
}

// Points a freshly allocated full stream at its own descriptor and state.
void attach_inline(zrand_stream *s) {
  set_marks(s, Marks{});
  s->desc = &s->embedded_desc;
  s->state = s->inline_state;
  s->state_view1 = s->inline_state;
  s->state_view2 = s->inline_state;
  s->host_word1 = 1;
  s->host_word2 = 0;
}

void keep_first(zrand_stream *s, int32_t status) {
  if (s->status == 0) s->status = static_cast<uint32_t>(status);
}

long long as_ll(uint64_t v) { return static_cast<long long>(v); }

// The seed handed on to warnings about seeds (the request as a double).
double requested(double as_double, uint64_t as_integer) {
  return as_double != 0 ? as_double : static_cast<double>(as_integer);
}

// A stream has a method once its descriptor has been built.
bool has_method(const zrand_stream *s) { return s->desc && s->desc->blob_size; }

// The blob size the stream's method needs (learnt without calling
// blob_size, which traces): a stored descriptor keeps it beside it; an
// embedded one is the size its owner recorded when it moved, else the
// owner's state_size, which follows the owner's method.
int64_t method_state_size(const zrand_stream *s) {
  if (!has_method(s)) return 0;
  if (const StoredDesc *e = stored(s->desc)) return e->blob_bytes;
  const zrand_stream *owner = owner_of(s->desc);
  const Marks m = marks(owner);
  const int64_t n = m.moved ? m.embedded_blob : owner->state_size;
  return n > 0 ? n : 0;
}

// Clones are about to share src's descriptor: an embedded one stays as it
// is from now on.
void share_descriptor(const zrand_stream *src) {
  if (stored(src->desc)) return;
  zrand_stream *owner = owner_of(src->desc);
  Marks m = marks(owner);
  if (m.cloned) return;
  m.cloned = 1;
  set_marks(owner, m);
}

// Bytes the stream's blob holds: a full stream's inline area, or the block
// a clone was given (its state_size when it was made).
int64_t blob_capacity(const zrand_stream *s) {
  const void *inline_area = reinterpret_cast<const char *>(s) + offsetof(zrand_stream, inline_state);
  if (s->state == inline_area) return ZRAND_INLINE_BYTES;
  return s->state ? s->state_size : 0;
}

// A clone whose parent has since taken a method with a larger state must
// not be seeded or drawn: it is marked uninitialised and nothing is written.
bool blob_fits(const zrand_stream *s) { return method_state_size(s) <= blob_capacity(s); }

int32_t refuse(zrand_stream *s) {
  s->status = static_cast<uint32_t>(ZRAND_RC_NOT_INIT);
  s->ready = 0;
  return ZRAND_RC_NOT_INIT;
}

// A clone's blob is sized from what src's method needs now (src itself may
// be a clone left behind by a method change); a stream without a method
// cannot be cloned.
zrand_stream *clone_into(ZeqPool *pool, uint32_t flags, uint64_t key, zrand_stream *src) {
  if (!has_method(src)) return nullptr;
  zrand_stream *dst = static_cast<zrand_stream *>(pool_alloc(pool, ZRAND_CLONE_BYTES, flags));
  if (!dst) return nullptr;
  const int64_t blob_bytes = method_state_size(src);
  void *blob = pool_alloc(pool, static_cast<uint64_t>(blob_bytes), flags);
  if (!blob) {
    pool_release(pool, dst);
    return nullptr;
  }
  dst->desc = nullptr;  // a fresh header: its blob is what src needs
  dst->state = blob;
  dst->state_size = blob_bytes;
  zrand_clone(dst, key, src);
  return dst;
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------------------
// Making and releasing.
// ---------------------------------------------------------------------------

ZEQ_EXPORT zrand_stream *zrand_alloc_mva_reb(FncTask *task, uint64_t seed, uint64_t key) {
  if (!task) task = host_current_task();
  if (!task) return nullptr;
  auto *s = static_cast<zrand_stream *>(pool_alloc(task->pool, ZRAND_STREAM_BYTES, ZEQ_FLAGS_ZERO));
  if (!s) return nullptr;
  s->task = task;
  s->seed = seed;
  s->key = key;
  attach_inline(s);
  zrand_crude(s);
  return s;
}

ZEQ_EXPORT zrand_stream *zrand_alloc_mva(uint64_t seed, uint64_t key) {
  return zrand_alloc_mva_reb(nullptr, seed, key);
}

ZEQ_EXPORT zrand_stream *zrndalo(uint64_t seed) {
  zrand_stream *s = zrand_alloc_mva(seed, 0);
  if (s) zrand_macros(0, s);
  return s;
}

// Makes a stream through a host pool object and leaves it uninitialised
// (status ZRAND_RC_NOT_INIT) until the first zrand_init, zrand_seed or
// zrand_crude.  Further arguments are accepted and not used.
ZEQ_EXPORT zrand_stream *zrand_alloc_tk(ZeqPool *pool, ...) {
  auto *s = static_cast<zrand_stream *>(pool_alloc(pool, ZRAND_STREAM_BYTES, kFlagsHostPool));
  if (!s) return nullptr;
  attach_inline(s);
  s->status = static_cast<uint32_t>(ZRAND_RC_NOT_INIT);
  s->ready = 0;
  return s;
}

// Gives one block back to the pool of the stream's task.  A clone's blob is
// separate and stays with its maker, as does a stream made from a pool object
// (it has no task).
ZEQ_EXPORT void zrndfre(void *stream) {
  auto *s = static_cast<zrand_stream *>(stream);
  if (!s || !s->task) return;
  pool_release(s->task->pool, s);
}

// ---------------------------------------------------------------------------
// Cloning.
// ---------------------------------------------------------------------------

// Makes dst (a header with its own blob attached) the start of the stream
// that src's seed and thread number give under `key`.
ZEQ_EXPORT int32_t zrand_clone(zrand_stream *dst, uint64_t key, zrand_stream *src) {
  if (!dst || !src) return ZEQ_RC_NULL_STREAM;
  // A fresh header (no descriptor yet) comes with a blob of src's size, as
  // the caller promises; an existing clone is held to the blob it has.
  const int64_t needed = method_state_size(src);
  if (!has_method(src) || (dst->desc && needed > blob_capacity(dst))) return refuse(dst);
  share_descriptor(src);
  if (dst->desc != &dst->embedded_desc) set_marks(dst, Marks{});
  std::memcpy(dst->wide_name, src->wide_name, sizeof dst->wide_name);
  dst->seed = src->seed;
  dst->thread = src->thread;
  dst->state_size = needed;
  dst->desc = src->desc;
  dst->double_fn = src->double_fn;
  dst->journal = src->journal;
  dst->task = src->task;
  dst->init_stamp = src->init_stamp;
  dst->key = key;
  dst->host_word1 = 1;
  // The clone's status describes its own start, not what dst held before.
  dst->status = 0;
  int32_t rc = zrand_rewind(dst);
  dst->status = static_cast<uint32_t>(rc);
  return rc;
}

ZEQ_EXPORT zrand_stream *zrand_clone_mva(ZeqPool *pool, uint64_t key, zrand_stream *src) {
  if (!src) return nullptr;
  if (!pool) pool = src->task ? src->task->pool : nullptr;
  return clone_into(pool, ZEQ_FLAGS_ZERO, key, src);
}

ZEQ_EXPORT zrand_stream *zrand_clone_tk(ZeqPool *pool, uint64_t key, zrand_stream *src) {
  if (!pool || !src) return nullptr;
  return clone_into(pool, kFlagsHostPool, key, src);
}

// ---------------------------------------------------------------------------
// Method, initialisation, rewind.
// ---------------------------------------------------------------------------

ZEQ_EXPORT int32_t zrand_method(const void *word, int64_t length, zrand_stream *s) {
  if (!s) return ZEQ_RC_NULL_STREAM;
  // A clone runs its parent's method and has no method word of its own.
  if (!is_full(s)) return 0;
  if (!s->desc) s->desc = &s->embedded_desc;
  zrng_desc *desc = s->desc;
  if (s->method_word == desc->name) return 0;

  s->method_word = desc->name;
  if (word && length != 0) {
    s->stream_flags |= ZRAND_FLAG_NOTE_WANTED;
    s->stream_flags &= ~static_cast<int64_t>(ZRAND_FLAG_NOTE_DONE);
  }
  Marks m = marks(s);
  if (!m.cloned) {
    s->status = static_cast<uint32_t>(zrngmeth(word, length, desc, s->stream_flags));
    s->state_size = desc->blob_size ? desc->blob_size() : 0;
  } else {
    zrng_desc built{};
    s->status = static_cast<uint32_t>(zrngmeth(word, length, &built, s->stream_flags));
    const int64_t blob = built.blob_size ? built.blob_size() : 0;
    desc = keep(built, blob);
    if (!desc) return refuse(s);
    if (!m.moved) m.embedded_blob = s->state_size;
    m.moved = 1;
    set_marks(s, m);
    s->desc = desc;
    s->method_word = desc->name;
    s->state_size = blob;
  }

  s->double_fn = desc->double_default;
  std::memcpy(s->wide_name, desc->wide_name, sizeof s->wide_name);
  s->ready = 0;
  return static_cast<int32_t>(s->status);
}

ZEQ_EXPORT int32_t zrand_init(void *stream) {
  auto *s = static_cast<zrand_stream *>(stream);
  if (!s) return ZEQ_RC_NULL_STREAM;

  // The width before a method change decides how a missing seed is drawn.
  const int entry_bits = s->desc ? s->desc->output_bits : 0;
  const bool full = is_full(s);
  if (!full && !blob_fits(s)) return refuse(s);

  s->init_stamp = ZRAND_INIT_STAMP;
  s->status = 0;
  if (!s->journal) s->journal = zeq::journal();
  if (full) zrand_method(s->method_word, -1, s);

  zrng_desc *desc = s->desc;
  const uint64_t flags = desc ? desc->flags : 0;

  // Seed.
  double seed_double = 0;
  if (full) {
    if (std::isnan(s->seed_double)) s->seed_double = 0;
    seed_double = s->seed_double;
  }
  if (ZRNG_TAKES_SEED(flags)) {
    if (seed_double != 0) s->seed = zeq::tk::trunc_u64(zrngd2i(desc->seed_max, seed_double));
    if (s->seed == 0) {
      s->seed = entry_bits > 32 ? zrngi64()
                                : static_cast<uint64_t>(static_cast<int64_t>(zrngi31()));
    } else if (seed_double != 0 && seed_double != static_cast<double>(s->seed)) {
      zrngmsg(ZRNG_SEV_WARNING, ZRNG_MSG_SEED_ROUNDED, as_ll(desc->seed_max), s->wide_name,
              as_ll(s->seed), as_ll(s->seed), seed_double);
    }
  } else if (seed_double != 0 || s->seed != 0) {
    keep_first(s, ZRAND_RC_SEED_UNUSED);
    zrngmsg(ZRNG_SEV_WARNING, ZRNG_MSG_SEED_UNUSED, s->wide_name, requested(seed_double, s->seed));
  }

  // Key: only checked here; the rewind hands it to the method.
  double key_double = 0;
  if (full) {
    if (std::isnan(s->key_double)) s->key_double = 0;
    key_double = s->key_double;
  }
  if (ZRNG_TAKES_KEY(flags)) {
    if (key_double < 0 || key_double > static_cast<double>(desc->key_max) ||
        key_double != std::floor(key_double)) {
      keep_first(s, ZRAND_RC_KEY_RANGE);
      zrngmsg(ZRNG_SEV_ERROR, ZRNG_MSG_KEY_DOUBLE, as_ll(desc->key_max), s->wide_name, key_double);
    } else if (s->key > desc->key_max) {
      keep_first(s, ZRAND_RC_KEY_RANGE);
      zrngmsg(ZRNG_SEV_ERROR, ZRNG_MSG_KEY_RANGE, as_ll(s->key), as_ll(desc->key_max), s->wide_name);
    }
  } else if (key_double != 0 || s->key != 0) {
    keep_first(s, ZRAND_RC_KEY_UNUSED);
    zrngmsg(ZRNG_SEV_WARNING, ZRNG_MSG_KEY_UNUSED, s->wide_name, requested(key_double, s->key));
  }

  // Method note, once per method word given.
  if (desc && (s->stream_flags & ZRAND_FLAG_NOTE_WANTED) && !(s->stream_flags & ZRAND_FLAG_NOTE_DONE)) {
    s->stream_flags |= ZRAND_FLAG_NOTE_DONE;
    const char *label = (flags & ZRNG_HAS_DESCRIPTION) ? desc->description : desc->name;
    if (s->key != 0)
      zrngmsg(ZRNG_SEV_NOTE, ZRNG_MSG_METHOD_KEY, label, as_ll(s->seed), as_ll(s->seed), as_ll(s->key),
              as_ll(s->key));
    else if (s->seed != 0)
      zrngmsg(ZRNG_SEV_NOTE, ZRNG_MSG_METHOD_SEED, label, as_ll(s->seed), as_ll(s->seed));
    else
      zrngmsg(ZRNG_SEV_NOTE, ZRNG_MSG_METHOD, label);
  }

  zrand_rewind(s);

  s->seed_used = s->seed;
  s->seed_end = (desc && desc->output_bits > 32)
                    ? zeq::rng::fmix64(s->seed)
                    : static_cast<uint64_t>(zeq::rng::fmix32(static_cast<uint32_t>(s->seed)));
  return static_cast<int32_t>(s->status);
}

ZEQ_EXPORT int32_t zrand_rewind(zrand_stream *s) {
  if (!s) return ZEQ_RC_NULL_STREAM;
  zrand_check(s, 0);
  if (!blob_fits(s)) return refuse(s);

  zrng_desc *desc = s->desc;
  void *blob = s->state;
  if (desc && blob) {
    const uint64_t flags = desc->flags;
    const bool narrow = desc->output_bits <= 32;

    if (ZRNG_TAKES_SEED(flags)) {
      if (narrow) {
        if (desc->seed_32) desc->seed_32(blob, static_cast<uint32_t>(s->seed));
      } else if (desc->seed_64) {
        desc->seed_64(blob, s->seed);
      }
    }

    if (ZRNG_TAKES_THREAD(flags)) {
      if (narrow) {
        if (desc->thread_32) desc->thread_32(blob, static_cast<uint32_t>(s->thread));
        if (ZRNG_TAKES_KEY(flags) && desc->key_32) desc->key_32(blob, static_cast<uint32_t>(s->key));
      } else {
        if (desc->thread_64) desc->thread_64(blob, s->thread);
        if (ZRNG_TAKES_KEY(flags) && desc->key_64) desc->key_64(blob, s->key);
      }
    } else if (ZRNG_TAKES_KEY(flags)) {
      // Key and thread number share one word.  An out-of-range key is
      // reported and still handed over (its high bits are lost).
      if (narrow) {
        if (s->key > kKeyMax32) {
          keep_first(s, ZRAND_RC_KEY_RANGE);
          zrngmsg(ZRNG_SEV_ERROR, ZRNG_MSG_KEY_RANGE, as_ll(s->key), as_ll(kKeyMax32), s->wide_name);
        }
        uint64_t word = s->key << kKeyShift32 | s->thread;
        if (desc->key_32) desc->key_32(blob, static_cast<uint32_t>(word));
      } else {
        if (s->key > kKeyMax64) {
          keep_first(s, ZRAND_RC_KEY_RANGE);
          zrngmsg(ZRNG_SEV_ERROR, ZRNG_MSG_KEY_RANGE, as_ll(s->key), as_ll(kKeyMax64), s->wide_name);
        }
        uint64_t word = s->key << kKeyShift64 | s->thread;
        if (desc->key_64) desc->key_64(blob, word);
      }
    }
  }

  // Reset what the host's generation routines cache between draws.
  s->cache_a = from_bits(kMinusPiBits);
  s->cache_b = from_bits(kMinusPiBits);
  s->cache_e = from_bits(kMinusPiBits);
  s->cache_c = from_bits(kMinusTwo1023Bits);
  s->cache_d = 0;
  s->cache_f = 0;
  s->ready = 1;
  return static_cast<int32_t>(s->status);
}

ZEQ_EXPORT int32_t zrand_check(zrand_stream *stream, int64_t ignored) { return 0; }

// ---------------------------------------------------------------------------
// Seeding and the crude conversion.
// ---------------------------------------------------------------------------

ZEQ_EXPORT int32_t zrand_seed(uint64_t seed, zrand_stream *s) {
  if (!s) return ZEQ_RC_NULL_STREAM;
  s->seed = seed;
  if (is_full(s)) {
    s->seed_double = 0;
    s->key_double = 0;
  }
  s->key = 0;
  return zrand_init(s);
}

ZEQ_EXPORT int32_t zrand_crude(zrand_stream *s) {
  if (!s) return ZEQ_RC_NULL_STREAM;
  int32_t rc = zrand_init(s);
  if (s->desc && s->desc->double_crude) s->double_fn = s->desc->double_crude;
  return rc;
}

// ---------------------------------------------------------------------------
// Seed macro variables and debug options.
// ---------------------------------------------------------------------------

// Publishes `seed` as SYSRANDOM and `seed_end` as SYSRANEND, each right-
// aligned in 20 characters, in the current task's symbol table.
ZEQ_EXPORT void zrand_macros(int32_t scope, zrand_stream *s) {
  if (!s) return;
  FncTask *task = host_current_task();
  if (!task) task = s->task;
  void *handle = xalanch(task);
  const int where = scope != 0 ? scope : kDefaultMacroScope;
  struct { const char *name; uint64_t value; } vars[] = {{"SYSRANDOM", s->seed}, {"SYSRANEND", s->seed_end}};
  for (const auto &v : vars) {
    char text[32];
    std::memset(text, ' ', sizeof text);
    xpsstr(text, 20, "%20lld", static_cast<long long>(v.value));
    xjsympc(handle, v.name, 9, text, 20, where, 0);
  }
}

ZEQ_EXPORT int32_t zrndsp(void) { return 0; }
ZEQ_EXPORT int32_t zrndIsMT32(void) { return 0; }

ZEQ_EXPORT int64_t zbugi(const char *word) {
  constexpr int kOptionDebug = 4163;
  char options[1024];
  int length = sizeof options;
  FncTask *task = host_current_task();
  if (xyrcgef(0, kOptionDebug, 0, 0, 0, options, &length, 0, task) != 0) return 0;
  if (length <= 0) return 0;
  if (length > static_cast<int>(sizeof options)) length = sizeof options;
  if (!word) return 0;

  if (*word == '-') {
    ++word;
    while (*word == ' ') ++word;
  }

  const uint8_t *up = zeq::upcase_table();
  const uint8_t *cls = zeq::class_table();
  auto at = [&](int i) -> uint8_t { return static_cast<uint8_t>(options[i]); };
  auto word_end = [](char c) { return c == 0 || c == ' '; };
  auto separator = [&](int i) { return at(i) == ' ' || (cls[at(i)] & ZEQ_CLASS_SPACE); };
  auto name_char = [&](int i) {
    return at(i) == '_' || (cls[at(i)] & (ZEQ_CLASS_UPPER | ZEQ_CLASS_LOWER | ZEQ_CLASS_DIGIT));
  };

  int64_t result = 0;
  int pos = 0;
  while (pos < length) {
    while (pos < length && separator(pos)) ++pos;
    if (pos >= length) break;
    const int item = pos;
    int end = item;
    while (end < length && !separator(end)) ++end;

    // Compare case-blind while item and word agree.
    int i = item;
    const char *w = word;
    while (i < end && !word_end(*w) && up[at(i)] == up[static_cast<uint8_t>(*w)]) {
      ++i;
      ++w;
    }
    if (i < end && at(i) == '*') {  // wildcard: takes the rest of the word
      ++i;
      while (!word_end(*w)) ++w;
    }
    if (word_end(*w) && !(i < end && name_char(i))) {
      result = 1;
      if (i < end && at(i) == '=') {
        int consumed = 0;
        double value = 0;
        if (wzrlchr(options + i + 1, end - i - 1, 0, &consumed, &value) == 0)
          result = zeq::tk::trunc_i64(value);
      }
    }
    pos = end;
  }

  if (result != 0) {
    xpselec(0, -1);
    xpopset(0, 28, 1);
    xpselec(0, 0);
  }
  return result;
}

}  // extern "C"
