// rng/engine/seed.cc - seeds drawn when none is given, seeds given as
// doubles, the legacy 31-bit multiplicative step, and the session encoding
// the method resolver uses to widen byte words to TKChar.
//
// Fresh seeds come, in this order, from the debug setting "tkbug.RNGSEED"
// (so that a run can be repeated), the processor's hardware random
// instruction, and the clock.
//
// The legacy step is the Lehmer generator modulo 2^31 - 1 with multiplier
// 397204094, reduced without division by folding the 62-bit product at bit
// 31 (2^31 = 1 mod 2^31 - 1).
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "core/frame.h"
#include "core/tktext.h"
#include "rng/engine.h"
#include "rng/methods.h"

namespace {

using zeq::tk::TKText;

constexpr TKText kRngSeed{"tkbug.RNGSEED"};
constexpr TKText kSessionCei{"TKNLS.MVA_SESSION_CEI"};
static_assert(kSessionCei.length() == 21);

constexpr double kTwo32 = 4294967296.0;
constexpr double kTwo53 = 9007199254740992.0;
constexpr double kTwo64 = 18446744073709551616.0;
constexpr uint64_t kLehmerModulus = 2147483647;  // 2^31 - 1
constexpr uint64_t kLehmerMultiplier = 397204094;

// Further clock readings allowed while waiting for the clock to move.
constexpr long kClockReads = 10000000;

// Reads the clock until it changes (at most kClockReads further readings).
// *first gets the first reading; the last one is answered.
double wait_for_tick(double *first) {
  double t0 = tkzdttme();
  double t = t0;
  for (long i = 0; i < kClockReads && t == t0; ++i) t = tkzdttme();
  *first = t0;
  return t;
}

}  // namespace

