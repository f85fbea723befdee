// rng/state.cc - housekeeping shared by every generator method: descriptor
// facts, seed folding, blob sizes, state loading and journal dumps.
#include "core/cpu.h"
#include "rng/state.h"

#include <atomic>
#include <cmath>
#include <cstring>

#include "core/frame.h"
#include "rng/convert.h"

namespace zeq::rng {

bool wide_isa() {
  return cpu::wide();
}

void build_common(zrng_desc *d, const MethodFacts &facts) {
  std::memset(d, 0, sizeof *d);
  d->name_size = static_cast<int32_t>(sizeof d->name);
  d->description_size = static_cast<int32_t>(sizeof d->description);
  d->flags |= facts.flags;

  size_t n = std::strlen(facts.name);
  if (n > sizeof d->name - 1) n = sizeof d->name - 1;
  for (size_t i = 0; i < n; ++i) {
    d->name[i] = facts.name[i];
    d->wide_name[i] = static_cast<unsigned char>(facts.name[i]);
  }
  d->name[n] = 0;
  d->wide_name[n] = 0;

  size_t m = std::strlen(facts.description);
  if (m > sizeof d->description - 1) m = sizeof d->description - 1;
  std::memcpy(d->description, facts.description, m);
  d->description[m] = 0;

  zrngmsg(kSeverityInfo, kMsgBuilt, m > 0 ? d->description : d->name);

  d->state_bytes = facts.state_bytes;
  d->state_bits = static_cast<int32_t>(facts.state_bytes * 8);
  d->output_bits = facts.output_bits;
  d->seed_max = facts.seed_max;
  d->key_max = facts.key_max;
}

uint64_t key_remainder(double k, int bits) {
  if (!std::isfinite(k)) return 0;
  double r = std::fmod(k, bits == 32 ? 0x1p32 : 0x1p64);
  if (r >= 0.0) return static_cast<uint64_t>(r);
  return 0 - static_cast<uint64_t>(-r);
}

uint32_t fresh_seed32() { return static_cast<uint32_t>(zrngi31()); }

uint32_t fold_seed64(uint64_t s) {
  if (s == 0) return fresh_seed32();
  return static_cast<uint32_t>(s ^ (s >> 32));
}

uint32_t seed32_from_double(double x) {
  if (!(x > 0.0)) return fresh_seed32();
  return static_cast<uint32_t>(double_to_u64(zrngd2i(0xFFFFFFFFull, x)));
}

uint64_t fresh_seed64() { return zrngi64(); }

uint64_t seed64_from_double(double x) {
  if (!(x > 0.0)) return fresh_seed64();
  return double_to_u64(zrngd2i(~0ull, x));
}

int64_t report_blob_size(const char *name, int64_t size) {
  zrngmsg(kSeverityInfo, kMsgBlobSize, name, size);
  return size;
}

int32_t load_state(void *blob, uint64_t s, const void *bytes, int64_t length, int32_t mode) {
  if (length <= 0) return kStateNothing;
  if (blob == nullptr || bytes == nullptr) return kStateRefused;
  auto *dst = static_cast<unsigned char *>(blob);
  const auto *src = static_cast<const unsigned char *>(bytes);
  uint64_t len = static_cast<uint64_t>(length);

  if (len >= s) {
    std::memmove(dst, src, s);
    return kStateFull;
  }
  if (mode & 0x2) {
    for (uint64_t at = 0; at < s; at += len) {
      uint64_t piece = s - at < len ? s - at : len;
      std::memmove(dst + at, src, piece);
    }
    return kStateRepeated;
  }
  std::memmove(dst, src, len);
  if (mode & 0x1) return kStateKept;

  uint64_t pad_to = s < 8 ? s : 8;
  if (len < pad_to) std::memset(dst + len, 0, pad_to - len);
  uint64_t n = len / 8;
  if (n == 0) n = 1;
  for (uint64_t j = n; j < s / 8; ++j) {
    uint64_t w;
    std::memcpy(&w, dst + (j - n) * 8, 8);
    w = fmix64(w);
    std::memcpy(dst + j * 8, &w, 8);
  }
  return kStateChained;
}

int32_t state_refused(void *, const void *, int64_t length, int32_t) {
  return length <= 0 ? kStateNothing : kStateRefused;
}

int32_t state_none(void *, const void *, int64_t, int32_t) { return kStateNothing; }

namespace {

const TKChar *tk(const char32_t *text) { return reinterpret_cast<const TKChar *>(text); }

const char32_t kOmitted[] = U"        Further elements omitted.";
const char32_t kLine64[4][64] = {
    U"   %3i: %16llx",
    U"   %3i: %16llx  %3i: %16llx",
    U"   %3i: %16llx  %3i: %16llx  %3i: %16llx",
    U"   %3i: %16llx  %3i: %16llx  %3i: %16llx  %3i: %16llx",
};
const char32_t kLine32[4][48] = {
    U"   %3i: %8x",
    U"   %3i: %8x  %3i: %8x",
    U"   %3i: %8x  %3i: %8x  %3i: %8x",
    U"   %3i: %8x  %3i: %8x  %3i: %8x  %3i: %8x",
};

// Writes words [i, i + k) of a dump as one line (1 <= k <= 4).
template <class Word, class Arg>
void dump_line(ZeqLogger *lg, const char32_t *format, const Word *w, int64_t i, int64_t k) {
  int j = static_cast<int>(i);
  switch (k) {
    case 1:
      tklMessageToJnl(lg, 0, tk(format), j, Arg(w[i]));
      break;
    case 2:
      tklMessageToJnl(lg, 0, tk(format), j, Arg(w[i]), j + 1, Arg(w[i + 1]));
      break;
    case 3:
      tklMessageToJnl(lg, 0, tk(format), j, Arg(w[i]), j + 1, Arg(w[i + 1]), j + 2,
                      Arg(w[i + 2]));
      break;
    default:
      tklMessageToJnl(lg, 0, tk(format), j, Arg(w[i]), j + 1, Arg(w[i + 1]), j + 2,
                      Arg(w[i + 2]), j + 3, Arg(w[i + 3]));
      break;
  }
}

template <class Word, class Arg, size_t N>
void dump_words(const Word *words, int64_t count, int64_t limit, const char32_t (&lines)[4][N]) {
  ZeqLogger *lg = zeq::journal();
  if (lg == nullptr) return;
  int64_t n = count > limit ? limit : count;
  if (words == nullptr && n > 0) n = 0;
  int64_t i = 0;
  for (; i < n - 3; i += 4) dump_line<Word, Arg>(lg, lines[3], words, i, 4);
  if (n - i > 0) dump_line<Word, Arg>(lg, lines[n - i - 1], words, i, n - i);
  if (n < limit) tklMessageToJnl(lg, 0, tk(kOmitted));
}

}  // namespace

void dump_words64(const uint64_t *words, int64_t count, int64_t limit) {
  dump_words<uint64_t, unsigned long long>(words, count, limit, kLine64);
}

void dump_words32(const uint32_t *words, int64_t count, int64_t limit) {
  dump_words<uint32_t, unsigned int>(words, count, limit, kLine32);
}

void dump_nothing64(const uint64_t *, int64_t) {}
void dump_nothing32(const uint32_t *, int64_t) {}

int32_t ignore_set32(void *, uint32_t) { return 0; }
int32_t ignore_set64(void *, uint64_t) { return 0; }
int32_t ignore_setd(void *, double) { return 0; }

}  // namespace zeq::rng
