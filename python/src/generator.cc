// python/src/generator.cc - Stream.generator(): numpy's Generator over a
// stream's words.
//
// numpy.random.Generator takes any object with a `capsule` (a PyCapsule named
// "BitGenerator" holding a bitgen_t) and a `lock` (a context manager held
// around every fill, with the interpreter lock released inside).  StreamBits
// is that object: its bitgen_t draws from the Stream's blob, and its lock is
// the Stream's own mutex, so Stream.draw and the Generator take turns on one
// sequence of words.
#include <cstddef>
#include <cstring>

#include <numpy/random/bitgen.h>

#include "python/src/stream.h"

namespace py = pybind11;

namespace zeqpy {

static_assert(offsetof(bitgen_t, state) == 0 && offsetof(bitgen_t, next_uint64) == 8 &&
                  offsetof(bitgen_t, next_uint32) == 16 && offsetof(bitgen_t, next_double) == 24 &&
                  offsetof(bitgen_t, next_raw) == 32 && sizeof(bitgen_t) == 40,
              "numpy's bitgen_t");

// The bit source numpy's Generator draws through.  A method without one word
// size makes it from the other, as numpy's own generators do: two 32-bit
// words give a 64-bit one (the first in the high half), a 64-bit word gives
// two 32-bit ones (the low half first).
struct StreamBits {
  bitgen_t gen{};
  py::object owner;  // the Stream: it outlives every Generator made from it
  zrand_stream *s = nullptr;
  zrng_double_fn as_double = nullptr;
  uint32_t spare = 0;
  bool has_spare = false;
  py::capsule capsule;

  static StreamBits &of(void *p) { return *static_cast<StreamBits *>(p); }
  static uint64_t next64(void *p) {
    zrand_stream *s = of(p).s;
    if (s->desc->uint64) return s->desc->uint64(s->state);
    uint64_t high = s->desc->uint32(s->state);
    return high << 32 | s->desc->uint32(s->state);
  }
  static uint32_t next32(void *p) {
    StreamBits &b = of(p);
    if (b.s->desc->uint32) return b.s->desc->uint32(b.s->state);
    if (b.has_spare) {
      b.has_spare = false;
      return b.spare;
    }
    uint64_t w = b.s->desc->uint64(b.s->state);
    b.spare = (uint32_t)(w >> 32);
    b.has_spare = true;
    return (uint32_t)w;
  }
  static double next_double(void *p) { return of(p).as_double(of(p).s->state); }

  StreamBits(py::object stream, const std::string &conversion) : owner(std::move(stream)) {
    Stream &st = owner.cast<Stream &>();
    s = st.s_;
    const zeqhost::rng::Conversion *c = zeqhost::rng::find_conversion(conversion);
    if (!c || c->kind != zeqhost::rng::DrawKind::Double)
      throw py::value_error("generator(): '" + conversion + "' is not a conversion to doubles (zeqwucha.conversions() lists them)");
    if (c->offset == 0) as_double = s->double_fn;
    else std::memcpy(&as_double, reinterpret_cast<const char *>(s->desc) + c->offset, sizeof as_double);
    if (!as_double) throw py::value_error("generator(): " + std::string(s->desc->name) + " does not offer " + c->name);
    if (!s->desc->uint32 && !s->desc->uint64)
      throw py::value_error("generator(): " + std::string(s->desc->name) + " draws no integer words");
    gen = {this, &next64, &next32, &next_double, &next64};
    capsule = py::capsule(static_cast<void *>(&gen), "BitGenerator");
  }
};

// The Stream's mutex as a context manager; waiting happens without the
// interpreter lock, so a draw in another thread can finish.
struct StreamLock {
  py::object owner;
  std::mutex &mu() { return owner.cast<Stream &>().mu_; }
  void acquire() {
    std::mutex &m = mu();
    py::gil_scoped_release unlocked;
    m.lock();
  }
  void release() { mu().unlock(); }
};

py::object Stream::generator(py::object self, const std::string &conversion) {
  py::object bits = py::cast(std::make_unique<StreamBits>(self, conversion));
  bits.attr("lock") = py::cast(StreamLock{self});
  return py::module_::import("numpy.random").attr("Generator")(bits);
}

void define_generator(py::module_ &m) {
  py::class_<StreamBits>(m, "StreamBits", py::dynamic_attr(),
                         "The bit source of Stream.generator(): numpy's Generator reads `capsule` and `lock`.")
      .def_readonly("capsule", &StreamBits::capsule)
      .def_property_readonly("stream", [](const StreamBits &b) { return b.owner; });
  py::class_<StreamLock>(m, "StreamLock", "The lock of a Stream, held while numpy draws from it.")
      .def("acquire", [](StreamLock &l) { l.acquire(); return true; })
      .def("release", &StreamLock::release)
      .def("__enter__", [](StreamLock &l) { l.acquire(); return true; })
      .def("__exit__", [](StreamLock &l, py::args) { l.release(); return false; });
}

}  // namespace zeqpy
