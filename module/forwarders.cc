// module/forwarders.cc - forwarders to the host kernel's single service
// entry (Exported_TKHandle + 0x108), to the logger object, the log-time
// prefixes and the version-information block.
//
// Kernel forwarders call service(number, argument, flags) with flags
// 0x10000000, ORed with the forwarder's sub-request where it has one.  The
// argument word is
//   - 0 for a forwarder without arguments;
//   - the argument itself for a forwarder with one argument (an i64 word;
//     pointers pass their address, 32-bit values are widened with sign);
//   - for the six "flags" forwarders, argument 1, while argument 2 (an
//     unsigned 32-bit word) is ORed into the flags word;
//   - for a forwarder with several arguments, the address of an argument
//     record holding them in order (8-byte fields for pointers and 64-bit
//     values, 4-byte fields for 32-bit values) followed by a result field
//     that is zeroed first; the forwarder returns that result field.
// A one-argument or argument-less forwarder returns what the service
// returns.  Without a kernel table or service entry every forwarder answers 0
// and does nothing, except tkzdttme (reads the process clock itself) and
// tkzinfo (clears the caller's buffer, so that it reports no processor
// record).
//
// C signatures (i64 = long long):
//
//  svc  sub       forwarder                      signature
//  0              tktConfigureSignals            i64 (i64 arg, unsigned flags)
//  1              tktInitializeTKSignalHandlers  i64 (i64 arg)
//  3              tkbStartTKAT                   i64 (i64 arg, unsigned flags)
//  4              tkbLogStatMessage              i64 (i64 arg, unsigned flags)
//  5              tkbProcessTKATcommand          i64 (i64 arg, unsigned flags)
//  6              tkbProcessTKATrequest          i64 (i64 arg, unsigned flags)
//  7              tkzSetSupVerNum                i64 (i64 arg, unsigned flags)
//  8              tkzstats                       i64 (void *record)
//  9              tkzSetDefaultLocale            i64 (i64 arg)
//  10             tkzGetIOCount                  i64 (i64 arg)
//  11             tklSetLogLoc                   i64 (i64 arg)
//  12             tkbLogTraceMessage             i64 (i64 arg)
//  13             tkModuleLoadp                  i64 (i64 arg)
//  14             tkzGetVerconInfo               i64 (void *a, void *b, void *c, int *status)
//                                                  record {a, b, c, status, i64 result};
//                                                  also stores (int)result through status
//  16   0x800000  tkzdttme                       double (void): t[0] - t[1]
//  16   0x200000  tkzinfo                        i64 (void *buffer352)
//  16   0x1000    tkzGetStartPort                i64 (void)
//  16   0x2000    tkzGetMinPort                  i64 (void)
//  16   0x4000    tkzGetMaxPort                  i64 (void)
//  16   0x8000    tkzGetGlobalFlags              i64 (void)
//  17             tkexit                         i64 (i64 code)
//  19             tkzSetEncodings                i64 (i64 arg)
//  20             skSetAttentionNotify           i64 (i64 arg)
//  21             tkatnenq                       i64 (i64 arg)
//  22             tkatndeq                       i64 (i64 arg)
//  24             tktChangeMethods               i64 (i64 arg)
//  25             tktGetExcSupport               i64 (void)
//  26             tktResetMethods                i64 (void)
//  27             tktSetAsyncThreadId            i64 (i64 arg)
//  28             tktClearAsyncThreadid          i64 (void)
//  29             tktSetSignalHandlers           i64 (i64 arg)
//  30             tktClearSignalHandlers         i64 (void)
//  31             bktThreadInit                  i64 (i64 arg)
//  32             bktSetupThreadStackGuar        i64 (i64 arg)
//  33             bktRestoreStackWindows         i64 (void)
//  34             tkbEnableRtrace                i64 (i64 arg)
//  35             tkbDisableRtrace               i64 (void)
//  36             tkLogRtraceEntry               i64 (i64 arg)
//  37             tkSetExternalRtrace            i64 (i64 arg)
//  38             tkbRtraceReleaseEntry          i64 (i64 arg)
//  39             tkAddAbortCallback             i64 (void *callback, void *data)  record {callback, data, i64 result}
//  40             tkRemoveAbortCallback          i64 (void *callback, void *data)  record {callback, data, i64 result}
//  41             tkInvokeAbortCallbacks         i64 (void)
//  42             tkSetExtendedPaths             i64 (i64 arg)
//  43             tktSaveFPControl               i64 (void *save_area)
//  44             tktRestoreFPControl            i64 (void *save_area)
//  45             tktMaskAllFPExceptions         i64 (void)
//  46             tkmGuessHostFriendlyMemAvail   i64 (void)
//  46             tkmrlmem                       i64 (void)
//  47             tkmSetRealMemsize              i64 (double size): the double's bits as the argument word
//  48             tktSetPthreadId                i64 (i64 arg)
//  49             tkbSetIsNative                 i64 (void)
//  50             tkbClearIsNative               i64 (void)
//  51             tkzGetShortVer                 i64 (char *buffer)
//  52             tkGetOSPath                    i64 (i64 arg)
//  53             tkReleaseOSPath                i64 (i64 arg)
//  54             skassert                       i64 (const char *expr, const char *file, int line)
//                                                  record {expr, file, int line, i64 result}
//  55             tkbRegisterPerfmon             i64 (i64 arg)
//  57             tkzPushTrackResourceHandler    i64 (void *handler, void *data)  record {handler, data, i64 result}
//  58             tkzPopTrackResourceHandler     i64 (void)
//  59             tkzResourceChange              i64 (int kind, i64 amount)  record {int kind, i64 amount, i64 result}
//  60             tkzGetCurrRootAddr             i64 (void)
//  61             tkzSetCurrRootCB               i64 (void *callback, void *data)  record {callback, data, i64 result}
//  62             tksFindLoadlibs                i64 (i64 arg)
//
// Other readers: tkzGetDefLocale() -> the word kernel 0x118 points to (0
// when there is none).  Logger forwarders take the logger object first and
// answer 0 (nothing written) when it or its entry is null.
#include <sys/time.h>

