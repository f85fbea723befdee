// rng/select.cc - zrngmeth, the method resolver: turns a method word (the
// caller's, else the setting OSENV.ZEQ_RNG_METHOD) into a built descriptor.
// Unknown words and methods that cannot run here fall back to MTHYBRID, the
// default method; the resolver itself issues no message.
#include <cstring>

#include "core/frame.h"
#include "rng/catalogue.h"
#include "rng/methods.h"
#include "rng/state.h"
#include "strkernel/strkernel.h"

namespace {

struct MethodWord {
  const char32_t *word;
  zrng_builder_fn build;
};

constexpr zrng_builder_fn kBuilders[] = {
#define ZRNG_METHOD(NAME, BUILDER, LISTED, BITS, FLAGS, OPTIONS, THREAD_BITS, DESCRIPTION) BUILDER,
#include "rng/methods.def"
};

// Accepted words: every method's name and aliases (rng/methods.def).  A word
// must match in full (equal length), without regard to case.
const MethodWord kWords[] = {
#define ZRNG_METHOD(NAME, BUILDER, LISTED, BITS, FLAGS, OPTIONS, THREAD_BITS, DESCRIPTION) {U"" #NAME, BUILDER},
#define ZRNG_ALIAS(WORD, NAME) {U"" #WORD, kBuilders[zeq::rng::catalogue::row_of(#NAME)]},
#include "rng/methods.def"
};

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
  // The first letter is compared in ASCII, the rest by the string service.
  const TKChar first = (n > 0 && word[0] >= 'a' && word[0] <= 'z') ? word[0] - 0x20 : (n > 0 ? word[0] : 0);
  for (const MethodWord &w : kWords) {
    if (first == static_cast<TKChar>(w.word[0]) && tkzseqn(word, n, tk(w.word), tk_length(w.word))) {
      build = w.build;
      break;
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
