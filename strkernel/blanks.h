// strkernel/blanks.h - the one trailing-blank trim and leading-blank skip of
// the module, on byte and TKChar views.  A blank is the unit 0x20.  A
// length <= 0 is answered as it came; a null area reads as all blank.
#pragma once

#include <cstdint>
#include <cstring>

#include "zeq/abi.h"

namespace zeq {

inline constexpr uint64_t kEightBlanks = 0x2020202020202020ull;

// Length of data[0, n) without its trailing blanks.  A string that ends in
// a non-blank answers after one byte; runs of blanks go eight at a time.
inline int64_t trailing_trimmed(const char *data, int64_t n) {
  if (n <= 0) return n;
  if (!data) return 0;
  if (data[n - 1] != ' ') return n;
  while (n >= 8) {
    uint64_t w;
    std::memcpy(&w, data + n - 8, 8);
    if (w != kEightBlanks) break;
    n -= 8;
  }
  while (n > 0 && data[n - 1] == ' ') n--;
  return n;
}
inline int64_t trailing_trimmed(const uint8_t *data, int64_t n) {
  return trailing_trimmed(reinterpret_cast<const char *>(data), n);
}
inline int64_t trailing_trimmed(const TKChar *data, int64_t n) {
  if (!data) return n > 0 ? 0 : n;
  while (n > 0 && data[n - 1] == 0x20) n--;
  return n;
}

// Number of blanks data[0, n) starts with.
inline int64_t leading_blanks(const char *data, int64_t n) {
  int64_t i = 0;
  if (!data) return 0;
  while (i < n && data[i] == ' ') i++;
  return i;
}
inline int64_t leading_blanks(const uint8_t *data, int64_t n) {
  return leading_blanks(reinterpret_cast<const char *>(data), n);
}

}  // namespace zeq
