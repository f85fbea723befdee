#include "host/rng_draw.h"

#include <cctype>
#include <cstring>

namespace zeqhost::rng {
namespace {

#define DESC_SLOT(field) offsetof(zrng_desc, field)
const Conversion kConversions[] = {
    {"uint32", DrawKind::U32, DESC_SLOT(uint32)},
    {"uint64", DrawKind::U64, DESC_SLOT(uint64)},
    {"default", DrawKind::Double, 0},
    {"crude", DrawKind::Double, DESC_SLOT(double_crude)},
    {"with_zero", DrawKind::Double, DESC_SLOT(double_with_zero)},
    {"double_32_reject_zero", DrawKind::Double, DESC_SLOT(double_32) + 8 * ZRNG_REJECT},
    {"double_32_open_open", DrawKind::Double, DESC_SLOT(double_32) + 8 * ZRNG_OO},
    {"double_32_open_closed", DrawKind::Double, DESC_SLOT(double_32) + 8 * ZRNG_OC},
    {"double_32_closed_open", DrawKind::Double, DESC_SLOT(double_32) + 8 * ZRNG_CO},
    {"double_32_closed_closed", DrawKind::Double, DESC_SLOT(double_32) + 8 * ZRNG_CC},
    {"double_53_reject_zero", DrawKind::Double, DESC_SLOT(double_53) + 8 * ZRNG_REJECT},
    {"double_53_open_open", DrawKind::Double, DESC_SLOT(double_53) + 8 * ZRNG_OO},
    {"double_53_open_closed", DrawKind::Double, DESC_SLOT(double_53) + 8 * ZRNG_OC},
    {"double_53_closed_open", DrawKind::Double, DESC_SLOT(double_53) + 8 * ZRNG_CO},
    {"double_53_closed_closed", DrawKind::Double, DESC_SLOT(double_53) + 8 * ZRNG_CC},
    {"double_64_reject_zero_one", DrawKind::Double, DESC_SLOT(double_64) + 8 * ZRNG_REJECT},
    {"double_64_open_open", DrawKind::Double, DESC_SLOT(double_64) + 8 * ZRNG_OO},
    {"double_64_open_closed", DrawKind::Double, DESC_SLOT(double_64) + 8 * ZRNG_OC},
    {"double_64_closed_open", DrawKind::Double, DESC_SLOT(double_64) + 8 * ZRNG_CO},
    {"double_64_closed_closed", DrawKind::Double, DESC_SLOT(double_64) + 8 * ZRNG_CC},
    {"double_infinite", DrawKind::Double, DESC_SLOT(double_infinite)},
};
#undef DESC_SLOT

const char *const kMethods[] = {
    "FRY2X32", "FRY2X64", "FRY4X64", "MH3",    "MT1998", "MT32",     "MT64",
    "MTHYBRID", "PCG32I", "PCG64I",  "RANUNI", "RDRAND", "SUBKEY32", "SUBKEY64",
    "XOR64",   "XOR128",  "XOR1024", "XOR4096", "XORGENS",
};

template <class T, class F>
void fill(void *out, size_t n, F next) {
  T *p = static_cast<T *>(out);
  for (size_t i = 0; i < n; i++) p[i] = next();
}

}  // namespace

std::span<const Conversion> conversions() { return kConversions; }
std::span<const char *const> method_names() { return kMethods; }

const Conversion *find_conversion(std::string_view word) {
  std::string name(word);
  for (auto &c : name) c = (char)std::tolower((unsigned char)c);
  if (name.rfind("zrng_", 0) == 0) name.erase(0, 5);
  for (const auto &c : kConversions) {
    if (name == c.name) return &c;
    if (std::strncmp(c.name, "double_", 7) == 0 && name == c.name + 7) return &c;
  }
  return nullptr;
}

std::string draw(zrand_stream *s, const Conversion &c, void *out, size_t n) {
  zrng_desc *d = s->desc;
  void *blob = s->state;
  auto lacks = [&] { return std::string(d->name) + " does not offer " + c.name; };
  switch (c.kind) {
    case DrawKind::U32:
      if (!d->uint32) return lacks();
      fill<uint32_t>(out, n, [&] { return d->uint32(blob); });
      return "";
    case DrawKind::U64:
      if (!d->uint64) return lacks();
      fill<uint64_t>(out, n, [&] { return d->uint64(blob); });
      return "";
    case DrawKind::Double: {
      zrng_double_fn fn = c.offset == 0
                              ? s->double_fn
                              : *reinterpret_cast<zrng_double_fn *>(reinterpret_cast<char *>(d) + c.offset);
      if (!fn) return lacks();
      fill<double>(out, n, [&] { return fn(blob); });
      return "";
    }
  }
  return lacks();
}

}  // namespace zeqhost::rng
