// core/cpu.h - the one processor decision of the module.
//
// Every kernel family with a wide-vector build (byte primitives, class
// mapping, the counting scans, the random engine's conversions) asks wide()
// once and keeps the answer: the wide build runs when the processor has
// AVX2, FMA, POPCNT, BMI1 and BMI2 and ZEQ_FORCE_GENERIC is unset, empty or
// "0".  Both builds give identical results; the tests run both.
//
// ZEQ_WIDE_BEGIN / ZEQ_WIDE_END bracket code compiled for the wide build;
// both GCC and clang understand them.
#pragma once

namespace zeq::cpu {

enum Feature : unsigned {
  kAvx2 = 1u << 0,
  kFma = 1u << 1,
  kPopcnt = 1u << 2,
  kBmi1 = 1u << 3,
  kBmi2 = 1u << 4,
  kRdrand = 1u << 5,
};

// What this processor executes, from CPUID (and XGETBV for the AVX state).
unsigned features();
// Whether ZEQ_FORCE_GENERIC asks for the generic builds.
bool generic_forced();
// The decision: true for the wide builds.  Decided on first call.
bool wide();

// Whether the bit deposit/extract instructions (BMI2 PDEP/PEXT) are
// microcoded, tens to hundreds of cycles each: AMD and Hygon processors
// before family 0x19.  Kernels whose wide build leans on them keep their
// generic build there.  `vendor` is CPUID leaf 0's 12-character name.
bool slow_bit_deposit_on(const char *vendor, unsigned family);
// The same for this processor (and false when CPUID cannot tell).
bool slow_bit_deposit();

}  // namespace zeq::cpu

#define ZEQ_WIDE_TARGETS "avx2,fma,popcnt,bmi,bmi2"
#if defined(__clang__)
#define ZEQ_WIDE_BEGIN \
  _Pragma("clang attribute push(__attribute__((target(\"avx2,fma,popcnt,bmi,bmi2\"))), apply_to = function)")
#define ZEQ_WIDE_END _Pragma("clang attribute pop")
#else
#define ZEQ_WIDE_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,fma,popcnt,bmi,bmi2\")")
#define ZEQ_WIDE_END _Pragma("GCC pop_options")
#endif
