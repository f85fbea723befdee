// host/kernel.cc - the kernel function table (Exported_TKHandle) of the
// reference host: the kernel service entry, the process record, the locale
// object, the default-locale word, the clock-change record and the processor
// record.
//
// Kernel service entry (number, argument, flags):
//   16 with sub-request 0x800000 (tkzdttme): argument is double t[2]; t[0]
//      := the clock in seconds since the epoch (or the fixed reading of
//      Host::set_clock), t[1] := 0, the base; answers 0.
//   16 with sub-request 0x200000 (tkzinfo): argument is the 352-byte buffer;
//      it is zeroed and the processor record's address stored at 344 (null
//      when the host has none); answers 0.
//   8 (tkzstats): argument is the statistics record, 8 64-bit words:
//      0 user CPU microseconds, 1 system CPU microseconds, 2 largest resident
//      size in KiB, 3 monotonic clock in nanoseconds, 4 minor faults, 5 major
//      faults, 6 voluntary and 7 involuntary context switches; answers 0.
//   every other service and sub-request answers 0 and does nothing.
// Process record (kernel 0x58): 128 bytes, the word at 0x38 is the process id.
// Processor record (byte layout kept by the host): 0 status (0 = valid),
//   4 highest basic CPUID leaf, 8 vendor text (12 bytes), 108/112/116/120
//   leaf 1 EAX/EBX/ECX/EDX, 124 leaf 7 EBX.  Leaf 1 ECX bit 30 (RDRAND) is
//   bit 0x40 of byte 119; HostOptions::rdrand = false clears it.
#include <cpuid.h>
#include <sys/resource.h>
#include <time.h>
#include <unicode/uchar.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "host/internal.h"

namespace zeqhost {

namespace {

double clock_reading() {
  if (g_state && !std::isnan(g_state->fixed_clock)) return g_state->fixed_clock;
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

void fill_stats(int64_t *w) {
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  w[0] = (int64_t)ru.ru_utime.tv_sec * 1000000 + ru.ru_utime.tv_usec;
  w[1] = (int64_t)ru.ru_stime.tv_sec * 1000000 + ru.ru_stime.tv_usec;
  w[2] = ru.ru_maxrss;
  w[3] = (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
  w[4] = ru.ru_minflt;
  w[5] = ru.ru_majflt;
  w[6] = ru.ru_nvcsw;
  w[7] = ru.ru_nivcsw;
}

int64_t kernel_service(int64_t number, int64_t argument, int64_t flags) {
  HostState *h = g_state;
  if (!h) return 0;
  void *arg = reinterpret_cast<void *>(argument);
  if (number == 16 && (flags & 0x800000)) {
    if (arg) {
      double *t = static_cast<double *>(arg);
      t[0] = clock_reading();
      t[1] = 0;
    }
    return 0;
  }
  h->record_call("kernel", {number, argument, flags});
  if (number == 16 && (flags & 0x200000)) {
    if (arg) {
      std::memset(arg, 0, ZEQ_INFO_BYTES);
      void *rec = h->options.processor ? h->processor : nullptr;
      std::memcpy(static_cast<uint8_t *>(arg) + ZEQ_INFO_PROCESSOR, &rec, sizeof rec);
    }
    return 0;
  }
  if (number == 8) {
    if (arg) fill_stats(static_cast<int64_t *>(arg));
    return 0;
  }
  return 0;
}

void *process_record() { return g_state ? g_state->process_record : nullptr; }

TKChar locale_upper(ZeqLocale *, TKChar unit, int32_t) {
  return unit <= 0x10FFFF ? (TKChar)u_toupper((UChar32)unit) : unit;
}
TKChar locale_lower(ZeqLocale *, TKChar unit, int32_t) {
  return unit <= 0x10FFFF ? (TKChar)u_tolower((UChar32)unit) : unit;
}

void clock_changed() {
  if (g_state) g_state->clock_changes++;
}

}  // namespace

void build_processor(HostState &h) {
  std::memset(h.processor, 0, sizeof h.processor);
  unsigned a = 0, b = 0, c = 0, d = 0;
  unsigned max_leaf = __get_cpuid_max(0, nullptr);
  uint32_t status = max_leaf >= 1 ? 0 : 1;
  std::memcpy(h.processor + 0, &status, 4);
  std::memcpy(h.processor + 4, &max_leaf, 4);
  if (__get_cpuid(0, &a, &b, &c, &d)) {
    std::memcpy(h.processor + 8, &b, 4);
    std::memcpy(h.processor + 12, &d, 4);
    std::memcpy(h.processor + 16, &c, 4);
  }
  if (__get_cpuid(1, &a, &b, &c, &d)) {
    if (!h.options.rdrand) c &= ~(1u << 30);
    std::memcpy(h.processor + 108, &a, 4);
    std::memcpy(h.processor + 112, &b, 4);
    std::memcpy(h.processor + 116, &c, 4);
    std::memcpy(h.processor + 120, &d, 4);
  }
  if (max_leaf >= 7 && __get_cpuid_count(7, 0, &a, &b, &c, &d)) std::memcpy(h.processor + 124, &b, 4);
}

void build_kernel(HostState &h) {
  h.kernel.process_record = process_record;
  h.kernel.service = kernel_service;
  h.locale.upper = locale_upper;
  h.locale.lower = locale_lower;
  h.kernel.locale = h.options.locale ? &h.locale : nullptr;
  h.kernel.default_locale = &h.default_locale;
  h.clock_change.changed = clock_changed;
  h.kernel.clock_change = &h.clock_change;
  int64_t pid = (int64_t)getpid();
  std::memcpy(h.process_record + 0x38, &pid, sizeof pid);
  build_processor(h);
  h.cb.kernel = &h.kernel;
}

}  // namespace zeqhost
