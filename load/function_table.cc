// load/function_table.cc - the module's function table and zeqwucha.
//
// The host calls zeqwucha once per load and receives a block of 44 pointer
// slots from its global pool.  Slot 0 and slots 41 to 43 are never written
// (the pool hands out zero-filled blocks, so they read as null); slots 1 to
// 40 hold the character functions in the order of the host's names for them.
// The rows come from the catalogue (charfn/functions.def): each row names its
// slot and, for the eight concatenation entries and the quoted-word scan, a
// second slot holding the same entry (the host picks the slot, and the
// function behaves the same from either).  Rows with slot 0 are reached by
// their exported name only.
#include "charfn/entries.h"
#include "core/frame.h"
#include "load/entry.h"

namespace {

constexpr int kFirstSlot = 1;
constexpr int kLastSlot = 40;

// Every slot from 1 to 40 is named by exactly one row (first or second slot).
constexpr bool slots_cover_the_table() {
  int seen[kLastSlot + 1] = {};
#define ZEQ_FUNCTION(NAME, SLOT, SLOT2, ...) \
  if (SLOT) seen[SLOT]++;                    \
  if (SLOT2) seen[SLOT2]++;
#include "charfn/functions.def"
#undef ZEQ_FUNCTION
  for (int s = kFirstSlot; s <= kLastSlot; s++)
    if (seen[s] != 1) return false;
  return true;
}
static_assert(slots_cover_the_table(), "slots 1 to 40, each named by one catalogue row");

void put(void **table, int slot, int slot2, void *entry) {
  if (slot) table[slot] = entry;
  if (slot2) table[slot2] = entry;
}

}  // namespace

extern "C" ZEQ_EXPORT void **zeqwucha(void) {
  ZeqControlBlock *cb = v_global_gcb_anchor;
  ZeqPool *pool = cb ? cb->global_pool : nullptr;
  if (!pool || !pool->alloc) return nullptr;
  auto **table = static_cast<void **>(pool->alloc(pool, ZEQ_TABLE_BYTES, ZEQ_FLAGS_ZERO));
  if (!table) return nullptr;
#define ZEQ_FUNCTION(NAME, SLOT, SLOT2, ENTRY, ...) \
  put(table, SLOT, SLOT2, reinterpret_cast<void *>(&ENTRY));
#include "charfn/functions.def"
#undef ZEQ_FUNCTION
  return table;
}