#include <cstring>
#include <ctime>

#include "module/frame.h"
#include "strkernel/strkernel.h"

namespace {

constexpr i64 kFlags = ZEQ_KFLAGS;

ZeqKernelService service_entry() {
  ZeqKernel *k = Exported_TKHandle;
  return k ? k->service : nullptr;
}

i64 call_service(i64 number, i64 argument, i64 flags) {
  ZeqKernelService svc = service_entry();
  return svc ? svc(number, argument, flags) : 0;
}

i64 word_of(const void *p) { return static_cast<i64>(reinterpret_cast<uintptr_t>(p)); }

// Argument records of the several-argument forwarders.
struct TwoPointerRecord {
  void *first;
  void *second;
  i64 result;
};
struct VerconRecord {
  void *a;
  void *b;
  void *c;
  int *status;
  i64 result;
};
struct AssertRecord {
  const char *expr;
  const char *file;
  int32_t line;
  i64 result;
};
struct ResourceRecord {
  int32_t kind;
  i64 amount;
  i64 result;
};
static_assert(sizeof(TwoPointerRecord) == 24 && sizeof(VerconRecord) == 40);
static_assert(offsetof(AssertRecord, line) == 16 && offsetof(AssertRecord, result) == 24);
static_assert(offsetof(ResourceRecord, amount) == 8 && offsetof(ResourceRecord, result) == 16);

i64 two_pointer_service(i64 number, void *first, void *second) {
  TwoPointerRecord rec{first, second, 0};
  call_service(number, word_of(&rec), kFlags);
  return rec.result;
}

}  // namespace

// Forwarder families, one line per host service.
#define KERNEL_NOARG(name, number, sub) \
  ZEQ_EXPORT i64 name(void) { return call_service(number, 0, kFlags | (sub)); }
#define KERNEL_ONEARG(name, number) \
  ZEQ_EXPORT i64 name(i64 argument) { return call_service(number, argument, kFlags); }
#define KERNEL_FLAGS(name, number)                                    \
  ZEQ_EXPORT i64 name(i64 argument, unsigned flags) {                 \
    return call_service(number, argument, kFlags | static_cast<i64>(flags)); \
  }
#define KERNEL_POINTER(name, number) \
  ZEQ_EXPORT i64 name(void *pointer) { return call_service(number, word_of(pointer), kFlags); }
#define KERNEL_TWOPTR(name, number) \
  ZEQ_EXPORT i64 name(void *first, void *second) { return two_pointer_service(number, first, second); }