extern "C" {

ZEQ_EXPORT int32_t zrngi31(void) {
  int64_t forced = zeq::tk::trunc_i64(tknrdget(kRngSeed.get(), kRngSeed.length(), 0.0));
  uint32_t low = static_cast<uint32_t>(forced);
  if (low != 0) return static_cast<int32_t>(low);

  uint32_t v = IsRdRandAvailable() ? RdRand32() : 0;
  if (v == 0) v = zrngt32();
  v &= 0x7FFFFFFFu;
  if (v == 0x7FFFFFFFu) v = 1;  // the modulus of the legacy step is no seed
  return static_cast<int32_t>(v);
}

ZEQ_EXPORT uint64_t zrngi64(void) {
  uint64_t forced = zeq::tk::trunc_u64(tknrdget(kRngSeed.get(), kRngSeed.length(), 0.0));
  if (forced != 0) return forced;

  uint64_t v = 0;
  if (IsRdRandAvailable()) {
    uint64_t high = RdRand32();
    uint64_t low = RdRand32();
    v = high << 32 | low;
  }
  if (v == 0) v = zrngt64();
  // Keep a drawn seed within 53 bits so that it survives a round trip
  // through a double.
  if (v > 2048) v >>= 11;
  return v;
}

ZEQ_EXPORT uint32_t zrngt32(void) {
  double t0;
  double t1 = wait_for_tick(&t0);
  double d = t1 - t0;
  double x = d != 0 ? 1.0000000000000009 * t1 / d : t1;
  x = std::fmod(x, kTwo32);  // in (-2^32, 2^32), or NaN
  uint32_t r = x == x ? static_cast<uint32_t>(static_cast<int64_t>(x)) : 0;
  return r == 0 ? 1 : r;
}

ZEQ_EXPORT uint64_t zrngt64(void) {
  double t0;
  double t1 = wait_for_tick(&t0);

  // The statistics record is the host's; the fourth 64-bit word is the one
  // that varies from process to process.  Room is generous and zeroed so a
  // host that fills less leaves zeros.
  uint64_t stats[64];
  std::memset(stats, 0, sizeof stats);
  tkzstats(stats);

  uint64_t process_word = 0;
  ZeqKernel *k = Exported_TKHandle;
  if (k && k->process_record) {
    const uint8_t *rec = static_cast<const uint8_t *>(k->process_record());
    if (rec) std::memcpy(&process_word, rec + 0x38, sizeof process_word);
  }

  uint64_t v = zeq::tk::trunc_u64(t1 * 1e9) + stats[3] + 2 * process_word + 1;
  return zeq::rng::fmix64(v);
}

ZEQ_EXPORT double zrngd2i(uint64_t limit, double d) {
  if (!(d > 0)) return 0;  // NaN, zero and negatives
  if (d < kTwo64 && d == std::floor(d) && static_cast<uint64_t>(d) <= limit) return d;

  // Map the mantissa linearly onto 1 .. cap - 2: deterministic, and spread
  // over the whole range whatever the magnitude of d.
  double cap = limit > (uint64_t{1} << 53) ? kTwo53 : static_cast<double>(limit);
  double r = 0;
  if (std::isfinite(d)) {
    int exponent = 0;
    double m = std::frexp(d, &exponent);
    r = std::floor((m - 0.5) * 2 * (cap - 2) + 1);
  }
  // An infinite request has no mantissa: it maps to 0, which draws a seed.
  if (r < 1 || r > cap)
    zrngmsg(ZRNG_SEV_ERROR, ZRNG_MSG_D2I_RANGE, static_cast<long long>(zeq::tk::trunc_u64(cap)), d, r);
  return r;
}

ZEQ_EXPORT double zranuni(uint64_t *state) {
  if (!state) return 0;
  uint64_t x = (*state & 0xFFFFFFFFu) * kLehmerMultiplier;
  uint64_t r = (x & 0x7FFFFFFFu) + (x >> 31);
  if (r >= kLehmerModulus) r -= kLehmerModulus;
  *state = r;
  return static_cast<double>(r) / 2147483647.0;
}

ZEQ_EXPORT int32_t zSessCei(void) {
  ZeqSessionEncoding *enc = zeq::session_encoding();
  return enc ? enc->encoding_id : ZEQ_ENC_LATIN1;
}

ZEQ_EXPORT void *zLocaleh(void) {
  ZeqSessionEncoding *enc = zeq::session_encoding();
  return enc ? enc->locale_handle : nullptr;
}

ZEQ_EXPORT ZeqTranscoder *zSessToTKChar(void) {
  ZeqSessionEncoding *enc = zeq::session_encoding();
  return enc ? enc->to_tkchar : nullptr;
}

ZEQ_EXPORT ZeqTranscoder *zSessFromTKChar(void) {
  ZeqSessionEncoding *enc = zeq::session_encoding();
  return enc ? enc->from_tkchar : nullptr;
}

ZEQ_EXPORT int32_t zsknls(int32_t encoding_id) {
  ZeqSessionEncoding *enc = zeq::session_encoding();
  if (!enc || enc->encoding_id == encoding_id) return 0;

  enc->encoding_id = encoding_id;
  for (ZeqTranscoder **tc : {&enc->to_tkchar, &enc->from_tkchar}) {
    if (*tc && (*tc)->close) (*tc)->close(*tc);
    *tc = nullptr;
  }
  ZeqNls *nls = Exported_TKHandle ? Exported_TKHandle->nls : nullptr;
  if (nls && nls->open) {
    enc->to_tkchar = nls->open(nls, encoding_id, ZEQ_NLS_TO_TKCHAR);
    enc->from_tkchar = nls->open(nls, encoding_id, ZEQ_NLS_FROM_TKCHAR);
  }
  ZeqNameValueStore *nv = zeq::nv_store();
  if (nv && nv->set) {
    int64_t id = encoding_id;
    nv->set(nv, kSessionCei.get(), kSessionCei.length(), 4, ZEQ_NV_INT64, &id, sizeof id);
  }
  return 0;
}

ZEQ_EXPORT int64_t zCharToTKChar(const char *text, TKChar *buffer, int64_t count) {
  if (!text || !buffer || count <= 0) return 0;
  ZeqTranscoder *tc = zSessToTKChar();
  if (!tc || !tc->convert) {
    // Single-byte session without a transcoder: each byte is its code point.
    for (int64_t i = 0; i < count; ++i) buffer[i] = static_cast<unsigned char>(text[i]);
    return count;
  }
  const int64_t room = count * static_cast<int64_t>(sizeof(TKChar));
  int64_t produced = 0;
  int32_t rc = tc->convert(tc, text, count, buffer, room, &produced);
  if (rc != 0) {
    ZeqLogger *lg = zeq::journal();
    if (lg) tklStatusToJnl(lg, ZRNG_SEV_ERROR, rc);
  }
  if (produced < 0) produced = 0;
  if (produced > room) produced = room;
  return produced / static_cast<int64_t>(sizeof(TKChar));
}

}  // extern "C"
