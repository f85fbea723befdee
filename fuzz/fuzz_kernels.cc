// fuzz/fuzz_kernels.cc - the kernel forwarders and the string kernels with
// random argument records.
//
// Each input is a sequence of calls.  Texts are heap copies of exactly their
// bytes (ASan sees a read past them); outputs have guard bytes behind their
// room; lengths are within the buffer, zero, negative or huge-negative, as
// the kernels' contracts allow.  What each answer may be is checked loosely
// (ranges the contracts give); the sanitizers check the rest.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_common.h"

namespace {

using namespace zeqfuzz;
using i64 = long long;  // the forwarders' own word type (the function sanitizer checks it)

// Exactly n bytes on the heap, optionally followed by a zero byte.
struct Bytes {
  std::vector<char> v;
  size_t n;
  Bytes(const std::string &s, bool terminated) : v(s.begin(), s.end()), n(s.size()) {
    if (terminated) v.push_back(0);
    if (v.empty()) v.reserve(1);
  }
  char *p() { return v.empty() ? nullptr : v.data(); }
};

i64 some_length(FuzzedDataProvider &p, size_t n) {
  static const i64 kOdd[] = {-1, -2, -17, INT32_MIN, INT64_MIN, -((i64)1 << 40)};
  const int k = p.ConsumeIntegralInRange<int>(0, 9);
  if (k < 7) return p.ConsumeIntegralInRange<i64>(0, (i64)n);
  if (k < 8) return (i64)n;
  return kOdd[p.ConsumeIntegralInRange<size_t>(0, std::size(kOdd) - 1)];
}
int32_t some_length32(FuzzedDataProvider &p, size_t n) {
  const i64 x = some_length(p, n);
  return x < INT32_MIN ? INT32_MIN : (int32_t)x;
}

std::vector<TKChar> some_units(FuzzedDataProvider &p, size_t cap) {
  const std::string t = some_text(p, cap);
  std::vector<TKChar> u;
  for (unsigned char c : t) {
    switch (c & 0xE0) {
      case 0xE0: u.push_back(p.ConsumeIntegral<TKChar>()); break;
      case 0xC0: u.push_back((TKChar)p.ConsumeIntegralInRange<uint32_t>(0x80, 0x10FFFF)); break;
      default: u.push_back(c); break;
    }
  }
  return u;
}

void forwarders(FuzzedDataProvider &p) {
  static const char *const kOneArg[] = {"tktInitializeTKSignalHandlers", "tkzSetDefaultLocale", "tkzGetIOCount",
                                        "tklSetLogLoc", "tkbLogTraceMessage", "tkModuleLoadp", "tkzSetEncodings",
                                        "skSetAttentionNotify", "tkatnenq", "tkatndeq", "tktChangeMethods",
                                        "tktSetAsyncThreadId", "tktSetSignalHandlers", "bktThreadInit",
                                        "bktSetupThreadStackGuar", "tkbEnableRtrace", "tkLogRtraceEntry",
                                        "tkSetExternalRtrace", "tkbRtraceReleaseEntry", "tkSetExtendedPaths",
                                        "tktSetPthreadId", "tkGetOSPath", "tkReleaseOSPath", "tkbRegisterPerfmon",
                                        "tksFindLoadlibs"};
  static const char *const kFlags[] = {"tktConfigureSignals", "tkbStartTKAT", "tkbLogStatMessage",
                                       "tkbProcessTKATcommand", "tkbProcessTKATrequest", "tkzSetSupVerNum"};
  static const char *const kNoArg[] = {"tkzGetStartPort", "tkzGetMinPort", "tkzGetMaxPort", "tkzGetGlobalFlags",
                                       "tktGetExcSupport", "tktResetMethods", "tktClearAsyncThreadid",
                                       "tktClearSignalHandlers", "bktRestoreStackWindows", "tkbDisableRtrace",
                                       "tkInvokeAbortCallbacks", "tktMaskAllFPExceptions",
                                       "tkmGuessHostFriendlyMemAvail", "tkmrlmem", "tkbSetIsNative",
                                       "tkbClearIsNative", "tkzPopTrackResourceHandler", "tkzGetCurrRootAddr",
                                       "tkzGetDefLocale"};
  static const char *const kPointer[] = {"tkzstats", "tktSaveFPControl", "tktRestoreFPControl", "tkzGetShortVer",
                                         "tkzinfo"};
  static const char *const kTwo[] = {"tkAddAbortCallback", "tkRemoveAbortCallback", "tkzPushTrackResourceHandler",
                                     "tkzSetCurrRootCB"};
  const i64 arg = p.ConsumeIntegral<i64>();
  switch (p.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: (void)sym<i64 (*)(i64)>(kOneArg[p.ConsumeIntegralInRange<size_t>(0, std::size(kOneArg) - 1)])(arg); break;
    case 1:
      (void)sym<i64 (*)(i64, unsigned)>(kFlags[p.ConsumeIntegralInRange<size_t>(0, std::size(kFlags) - 1)])(
          arg, p.ConsumeIntegral<unsigned>());
      break;
    case 2: (void)sym<i64 (*)()>(kNoArg[p.ConsumeIntegralInRange<size_t>(0, std::size(kNoArg) - 1)])(); break;
    case 3: {
      Area a(512);
      std::memset(a.data(), 0, 512);
      (void)sym<i64 (*)(void *)>(kPointer[p.ConsumeIntegralInRange<size_t>(0, std::size(kPointer) - 1)])(
          p.ConsumeIntegralInRange<int>(0, 7) == 0 ? nullptr : a.data());
      if (p.ConsumeBool()) (void)sym<void *(*)(void *)>("tkvercn1")(a.data());
      require(a.intact(), "pointer forwarder wrote past 512 bytes");
      break;
    }
    case 4: {
      Area a(64), b(64);
      (void)sym<i64 (*)(void *, void *)>(kTwo[p.ConsumeIntegralInRange<size_t>(0, std::size(kTwo) - 1)])(
          p.ConsumeBool() ? a.data() : nullptr, p.ConsumeBool() ? b.data() : nullptr);
      break;
    }
    case 5: {
      int status = -7;
      Area a(64), b(64), c(64);
      (void)sym<i64 (*)(void *, void *, void *, int *)>("tkzGetVerconInfo")(a.data(), b.data(), c.data(),
                                                                            p.ConsumeBool() ? &status : nullptr);
      (void)sym<i64 (*)(double)>("tkmSetRealMemsize")(some_number(p));
      (void)sym<i64 (*)(int, i64)>("tkzResourceChange")(p.ConsumeIntegral<int>(), arg);
      break;
    }
    case 6: {
      Area t(12);
      require(sym<char *(*)(char *)>("bkzGetLogTime")(t.data()) == t.data() && t.intact(), "log time prefix");
      std::vector<TKChar> u = some_units(p, 64);
      for (auto &c : u) c = c ? c : 1;
      u.push_back(0);
      std::vector<TKChar> out(u.size() + 12 + 4, 0xA5A5A5A5u);
      (void)sym<TKChar *(*)(const TKChar *, TKChar *, void *, unsigned)>("bkzAddTimeT")(
          p.ConsumeBool() ? u.data() : nullptr, out.data(), nullptr, p.ConsumeIntegral<unsigned>());
      break;
    }
    default: {
      int32_t hh = 0, mm = 0;
      double ss = 0;
      (void)sym<int32_t (*)(int32_t *, int32_t *, double *)>("tkztime")(&hh, &mm, &ss);
      (void)sym<double (*)()>("tkzdttme")();
      (void)sym<int64_t (*)(int64_t)>("tkzTimeUsec")(p.ConsumeIntegral<int64_t>());
      (void)sym<int32_t (*)()>("skUnsup")();
      break;
    }
  }
}

void bytes_kernels(FuzzedDataProvider &p) {
  Bytes a(some_text(p, 600), true), b(some_text(p, 600), false);
  const uint64_t n = (uint64_t)p.ConsumeIntegralInRange<size_t>(0, a.n);
  const uint64_t m = std::min<uint64_t>(n, b.n);
  const int v = p.ConsumeIntegralInRange<int>(-300, 300);
  switch (p.ConsumeIntegralInRange<int>(0, 6)) {
    case 0: {
      const int32_t r = sym<int32_t (*)(int, const void *, uint64_t)>("skMemNot")(v, a.p(), n);
      require(r == 0 || r == 1, "skMemNot answer");
      break;
    }
    case 1: {
      const int64_t s = sym<int64_t (*)(const void *, uint64_t, int)>(p.ConsumeBool() ? "skMemScan" : "skMemNScan")(
          p.ConsumeIntegralInRange<int>(0, 9) == 0 ? nullptr : a.p(), n, v);
      require(s >= -1 && s < (int64_t)std::max<uint64_t>(n, 1), "scan position");
      break;
    }
    case 2: {
      const int32_t c = sym<int32_t (*)(const void *, const void *, uint64_t)>("skMemCmp")(a.p(), b.p(), m);
      require(c >= -1 && c <= 1, "skMemCmp answer");
      break;
    }
    case 3: {
      Area out((int64_t)n);
      sym<void *(*)(const void *, void *, uint64_t)>("skMemCpy")(a.p(), out.data(), n);
      sym<void *(*)(const void *, void *, uint64_t)>("skMemSCpy")(a.p(), a.p() + (n ? n / 2 : 0), n / 2);
      sym<void (*)(void *, int, uint64_t)>("skMemSet")(out.data(), v, n);
      sym<void (*)(char *, uint64_t)>(p.ConsumeBool() ? "skStrUp" : "skStrLow")(out.data(), n);
      require(out.intact(), "byte copy past its room");
      break;
    }
    case 4: {
      Area out((int64_t)a.n + 1);
      require(sym<uint64_t (*)(const char *)>("skStrLen")(a.p()) <= a.n, "skStrLen");
      sym<void (*)(const char *, char *)>("skStrCpy")(a.p(), out.data());
      require(out.intact(), "skStrCpy past its room");
      break;
    }
    case 5: {
      std::vector<double> d(p.ConsumeIntegralInRange<size_t>(0, 20));
      for (auto &x : d) x = some_number(p);
      const int32_t r = sym<int32_t (*)(const double *, uint64_t)>("skMissArray")(d.data(), d.size());
      require(r == 0 || r == 1, "skMissArray answer");
      break;
    }
    default: {
      uint8_t table[256];
      for (auto &t : table) t = p.ConsumeIntegralInRange<int>(0, 31) == 0;
      const int64_t s = sym<int64_t (*)(const uint8_t *, int64_t, const uint8_t *)>("vzstl")(
          reinterpret_cast<const uint8_t *>(a.p()), some_length(p, a.n), table);
      require(s >= -1 && s < (int64_t)std::max<size_t>(a.n, 1), "vzstl position");
      break;
    }
  }
}

void unit_kernels(FuzzedDataProvider &p) {
  std::vector<TKChar> u = some_units(p, 300), w = some_units(p, 300);
  u.push_back(0);
  w.push_back(0);
  const int64_t n = some_length(p, u.size() - 1), m = some_length(p, w.size() - 1);
  const uint64_t k = (uint64_t)std::max<int64_t>(std::min<int64_t>(n, (int64_t)u.size() - 1), 0);
  const TKChar v = p.ConsumeIntegral<TKChar>();
  switch (p.ConsumeIntegralInRange<int>(0, 5)) {
    case 0: {
      static const char *const kMap[] = {"tkzstup", "tkzstlo", "tkzstmin", "tkzstmax"};
      sym<void (*)(TKChar *, int64_t)>(kMap[p.ConsumeIntegralInRange<int>(0, 3)])(u.data(), n);
      break;
    }
    case 1: {
      const int32_t e = sym<int32_t (*)(const TKChar *, int64_t, const TKChar *, int64_t)>("tkzseqn")(u.data(), n, w.data(), m);
      require(e == 0 || e == 1, "tkzseqn answer");
      const int32_t c = sym<int32_t (*)(const TKChar *, int64_t, const TKChar *, int64_t)>("tkzsncmp")(u.data(), n, w.data(), m);
      require(c >= -2 && c <= 2, "tkzsncmp answer");
      break;
    }
    case 2: {
      require(sym<int64_t (*)(const TKChar *, int64_t)>("tkzstrp")(u.data(), n) <= std::max<int64_t>(n, 0), "tkzstrp");
      const int64_t d = sym<int64_t (*)(TKChar *, int64_t, const TKChar *, int64_t)>("tkzsdel")(
          u.data(), n, w.data(), p.ConsumeBool() ? std::min<int64_t>(m, 8) : m);
      require(d <= (int64_t)u.size(), "tkzsdel length");
      break;
    }
    case 3: {
      const int32_t t = sym<int32_t (*)(TKChar, const TKChar *, uint64_t)>("skMemTNot")(v, u.data(), k);
      require(t == 0 || t == 1, "skMemTNot answer");
      const int64_t s = sym<int64_t (*)(const TKChar *, uint64_t, TKChar)>("skMemTNScan")(u.data(), k, v);
      require(s >= -1 && s < (int64_t)std::max<uint64_t>(k, 1), "skMemTNScan position");
      const uint64_t kk = std::min<uint64_t>(k, w.size() - 1);
      const int32_t c = sym<int32_t (*)(const TKChar *, const TKChar *, uint64_t)>("skWMemCmp")(u.data(), w.data(), kk);
      require(c >= -1 && c <= 1, "skWMemCmp answer");
      sym<void (*)(TKChar *, TKChar, uint64_t)>("skMemTSet")(u.data(), v, k);
      break;
    }
    case 4: {
      for (size_t i = 0; i + 1 < u.size(); i++) u[i] = u[i] ? u[i] : 1;
      require(sym<uint64_t (*)(const TKChar *)>("skStrTLen")(u.data()) == u.size() - 1, "skStrTLen");
      std::vector<TKChar> out(u.size() + 4, 0xA5A5A5A5u);
      sym<void (*)(const TKChar *, TKChar *)>("skStrTCpy")(u.data(), out.data());
      for (size_t i = u.size(); i < out.size(); i++) require(out[i] == 0xA5A5A5A5u, "skStrTCpy past its room");
      break;
    }
    default: {
      // Settings readers with TKChar names of any content.
      std::vector<TKChar> buf(34, 0xA5A5A5A5u);
      const int64_t room = p.ConsumeIntegralInRange<int64_t>(-2, 30);
      const int64_t got = sym<int64_t (*)(const TKChar *, int64_t, TKChar *, int64_t)>("tknrtget")(
          u.data(), n, room > 0 || p.ConsumeBool() ? buf.data() : nullptr, room);
      require(got >= 0 && got <= (room > 0 ? room - 1 : 0), "tknrtget length");
      (void)sym<int64_t (*)(const TKChar *)>("tknrstol")(u.data());
      break;
    }
  }
  require(u.back() == 0, "unit kernel wrote past its count");
}

void utf8_kernels(FuzzedDataProvider &p) {
  std::string t = some_text(p, 500);
  std::string ch = some_text(p, 4);
  ch.resize(8, '\0');
  Bytes a(t, false), set(some_text(p, 12), false);
  switch (p.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: {
      const int64_t n = some_length(p, a.n);
      const int64_t ne = sym<int64_t (*)(const char *, int64_t, const char *)>("tkzsu8NotEqual")(a.p(), n, ch.data());
      require(ne >= -1 && ne <= std::max<int64_t>(n, 0), "tkzsu8NotEqual position");
      break;
    }
    case 1: {
      const int64_t n = some_length(p, a.n);
      const int64_t rd = sym<int64_t (*)(char *, int64_t)>("tkzsu8RemoveDelimiters")(a.p(), n);
      require(rd >= 0 && rd <= std::max<int64_t>(n, 0), "tkzsu8RemoveDelimiters length");
      break;
    }
    case 2: {
      const int64_t dl = sym<int64_t (*)(char *, int64_t, const char *, int64_t)>("tkzsu8Delete")(
          a.p(), some_length(p, a.n), set.p(), some_length(p, set.n));
      require(dl <= (int64_t)a.n, "tkzsu8Delete length");
      break;
    }
    case 3: sym<void (*)(char *, int64_t)>("tkzsu8Reverse")(a.p(), some_length(p, a.n)); break;
    default: {
      const int64_t room = p.ConsumeIntegralInRange<int>(0, 9) ? p.ConsumeIntegralInRange<int64_t>(0, 1200) : -1;
      Area out(room);
      int64_t written = -7;
      const int32_t q = sym<int32_t (*)(const char *, int64_t, char *, int64_t, const char *, int64_t *)>(
          "tkzsu8AddQuotes")(a.p(), some_length(p, a.n), out.data(), room, ch.data(), p.ConsumeBool() ? nullptr : &written);
      require(q == 0 || q == ZEQ_RC_UTF8_NOROOM, "tkzsu8AddQuotes status");
      require(out.intact(), "tkzsu8AddQuotes past its room");
      require(written == -7 || (written >= 0 && written <= std::max<int64_t>(room, 0)), "tkzsu8AddQuotes length");
      break;
    }
  }
}

void trim_kernels(FuzzedDataProvider &p) {
  Bytes a(some_text(p, 400), true);
  const int32_t n = some_length32(p, a.n);
  switch (p.ConsumeIntegralInRange<int>(0, 5)) {
    case 0: {
      const int32_t s1 = sym<int32_t (*)(const char *, int32_t)>("wzstrip")(a.p(), n);
      const int32_t s2 = sym<int32_t (*)(const char *, int32_t)>("zstripf")(a.p(), n);
      require(n <= 0 ? s1 == n : (s1 >= 0 && s1 <= n), "wzstrip length");
      require(s1 == s2, "zstripf differs from wzstrip");
      if (n > 16) require(sym<int32_t (*)(const char *, int32_t)>("zstripl")(a.p(), n) == s1, "zstripl differs");
      require(sym<int32_t (*)(const char *)>("wzstlen")(a.p()) >= 0, "wzstlen");
      break;
    }
    case 1: {
      int32_t ol = -7, os = -7;
      sym<void (*)(char *, int32_t, int, int32_t *, int32_t *)>("wzstjls")(a.p(), n, p.ConsumeIntegral<int>(), &ol, &os);
      require(ol >= 0, "wzstjls length");
      break;
    }
    case 2: {
      const int32_t dn = p.ConsumeIntegralInRange<int32_t>(-3, 500);
      Area out(dn);
      sym<void (*)(const char *, int32_t, char *, int32_t)>("vzmp")(a.p(), n, out.data(), dn);
      require(out.intact(), "vzmp past its room");
      break;
    }
    case 3: {
      Bytes ex(some_text(p, 6), true);
      const int32_t el = p.ConsumeIntegralInRange<int>(0, 4) == 0 ? -1 : some_length32(p, ex.n);
      const int32_t x = sym<int32_t (*)(const char *, int32_t, const char *, int32_t)>("wzstndx")(
          a.p(), n, el < 0 && p.ConsumeBool() ? nullptr : ex.p(), el);
      require(x >= -1 && x <= (int32_t)a.n, "wzstndx position");
      break;
    }
    case 4: {
      const int32_t room = p.ConsumeIntegralInRange<int32_t>(-3, 500);
      Area dq(room);
      const int32_t dw = sym<int32_t (*)(const char *, int32_t, char *, int32_t)>("zdequote")(a.p(), n, dq.data(), room);
      require(dw >= 0 && dw <= std::max(room, 0), "zdequote length");
      require(dq.intact(), "zdequote past its room");
      break;
    }
    default: {
      Area name(32);
      const int32_t sn = sym<int32_t (*)(const char *, int32_t, char *)>("zstripn")(a.p(), n, name.data());
      require(sn >= -1 && sn <= 32, "zstripn length");
      require(name.intact(), "zstripn past 32 bytes");
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  (void)host();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider p(data, size);
  const PoolMark mark;
  for (int i = 0; i < 16 && p.remaining_bytes() > 0; i++) {
    switch (p.ConsumeIntegralInRange<int>(0, 4)) {
      case 0: forwarders(p); break;
      case 1: bytes_kernels(p); break;
      case 2: unit_kernels(p); break;
      case 3: utf8_kernels(p); break;
      default: trim_kernels(p); break;
    }
  }
  mark.finish();
  return 0;
}
