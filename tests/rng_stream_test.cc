// Random streams: making, method words, seeds, keys, the method note,
// rewinds, clones, the seed macro variables and the debug-option reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "tests/support/rng_support.h"
#include "zeq/abi.h"
#include "zeq/rng.h"

namespace {

using zeqtest::fmix32;
using zeqtest::fmix64;

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
using Bugi = int64_t (*)(const char *);
using Avail = int32_t (*)();

constexpr int kNullStream = static_cast<int>(0x803FC002);
constexpr uint32_t kNotInit = 0x8C7FE80A;
constexpr uint32_t kBadMethod = 0x8C7FE80B;
constexpr uint32_t kSeedUnused = 0x8C7FE80D;
constexpr uint32_t kKeyUnused = 0x8C7FE80F;
constexpr uint32_t kKeyRange = 0x8C7FE810;
constexpr int kMsgSeedUnused = static_cast<int>(0x8C7FE817);
constexpr int kMsgSeedRounded = static_cast<int>(0x8C7FE818);
constexpr int kMsgKeyUnused = static_cast<int>(0x8C7FE81A);
constexpr int kMsgKeyDouble = static_cast<int>(0x8C7FE81B);
constexpr int kMsgKeyRange = static_cast<int>(0x8C7FE81C);
constexpr int kMsgNote = static_cast<int>(0x8C7FE828);
constexpr int kMsgNoteSeed = static_cast<int>(0x8C7FE829);
constexpr int kMsgNoteKey = static_cast<int>(0x8C7FE82A);

uint64_t bits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

class Streams : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host.loaded()) << host.load_error();
    // Show every engine message, so that tests can see warnings and notes.
    host.set_setting("OSENV.ZEQ_RNG_MESSAGES", "ALL");
  }

  zrand_stream *make(uint64_t seed = 0, uint64_t key = 0) {
    return host.fn<AllocReb>("zrand_alloc_mva_reb")(host.task(), seed, key);
  }
  // A stream switched to `method` with the given integer seed and key.
  zrand_stream *make_with(const char *method, uint64_t seed, uint64_t key = 0) {
    zrand_stream *s = make(seed);
    s->method_word = method;
    s->key = key;
    s->seed = seed;
    host.clear_log();
    host.fn<Init>("zrand_init")(s);
    return s;
  }
  std::string method(const zrand_stream *s) { return s->desc ? s->desc->name : "(none)"; }
  int count(int number) {
    int n = 0;
    for (int st : host.journal_statuses()) n += st == number;
    return n;
  }
  bool rdrand() { return host.fn<Avail>("IsRdRandAvailable")() != 0; }
  std::vector<uint32_t> draws(zrand_stream *s, int n) {
    std::vector<uint32_t> out;
    for (int i = 0; i < n; ++i) out.push_back(s->desc->uint32(s->state));
    return out;
  }

  zeqhost::Host host;
};

TEST_F(Streams, NewStreamRunsTheDefaultMethodWithADrawnSeed) {
  zrand_stream *s = make();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(method(s), "MTHYBRID");
  EXPECT_EQ(s->status, 0u);
  EXPECT_EQ(s->init_stamp, ZRAND_INIT_STAMP);
  EXPECT_EQ(s->task, host.task());
  EXPECT_EQ(s->desc, &s->embedded_desc);
  EXPECT_EQ(s->state, static_cast<void *>(s->inline_state));
  EXPECT_EQ(s->state_view1, s->state);
  EXPECT_EQ(s->state_view2, s->state);
  EXPECT_EQ(s->host_word1, 1);
  EXPECT_EQ(s->host_word2, 0);
  EXPECT_EQ(s->state_size, 2500);
  EXPECT_EQ(s->ready, 1);
  EXPECT_EQ(s->method_word, static_cast<const void *>(s->desc->name));
  ASSERT_NE(s->desc->double_crude, nullptr);
  EXPECT_EQ(s->double_fn, s->desc->double_crude);
  // The first initialisation draws a 31-bit seed.
  EXPECT_GT(s->seed, 0u);
  EXPECT_LT(s->seed, 0x7FFFFFFFu);
  EXPECT_EQ(s->seed_used, s->seed);
  EXPECT_EQ(s->seed_end, fmix32(static_cast<uint32_t>(s->seed)));
  EXPECT_EQ(bits(s->cache_a), 0xC00921FB54442D18ull);
  EXPECT_EQ(bits(s->cache_b), 0xC00921FB54442D18ull);
  EXPECT_EQ(bits(s->cache_e), 0xC00921FB54442D18ull);
  EXPECT_EQ(bits(s->cache_c), 0xFFE0000000000000ull);
  EXPECT_EQ(host.task_pool().last_flags(), 8198u);
  EXPECT_EQ(host.task_pool().last_size(), 6088u);
}

