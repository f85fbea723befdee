// core/scratch.cc - CallScratch (core/scratch.h).
#include "core/scratch.h"

namespace zeq {

CallScratch::~CallScratch() {
  if (marked_) arena_->release(arena_, mark_);
  for (int i = 0; i < pool_count_; i++) task_release(task_, pool_blocks_[i]);
}

void *CallScratch::alloc(uint64_t size, uint32_t pool_flags) {
  if (task_arena_) {
    if (!task_) return nullptr;
    arena_ = task_->scratch;
    task_arena_ = false;
  }
  if (arena_) {
    if (!arena_->alloc || !arena_->mark || !arena_->release) return nullptr;
    if (!marked_) {
      mark_ = arena_->mark(arena_);
      marked_ = true;
    }
    return arena_->alloc(arena_, size);
  }
  if (!task_ || pool_count_ == kMaxPoolBlocks) return nullptr;
  void *p = task_alloc(task_, size, pool_flags);
  if (p) pool_blocks_[pool_count_++] = p;
  return p;
}

}  // namespace zeq
