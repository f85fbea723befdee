// core/tktext.h - compile-time TKChar literals and the numeric
// conversions the engine and the settings accessors share.
//
// Host-facing names and journal formats are TKChar texts.  TKText turns an
// ASCII literal into a zero-terminated TKChar array at compile time, so the
// texts live in read-only data with no conversion at run time.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "zeq/abi.h"

namespace zeq::tk {

template <size_t N>
struct TKText {
  TKChar s[N];
  constexpr TKText(const char (&text)[N]) : s{} {
    for (size_t i = 0; i < N; ++i) s[i] = static_cast<unsigned char>(text[i]);
  }
  // Units before the terminating zero.
  static constexpr int length() { return static_cast<int>(N - 1); }
  constexpr const TKChar *get() const { return s; }
};

// Double to signed 64-bit by truncation, defined for every input: values
// outside the range give INT64_MIN (what the processor's truncating
// conversion answers), a NaN gives 0.
inline int64_t trunc_i64(double d) {
  if (d != d) return 0;
  if (d >= -9223372036854775808.0 && d < 9223372036854775808.0) return static_cast<int64_t>(d);
  return INT64_MIN;
}

// Double to unsigned 64-bit by truncation, defined for every input: values
// from 2^63 to below 2^64 convert as unsigned, negative values within the
// signed range wrap as two's complement (as a signed conversion would), and
// everything else (NaN, infinities, magnitudes beyond 2^64) gives 0.
inline uint64_t trunc_u64(double d) {
  if (d != d) return 0;
  if (d >= 0.0 && d < 18446744073709551616.0) return static_cast<uint64_t>(d);
  if (d < 0.0 && d >= -9223372036854775808.0) return static_cast<uint64_t>(static_cast<int64_t>(d));
  return 0;
}

}  // namespace zeq::tk
