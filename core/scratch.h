// core/scratch.h - per-call scratch memory, given back when the call ends.
//
// A call scratch draws from a scratch arena when its Arena policy finds one
// (marked at the first allocation, released to that mark on destruction),
// else from blocks of the task's pool (released on destruction).  An arena
// without its three entries gives nothing; so does a scratch with neither
// arena nor task.
#pragma once

#include <cstdint>

#include "core/frame.h"

namespace zeq {

// The task's own scratch arena.
struct TaskArena {
  static ZeqScratch *of(FncTask *task) { return task ? task->scratch : nullptr; }
};

// The calling thread's scratch arena when it is complete, else none (the
// task's pool serves).
struct ThreadArena {
  static ZeqScratch *of(FncTask *task);
};

// What a kernel asks scratch memory of, whoever owns the memory: a call's
// scratch inside the module, the heap in a test or a benchmark.  alloc
// answers size bytes or null; the memory lasts as long as its owner.
class ScratchAllocator {
 public:
  virtual void *alloc(uint64_t size) = 0;

 protected:
  ~ScratchAllocator() = default;
};

template <typename Arena>
class BasicCallScratch final : public ScratchAllocator {
 public:
  explicit BasicCallScratch(FncTask *task) : task_(task) {}
  ~BasicCallScratch();
  BasicCallScratch(const BasicCallScratch &) = delete;
  BasicCallScratch &operator=(const BasicCallScratch &) = delete;

  // size bytes, or null; pool blocks are asked for with pool_flags
  // (ZEQ_FLAGS_CACHE when not given).
  void *alloc(uint64_t size) override;
  void *alloc(uint64_t size, uint32_t pool_flags);

 private:
  FncTask *task_;
  bool marked_ = false;
  uint64_t mark_ = 0;
  static constexpr int kMaxPoolBlocks = 4;
  void *pool_blocks_[kMaxPoolBlocks] = {};
  int pool_count_ = 0;
};

using CallScratch = BasicCallScratch<TaskArena>;
using ThreadScratch = BasicCallScratch<ThreadArena>;

extern template class BasicCallScratch<TaskArena>;
extern template class BasicCallScratch<ThreadArena>;

}  // namespace zeq