TEST_F(Streams, MethodWordsResolveOnce) {
  const struct { const char *word; const char *built; uint32_t status; } cases[] = {
      {"  mt64 ", "MT64", 0},
      {"MT6", "MTHYBRID", kBadMethod},
  };
  for (const auto &c : cases) {
    zrand_stream *s = make_with(c.word, 7);
    EXPECT_EQ(method(s), c.built) << c.word;
    EXPECT_EQ(s->status, c.status) << c.word;
    std::string wide;
    for (TKChar u : s->wide_name) { if (!u) break; wide.push_back(static_cast<char>(u)); }
    EXPECT_EQ(wide, c.built) << c.word;
    // Resolved: another word changes nothing.
    EXPECT_EQ(host.fn<Method>("zrand_method")("MT32", 4, s), 0);
    EXPECT_EQ(method(s), c.built);
  }
  // The setting gives the default method.
  host.set_setting("OSENV.ZEQ_RNG_METHOD", "XOR128");
  EXPECT_EQ(method(make()), "XOR128");
}

TEST_F(Streams, SeedsAndKeysAreCheckedInOrder) {
  struct Case {
    const char *label;
    const char *method;
    uint64_t seed, key;
    double seed_double, key_double;
    uint32_t status;
    std::vector<int> messages;  // engine messages among the journal statuses
  };
  const Case cases[] = {
      {"key on a keyless method", "XOR64", 5, 3, 0, 0, kKeyUnused, {kMsgKeyUnused}},
      {"key double on a keyless method", "XOR64", 5, 0, 0, 2, kKeyUnused, {kMsgKeyUnused}},
      {"key double not whole", "MT64", 5, 0, 0, 2.5, kKeyRange, {kMsgKeyDouble}},
      {"key double negative", "MT64", 5, 0, 0, -1, kKeyRange, {kMsgKeyDouble}},
      {"key double above key_max", "PCG32I", 5, 0, 0, 2147483648.0, kKeyRange, {kMsgKeyDouble}},
      {"key above key_max", "PCG32I", 5, 2147483648ull, 0, 0, kKeyRange, {kMsgKeyRange, kMsgKeyRange}},
      {"shared word: key 1024 on PCG32I", "PCG32I", 5, 1024, 0, 0, kKeyRange, {kMsgKeyRange}},
      {"shared word: key 1023 on PCG32I", "PCG32I", 5, 1023, 0, 0, 0, {}},
      {"shared word: key 2^20 on PCG64I", "PCG64I", 5, 1u << 20, 0, 0, kKeyRange, {kMsgKeyRange}},
      {"seed double whole", "MT32", 0, 0, 99, 0, 0, {}},
      {"seed double mapped", "MT32", 0, 0, 99.5, 0, 0, {kMsgSeedRounded}},
      {"seed double negative draws", "MT32", 0, 0, -5, 0, 0, {}},
      {"seed double NaN draws", "MT32", 0, 0, NAN, 0, 0, {}},
      {"key on RANUNI", "RANUNI", 5, 1, 0, 0, kKeyUnused, {kMsgKeyUnused}},
  };
  for (const auto &c : cases) {
    zrand_stream *s = make(c.seed);
    s->method_word = c.method;
    s->seed = c.seed;
    s->key = c.key;
    s->seed_double = c.seed_double;
    s->key_double = c.key_double;
    host.clear_log();
    int32_t rc = host.fn<Init>("zrand_init")(s);
    EXPECT_EQ(static_cast<uint32_t>(rc), c.status) << c.label;
    EXPECT_EQ(s->status, c.status) << c.label;
    std::vector<int> got;
    for (int st : host.journal_statuses())
      if (st == kMsgSeedUnused || st == kMsgSeedRounded || st == kMsgKeyUnused ||
          st == kMsgKeyDouble || st == kMsgKeyRange)
        got.push_back(st);
    EXPECT_EQ(got, c.messages) << c.label << "\n" << host.log_text();
    EXPECT_EQ(s->key, c.key) << c.label;  // the key is never changed
    EXPECT_FALSE(std::isnan(s->seed_double)) << c.label;
    EXPECT_NE(s->seed, 0u) << c.label;
  }
}

