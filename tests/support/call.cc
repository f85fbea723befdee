#include "tests/support/call.h"

#include <cmath>
#include <cstdlib>

namespace zeqtest {

static void *grow_resize(FncStringAllocator *self, void *old, int64_t size, uint32_t) {
  auto *g = reinterpret_cast<Growable *>(self);
  g->resizes++;
  if (g->fail) return nullptr;
  void *p = std::realloc(old, size > 0 ? (size_t)size : 1);
  for (auto &b : g->blocks)
    if (b == old) b = nullptr;
  g->blocks.push_back(p);
  return p;
}

Growable::Growable() { rec.resize = grow_resize; }
Growable::~Growable() {
  for (void *b : blocks) std::free(b);
}

Call &Call::str(std::string_view text, uint8_t type) {
  items_.push_back({type, true, std::string(text), 0});
  return *this;
}
Call &Call::num(double x) {
  items_.push_back({FNC_ARG_NUMERIC, true, {}, x});
  return *this;
}
Call &Call::missing() { return num(std::nan("")); }
Call &Call::absent(uint8_t type) {
  items_.push_back({type, false, {}, 0});
  return *this;
}

FncArgList *Call::block() {
  if (!built_) {
    built_ = true;
    raw_.assign(FNC_ARGLIST_SIZE(items_.size() ? items_.size() : 1), 0);
    auto *b = reinterpret_cast<FncArgList *>(raw_.data());
    b->task = task_;
    b->callForm = form_;
    b->resultKind = kind_;
    b->argCount = (int32_t)items_.size();
    for (size_t i = 0; i < items_.size(); i++) {
      auto &it = items_[i];
      b->args[i].type = it.type;
      if (!it.present) continue;
      if (it.type & FNC_ARG_NUMERIC) {
        numbers_.push_back(it.x);
        b->args[i].value = &numbers_.back();
      } else {
        buffers_.push_back(it.text);
        FncString s{};
        s.maxLength = (int64_t)it.text.size();
        s.length = (int64_t)it.text.size();
        s.data = buffers_.back().data();
        strings_.push_back(s);
        b->args[i].value = &strings_.back();
      }
    }
  }
  return reinterpret_cast<FncArgList *>(raw_.data());
}

Result::Result(int64_t max_length, bool growable, int64_t capacity) {
  rec.maxLength = max_length;
  if (growable) {
    rec.allocator = &grow.rec;
    rec.capacity = capacity;
    if (capacity > 0) {
      rec.data = static_cast<char *>(std::malloc((size_t)capacity));
      std::memset(rec.data, '#', (size_t)capacity);
      grow.blocks.push_back(rec.data);
    }
  } else {
    buf.assign(max_length > 0 ? (size_t)max_length : 0, '#');
    rec.data = buf.data();
  }
}

}  // namespace zeqtest
