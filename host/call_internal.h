// host/call_internal.h - what the call layer (host/call.cc) and the column
// path (host/column.cc) share: the worker's records, the check of a call
// against the catalogue, the growable result, the session hold, and the
// entry call itself.  Not for front ends: they use host/call.h and
// host/column.h.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/call.h"

namespace zeqhost {

// Buffers one check reuses from call to call: the kinds ('1', '2', 'm'
// missing) of the arguments the usage line names, their positions, and the
// resolved types ('1'/'2') of every argument.
struct CheckScratch {
  std::string kinds, resolved, types;
  std::vector<size_t> map;
};

// Count and types; s.types receives '1' or '2' for every argument.  Nothing
// is allocated on the way to "" once the scratch buffers have grown.
std::string check(const zeq::catalogue::Function &fn, std::span<const Value> args, bool call_form, CheckScratch &s,
                  int &bad);

// ---------------------------------------------------------------------------
// Records of one call.
// ---------------------------------------------------------------------------

// A growable result: the host's allocator record backed by realloc, never
// beyond kMaxResultLength.  The block the result ends in is kept for the next
// call, so a call whose result fits the room of the last one allocates nothing.
struct Growable {
  FncStringAllocator rec{};
  int64_t limit = kMaxResultLength;  // the call's max_length
  struct Block {
    void *data;
    int64_t size;
  };
  std::vector<Block> blocks;  // blocks[0] is the block kept from the last call

