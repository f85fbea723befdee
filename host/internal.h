// host/internal.h - the reference host's own records, shared by host/*.cc.
//
// Every record the module sees (pool, scratch arena, task, thread, control
// block, kernel table, logger, store, session encoding, string service) is a
// C record embedded first in a host object, so that the entry the module calls
// finds its host object from the record address alone.  Services without a
// record argument (the vector entries) reach the one live host through
// g_state; a Host is one per process.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/host.h"
#include "zeq/abi.h"
#include "zeq/host.h"

namespace zeqhost {

// ---------------------------------------------------------------------------
// Pools and scratch arenas (pool.cc).
// ---------------------------------------------------------------------------
struct PoolRecord {
  ZeqPool rec;       // what the module sees; must stay first
  Pool::Impl *owner;
};

struct Pool::Impl {
  PoolRecord record{};
  mutable std::mutex mu;
  std::unordered_map<void *, uint64_t> live;  // block -> size
  size_t served = 0;
  int fail_countdown = 0;
  bool fail_always = false;
  uint32_t last_flags = 0;
  uint64_t last_size = 0;
  bool double_free = false;
  Impl();
  ~Impl();
  void *alloc(uint64_t size, uint32_t flags);
  void release(void *block);
};

// Refusal of the n-th scratch request of any arena, and the request count.
void scratch_fail_nth(int n);
size_t scratch_request_count();

struct ScratchArena;
struct ScratchRecord {
  ZeqScratch rec;    // must stay first
  ScratchArena *owner;
};

// A stack of zero-filled blocks given back down to a mark.  Each OS thread
// has its own stack in the arena, so that a thread giving back down to its
// mark never frees a block another thread still uses (the thread record's
// arena is reached by every worker thread of the process).
struct ScratchArena {
  ScratchRecord record{};
  std::mutex mu;
  std::map<std::thread::id, std::vector<void *>> stacks;
  uint64_t last_mark = 0;
  std::vector<void *> &blocks();     // the calling thread's stack; mu held
  ScratchArena();
  ~ScratchArena();
  ScratchArena(const ScratchArena &) = delete;
  ScratchArena &operator=(const ScratchArena &) = delete;
  size_t live();
};

// One host task: the record, its slot vector, pool and scratch arena.
struct TaskBox {
  FncTask rec{};                      // must stay first
  std::vector<void *> slots;          // kTaskSlots entries
  Pool *pool = nullptr;
  std::unique_ptr<ScratchArena> scratch;
};
constexpr size_t kTaskSlots = 128;

// ---------------------------------------------------------------------------
// Stored values of the name/value store (store.cc).
// ---------------------------------------------------------------------------
struct StoredValue {
  int32_t type = 0;          // ZEQ_NV_DOUBLE, ZEQ_NV_INT64, ZEQ_NV_TEXT
  double d = 0;
  int64_t i = 0;
  std::u32string text;
};

// A transcoder of the national-language service (text.cc).  Records live as
// long as the host: a closed one only loses its converter.  A converter
// keeps state between calls, so one call converts at a time.  The session's
// own transcoders (one pair per encoding) belong to the host: closing one
// through its record does nothing.
struct Transcoder {
  ZeqTranscoder rec{};  // must stay first
  void *conv = nullptr; // UConverter
  int direction = 0;
  bool closed = false;
  bool session = false;
  std::mutex mu;
  Transcoder() = default;
  Transcoder(const Transcoder &) = delete;
  Transcoder &operator=(const Transcoder &) = delete;
  ~Transcoder();
};

// Holds of the session and switches of its encoding (session.cc).  Holds of
// the encoding in force run together; a switch waits until none is alive,
// and while one waits, new holds of the old encoding wait behind it.
// `word` carries the holds alive, the encoding in force and whether the
// gate is closed: open, a hold of the encoding in force goes in with one
// atomic add and no lock; closed (a thread waits, or a switch is under
// way), every hold goes through `mu`.  Only a thread holding `mu` closes,
// opens or switches.
struct SessionGate {
  static constexpr uint32_t kClosed = 1u << 31;
  static constexpr uint32_t kUtf8 = 1u << 30;
  static constexpr uint32_t kCount = kUtf8 - 1;
  std::atomic<uint32_t> word{0};
  mutable std::mutex mu;
  std::condition_variable cv;
  int waiting[2] = {};        // threads waiting, by encoding wanted (1 UTF-8)
  int grace = 0;              // holds of the encoding in force still let in after a switch
  uint64_t switches = 0;      //   while the other one waits
};

// Byte tables of one encoding (tables.cc).
struct ByteTables {
  uint8_t upcase[256], lowcase[256], charclass[256];
};

// Everything one Host owns.
struct HostState {
  HostOptions options;