TEST_F(Streams, SeedOnAHardwareMethodIsRefused) {
  if (!rdrand()) GTEST_SKIP() << "no hardware random instruction";
  zrand_stream *s = make_with("RDRAND", 77);
  EXPECT_EQ(s->status, kSeedUnused);
  EXPECT_EQ(count(kMsgSeedUnused), 1);
}

TEST_F(Streams, DrawWidthIsTheOneOnEntry) {
  // 2^40 + 5: a 31-bit draw keeps 5, a 64-bit draw the whole number.
  host.set_setting("tkbug.RNGSEED", 1099511627781.0);
  zrand_stream *s = make_with("MT64", 0);
  EXPECT_EQ(s->seed, 5u);  // the first initialisation counts as 32-bit
  EXPECT_EQ(host.fn<Seed>("zrand_seed")(0, s), 0);
  EXPECT_EQ(s->seed, 1099511627781ull);
  EXPECT_EQ(s->seed_end, fmix64(s->seed));
  // zrand_seed clears the key and the double requests.
  s->key = 9;
  s->key_double = 3;
  s->seed_double = 4;
  host.fn<Seed>("zrand_seed")(11, s);
  EXPECT_EQ(s->seed, 11u);
  EXPECT_EQ(s->key, 0u);
  EXPECT_EQ(s->key_double, 0);
  EXPECT_EQ(s->seed_double, 0);
}

TEST_F(Streams, MethodNoteOncePerWord) {
  const struct { uint64_t seed, key; int note; } cases[] = {
      {0, 0, kMsgNoteSeed},  // a drawn seed is not 0 by the time of the note
      {5, 0, kMsgNoteSeed},
      {5, 3, kMsgNoteKey},
  };
  for (const auto &c : cases) {
    zrand_stream *s = make_with("MT32", c.seed, c.key);
    EXPECT_EQ(count(c.note), 1) << c.seed << "/" << c.key << "\n" << host.log_text();
    host.clear_log();
    host.fn<Init>("zrand_init")(s);
    EXPECT_EQ(count(kMsgNote) + count(kMsgNoteSeed) + count(kMsgNoteKey), 0);
  }
  // No word given: no note.
  host.clear_log();
  make();
  EXPECT_EQ(count(kMsgNote) + count(kMsgNoteSeed) + count(kMsgNoteKey), 0);
  // A seedless method notes only its label.
  if (rdrand()) {
    make_with("RDRAND", 0);
    EXPECT_EQ(count(kMsgNote), 1);
  }
}

TEST_F(Streams, RewindRestartsTheSequence) {
  zrand_stream *s = make_with("MT32", 5489);
  std::vector<uint32_t> first = draws(s, 5);
  EXPECT_EQ(first[0], 3499211612u);  // published MT19937 output for seed 5489
  s->cache_a = 1;
  s->ready = 0;
  EXPECT_EQ(host.fn<Op>("zrand_rewind")(s), 0);
  EXPECT_EQ(draws(s, 5), first);
  EXPECT_EQ(s->ready, 1);
  EXPECT_EQ(bits(s->cache_a), 0xC00921FB54442D18ull);
}

