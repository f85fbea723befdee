// charfn/compare/ged.h - the generalised edit distance kernel of COMPGED:
// bytes, lengths, a cost table and options in, min(cost, cutoff) out.  It
// knows nothing of argument blocks or tasks; its rows come from a
// ScratchAllocator (core/scratch.h).
#pragma once

#include <cstdint>

#include "core/scratch.h"

namespace zeq::ged {

// Which row kernels run: the processor's choice, or a set forced (tests and
// benchmarks; Wide on a processor without it runs the generic set).
enum class Rows { Chosen, Generic, Wide };

struct Options {
  const int64_t *costs;    // the 15 entries of charfn/compare/edit_costs.h, entry 0 set
  int64_t cutoff;          // the answer is min(cost, cutoff); kCostUnset: none
  const uint8_t *upcase;   // upper-case table, read when nocase
  const uint8_t *classes;  // character-class table (white space, punctuation)
  bool nocase;
  Rows rows = Rows::Chosen;
  bool wide_cells = false;  // 64-bit cells even where 32-bit ones give the same
};

// min(cost, cutoff) of pairing a (n1 bytes) with b (n2 bytes), every byte
// counted (callers drop trailing blanks first), into *cost; false when
// scratch memory is refused (a cost may be negative when entries are).  The routes: the rows in one register (wide set, 32-bit cells, A
// of up to 8 bytes and no band), in blocks of eight cells (wide set), or in
// two passes (generic set); cells of 32 bits where they give the same answer.
bool distance(const uint8_t *a, int64_t n1, const uint8_t *b, int64_t n2, const Options &o,
              ScratchAllocator *scratch, int64_t *cost);

}  // namespace zeq::ged
