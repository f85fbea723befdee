// strkernel/bytes.cc - byte-string and memory primitives: lengths, copies,
// fills, comparisons and scans over bytes, TKChar units and doubles.
//
// Conventions: lengths and counts are unsigned 64-bit unit counts; a scan
// answers a 0-based index or -1.  Every routine tolerates null pointers: a
// null area reads as empty and is never written.  The case shifts, fills and
// scans go through the build chosen once per process (bytes_dispatch.h).
#include <cstring>

#include "core/frame.h"
#include "strkernel/bytes_dispatch.h"
#include "strkernel/strkernel.h"

namespace {

using zeq::bytes::active;

// Areas [a, a+n) and [b, b+n) share a byte.
bool overlap(const void *a, const void *b, uint64_t n) {
  auto x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
  return x < y ? y - x < n : x - y < n;
}

// Copies longer than this that do not overlap go to the C library's block
// copy; shorter ones are cheaper as an inline loop.
constexpr uint64_t kBlockCopyThreshold = 96;

// Ascending byte loop, two bytes a step.  Each byte is read after every
// earlier byte was written, so a destination just above its source repeats
// the leading bytes, as the contract of skMemCpy requires.
void forward_copy(const uint8_t *s, uint8_t *d, uint64_t n) {
  uint64_t i = 0;
  for (; i + 2 <= n; i += 2) {
    d[i] = s[i];
    d[i + 1] = s[i + 1];
  }
  if (i < n) d[i] = s[i];
}

}  // namespace

extern "C" {

// The status for operations this kernel does not provide.
ZEQ_EXPORT int32_t skUnsup(void) { return ZEQ_RC_UNSUPPORTED; }

ZEQ_EXPORT uint64_t skStrLen(const char *s) { return s ? std::strlen(s) : 0; }

ZEQ_EXPORT uint64_t skStrTLen(const TKChar *s) {
  if (!s) return 0;
  uint64_t n = 0;
  while (s[n]) n++;
  return n;
}

// Source first.  Null destination: nothing.  Null source: empty string.
ZEQ_EXPORT void skStrCpy(const char *src, char *dst) {
  if (!dst) return;
  if (!src) {
    dst[0] = '\0';
    return;
  }
  std::memmove(dst, src, std::strlen(src) + 1);
}

ZEQ_EXPORT void skStrTCpy(const TKChar *src, TKChar *dst) {
  if (!dst) return;
  if (!src) {
    dst[0] = 0;
    return;
  }
  std::memmove(dst, src, (skStrTLen(src) + 1) * sizeof(TKChar));
}

// In place, ASCII letters only: every other byte value is left alone.
ZEQ_EXPORT void skStrUp(char *data, uint64_t count) {
  if (data && count) active().str_up(reinterpret_cast<uint8_t *>(data), count);
}

ZEQ_EXPORT void skStrLow(char *data, uint64_t count) {
  if (data && count) active().str_low(reinterpret_cast<uint8_t *>(data), count);
}

// 1 when all count bytes equal the value (also for count 0), else 0.
ZEQ_EXPORT int32_t skMemNot(int value, const void *data, uint64_t count) {
  if (count == 0) return 1;
  if (!data) return 0;
  return active().mem_nscan(static_cast<const uint8_t *>(data), count,
                            static_cast<uint8_t>(value)) < 0;
}

ZEQ_EXPORT int32_t skMemTNot(TKChar value, const TKChar *data, uint64_t count) {
  if (count == 0) return 1;
  if (!data) return 0;
  return active().mem_tnscan(data, count, value) < 0;
}

ZEQ_EXPORT void skMemSet(void *data, int value, uint64_t count) {
  if (data && count) active().mem_set(static_cast<uint8_t *>(data), static_cast<uint8_t>(value), count);
}

ZEQ_EXPORT void skMemTSet(TKChar *data, TKChar value, uint64_t count) {
  if (data && count) active().mem_tset(data, value, count);
}

// -1, 0 or +1 by the first differing byte, compared unsigned.  A null area
// orders before any non-null one.
ZEQ_EXPORT int32_t skMemCmp(const void *left, const void *right, uint64_t count) {
  if (count == 0 || left == right) return 0;
  if (!left) return -1;
  if (!right) return 1;
  int c = std::memcmp(left, right, count);
  return (c > 0) - (c < 0);
}

// At the first unequal pair: -1 when left - right (mod 2^32) is negative as
// a signed 32-bit number, else +1.  For code points the difference never
// wraps, so this is the ordinary order of units.
ZEQ_EXPORT int32_t skWMemCmp(const TKChar *left, const TKChar *right, uint64_t count) {
  if (count == 0 || left == right) return 0;
  if (!left) return -1;
  if (!right) return 1;
  for (uint64_t i = 0; i < count; i++) {
    if (left[i] != right[i]) {
      auto diff = static_cast<int32_t>(left[i] - right[i]);
      return diff < 0 ? -1 : 1;
    }
  }
  return 0;
}

// Copies count bytes in ascending order and answers the destination; a
// destination just above the source repeats the leading bytes.
ZEQ_EXPORT void *skMemCpy(const void *src, void *dst, uint64_t count) {
  if (count == 0 || !src || !dst) return dst;
  if (count > kBlockCopyThreshold && !overlap(src, dst, count)) {
    std::memcpy(dst, src, count);
  } else {
    forward_copy(static_cast<const uint8_t *>(src), static_cast<uint8_t *>(dst), count);
  }
  return dst;
}

// Overlap-safe copy: the destination gets the source as it was before.
ZEQ_EXPORT void *skMemSCpy(const void *src, void *dst, uint64_t count) {
  if (count == 0 || !src || !dst) return dst;
  if (count <= kBlockCopyThreshold && !overlap(src, dst, count)) {
    forward_copy(static_cast<const uint8_t *>(src), static_cast<uint8_t *>(dst), count);
  } else {
    std::memmove(dst, src, count);
  }
  return dst;
}

// A copy of count bytes in a block from the allocator record's fourth entry,
// called as (record, count, 0).  Null when data or allocator is null or the
// allocation fails.
ZEQ_EXPORT void *skMemDup(const void *data, uint64_t count, void *allocator) {
  using AllocEntry = void *(*)(void *, uint64_t, uint32_t);
  if (!data || !allocator) return nullptr;
  auto entry = static_cast<AllocEntry *>(allocator)[3];
  if (!entry) return nullptr;
  void *copy = entry(allocator, count, 0);
  if (copy && count) std::memcpy(copy, data, count);
  return copy;
}

ZEQ_EXPORT int64_t skMemScan(const void *data, uint64_t count, int value) {
  if (!data || count == 0) return -1;
  return active().mem_scan(static_cast<const uint8_t *>(data), count, static_cast<uint8_t>(value));
}

ZEQ_EXPORT int64_t skMemNScan(const void *data, uint64_t count, int value) {
  if (!data || count == 0) return -1;
  return active().mem_nscan(static_cast<const uint8_t *>(data), count, static_cast<uint8_t>(value));
}

ZEQ_EXPORT int64_t skMemTNScan(const TKChar *data, uint64_t count, TKChar value) {
  if (!data || count == 0) return -1;
  return active().mem_tnscan(data, count, value);
}

// 1 when any of the doubles is missing (any NaN).
ZEQ_EXPORT int32_t skMissArray(const double *values, uint64_t count) {
  if (!values) return 0;
  for (uint64_t i = 0; i < count; i++)
    if (values[i] != values[i]) return 1;
  return 0;
}

}  // extern "C"
