// host/host.h - the reference host.
//
// A stand-in for every host service the module calls: control block with
// service vectors, byte tables for a Latin-1 session, pools, tasks, scratch
// arenas, kernel function table, journal with a message catalogue, name/value
// store, options, number formatter, macro variables, a UTF-8 session string
// service on ICU, and a processor record from CPUID.  It loads the module with
// dlopen exactly as a host does (mcn_main, then zeqwucha).
//
// One Host per process at a time (the module keeps process-wide anchors);
// its services may be called from several threads at once, each call under
// a SessionHold.
// Implemented in host/*.cc; used by zeq, the tests and the benchmarks.
//
// What the host answers (the details are in the file named):
//  - Pools (pool.cc): every block comes back zero-filled whatever the flags;
//    a release of a block the pool does not hold is ignored and remembered
//    (double_free_seen).  allocations() counts the requests served.
//  - Tasks: 0x28 pool, 0x30 a slot vector of 128 entries, 0x38 the task's
//    scratch arena; the thread record's 0x118 is a separate scratch arena.
//  - Byte tables (tables.cc): Latin-1 from ICU properties.  Class bits 0x01
//    upper, 0x02 lower, 0x04 digit 0-9, 0x08 white space (09-0D 20 85 A0),
//    0x10 every other graphic byte (ASCII punctuation and symbols too),
//    0x20 space separators (20 A0), 0x40 control (00-1F 7F-9F), 0x80 hex
//    digit.  CATQ's X quotes as hexadecimal the items holding a byte of bit
//    0x40: control bytes, the bytes that cannot be read back as text.
//  - Catalogue (journal.cc): set 744 arguments as the host interface fixes
//    them (text char* or (i64 length, address), integers i64, a character an
//    int): 1 (n), 2 (n, text), 3 (n, low, high), 6 (function, char),
//    7 (function, n), 8 (function, length), 9 (function, count),
//    27/28 (function, needed, room), 29 (function), 32/33/34 (function, n),
//    39 (n), 40 (), 41 (room, length, text of that length), 80 (quote char,
//    length).  Lines read "NOTE: ...", "WARNING: ...", "ERROR: ...".
//  - Journal: level 0 no level word, 1 INFO, 2 NOTE, 3 WARNING, 4+ ERROR;
//    statuses are rendered from TKChar printf formats of the catalogue.
//    The buffer operations write at most room-1 TKChar units and a zero and
//    answer 0.  set_journal_fails(true): the two journal operations still
//    keep the line but answer kStatusJournalFailed.
//  - Store (store.cc): see the statuses there; a text set counts bytes.
//  - zfmt 99: best fit, right-aligned in the width (services.cc best_fit):
//    "." for a missing value, whole numbers below 1e16 exactly, else up to
//    15 significant digits in fixed notation (magnitude >= 1e-5) or E form.
//  - Kernel service (kernel.cc): tkzdttme stores epoch seconds and base 0;
//    tkzinfo stores the CPUID processor record; tkzstats writes 8 words.
//  - Multibyte name tests (services.cc), shapes chosen by charfn/words/names.cc:
//    int wzsx8ac(const char *text, long long length, int code, long long start)
//    int wzsxoff(const char *text, long long length, long long offset, long long count)
//    Name characters are A-Z a-z _ (and 0-9 with code bit 1); code bit 256
//    looks for a character in the class, its absence for one outside it.
//  - Options: 4163 "" and 4429 "V7" until set; YEARCUTOFF 1940 (a double).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zeq/abi.h"
#include "zeq/host.h"

