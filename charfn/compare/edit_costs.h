// charfn/compare/edit_costs.h - the cost table of COMPGED, set by COMPCOST.
//
// Fifteen signed 64-bit entries.  An unset entry holds 4294967295, which is
// dearer than any path that avoids the operation, so an unset operation is
// never used.  Entry 0 holds the least cost of the operations that move off
// the diagonal (it sizes the band of a cut-off programme); 4294967295 there
// means that the last COMPCOST call failed and COMPGED refuses the table.
// The table of a task is a 128-byte block of the task's pool hung on
// FncContext.editCosts by the first COMPCOST call.
#pragma once

#include <cstdint>

namespace zeq::cmp {

enum EditCost : int {
  COST_LEAST = 0,
  COST_INSERT = 1,    // a character of string-1 with no partner
  COST_DELETE = 2,    // a character of string-2 with no partner
  COST_REPLACE = 3,   // a character of string-1 paired with another of string-2
  COST_FINSERT = 4,   // INSERT before the first character of string-2
  COST_FDELETE = 5,   // DELETE before the first character of string-1
  COST_FREPLACE = 6,  // REPLACE where either character is the first of its string
  COST_APPEND = 7,    // string-1 characters beyond string-2, after all of it
  COST_TRUNCATE = 8,  // string-2 characters beyond string-1, after all of it
  COST_DOUBLE = 9,    // a doubled string-1 character paired with one of string-2
  COST_SINGLE = 10,   // a doubled string-2 character paired with one of string-1
  COST_SWAP = 11,     // two adjacent characters paired in the other order
  COST_BLANK = 12,    // a white-space character inserted, deleted or paired
  COST_PUNCT = 13,    // the same for punctuation
  COST_MATCH = 14,    // a character paired with an equal one
  COST_ENTRIES = 15
};

inline constexpr int64_t kCostUnset = 4294967295LL;
inline constexpr uint64_t kCostTableBytes = 128;

// The costs used while COMPCOST was never called in the task.
extern const int64_t defcost[COST_ENTRIES];

}  // namespace zeq::cmp
