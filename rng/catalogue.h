// rng/catalogue.h - the structured view of rng/methods.def: one row per
// generator method and one per further word the resolver accepts, with the
// checks that keep a row's options in step with its capability flags.
//
// Header-only and free of module symbols, so hosts, tests and tools read the
// same rows the builders and the resolver use.
#pragma once

#include <cstdint>
#include <iterator>

#include "zeq/rng.h"

// What selects a stream of a method besides its method word.
#define ZRNG_OPT_SEED     0x01u  // a seed
#define ZRNG_OPT_KEY      0x02u  // a key
#define ZRNG_OPT_THREAD   0x04u  // a thread number
#define ZRNG_OPT_POSITION 0x08u  // a position (counter-based methods)
// With key 0 and thread 0 the method repeats its seed for ever.
#define ZRNG_OPT_CONSTANT_WITHOUT_KEY 0x10u

namespace zeq::rng::catalogue {

struct Method {
  const char *name;         // canonical word
  const char *builder;      // exported builder
  int listed;               // place in the listing
  int32_t output_bits;      // 0: the hardware method
  uint64_t flags;           // ZRNG_* capability bits
  unsigned options;         // ZRNG_OPT_* bits
  int thread_bits;          // thread numbers below 2^thread_bits are told apart
  const char *description;  // "" for none
};

struct Alias {
  const char *word;
  const char *name;  // the canonical word it stands for
};

inline constexpr Method kMethods[] = {
#define ZRNG_METHOD(NAME, BUILDER, LISTED, BITS, FLAGS, OPTIONS, THREAD_BITS, DESCRIPTION) \
  {#NAME, #BUILDER, LISTED, BITS, FLAGS, OPTIONS, THREAD_BITS, DESCRIPTION},
#include "rng/methods.def"
};

inline constexpr Alias kAliases[] = {
#define ZRNG_METHOD(NAME, BUILDER, LISTED, BITS, FLAGS, OPTIONS, THREAD_BITS, DESCRIPTION)
#define ZRNG_ALIAS(WORD, NAME) {#WORD, #NAME},
#include "rng/methods.def"
};


constexpr bool same_word(const char *a, const char *b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

// The row of canonical word `name`, or -1.
constexpr int row_of(const char *name) {
  for (int i = 0; i < static_cast<int>(std::size(kMethods)); ++i)
    if (same_word(kMethods[i].name, name)) return i;
  return -1;
}

// The options a row's flags imply: a key without a thread slot shares its
// word with the thread number, so such a method takes threads too.
constexpr unsigned implied_options(uint64_t flags) {
  unsigned o = 0;
  if (ZRNG_TAKES_SEED(flags)) o |= ZRNG_OPT_SEED;
  if (ZRNG_TAKES_KEY(flags)) o |= ZRNG_OPT_KEY | ZRNG_OPT_THREAD;
  if (ZRNG_TAKES_THREAD(flags)) o |= ZRNG_OPT_THREAD;
  if (flags & (ZRNG_COUNT_32 | ZRNG_COUNT_64)) o |= ZRNG_OPT_POSITION;
  return o;
}

// Thread bits the stream engine hands over: a thread slot takes the word
// width, a shared key word leaves 21 (32-bit) or 43 (64-bit) bits below
// the key.
constexpr int implied_thread_bits(uint64_t flags, int32_t bits) {
  const bool narrow = bits <= 32;
  if (ZRNG_TAKES_THREAD(flags)) return narrow ? 32 : 64;
  if (ZRNG_TAKES_KEY(flags)) return narrow ? 21 : 43;
  return 0;
}

constexpr bool consistent(const Method &m) {
  return (m.options & ~ZRNG_OPT_CONSTANT_WITHOUT_KEY) == implied_options(m.flags) &&
         m.thread_bits == implied_thread_bits(m.flags, m.output_bits) &&
         (m.flags & ZRNG_HAS_DESCRIPTION) == (m.description[0] ? ZRNG_HAS_DESCRIPTION : 0u);
}

constexpr bool all_consistent() {
  for (const Method &m : kMethods)
    if (!consistent(m)) return false;
  return true;
}
static_assert(all_consistent(), "rng/methods.def: OPTIONS, THREAD_BITS or DESCRIPTION disagree with FLAGS");

// Every listing place used once.
constexpr bool listing_is_a_permutation() {
  bool seen[std::size(kMethods)] = {};
  for (const Method &m : kMethods) {
    if (m.listed < 0 || m.listed >= static_cast<int>(std::size(kMethods)) || seen[m.listed]) return false;
    seen[m.listed] = true;
  }
  return true;
}
static_assert(listing_is_a_permutation(), "rng/methods.def: LISTED places repeat or leave gaps");

// Every alias names a method and no word is taken twice.
constexpr bool aliases_sound() {
  for (const Alias &a : kAliases) {
    int targets = 0;
    for (const Method &m : kMethods) {
      if (same_word(a.word, m.name)) return false;
      targets += same_word(a.name, m.name);
    }
    if (targets != 1) return false;
    int uses = 0;
    for (const Alias &b : kAliases) uses += same_word(a.word, b.word);
    if (uses != 1) return false;
  }
  return true;
}
static_assert(aliases_sound(), "rng/methods.def: an alias names no method or repeats a word");

}  // namespace zeq::rng::catalogue
