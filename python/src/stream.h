// python/src/stream.h - zeqwucha.Stream: one random stream of the module,
// drawn into numpy arrays.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "host/rng_draw.h"
#include "zeq/rng.h"

namespace zeqpy {

class Stream {
 public:
  // The method word as zeq rand takes it; seed 0 lets the engine draw one.
  // Opened as zeq rand opens its streams, so the same settings are refused:
  // ValueError for an unknown method, a seed, key or thread the method does
  // not take, a key out of range.
  Stream(const std::string &method, uint64_t seed, uint64_t key, uint64_t thread);
  ~Stream();
  Stream(const Stream &) = delete;
  Stream &operator=(const Stream &) = delete;

  void position(uint64_t count);  // counter-based methods only
  pybind11::array draw(int64_t n, const std::string &conversion);
  // Method, seed, key, thread and the state blob; the generator words are
  // loaded back through the method's state operation.
  pybind11::bytes state() const;
  static std::unique_ptr<Stream> from_state(const pybind11::bytes &saved);
  std::vector<std::string> dump() const;  // the blob as the journal shows it
  // A numpy.random.Generator drawing this stream's words (see generator.cc).
  static pybind11::object generator(pybind11::object self, const std::string &conversion);

  std::string method() const;
  uint64_t seed() const;
  uint64_t key() const;
  uint64_t thread() const;

 private:
  friend struct StreamBits;
  friend struct StreamLock;
  std::unique_ptr<zeqhost::RandomDraw> draw_;
  zrand_stream *s_ = nullptr;  // draw_'s stream
  mutable std::mutex mu_;      // one draw at a time (Stream.draw, its generators)
};

// The methods this processor can run, each with the options it takes
// ("seed", "key", "thread", "position").
pybind11::dict methods();

// Registers the generator's bit source and its lock (generator.cc).
void define_generator(pybind11::module_ &m);

// An unsigned 64-bit integer from Python, or TypeError/ValueError naming it.
uint64_t to_u64(const pybind11::handle &value, const char *name);

}  // namespace zeqpy