namespace zeqhost {

// One line the host's log received.
struct LogEntry {
  enum Kind { Catalogue, Formatted, JournalMessage, JournalStatus };
  Kind kind;
  int level = 0;        // xpslog level digit, journal level; catalogue: 0
  int set = 0;          // catalogue set (744)
  int number = 0;       // catalogue message number, or journal status
  std::vector<std::string> args;  // arguments as rendered text
  std::string text;     // the line as a user reads it ("NOTE: ...")
};

// A pool that zero-fills, counts live blocks, and can fail the n-th request.
class Pool {
 public:
  ZeqPool *raw();                 // the record the module sees
  size_t live_blocks() const;     // blocks allocated and not released
  size_t allocations() const;     // requests served so far
  void fail_nth(int n);           // the n-th request from now fails (1 = next); 0 = never
  void fail_always(bool on);      // every request fails while on
  uint32_t last_flags() const;    // flags of the last request
  uint64_t last_size() const;
  bool double_free_seen() const;  // a release of a block that was not live
  bool holds(const void *block) const;  // a live block of this pool
  struct Impl;
  explicit Pool(Impl *impl);      // takes ownership
  ~Pool();
  Pool(const Pool &) = delete;    // the host owns every pool; use references
  Pool &operator=(const Pool &) = delete;
 private:
  Impl *impl_;
};

struct HostOptions {
  std::string module_path;   // empty: $ZEQ_MODULE, else libzeqwucha.so next to the executable,
                             // else the installed one (../lib from the executable's folder),
                             // else the build's module (ZEQ_DEFAULT_MODULE), else the
                             // dynamic linker's search for libzeqwucha.so
  bool utf8 = false;         // session encoding UTF-8 (multibyte route)
  bool journal = true;       // kernel table offers a journal
  bool store = true;         // name/value store
  bool encoding = true;      // session encoding record (Latin-1 unless utf8)
  bool locale = false;       // locale object with ICU case entries (kernel 0xD8)
  bool processor = true;     // processor record (RDRAND bit from CPUID)
  bool rdrand = true;        // when false the processor record reports no RDRAND
  bool scratch = true;       // task and thread scratch arenas
  bool keep_log = true;      // keep every line in log() and the service calls; front ends that
                             // run for long set false and read their own lines through a LogCapture
};

// While alive, every line the host logs on the constructing thread is also
// appended to `sink` (other threads' lines are not).  Captures nest: the
// inner one receives the lines until it ends, then the outer one again.
class LogCapture {
 public:
  explicit LogCapture(std::vector<LogEntry> &sink);
  ~LogCapture();
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;
 private:
  std::vector<LogEntry> *outer_;
};

// A call of a host service that records (xprrlog, xpselec, xpopset, wzsx8ac)
// or of the kernel service entry ("kernel" with number, argument, flags;
// every call but the clock reading of tkzdttme).  At most 20000 are kept;
// none when HostOptions::keep_log is false.
struct ServiceCall {
  std::string name;
  std::vector<int64_t> args;
};

struct HostState;

// A hold of the session: while one is alive the session encoding, its byte
// tables, string service and transcoders stay as they are.  Every call into
// the module takes one (the call layer, the random streams); holds of the
// encoding in force run together, and a switch to the other encoding waits
// until none is alive (holds arriving meanwhile wait behind it, so neither
// side starves).  A thread that already holds the session may take further
// holds of the same encoding (they nest); asking for the other one then
// throws std::logic_error, as it could never be granted.
class SessionHold {
 public:
  SessionHold(SessionHold &&other) noexcept : state_(other.state_) { other.state_ = nullptr; }
  SessionHold &operator=(SessionHold &&) = delete;
  ~SessionHold();
  bool utf8() const;  // the encoding held

 private:
  friend class Host;
  SessionHold(HostState *state, int want);  // want: 0 Latin-1, 1 UTF-8, -1 the one in force
  HostState *state_;
};

// Statuses the reference host itself answers with.
constexpr int32_t kStatusNoOption = (int32_t)0x80BFD001;    // unknown option name or number
constexpr int32_t kStatusJournalFailed = (int32_t)0x80BFD002;  // set_journal_fails(true)
constexpr int32_t kStatusBadRequest = (int32_t)0x80BFD003;  // a request the service cannot serve
// Option number under which set_option_fails() reaches the YEARCUTOFF fetch (xyrngef).
constexpr int kOptionYearCutoff = 0;

class Host {
 public:
  explicit Host(HostOptions options = {});
  ~Host();
  Host(const Host &) = delete;
  Host &operator=(const Host &) = delete;

