// rng/select.cc - zrngmeth, the method resolver: turns a method word (the
// caller's, else the setting OSENV.ZEQ_RNG_METHOD) into a built descriptor.
// Unknown words and methods that cannot run here fall back to MTHYBRID, the
// default method; the resolver itself issues no message.
#include <cstring>

#include "core/frame.h"
#include "rng/methods.h"
#include "rng/state.h"
#include "strkernel/strkernel.h"

namespace {

struct MethodWord {
  const char32_t *word;
  zrng_builder_fn build;
};

// Accepted words, grouped by first letter and tried in this order; a word
// must match in full (equal length), without regard to case.
const MethodWord kWordsF[] = {
    {U"FRY2X32", zrnfFRY2X32}, {U"FRY2X64", zrnfFRY2X64}, {U"FRY4X64", zrnfFRY4X64}, {}};
const MethodWord kWordsH[] = {{U"HARD", zrnfRDRAND}, {U"HARDWARE", zrnfRDRAND}, {}};
const MethodWord kWordsM[] = {
    {U"MH3", zrnfMH3},   {U"MT", zrnfMT64},   {U"MT1998", zrnfMT1998},     {U"MT2002", zrnfMT32},
    {U"MT32", zrnfMT32}, {U"MT64", zrnfMT64}, {U"MTHYBRID", zrnfMTHYBRID}, {}};
const MethodWord kWordsP[] = {
    {U"PCG", zrnfPCG64I}, {U"PCG32I", zrnfPCG32I}, {U"PCG64I", zrnfPCG64I}, {}};
const MethodWord kWordsR[] = {{U"RANUNI", zrnfRANUNI}, {U"RDRAND", zrnfRDRAND}, {}};
const MethodWord kWordsS[] = {{U"SUBKEY32", zrnfSUBKEY32}, {U"SUBKEY64", zrnfSUBKEY64}, {}};
const MethodWord kWordsT[] = {{U"TF", zrnfFRY4X64},
                              {U"TF2", zrnfFRY2X64},
                              {U"TF4", zrnfFRY4X64},
                              {U"THREEFRY", zrnfFRY4X64},
                              {U"THREEFRY2X32", zrnfFRY2X32},
                              {U"THREEFRY2X64", zrnfFRY2X64},
                              {U"THREEFRY4X64", zrnfFRY4X64},
                              {U"TRNG", zrnfRDRAND},
                              {}};
const MethodWord kWordsX[] = {{U"XOR64", zrnfXOR64},     {U"XOR128", zrnfXOR128},
                              {U"XOR1024", zrnfXOR1024}, {U"XOR4096", zrnfXOR4096},
                              {U"XORGENS", zrnfXORGENS}, {}};

const MethodWord *words_for(TKChar first) {
  switch (first) {
    case 'F': case 'f': return kWordsF;
    case 'H': case 'h': return kWordsH;
    case 'M': case 'm': return kWordsM;
    case 'P': case 'p': return kWordsP;
    case 'R': case 'r': return kWordsR;
    case 'S': case 's': return kWordsS;
    case 'T': case 't': return kWordsT;
    case 'X': case 'x': return kWordsX;
    default: return nullptr;
  }
}

const TKChar *tk(const char32_t *text) { return reinterpret_cast<const TKChar *>(text); }

int64_t tk_length(const char32_t *text) {
  int64_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

constexpr char32_t kMethodSetting[] = U"OSENV.ZEQ_RNG_METHOD";
constexpr int64_t kMethodSettingLength = 20;
// Buffer handed to the setting reader: at most 14 characters are taken.
constexpr int64_t kSettingRoom = 15;
// Words of this many characters or more (after trimming) are never methods.
constexpr int64_t kLongestWord = 15;

}  // namespace

ZEQ_EXPORT int32_t zrngmeth(const void *name, int64_t length, zrng_desc *desc, int64_t mode) {
  if (desc == nullptr) return 0;
  TKChar *word = desc->wide_name;
  int64_t n = 0;
  bool have_word = false;

  if (name != nullptr) {
    const bool wide = (mode & 0x1) != 0;
    const auto *units = static_cast<const TKChar *>(name);
    const auto *bytes = static_cast<const unsigned char *>(name);
    if (length < 0)
      length = wide ? static_cast<int64_t>(skStrTLen(units))
                    : static_cast<int64_t>(std::strlen(static_cast<const char *>(name)));
    auto unit = [&](int64_t i) -> TKChar { return wide ? units[i] : bytes[i]; };
    int64_t end = length;
    while (end > 0 && unit(end - 1) == 0x20) --end;
    int64_t start = 0;
    while (start < end && unit(start) == 0x20) ++start;
    n = end - start;
    if (n > kLongestWord) {
      zrnfMTHYBRID(desc);
      return ZRAND_RC_BAD_METHOD;
    }
    if (n > 0) {
      have_word = true;
      if (wide) {
        std::memmove(word, units + start, static_cast<size_t>(n) * sizeof(TKChar));
      } else {
        n = zCharToTKChar(reinterpret_cast<const char *>(bytes + start), word, n);
        if (n < 0) n = 0;
        if (n > kLongestWord) n = kLongestWord;
      }
      word[n] = 0;
    }
  }

  if (!have_word) {
    n = tknrtget(tk(kMethodSetting), kMethodSettingLength, word, kSettingRoom);
    if (n <= 0) {
      zrnfMTHYBRID(desc);
      return 0;
    }
    if (n > kSettingRoom - 1) n = kSettingRoom - 1;
    word[n] = 0;
  }

  zrng_builder_fn build = nullptr;
  if (n > 0) {
    if (const MethodWord *list = words_for(word[0])) {
      for (; list->word != nullptr; ++list) {
        if (tkzseqn(word, n, tk(list->word), tk_length(list->word))) {
          build = list->build;
          break;
        }
      }
    }
  }
  if (build == nullptr) {
    zrnfMTHYBRID(desc);
    return ZRAND_RC_BAD_METHOD;
  }

  build(desc);
  // Methods without a loadable state are refused on a processor without
  // the hardware random instruction.
  if (desc->state_bytes == 0 && !IsRdRandAvailable()) {
    zrnfMTHYBRID(desc);
    return ZRAND_RC_NO_HARDWARE;
  }
  return 0;
}
