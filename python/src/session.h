// python/src/session.h - zeqwucha.Session: a host task (or one per thread)
// with its encoding and COMPCOST costs, calling catalogue functions over
// columns with the GIL released.
#pragma once

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>

#include "host/call.h"
#include "python/src/signature.h"

namespace zeqpy {

// Calls of one Session run in parallel, each with host tasks of its own
// taken from the session's idle ones; compcost() waits until no call runs.
class Session {
 public:
  explicit Session(const std::string &encoding);
  ~Session();

  // fn(args...) over the broadcast arguments; kwargs may hold threads=N
  // (0: one per core).
  pybind11::object call(const Signature &sig, const pybind11::args &args, pybind11::kwargs kwargs);
  // COMPCOST with (operation, cost) pairs, e.g. {"insert=", 5}.  On failure
  // the session keeps the costs it had and a ValueError says why.
  void compcost(const pybind11::dict &costs);
  std::string encoding() const;
  // The accepted costs as (operation, cost) pairs, for pickling.
  pybind11::dict costs() const;

  static constexpr int kMaxThreads = 64;

 private:
  using WorkerPtr = std::unique_ptr<zeqhost::Worker>;
  std::vector<WorkerPtr> take(size_t n);  // idle workers, or new ones with the session's costs
  void give_back(std::vector<WorkerPtr> &workers);

  zeqhost::Encoding encoding_;
  std::shared_mutex calls_;  // calls hold it shared, compcost exclusive; taken with the GIL released
  std::mutex idle_mu_;
  std::vector<WorkerPtr> idle_;
  std::vector<zeqhost::Value> costs_;  // the last accepted COMPCOST arguments
};

// The session behind the module-level functions (UTF-8).
Session &default_session();

}  // namespace zeqpy