  static void *resize(FncStringAllocator *self, void *old, int64_t size, uint32_t) {
    auto *g = reinterpret_cast<Growable *>(self);
    if (size > g->limit) return nullptr;
    if (size <= 0) size = 1;
    auto held = std::find_if(g->blocks.begin(), g->blocks.end(), [&](const Block &b) { return old && b.data == old; });
    if (held != g->blocks.end() && held->size >= size) return old;
    void *p = std::realloc(old, (size_t)size);
    if (!p) return nullptr;
    if (held != g->blocks.end()) *held = {p, size};
    else g->blocks.push_back({p, size});
    return p;
  }
  // A result block of `room` bytes for the next call.
  char *start(int64_t room) {
    return static_cast<char *>(resize(&rec, blocks.empty() ? nullptr : blocks[0].data, room, 0));
  }
  // After a call: keeps the block `live` (the result's) unless it is large,
  // and frees the others.
  void settle(const void *live) {
    constexpr int64_t kKeep = int64_t(1) << 16;
    size_t kept = 0;
    for (const Block &b : blocks) {
      if (b.data == live && b.size <= kKeep && kept == 0) blocks[kept++] = b;
      else std::free(b.data);
    }
    blocks.resize(kept);
  }
  Growable() { rec.resize = resize; }
  ~Growable() { settle(nullptr); }
  Growable(const Growable &) = delete;
  Growable &operator=(const Growable &) = delete;
};

// The bytes a character record holds (never past its room).
inline std::string_view text_view(const FncString &s) {
  int64_t n = s.length;
  const int64_t room = s.allocator ? s.capacity : s.maxLength;
  if (n > room) n = room;
  if (!s.data || n <= 0) return {};
  return {s.data, (size_t)n};
}

inline std::string text_of(const FncString &s) { return std::string(text_view(s)); }

inline double missing_number() {
  const uint64_t bits = FNC_MISSING_BITS;
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

inline int level_of(const LogEntry &e) {
  if (e.kind != LogEntry::Catalogue) return e.level;
  static const std::pair<const char *, int> words[] = {{"INFO:", 1}, {"NOTE:", 2}, {"WARNING:", 3}, {"ERROR:", 4}};
  for (const auto &[w, l] : words)
    if (e.text.rfind(w, 0) == 0) return l;
  return 0;
}

// Room for any character result the arguments can give: every byte quoted
// or written in hexadecimal, every number in full, and a separator (at most
// as long as the longest argument) after every item.  CATQ fills only the
// room a result already has and never grows a growable one, so a growable
// result starts with this much.
inline int64_t room_for(const FncArgList *a) {
  int64_t room = 64, longest = 0;
  for (int i = 0; i < a->argCount; i++) {
    const FncArg &g = a->args[i];
    const auto *text = (g.type & FNC_ARG_ISCHAR) && g.value ? static_cast<const FncString *>(g.value) : nullptr;
    const int64_t n = text && text->length > 0 ? text->length : 0;
    room += 3 * n + 48;
    longest = std::max(longest, n);
  }
  return std::min(room + longest * a->argCount, kMaxResultLength);
}

// The values behind one execution's argument entries, one slot per argument;
// the texts keep their capacity from call to call.
struct Frame {
  std::vector<std::string> texts;
  std::vector<FncString> strings;
  std::vector<double> numbers;

  void reset(size_t n) {
    constexpr size_t kKeep = size_t(1) << 16;  // a larger text is not kept for the next call
    for (std::string &t : texts)
      if (t.capacity() > kKeep) std::string().swap(t);
    if (texts.size() < n) texts.resize(n);
    strings.assign(n, FncString{});
    numbers.assign(n, 0);
  }
  FncString *text(size_t i, const std::string &t, int64_t padded_to = -1) {
    std::string &b = texts[i];
    b.assign(t);
    // A fixed variable is blank-padded to its declared length.
    if (padded_to >= 0 && (int64_t)b.size() < padded_to) b.resize((size_t)padded_to, ' ');
    FncString &s = strings[i];
    s.maxLength = s.length = (int64_t)b.size();
    s.data = b.data();
    return &s;
  }
  double *number(size_t i, double x) {
    numbers[i] = x;
    return &numbers[i];
  }
};

// What a worker's calls reuse from one call to the next (calls of one worker
// never overlap).
struct CallBuffers {
  CheckScratch check;
  Frame frame;
  Growable grow;
  std::string fixed;
  std::vector<LogEntry> lines;
  std::vector<uint64_t> block;  // the argument block of Worker::call
};

struct Worker::Impl {
  Host &host;
  FncTask *task;
  Encoding encoding;
  std::vector<void *> entries, twins;  // by catalogue row, looked up once
  std::vector<bool> looked;
  CallBuffers buffers;
  Impl(Host &h, Encoding e)
      : host(h), task(h.new_task()), encoding(e), entries(zeq::catalogue::kFunctionCount),
        twins(zeq::catalogue::kFunctionCount), looked(zeq::catalogue::kFunctionCount) {}
  // The entry of `fn` and its multibyte twin (null when it has none).
  void lookup(const zeq::catalogue::Function &fn, void *&entry, void *&twin);
  // The multibyte twin the host calls itself when the first argument holds
  // a multibyte character: the service it gets, or null for the plain entry.
  ZeqStringService *twin_service(const zeq::catalogue::Function &fn, FncArgList *a, bool utf8, void *twin);

 private:
  // The module's route choice (CheckVarcharAndMultibyte), looked up once.
  using Routes = ZeqStringService *(*)(FncArgList *);
  Routes routes_ = nullptr;
  bool routes_looked_ = false;

 public:
  // A call-site cache the module hung on the block's noteCount goes back to
  // the task's pool, as the host gives it back with the call site.
  void release_cache(FncArgList *a);
};

// The entries one execution calls and how.
struct Entry {
  void *entry = nullptr, *twin = nullptr;
  ZeqStringService *svc = nullptr;  // set: the multibyte twin runs
};

// Runs the entry (or its multibyte twin) of `fn` on the argument block:
// a character result goes to `result` (not passed to a twin in the CALL
// form), a numeric one to `number`, a Direct function reads argument 0 and
// writes `result`.
int32_t call_entry(const zeq::catalogue::Function &fn, FncArgList *a, const Entry &e, FncString *result,
                   double *number, bool call_form, const char *name);

// The messages of `lines` as a CallOutcome carries them (the lines are moved).
void take_messages(std::vector<LogEntry> &lines, std::vector<Message> &out);

// The first argument the module marked (1-based), or 0.
int marked_argument(const FncArgList *a);

// A growable result record for a call on `a`: room for what the arguments
// can give (at least the declared length), never beyond the call's limit.
void start_growable(Growable &grow, FncString &result, const CallOptions &opt, const FncArgList *a);

}  // namespace zeqhost