TEST_F(Streams, ClonesStartTheKeyedStream) {
  zrand_stream *parent = make_with("MT32", 1234);
  parent->thread = 2;
  host.fn<Op>("zrand_rewind")(parent);
  zrand_stream *keyed = make_with("MT32", 1234, 7);
  keyed->thread = 2;
  host.fn<Op>("zrand_rewind")(keyed);
  std::vector<uint32_t> want = draws(keyed, 8);

  size_t live = host.task_pool().live_blocks();
  zrand_stream *c = host.fn<CloneFrom>("zrand_clone_mva")(nullptr, 7, parent);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(host.task_pool().live_blocks(), live + 2);
  EXPECT_EQ(host.task_pool().last_flags(), 8198u);
  EXPECT_EQ(c->desc, parent->desc);
  EXPECT_NE(c->state, parent->state);
  EXPECT_EQ(c->key, 7u);
  EXPECT_EQ(c->seed, 1234u);
  EXPECT_EQ(c->thread, 2u);
  EXPECT_EQ(c->status, 0u);
  EXPECT_EQ(c->host_word1, 1);
  EXPECT_EQ(c->init_stamp, ZRAND_INIT_STAMP);
  EXPECT_EQ(draws(c, 8), want);

  // Through a host pool object.
  zeqhost::Pool &pool = host.new_pool();
  zrand_stream *t = host.fn<CloneFrom>("zrand_clone_tk")(pool.raw(), 7, parent);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(pool.live_blocks(), 2u);
  EXPECT_EQ(pool.last_flags(), 0x80000000u);
  EXPECT_EQ(draws(t, 8), want);

  // Re-initialising a clone keeps its parent's method and stays in its header.
  EXPECT_EQ(host.fn<Init>("zrand_init")(c), 0);
  EXPECT_EQ(c->desc, parent->desc);
}

TEST_F(Streams, CloneWithoutRoomGivesItsHeaderBack) {
  zrand_stream *parent = make();
  zeqhost::Pool &pool = host.new_pool();
  pool.fail_nth(2);  // the header is served, the blob is not
  EXPECT_EQ(host.fn<CloneFrom>("zrand_clone_tk")(pool.raw(), 1, parent), nullptr);
  EXPECT_EQ(pool.live_blocks(), 0u);
  EXPECT_FALSE(pool.double_free_seen());

  size_t live = host.task_pool().live_blocks();
  host.task_pool().fail_nth(2);
  EXPECT_EQ(host.fn<CloneFrom>("zrand_clone_mva")(nullptr, 1, parent), nullptr);
  EXPECT_EQ(host.task_pool().live_blocks(), live);

  EXPECT_EQ(host.fn<CloneFrom>("zrand_clone_tk")(nullptr, 1, parent), nullptr);
  EXPECT_EQ(host.fn<CloneFrom>("zrand_clone_tk")(pool.raw(), 1, nullptr), nullptr);
  EXPECT_EQ(host.fn<CloneFrom>("zrand_clone_mva")(nullptr, 1, nullptr), nullptr);
}

