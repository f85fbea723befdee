// core/bits.h - bit counts for code built for the baseline processor.
//
// Without a target that has POPCNT, __builtin_popcountll and std::popcount
// become a call into the compiler's support library through the procedure
// table, several times the cost of the count itself.  popcount64 is the
// instruction where the build has it, and a short branch-free sum otherwise.
// Code of the wide build (ZEQ_WIDE_BEGIN) has the instruction: it calls
// __builtin_popcountll.
#pragma once

#include <cstdint>

namespace zeq {

[[gnu::always_inline]] inline int popcount64(uint64_t x) {
#if defined(__POPCNT__)
  return __builtin_popcountll(x);
#else
  x -= (x >> 1) & 0x5555555555555555ull;
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<int>((x * 0x0101010101010101ull) >> 56);
#endif
}

}  // namespace zeq
