// host/rng_draw.h - drawing many values from a random stream at once.
//
// The conversions a host offers (the stream's default double, the raw 32-
// and 64-bit outputs, and every double slot of the descriptor) by name, and
// one loop that fills a buffer through the chosen slot.  `zeq rand` and the
// Python extension draw through these so that their values agree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "zeq/rng.h"

namespace zeqhost::rng {

enum class DrawKind { U32, U64, Double };

struct Conversion {
  const char *name;  // "default", "uint32", "double_53_open_open", ...
  DrawKind kind;
  size_t offset;     // offset of the slot in zrng_desc (0 for "default": the stream's double_fn)
};

std::span<const Conversion> conversions();
// By name, case-insensitively; a "zrng_" prefix and, for the double slots,
// the "double_" prefix may be left out.  Null when unknown.
const Conversion *find_conversion(std::string_view name);

// Fills `out` (n values of uint32_t, uint64_t or double, by c.kind) from the
// stream.  Returns "" or, when the method lacks the slot, a sentence saying so
// (nothing drawn).
std::string draw(zrand_stream *s, const Conversion &c, void *out, size_t n);

// The canonical names of the generator methods, in the resolver's order.
std::span<const char *const> method_names();

}  // namespace zeqhost::rng