// clang-format off
KERNEL_FLAGS  (tktConfigureSignals,            0)
KERNEL_ONEARG (tktInitializeTKSignalHandlers,  1)
KERNEL_FLAGS  (tkbStartTKAT,                   3)
KERNEL_FLAGS  (tkbLogStatMessage,              4)
KERNEL_FLAGS  (tkbProcessTKATcommand,          5)
KERNEL_FLAGS  (tkbProcessTKATrequest,          6)
KERNEL_FLAGS  (tkzSetSupVerNum,                7)
KERNEL_POINTER(tkzstats,                       8)
KERNEL_ONEARG (tkzSetDefaultLocale,            9)
KERNEL_ONEARG (tkzGetIOCount,                 10)
KERNEL_ONEARG (tklSetLogLoc,                  11)
KERNEL_ONEARG (tkbLogTraceMessage,            12)
KERNEL_ONEARG (tkModuleLoadp,                 13)
KERNEL_NOARG  (tkzGetStartPort,               16, 0x1000)
KERNEL_NOARG  (tkzGetMinPort,                 16, 0x2000)
KERNEL_NOARG  (tkzGetMaxPort,                 16, 0x4000)
KERNEL_NOARG  (tkzGetGlobalFlags,             16, 0x8000)
KERNEL_ONEARG (tkexit,                        17)
KERNEL_ONEARG (tkzSetEncodings,               19)
KERNEL_ONEARG (skSetAttentionNotify,          20)
KERNEL_ONEARG (tkatnenq,                      21)
KERNEL_ONEARG (tkatndeq,                      22)
KERNEL_ONEARG (tktChangeMethods,              24)
KERNEL_NOARG  (tktGetExcSupport,              25, 0)
KERNEL_NOARG  (tktResetMethods,               26, 0)
KERNEL_ONEARG (tktSetAsyncThreadId,           27)
KERNEL_NOARG  (tktClearAsyncThreadid,         28, 0)
KERNEL_ONEARG (tktSetSignalHandlers,          29)
KERNEL_NOARG  (tktClearSignalHandlers,        30, 0)
KERNEL_ONEARG (bktThreadInit,                 31)
KERNEL_ONEARG (bktSetupThreadStackGuar,       32)
KERNEL_NOARG  (bktRestoreStackWindows,        33, 0)
KERNEL_ONEARG (tkbEnableRtrace,               34)
KERNEL_NOARG  (tkbDisableRtrace,              35, 0)
KERNEL_ONEARG (tkLogRtraceEntry,              36)
KERNEL_ONEARG (tkSetExternalRtrace,           37)
KERNEL_ONEARG (tkbRtraceReleaseEntry,         38)
KERNEL_TWOPTR (tkAddAbortCallback,            39)
KERNEL_TWOPTR (tkRemoveAbortCallback,         40)
KERNEL_NOARG  (tkInvokeAbortCallbacks,        41, 0)
KERNEL_ONEARG (tkSetExtendedPaths,            42)
KERNEL_POINTER(tktSaveFPControl,              43)
KERNEL_POINTER(tktRestoreFPControl,           44)
KERNEL_NOARG  (tktMaskAllFPExceptions,        45, 0)
KERNEL_NOARG  (tkmGuessHostFriendlyMemAvail,  46, 0)
KERNEL_NOARG  (tkmrlmem,                      46, 0)
KERNEL_ONEARG (tktSetPthreadId,               48)
KERNEL_NOARG  (tkbSetIsNative,                49, 0)
KERNEL_NOARG  (tkbClearIsNative,              50, 0)
KERNEL_POINTER(tkzGetShortVer,                51)
KERNEL_ONEARG (tkGetOSPath,                   52)
KERNEL_ONEARG (tkReleaseOSPath,               53)
KERNEL_ONEARG (tkbRegisterPerfmon,            55)
KERNEL_TWOPTR (tkzPushTrackResourceHandler,   57)
KERNEL_NOARG  (tkzPopTrackResourceHandler,    58, 0)
KERNEL_NOARG  (tkzGetCurrRootAddr,            60, 0)
KERNEL_TWOPTR (tkzSetCurrRootCB,              61)
KERNEL_ONEARG (tksFindLoadlibs,               62)
// clang-format on

