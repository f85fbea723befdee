// host/pool.cc - memory pools and scratch arenas of the reference host.
//
// A pool hands out zero-filled blocks (whatever the flag word), keeps every
// live block so that a release of a block it does not hold is caught (and
// ignored) instead of corrupting the heap, and can be told to fail a given
// request.  A scratch arena is a stack of blocks that a release gives back
// down to a mark.
#include <atomic>
#include <cstdlib>

#include "host/internal.h"

namespace zeqhost {

namespace {

void *pool_alloc_entry(ZeqPool *pool, uint64_t size, uint32_t flags) {
  if (!pool) return nullptr;
  return reinterpret_cast<PoolRecord *>(pool)->owner->alloc(size, flags);
}

void pool_release_entry(ZeqPool *pool, void *block) {
  if (!pool) return;
  reinterpret_cast<PoolRecord *>(pool)->owner->release(block);
}

// Blocks larger than this are refused as a host would refuse them; it also
// keeps a negative size that was widened to 64 bits from reaching calloc.
constexpr uint64_t kLargestBlock = uint64_t(1) << 40;

}  // namespace

Pool::Impl::Impl() {
  record.rec.alloc = pool_alloc_entry;
  record.rec.release = pool_release_entry;
  record.owner = this;
}

Pool::Impl::~Impl() {
  for (auto &kv : live) std::free(kv.first);
}

void *Pool::Impl::alloc(uint64_t size, uint32_t flags) {
  std::lock_guard<std::mutex> lock(mu);
  last_flags = flags;
  last_size = size;
  if (fail_always) return nullptr;
  if (fail_countdown > 0 && --fail_countdown == 0) return nullptr;
  if (size > kLargestBlock) return nullptr;
  void *p = std::calloc(1, size ? (size_t)size : 1);
  if (!p) return nullptr;
  live.emplace(p, size);
  served++;
  return p;
}

void Pool::Impl::release(void *block) {
  if (!block) return;
  std::lock_guard<std::mutex> lock(mu);
  auto it = live.find(block);
  if (it == live.end()) {
    double_free = true;  // not ours, or released twice: keep the heap intact
    return;
  }
  live.erase(it);
  std::free(block);
}

Pool::Pool(Impl *impl) : impl_(impl) {}
Pool::~Pool() { delete impl_; }
ZeqPool *Pool::raw() { return &impl_->record.rec; }
bool Pool::holds(const void *block) const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->live.count(const_cast<void *>(block)) != 0;
}

size_t Pool::live_blocks() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->live.size();
}
size_t Pool::allocations() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->served;
}
void Pool::fail_nth(int n) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->fail_countdown = n > 0 ? n : 0;
}
void Pool::fail_always(bool on) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->fail_always = on;
}
uint32_t Pool::last_flags() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->last_flags;
}
uint64_t Pool::last_size() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->last_size;
}
bool Pool::double_free_seen() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->double_free;
}

// ---------------------------------------------------------------------------
// Scratch arenas.
// ---------------------------------------------------------------------------
namespace {

ScratchArena *arena_of(ZeqScratch *s) { return reinterpret_cast<ScratchRecord *>(s)->owner; }

std::atomic<int> scratch_countdown{0};
std::atomic<size_t> scratch_requests{0};

// Counts a request; true when it is the one to refuse.
bool scratch_refuses() {
  scratch_requests++;
  int c = scratch_countdown.load();
  while (c > 0 && !scratch_countdown.compare_exchange_weak(c, c - 1)) {
  }
  return c == 1;
}

void *scratch_alloc_entry(ZeqScratch *s, uint64_t size) {
  if (!s || size > kLargestBlock || scratch_refuses()) return nullptr;
  ScratchArena *a = arena_of(s);
  void *p = std::calloc(1, size ? (size_t)size : 1);
  if (!p) return nullptr;
  std::lock_guard<std::mutex> lock(a->mu);
  a->blocks().push_back(p);
  return p;
}

uint64_t scratch_mark_entry(ZeqScratch *s) {
  if (!s) return 0;
  ScratchArena *a = arena_of(s);
  std::lock_guard<std::mutex> lock(a->mu);
  a->last_mark = a->blocks().size();
  return a->last_mark;
}

void scratch_release_entry(ZeqScratch *s, uint64_t mark) {
  if (!s) return;
  ScratchArena *a = arena_of(s);
  std::lock_guard<std::mutex> lock(a->mu);
  std::vector<void *> &stack = a->blocks();
  while (stack.size() > mark) {
    std::free(stack.back());
    stack.pop_back();
  }
}

}  // namespace

void scratch_fail_nth(int n) { scratch_countdown = n > 0 ? n : 0; }
size_t scratch_request_count() { return scratch_requests.load(); }

ScratchArena::ScratchArena() {
  record.rec.alloc = scratch_alloc_entry;
  record.rec.mark = scratch_mark_entry;
  record.rec.release = scratch_release_entry;
  record.owner = this;
}

ScratchArena::~ScratchArena() {
  for (auto &kv : stacks)
    for (void *p : kv.second) std::free(p);
}

// The calling thread's stack.  A thread's stack stays, empty, for its next
// call (a call allocates nothing to find it); threads come and go, so once
// 64 have been seen a new one first sweeps out the empty stacks.
std::vector<void *> &ScratchArena::blocks() {
  const std::thread::id id = std::this_thread::get_id();
  if (auto it = stacks.find(id); it != stacks.end()) return it->second;
  if (stacks.size() >= 64) std::erase_if(stacks, [](const auto &kv) { return kv.second.empty(); });
  return stacks[id];
}

size_t ScratchArena::live() {
  std::lock_guard<std::mutex> lock(mu);
  size_t n = 0;
  for (auto &kv : stacks) n += kv.second.size();
  return n;
}

}  // namespace zeqhost
