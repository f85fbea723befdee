// core/scratch.cc - the call scratch (core/scratch.h).
#include "core/scratch.h"

namespace zeq {

ZeqScratch *ThreadArena::of(FncTask *) {
  const ZeqControlBlock *cb = v_global_gcb_anchor;
  if (!cb || cb->thread_invalid != 0 || !cb->thread) return nullptr;
  ZeqScratch *s = cb->thread->scratch;
  return (s && s->alloc && s->mark && s->release) ? s : nullptr;
}

template <typename Arena>
BasicCallScratch<Arena>::~BasicCallScratch() {
  if (marked_) {
    ZeqScratch *arena = Arena::of(task_);
    if (arena && arena->release) arena->release(arena, mark_);
  }
  for (int i = 0; i < pool_count_; i++) task_release(task_, pool_blocks_[i]);
}

template <typename Arena>
void *BasicCallScratch<Arena>::alloc(uint64_t size) {
  return alloc(size, ZEQ_FLAGS_CACHE);
}

template <typename Arena>
void *BasicCallScratch<Arena>::alloc(uint64_t size, uint32_t pool_flags) {
  if (ZeqScratch *arena = Arena::of(task_)) {
    if (!arena->alloc || !arena->mark || !arena->release) return nullptr;
    if (!marked_) {
      mark_ = arena->mark(arena);
      marked_ = true;
    }
    return arena->alloc(arena, size);
  }
  if (!task_ || pool_count_ == kMaxPoolBlocks) return nullptr;
  void *p = task_alloc(task_, size, pool_flags);
  if (p) pool_blocks_[pool_count_++] = p;
  return p;
}

template class BasicCallScratch<TaskArena>;
template class BasicCallScratch<ThreadArena>;

}  // namespace zeq
