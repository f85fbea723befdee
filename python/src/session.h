// python/src/session.h - zeqwucha.Session: a host task (or one per thread)
// with its encoding and COMPCOST costs, calling catalogue functions over
// columns with the GIL released.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>

#include "host/call.h"
#include "python/src/signature.h"

namespace zeqpy {

class Session {
 public:
  explicit Session(const std::string &encoding);
  ~Session();

  // fn(args...) over the broadcast arguments; kwargs may hold threads=N.
  pybind11::object call(const Signature &sig, const pybind11::args &args, pybind11::kwargs kwargs);
  // COMPCOST with (operation, cost) pairs, e.g. {"insert=", 5}.  On failure
  // the session keeps the costs it had and a ValueError says why.
  void compcost(const pybind11::kwargs &costs);
  std::string encoding() const;

  static constexpr int kMaxThreads = 64;

 private:
  struct Pending;
  zeqhost::Worker &worker(size_t i);  // made on demand with the session's costs
  void run(const Signature &sig, Pending &job, size_t threads);

  zeqhost::Encoding encoding_;
  std::mutex mu_;  // one call at a time; taken with the GIL released
  std::vector<std::unique_ptr<zeqhost::Worker>> workers_;
  std::vector<zeqhost::Value> costs_;  // the last accepted COMPCOST arguments
};

// The session behind the module-level functions (UTF-8).
Session &default_session();

}  // namespace zeqpy