  // Control block and what hangs from it.
  ZeqControlBlock cb{};
  std::vector<void **> vector_table;           // vector V at index V
  std::vector<std::vector<void *>> vectors;
  uint8_t vector_bytes[64];
  uint8_t upcase[256], lowcase[256], charclass[256];
  ZeqThread thread{};
  std::unique_ptr<ScratchArena> thread_scratch;
  std::deque<std::unique_ptr<Pool>> pools;
  Pool *global = nullptr;
  std::deque<std::unique_ptr<TaskBox>> tasks;
  std::mutex tasks_mu;                         // pools and tasks made or freed from any thread
  uint8_t process_info[256] = {};

  // Kernel function table and its records.
  ZeqKernel kernel{};
  ZeqLocale locale{};
  int64_t default_locale = 1;
  ZeqLogger logger{};
  ZeqNameValueStore store{};
  ZeqSessionEncoding encoding{};
  ZeqNls nls{};
  ZeqClockChange clock_change{};
  ZeqStringService service{};
  uint8_t process_record[128] = {};
  uint8_t processor[128] = {};
  bool utf8 = false;                           // written under gate.mu with no hold alive
  SessionGate gate;
  ByteTables tables[2];                        // by encoding (1 UTF-8), built once
  ZeqTranscoder *session_tc[2][2] = {};        // by encoding, direction; opened once
  std::mutex nls_mu;                           // transcoders opened from any thread
  std::deque<std::unique_ptr<Transcoder>> transcoders;

  // Journal.
  mutable std::mutex log_mu;
  std::vector<LogEntry> log;
  bool journal_fails = false;

  // Name/value store.
  mutable std::mutex store_mu;
  std::map<std::u32string, StoredValue> settings;

  // Options, macro variables, misc services.
  std::map<int, std::string> option_text;
  double yearcutoff = 1940;
  std::map<int, int> option_fail;
  std::map<std::string, std::pair<std::string, int>> macros;
  std::string version = "1.0     ";
  int (*unquote_hook)(char *, FncString *) = nullptr;
  double fixed_clock = __builtin_nan("");
  mutable std::mutex calls_mu;
  std::vector<ServiceCall> calls;
  std::atomic<int> clock_changes{0};           // the clock-change entry is called from any thread

  // Module.
  void *dl = nullptr;
  std::string load_error;
  bool loaded = false;
  const void *image = nullptr;
  void **table = nullptr;

  void record_call(const char *name, std::vector<int64_t> args);
  void add_log(LogEntry e);
};

struct Host::Impl : HostState {};

extern HostState *g_state;

// ---------------------------------------------------------------------------
// Builders and helpers across files.
// ---------------------------------------------------------------------------
void build_tables(HostState &h);         // tables.cc: both encodings' upper/lower/class
void build_vectors(HostState &h);        // services.cc: the service vectors
void build_kernel(HostState &h);         // kernel.cc: kernel table and records
void build_journal(HostState &h);        // journal.cc: logger object
void build_store(HostState &h);          // store.cc: name/value store
void build_session(HostState &h);        // text.cc: encoding record, NLS, string service
void switch_session(HostState &h, bool utf8);  // with no hold alive (session.cc)
void build_processor(HostState &h);      // kernel.cc: CPUID record

// Journal formatting (journal.cc).
// Renders a printf format.  wide: %s/%S/%ls take TKChar*, %hs char*, %c a
// TKChar; narrow: %s char*, %ls/%S TKChar*, %c a byte.  args receives each
// converted argument as text.
std::string format_printf(const std::u32string &format, bool wide, va_list ap,
                          std::vector<std::string> *args);
std::string level_word(int level);       // "NOTE: " etc.; "" for level 0
std::string render_catalogue(int number, va_list ap, std::vector<std::string> *args,
                             std::string *word);
std::string catalogue_template(int set, int number);
std::u32string status_format(int32_t status);  // "" when unknown

// Text helpers (text.cc).
std::string utf8_of(const std::u32string &s);
std::u32string u32_of_utf8(const std::string &s);
std::string bytes_to_utf8(const char *p, size_t n);  // UTF-8 kept, else Latin-1
void append_utf8(std::string &out, uint32_t c);

// Safe reads of memory whose validity is not known (journal arguments).
bool plausible_pointer(uint64_t p);
size_t safe_read(void *dst, const void *src, size_t n);  // bytes actually read
bool safe_cstr(const char *p, size_t max, std::string &out);

// zfmt best fit (services.cc), exposed for tests through Host.
std::string best_fit(double x, int width);

}  // namespace zeqhost
