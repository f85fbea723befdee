// core/cpu.cc - processor features from CPUID and the one wide/generic choice.
#include "core/cpu.h"

#include <cpuid.h>

#include <cstdlib>
#include <cstring>

namespace zeq::cpu {

namespace {

// AVX state enabled by the operating system (XCR0 bits 1 and 2).
bool os_saves_avx() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE)) return false;
  unsigned lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (lo & 6u) == 6u;
}

unsigned probe() {
  unsigned a = 0, b = 0, c = 0, d = 0, f = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
  if (c & bit_FMA) f |= kFma;
  if (c & bit_POPCNT) f |= kPopcnt;
  if (c & bit_RDRND) f |= kRdrand;
  bool avx = (c & bit_AVX) && os_saves_avx();
  if (!avx) f &= ~kFma;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
    if (avx && (b & bit_AVX2)) f |= kAvx2;
    if (b & bit_BMI) f |= kBmi1;
    if (b & bit_BMI2) f |= kBmi2;
  }
  return f;
}

}  // namespace

unsigned features() {
  static const unsigned known = probe();
  return known;
}

bool generic_forced() {
  const char *v = std::getenv("ZEQ_FORCE_GENERIC");
  return v && v[0] && !(v[0] == '0' && v[1] == '\0');
}

bool wide() {
  static const bool decided = [] {
    constexpr unsigned need = kAvx2 | kFma | kPopcnt | kBmi1 | kBmi2;
    return (features() & need) == need && !generic_forced();
  }();
  return decided;
}

bool slow_bit_deposit_on(const char *vendor, unsigned family) {
  const bool amd_like = !std::strncmp(vendor, "AuthenticAMD", 12) || !std::strncmp(vendor, "HygonGenuine", 12);
  return amd_like && family < 0x19;
}

bool slow_bit_deposit() {
  static const bool slow = [] {
    unsigned a, b, c, d;
    if (!__get_cpuid(0, &a, &b, &c, &d)) return false;
    char vendor[13] = {};
    std::memcpy(vendor, &b, 4);
    std::memcpy(vendor + 4, &d, 4);
    std::memcpy(vendor + 8, &c, 4);
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const unsigned base = (a >> 8) & 0xF, extended = (a >> 20) & 0xFF;
    return slow_bit_deposit_on(vendor, base == 0xF ? base + extended : base);
  }();
  return slow;
}

}  // namespace zeq::cpu
