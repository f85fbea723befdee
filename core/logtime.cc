// core/logtime.cc - the log-time prefixes "[hh:mm:ss] " that the host puts
// before journal lines: bkzGetLogTime and bkzAddTimeT.
#include "core/clock.h"
#include "core/export.h"
#include "zeq/abi.h"

namespace {

constexpr int kPrefixUnits = 11;

void log_time_prefix(char out[kPrefixUnits]) {
  int32_t hour = 0, minute = 0;
  double seconds = 0;
  tkztime(&hour, &minute, &seconds);
  int sec = static_cast<int>(seconds);  // truncated
  auto two = [](char *p, int v) {
    if (v < 0) v = 0;
    v %= 100;
    p[0] = static_cast<char>('0' + v / 10);
    p[1] = static_cast<char>('0' + v % 10);
  };
  out[0] = '[';
  two(out + 1, hour);
  out[3] = ':';
  two(out + 4, minute);
  out[6] = ':';
  two(out + 7, sec);
  out[9] = ']';
  out[10] = ' ';
}

}  // namespace

extern "C" {

// Writes "[hh:mm:ss] " and a zero byte (12 bytes) into buffer; answers it.
ZEQ_EXPORT char *bkzGetLogTime(char *buffer) {
  if (!buffer) return nullptr;
  log_time_prefix(buffer);
  buffer[kPrefixUnits] = '\0';
  return buffer;
}

// Copies text (with its terminating zero unit) to out, after the 11-unit
// time prefix when flag 0x20000 is set and flag 0x200000 is not.  The third
// argument is not used.  A null text copies as an empty text.  Answers out.
ZEQ_EXPORT TKChar *bkzAddTimeT(const TKChar *text, TKChar *out, void *unused, unsigned flags) {
  if (!out) return nullptr;
  TKChar *p = out;
  if ((flags & 0x20000u) && !(flags & 0x200000u)) {
    char prefix[kPrefixUnits];
    log_time_prefix(prefix);
    for (int i = 0; i < kPrefixUnits; i++) *p++ = static_cast<uint8_t>(prefix[i]);
  }
  if (text) {
    while (*text) *p++ = *text++;
  }
  *p = 0;
  return out;
}

}  // extern "C"

