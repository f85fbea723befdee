// core/clock.h - the clock readings (core/clock.cc).
#pragma once

#include <cstdint>

extern "C" {
// Local time of day: hour, minute, and seconds with their fraction.
int32_t tkztime(int32_t *hour, int32_t *minute, double *seconds);
// Seconds since the epoch with microseconds as the fraction.
double bkztod(void);
// (seconds since the epoch AND mask) * 1000000 + microseconds.
int64_t tkzTimeUsec(int64_t mask);
}