extern "C" {

ZEQ_EXPORT i64 tkzGetVerconInfo(void *a, void *b, void *c, int *status) {
  VerconRecord rec{a, b, c, status, 0};
  call_service(14, word_of(&rec), kFlags);
  if (status) *status = static_cast<int>(rec.result);
  return rec.result;
}

ZEQ_EXPORT i64 tkmSetRealMemsize(double size) {
  i64 bits;
  std::memcpy(&bits, &size, sizeof bits);
  return call_service(47, bits, kFlags);
}

ZEQ_EXPORT i64 skassert(const char *expr, const char *file, int line) {
  AssertRecord rec{expr, file, line, 0};
  call_service(54, word_of(&rec), kFlags);
  return rec.result;
}

ZEQ_EXPORT i64 tkzResourceChange(int kind, i64 amount) {
  ResourceRecord rec{kind, amount, 0};
  call_service(59, word_of(&rec), kFlags);
  return rec.result;
}

// Seconds of the kernel's clock since its base: the kernel stores the
// reading in t[0] and the base in t[1].  Without a kernel the process's own
// wall clock stands in, so that callers waiting for the clock to move still
// see it move.
ZEQ_EXPORT double tkzdttme(void) {
  ZeqKernelService svc = service_entry();
  if (!svc) {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
  }
  double t[2] = {0.0, 0.0};
  svc(16, word_of(t), kFlags | 0x800000);
  return t[0] - t[1];
}

// System information into a 352-byte buffer (byte 344: processor record).
ZEQ_EXPORT i64 tkzinfo(void *buffer352) {
  ZeqKernelService svc = service_entry();
  if (!svc) {
    if (buffer352) std::memset(buffer352, 0, ZEQ_INFO_BYTES);
    return 0;
  }
  return svc(16, word_of(buffer352), kFlags | 0x200000);
}

// The default-locale word the kernel table's 0x118 points to.
ZEQ_EXPORT i64 tkzGetDefLocale(void) {
  ZeqKernel *k = Exported_TKHandle;
  return (k && k->default_locale) ? *k->default_locale : 0;
}

// ---------------------------------------------------------------------------
// Logger forwarders.
// ---------------------------------------------------------------------------

ZEQ_EXPORT int tklMessageToBuf(ZeqLogger *lg, TKChar *buf, i64 room, const TKChar *format, ...) {
  if (!lg || !lg->message_to_buf) return 0;
  va_list ap;
  va_start(ap, format);
  int rc = lg->message_to_buf(lg, buf, room, format, ap);
  va_end(ap);
  return rc;
}

ZEQ_EXPORT int tklMessageToJnl(ZeqLogger *lg, int level, const TKChar *format, ...) {
  if (!lg || !lg->message_to_jnl) return 0;
  va_list ap;
  va_start(ap, format);
  int rc = lg->message_to_jnl(lg, level, format, ap);
  va_end(ap);
  return rc;
}

ZEQ_EXPORT int tklStatusToBuf(ZeqLogger *lg, TKChar *buf, i64 room, int status, ...) {
  if (!lg || !lg->status_to_buf) return 0;
  va_list ap;
  va_start(ap, status);
  int rc = lg->status_to_buf(lg, buf, room, status, ap);
  va_end(ap);
  return rc;
}

ZEQ_EXPORT int tklStatusToJnl(ZeqLogger *lg, int level, int status, ...) {
  if (!lg || !lg->status_to_jnl) return 0;
  va_list ap;
  va_start(ap, status);
  int rc = lg->status_to_jnl(lg, level, status, ap);
  va_end(ap);
  return rc;
}

ZEQ_EXPORT void *tklGetLocale(ZeqLogger *lg) {
  if (!lg || !lg->get_locale) return nullptr;
  return lg->get_locale(lg);
}

}  // extern "C"

// ---------------------------------------------------------------------------
// Log-time prefixes: "[hh:mm:ss] " (11 units) from tkztime.
// ---------------------------------------------------------------------------
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

// ---------------------------------------------------------------------------
// Version-information block (208 bytes).  The text fields are kept
// scrambled (each byte XORed with 0x5A, see unscramble below) so that they do
// not show in a plain dump of the library; the numeric fields are plain.
// ---------------------------------------------------------------------------
namespace {

struct VersionRecord {
  char tag[8];            // 0x00 "ZEQVER1" (plain)
  int32_t record_bytes;   // 0x08 208
  int32_t major;          // 0x0C 1
  int32_t minor;          // 0x10 0
  int32_t patch;          // 0x14 0
  uint8_t scramble_key;   // 0x18 0x5A
  uint8_t reserved[7];    // 0x19
  char product[32];       // 0x20 scrambled "zeqwucha"
  char release[16];       // 0x40 scrambled "1.0.0"
  char build_date[16];    // 0x50 scrambled __DATE__
  char description[112];  // 0x60 scrambled one-line description
};
static_assert(sizeof(VersionRecord) == 208, "version block is 208 bytes");

constexpr uint8_t kScrambleKey = 0x5A;

template <size_t N, size_t M>
constexpr void scrambled(char (&field)[N], const char (&text)[M]) {
  static_assert(M - 1 <= N, "text longer than its field");
  for (size_t i = 0; i + 1 < M; i++) field[i] = static_cast<char>(text[i] ^ kScrambleKey);
}

constexpr VersionRecord make_version() {
  VersionRecord v{};
  const char tag[] = "ZEQVER1";
  for (size_t i = 0; i < sizeof tag; i++) v.tag[i] = tag[i];
  v.record_bytes = 208;
  v.major = 1;
  v.minor = 0;
  v.patch = 0;
  v.scramble_key = kScrambleKey;
  scrambled(v.product, "zeqwucha");
  scrambled(v.release, "1.0.0");
  scrambled(v.build_date, __DATE__);
  scrambled(v.description, "character functions, string kernel and random-number engine");
  return v;
}

constexpr VersionRecord kVersion = make_version();

}  // namespace

// Copies the 208-byte version record into buffer; answers buffer.
extern "C" ZEQ_EXPORT void *tkvercn1(void *buffer) {
  if (!buffer) return nullptr;
  std::memcpy(buffer, &kVersion, sizeof kVersion);
  return buffer;
}
