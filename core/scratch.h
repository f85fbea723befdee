// core/scratch.h - per-call scratch memory, given back when the call ends.
//
// A CallScratch draws from a scratch arena when it has one (marked at the
// first allocation, released to that mark on destruction), else from blocks
// of the task's pool (released on destruction).  An arena without its three
// entries gives nothing; so does a CallScratch with neither arena nor task.
#pragma once

#include <cstdint>

#include "core/frame.h"

namespace zeq {

class CallScratch {
 public:
  // The task's own scratch arena when it has one, else its pool.
  explicit CallScratch(FncTask *task) : task_(task), task_arena_(true) {}
  // `arena` when not null, else the pool of `task`.
  CallScratch(FncTask *task, ZeqScratch *arena) : task_(task), arena_(arena) {}
  ~CallScratch();
  CallScratch(const CallScratch &) = delete;
  CallScratch &operator=(const CallScratch &) = delete;

  // size bytes, or null; pool blocks are asked for with pool_flags.
  void *alloc(uint64_t size, uint32_t pool_flags = ZEQ_FLAGS_CACHE);

 private:
  FncTask *task_;
  bool marked_ = false;
  uint64_t mark_ = 0;
  static constexpr int kMaxPoolBlocks = 4;
  void *pool_blocks_[kMaxPoolBlocks] = {};
  int pool_count_ = 0;
  ZeqScratch *arena_ = nullptr;  // the arena marked, or the one given
  bool task_arena_ = false;      // the arena is the task's, read at first use
};

}  // namespace zeq
