// rng/hash/rdrand.cc - the processor's hardware random-number instruction
// (the 32-bit form of RDRAND) and the host's report of whether it exists.
#include <atomic>
#include <cstring>

#include "core/cpu.h"
#include "core/frame.h"
#include "rng/methods.h"

namespace {

// Failed executions of the instruction tolerated by one RdRand32 call.  The
// instruction fails only transiently (the vendor advises ten retries); a
// unit that fails a million times in a row is broken, and 0 then tells the
// seed helpers to fall back to the clock.
constexpr int kRdRandAttempts = 1 << 20;

// Whether this processor can execute the instruction at all, from its own
// feature flags; guards against a host record that claims the instruction
// on a processor without it (executing it would stop the process).
bool cpu_executes_rdrand() {
  return (zeq::cpu::features() & zeq::cpu::kRdrand) != 0;
}

__attribute__((target("rdrnd"))) bool rdrand32_step(uint32_t *value) {
  unsigned int v;
  int ok = __builtin_ia32_rdrand32_step(&v);
  *value = v;
  return ok != 0;
}

}  // namespace

ZEQ_EXPORT int32_t IsRdRandAvailable(void) {
  if (Exported_TKHandle == nullptr) return 0;
  alignas(8) unsigned char info[ZEQ_INFO_BYTES];
  std::memset(info, 0, sizeof info);
  tkzinfo(info);
  const unsigned char *processor;
  std::memcpy(&processor, info + ZEQ_INFO_PROCESSOR, sizeof processor);
  if (processor == nullptr) return 0;
  int32_t status;
  std::memcpy(&status, processor, sizeof status);
  if (status != 0) return 0;
  return (processor[ZEQ_CPU_RDRAND_BYTE] & ZEQ_CPU_RDRAND_BIT) ? 1 : 0;
}

ZEQ_EXPORT uint32_t RdRand32(void) {
  if (!cpu_executes_rdrand()) return 0;
  uint32_t v = 0;
  for (int i = 0; i < kRdRandAttempts; ++i) {
    if (rdrand32_step(&v)) return v;
  }
  return 0;
}

// The 16-bit entry draws through the 32-bit form as well.
ZEQ_EXPORT uint32_t RdRand16(void) { return RdRand32(); }

ZEQ_EXPORT double RdRandDb(void) {
  // 1 / (2^32 - 1), bit pattern 0x3DF0000000100000: [0, 1] inclusive.
  return static_cast<double>(RdRand32()) * 0x1.00000001p-32;
}
