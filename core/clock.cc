// core/clock.cc - the clock readings: local time of day (tkztime), seconds
// since the epoch with the clock-change notice (bkztod), and masked
// microseconds (tkzTimeUsec).
#include <sys/time.h>

#include <atomic>
#include <cstring>
#include <ctime>

#include "core/anchors.h"
#include "core/clock.h"
#include "core/export.h"

extern "C" {

// Local time of day: hour, minute, and seconds with their fraction.
ZEQ_EXPORT int32_t tkztime(int32_t *hour, int32_t *minute, double *seconds) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  time_t t = tv.tv_sec;
  struct tm local;
  if (!localtime_r(&t, &local)) std::memset(&local, 0, sizeof local);
  if (hour) *hour = local.tm_hour;
  if (minute) *minute = local.tm_min;
  if (seconds) *seconds = local.tm_sec + static_cast<double>(tv.tv_usec) / 1e6;
  return 0;
}

}  // extern "C"

namespace {
// The clock reading bkztod remembers (seconds since the epoch), shared by the
// whole process.  Relaxed atomics: concurrent callers may both report a
// change, which the host tolerates, but no read is torn.
std::atomic<int64_t> remembered_seconds{0};
}  // namespace

extern "C" {

// Seconds since the epoch with microseconds as the fraction.  When the
// seconds went backwards, or forward by more than 5, since the remembered
// reading and the kernel has a clock-change entry, the entry is told and
// this reading is remembered.
ZEQ_EXPORT double bkztod(void) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  const int64_t now = tv.tv_sec;
  const int64_t last = remembered_seconds.load(std::memory_order_relaxed);
  if (now < last || now - last > 5) {
    ZeqKernel *k = Exported_TKHandle;
    ZeqClockChange *change = k ? k->clock_change : nullptr;
    if (change && change->changed) {
      change->changed();
      remembered_seconds.store(now, std::memory_order_relaxed);
    }
  }
  return static_cast<double>(now) + static_cast<double>(tv.tv_usec) / 1e6;
}

// (seconds since the epoch AND mask) * 1000000 + microseconds, in wrapping
// 64-bit arithmetic.
ZEQ_EXPORT int64_t tkzTimeUsec(int64_t mask) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  uint64_t secs = static_cast<uint64_t>(tv.tv_sec) & static_cast<uint64_t>(mask);
  return static_cast<int64_t>(secs * 1000000u + static_cast<uint64_t>(tv.tv_usec));
}

}  // extern "C"
