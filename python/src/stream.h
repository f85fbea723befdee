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

#include "zeq/rng.h"

namespace zeqpy {

class Stream {
 public:
  // The method word as zeq rand takes it; seed 0 lets the engine draw one.
  // Throws ValueError when the engine reports a problem (unknown method, a
  // seed or key the method does not take, a key out of range).
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

  std::string method() const;
  uint64_t seed() const;
  uint64_t key() const;
  uint64_t thread() const;

 private:
  zrand_stream *s_ = nullptr;
  std::string word_;  // the stream keeps its address until it is resolved
  mutable std::mutex mu_;
};

// Canonical names of the methods this processor can run.
std::vector<std::string> methods();

// An unsigned 64-bit integer from Python, or TypeError/ValueError naming it.
uint64_t to_u64(const pybind11::handle &value, const char *name);

}  // namespace zeqpy
