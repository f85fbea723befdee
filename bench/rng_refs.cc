// bench/rng_refs.cc - rng_benchmark's references, built as a shared library
// of their own (see rng_refs.h).
#include "bench/rng_refs.h"

#include <new>

namespace rngref {

// Aligned like the module's slot functions, so that code placement favours
// neither side.
template <class G>
__attribute__((noinline, aligned(64))) Word<G> rng_ref_call(void *g) {
  return (*static_cast<G *>(g))();
}

template <class G>
void rng_ref_new(void *g) {
  new (g) G;
}

#define RNG_REF_DEFINE(G)                                                             \
  template __attribute__((visibility("default"))) Word<G> rng_ref_call<G>(void *); \
  template __attribute__((visibility("default"))) void rng_ref_new<G>(void *);
RNG_REFERENCES(RNG_REF_DEFINE)
#undef RNG_REF_DEFINE

}  // namespace rngref