// A clone keeps the descriptor it was made with.  When its parent later
// takes a method with a larger state, ready clones go on drawing their own
// stream from their own blob, a clone made afterwards shares the parent's
// new descriptor, and only cloning into a blob too small is refused
// (uninitialised, not ready, blob untouched).
TEST_F(Streams, ClonesKeepTheirMethodWhenTheParentChangesIt) {
  zeqhost::Pool &pool = host.new_pool();
  auto clone_tk = host.fn<CloneFrom>("zrand_clone_tk");
  auto init = host.fn<Init>("zrand_init");
  auto crude = host.fn<Op>("zrand_crude");
  auto words = [](zrand_stream *s) {
    std::vector<uint64_t> out;
    for (int i = 0; i < 6; ++i) out.push_back(s->desc->uint32(s->state));
    return out;
  };

  // A stream without a method cannot be cloned.
  zrand_stream *bare = host.fn<AllocTk>("zrand_alloc_tk")(pool.raw());
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(clone_tk(pool.raw(), 1, bare), nullptr);
  EXPECT_EQ(pool.live_blocks(), 1u);
  EXPECT_EQ(host.fn<Clone>("zrand_clone")(bare, 1, bare), static_cast<int32_t>(kNotInit));

  // A pool-object parent with FRY4X64 (104-byte blob), two ready clones,
  // then the parent re-methoded to MTHYBRID (2500 bytes) and initialised.
  zrand_stream *parent = host.fn<AllocTk>("zrand_alloc_tk")(pool.raw());
  parent->method_word = "FRY4X64";
  parent->seed = 99;
  ASSERT_EQ(init(parent), 0);
  zrand_stream *c = clone_tk(pool.raw(), 5, parent);
  zrand_stream *ref = clone_tk(pool.raw(), 5, parent);
  ASSERT_TRUE(c && ref);
  crude(c);
  crude(ref);
  EXPECT_EQ(c->desc, parent->desc);
  const std::vector<uint64_t> want = words(ref);
  parent->method_word = "MTHYBRID";
  EXPECT_EQ(init(parent), 0);
  ASSERT_EQ(method(parent), "MTHYBRID");
  EXPECT_EQ(parent->state_size, 2500);
  EXPECT_EQ(words(parent), words(make_with("MTHYBRID", 99)));

  EXPECT_EQ(c->ready, 1);
  EXPECT_EQ(method(c), "FRY4X64");
  EXPECT_EQ(c->state_size, 104);
  EXPECT_EQ(words(c), want);
  EXPECT_EQ(init(c), 0);
  EXPECT_EQ(words(c), want);

  // Clones made now share the parent's new descriptor and a blob its size.
  zrand_stream *late = clone_tk(pool.raw(), 0, parent);
  ASSERT_NE(late, nullptr);
  EXPECT_EQ(late->desc, parent->desc);
  EXPECT_EQ(late->state_size, 2500);
  EXPECT_EQ(words(late), words(make_with("MTHYBRID", 99)));

  // Cloning the parent into the 104-byte clone is refused.
  std::memset(c->state, 0xAB, 104);
  EXPECT_EQ(host.fn<Clone>("zrand_clone")(c, 3, parent), static_cast<int32_t>(kNotInit));
  EXPECT_EQ(c->ready, 0);
  EXPECT_EQ(method(c), "FRY4X64");
  const auto *b = static_cast<const unsigned char *>(c->state);
  EXPECT_EQ(std::count(b, b + 104, 0xAB), 104);

  // A stream never cloned keeps its method in its own descriptor.
  zrand_stream *alone = make_with("XOR64", 1);
  alone->method_word = "MT64";
  init(alone);
  EXPECT_EQ(alone->desc, &alone->embedded_desc);
}

TEST_F(Streams, PoolObjectStreamWaitsForItsInitialisation) {
  zeqhost::Pool &pool = host.new_pool();
  zrand_stream *s = host.fn<AllocTk>("zrand_alloc_tk")(pool.raw());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(pool.last_size(), 6088u);
  EXPECT_EQ(pool.last_flags(), 0x80000000u);
  EXPECT_EQ(s->status, kNotInit);
  EXPECT_EQ(s->ready, 0);
  EXPECT_EQ(s->desc, &s->embedded_desc);
  EXPECT_EQ(s->init_stamp, 0);
  EXPECT_EQ(host.fn<Seed>("zrand_seed")(42, s), 0);
  EXPECT_EQ(method(s), "MTHYBRID");
  EXPECT_EQ(s->seed, 42u);
  EXPECT_EQ(host.fn<AllocTk>("zrand_alloc_tk")(nullptr), nullptr);
  pool.fail_always(true);
  EXPECT_EQ(host.fn<AllocTk>("zrand_alloc_tk")(pool.raw()), nullptr);
}

