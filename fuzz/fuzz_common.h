// fuzz/fuzz_common.h - what the fuzz targets share: the reference host (one
// per process, loaded before the first input), a reader that turns the
// fuzzer's bytes into numbers and texts a host's users could hand over,
// guarded output areas, and the per-input checks every target makes
// (pools back to their live-block count, no double release, no scratch left).
//
// A failed check calls finding(), which prints what broke and aborts, so
// libFuzzer saves the input as a crash.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "host/host.h"
#include "zeq/abi.h"

namespace zeqfuzz {

[[noreturn]] inline void finding(const char *what) {
  std::fprintf(stderr, "zeq fuzz finding: %s\n", what);
  std::abort();
}

inline void require(bool ok, const char *what) {
  if (!ok) finding(what);
}

inline zeqhost::Host &host() {
  static zeqhost::Host *h = [] {
    auto *made = new zeqhost::Host();
    if (!made->loaded()) {
      std::fprintf(stderr, "module not loaded: %s\n", made->load_error().c_str());
      std::abort();
    }
    return made;
  }();
  return *h;
}

// A symbol of the module that must exist.
template <class F>
F sym(const char *name) {
  F f = host().fn<F>(name);
  if (!f) {
    std::fprintf(stderr, "missing export %s\n", name);
    std::abort();
  }
  return f;
}

// Numbers a user's data may hold: specials, small whole numbers, fractions,
// and any bit pattern.
inline double some_number(FuzzedDataProvider &p) {
  static const double kSpecial[] = {
      std::nan(""), -std::nan(""), std::numeric_limits<double>::infinity(),
      -std::numeric_limits<double>::infinity(), 1e300, -1e300, 2147483648.0, -2147483649.0,
      4294967296.0, 9223372036854775808.0, -9223372036854775808.0, 1.8446744073709552e19,
      1e-300, -0.0, 0.5, -0.5, 2.9, -2.9, 1e16, 0};
  uint64_t bits;
  switch (p.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: return kSpecial[p.ConsumeIntegralInRange<size_t>(0, std::size(kSpecial) - 1)];
    case 1: return static_cast<double>(p.ConsumeIntegralInRange<int>(-12, 40));
    case 2: return static_cast<double>(p.ConsumeIntegralInRange<int>(-5000, 5000)) / 4;
    case 3: {
      bits = p.ConsumeIntegral<uint64_t>();
      double d;
      std::memcpy(&d, &bits, sizeof d);
      return d;
    }
    default: {
      // The host's ordinary missing value.
      uint64_t b = FNC_MISSING_BITS;
      double d;
      std::memcpy(&d, &b, sizeof d);
      return d;
    }
  }
}

// Bytes of a text: up to `cap` raw bytes (NULs, malformed UTF-8 and all).
inline std::string some_text(FuzzedDataProvider &p, size_t cap) {
  return p.ConsumeRandomLengthString(cap);
}

// An output area of `room` bytes followed by guard bytes.
struct Area {
  static constexpr unsigned char kGuard = 0xA5;
  static constexpr size_t kGuardBytes = 16;
  std::vector<char> v;
  size_t room;
  explicit Area(int64_t n) : v((n > 0 ? (size_t)n : 0) + kGuardBytes, (char)kGuard), room(n > 0 ? (size_t)n : 0) {}
  char *data() { return v.data(); }
  bool intact() const {
    for (size_t i = room; i < v.size(); i++)
      if ((unsigned char)v[i] != kGuard) return false;
    return true;
  }
};

// Live blocks of the pools an input may touch, taken before it runs; check()
// asserts they are back and nothing was released twice.
struct PoolMark {
  size_t global, task;
  PoolMark() : global(host().global_pool().live_blocks()), task(host().task_pool().live_blocks()) {}
  void check() const {
    zeqhost::Host &h = host();
    h.global_pool().fail_nth(0);
    h.task_pool().fail_nth(0);
    require(!h.global_pool().double_free_seen() && !h.task_pool().double_free_seen(), "double release");
    require(h.global_pool().live_blocks() == global, "global pool leak");
    require(h.task_pool().live_blocks() == task, "task pool leak");
    require(h.scratch_live() == 0, "scratch arena not given back");
  }
  // Ends an input: forgets what the host recorded (so that the input's
  // mallocs and frees pair up for libFuzzer's leak check), then check().
  void finish() const {
    host().clear_log();
    host().clear_service_calls();
    check();
  }
};

// Builds the current task's context (and the task's random stream): it lives
// as long as the task, so it is built before the first input and every input
// starts from the same pools.
inline void build_task_context() { sym<int32_t (*)(FncTask *)>("fncinit")(host().task()); }

// Fails the n-th allocation of the chosen pool (0: none) for one input.
inline void maybe_fail_allocation(FuzzedDataProvider &p) {
  const int n = p.ConsumeIntegralInRange<int>(0, 12);
  if (n > 8) return;
  (p.ConsumeBool() ? host().task_pool() : host().global_pool()).fail_nth(n);
}

}  // namespace zeqfuzz