  // --- module ---
  bool loaded() const;
  const std::string &load_error() const;
  void *symbol(const char *name) const;     // dlsym in the module
  template <class F> F fn(const char *name) const { return reinterpret_cast<F>(symbol(name)); }
  void **table() const;                      // the function table from zeqwucha
  void *slot(int i) const;                   // table()[i]
  const void *image() const;                 // what mcn_main returned

  // --- records ---
  ZeqControlBlock *control_block();
  ZeqKernel *kernel();
  FncTask *task();                           // the current task
  // Tasks for worker threads: new_task may be called from any thread; a
  // worker puts its task into every FncArgList it passes (the field the
  // module reads before it looks for the current task), so calls of several
  // threads never share task state.  free_task releases a task made by
  // new_task and its pool; false for the first or current task or an
  // unknown record.
  FncTask *new_task();                       // another task with its own pool
  bool free_task(FncTask *task);
  size_t task_count() const;                 // tasks alive, the first one included
  ZeqThread *thread();
  Pool &global_pool();
  Pool &task_pool();                         // the current task's pool
  Pool &pool_of(FncTask *task);
  Pool &new_pool();                          // a free-standing host pool object
  // Scratch arena of the current task: live blocks and the last mark level.
  size_t scratch_live() const;
  // Scratch requests of every arena (the tasks' and the thread's): the n-th
  // request from now fails (1 = next; 0 = never), and the requests made so
  // far, refused ones included.
  void fail_scratch_nth(int n);
  size_t scratch_requests() const;

  // --- session ---
  void set_utf8(bool on);                    // switch the session encoding (waits for the holds)
  bool utf8() const;
  SessionHold hold_session();                // the session as it is (random streams)
  SessionHold hold_session(bool utf8);       // the session in this encoding, switched when needed
  void set_class_bits(uint8_t byte, uint8_t bits);  // edit the class table

  // --- journal and catalogue ---
  const std::vector<LogEntry> &log() const;
  void clear_log();
  std::string log_text() const;              // every line, newline-separated
  // Catalogue messages (set 744) numbers in order, for assertions.
  std::vector<int> message_numbers() const;
  // Journal statuses (tklStatusToJnl and zrngmsg) in order.
  std::vector<int> journal_statuses() const;
  // Catalogue text of a message or status number ("" when unknown).
  std::string catalogue_text(int set, int number) const;
  void set_journal_fails(bool on);           // journal status operations answer non-zero

  // --- name/value store ---
  void set_setting(const std::string &name, const std::string &text);
  void set_setting(const std::string &name, double value);
  void set_setting_int(const std::string &name, int64_t value);
  void clear_setting(const std::string &name);
  std::optional<std::string> setting_text(const std::string &name) const;  // any type rendered
  bool has_setting(const std::string &name) const;

  // --- options and macro variables ---
  void set_option(int number, const std::string &text);  // 4163, 4429
  void set_yearcutoff(double value);
  void set_option_fails(int number, int status);          // fetch answers status (0: no failure)
  std::optional<std::string> macro(const std::string &name) const;
  int macro_scope(const std::string &name) const;

  // --- misc services ---
  void set_version(const std::string &text);   // zzeqver text (8 bytes, blank-padded)
  // xjundls answers 0 (nothing rewritten) unless a hook is set; the hook may
  // rewrite the NUL-terminated text in place and answers non-zero when it did.
  void set_unquote_hook(int (*hook)(char *text, FncString *value));
  // Calls of the recording services, and of the kernel service entry, in order.
  const std::vector<ServiceCall> &service_calls() const;
  void clear_service_calls();
  int clock_changes() const;                   // calls of the clock-change entry (bkztod)
  void set_current_task(FncTask *task);        // the thread record's task
  ZeqStringService *string_service();          // the session string service (the factory's answer)
  uint8_t *processor_record();                 // CPUID record (null when options.processor is false)
  // xexit writes "ERROR: fatal exit <code>" to stderr and ends the process
  // with _exit(code & 0xFF); tests observe it with EXPECT_EXIT.
  void set_clock(double seconds_or_nan);       // fixed tkzdttme reading; NaN: real clock

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Renders a TKChar text as UTF-8, and back.
std::string to_utf8(const TKChar *text, int64_t count);
std::vector<TKChar> to_tkchar(const std::string &utf8);

}  // namespace zeqhost