TEST_F(Streams, MakingAndReleasingUseTheTaskPool) {
  size_t live = host.task_pool().live_blocks();
  zrand_stream *s = host.fn<Alloc>("zrand_alloc_mva")(3, 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->task, host.task());
  EXPECT_EQ(host.task_pool().live_blocks(), live + 1);
  host.fn<Free>("zrndfre")(s);
  EXPECT_EQ(host.task_pool().live_blocks(), live);
  EXPECT_FALSE(host.task_pool().double_free_seen());

  host.task_pool().fail_always(true);
  EXPECT_EQ(host.fn<Alloc>("zrand_alloc_mva")(3, 0), nullptr);
  host.task_pool().fail_always(false);
}

TEST_F(Streams, NullStreamsAreRefused) {
  EXPECT_EQ(host.fn<Seed>("zrand_seed")(1, nullptr), kNullStream);
  EXPECT_EQ(host.fn<Op>("zrand_crude")(nullptr), kNullStream);
  EXPECT_EQ(host.fn<Init>("zrand_init")(nullptr), kNullStream);
  EXPECT_EQ(host.fn<Op>("zrand_rewind")(nullptr), kNullStream);
  EXPECT_EQ(host.fn<Method>("zrand_method")("MT64", 4, nullptr), kNullStream);
  EXPECT_EQ(host.fn<Clone>("zrand_clone")(nullptr, 1, nullptr), kNullStream);
  zrand_stream *s = make();
  EXPECT_EQ(host.fn<Clone>("zrand_clone")(s, 1, nullptr), kNullStream);
  host.fn<Macros>("zrand_macros")(0, nullptr);
  host.fn<Free>("zrndfre")(nullptr);
  EXPECT_EQ(host.fn<Avail>("zrndsp")(), 0);
  EXPECT_EQ(host.fn<Avail>("zrndIsMT32")(), 0);
}

TEST_F(Streams, SeedIsPublishedAsMacroVariables) {
  zrand_stream *s = host.fn<Alo>("zrndalo")(123456789);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(host.macro("SYSRANDOM").value_or("?"), "           123456789");
  EXPECT_EQ(host.macro_scope("SYSRANDOM"), 70);
  char end[32];
  std::snprintf(end, sizeof end, "%20lld", static_cast<long long>(s->seed_end));
  EXPECT_EQ(host.macro("SYSRANEND").value_or("?"), end);

  host.fn<Macros>("zrand_macros")(3, s);
  EXPECT_EQ(host.macro_scope("SYSRANDOM"), 3);
  // Values above 2^63 show as the signed numbers they are.
  s->seed = ~0ull;
  host.fn<Macros>("zrand_macros")(0, s);
  EXPECT_EQ(host.macro("SYSRANDOM").value_or("?"), "                  -1");
}

TEST_F(Streams, DebugOptionWords) {
  const struct { const char *options; const char *word; int64_t want; } cases[] = {
      {"", "-rngseed", 0},
      {"rngseed", "-rngseed", 1},
      {"  RNGSEED", "- rngseed", 1},
      {"foo rngseed=77 bar", "-rngseed", 77},
      {"rngseed=3 rngseed=4", "-rngseed", 4},
      {"rng*", "-rngseed", 1},
      {"rngseedx", "-rngseed", 0},
      {"rngsee", "-rngseed", 0},
      {"rngseed_2", "-rngseed", 0},
      {"rngseed,", "-rngseed", 1},
      {"other", "-rngseed", 0},
  };
  for (const auto &c : cases) {
    host.set_option(4163, c.options);
    EXPECT_EQ(host.fn<Bugi>("zbugi")(c.word), c.want) << '"' << c.options << '"';
  }
  host.set_option(4163, "rngseed");
  host.set_option_fails(4163, 5);
  EXPECT_EQ(host.fn<Bugi>("zbugi")("-rngseed"), 0);
}

}  // namespace
