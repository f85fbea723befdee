// host/call.h - calling the module's character functions with plain values.
//
// What every front end (zeq, the SQL extension, the Python extension) shares:
// a Worker owns one host task and calls catalogue functions with Values,
// building the argument block, the result record and the variables a host
// would, and turning what the module reports into a sentence.
//
//   zeqhost::Host host;                              // one per process
//   zeqhost::Worker w(host, zeqhost::Encoding::Utf8);
//   auto out = w.call("COMPGED", {Value::str("abc"), Value::str("abd")});
//   if (out.ok()) use(out.result.number); else report(out.sentence());
//
// A Worker and its CallSites are used by one thread at a time (they share the
// worker's argument, result and message buffers); give every thread its own.
// Its task carries the state the host keeps per task (COMPCOST's costs, the task
// context).  A CallSite keeps one argument block across calls, so call-site
// caches work as they do in the host (resultKind 0x48/0x58/0x68/0x88).
//
// Encodings: the host's session encoding is process-wide; a Worker that asks
// for another encoding than the host has waits until no call of the other
// encoding runs, switches it, and calls (calls of one encoding run in
// parallel).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "charfn/catalogue.h"
#include "host/host.h"

namespace zeqhost {

enum class Encoding { Latin1, Utf8 };

// Largest character result, target or declared length a call accepts (bytes);
// a longer declared length is refused with a sentence, and a growable result
// is never grown beyond it (the function then answers "no room").
constexpr int64_t kMaxResultLength = int64_t(1) << 24;
// The most a growable result record can be asked to carry (its lengths are
// 64-bit, the module's sums saturate at the largest 32-bit length).
constexpr int64_t kMaxGrowableLength = INT32_MAX;

struct Value {
  enum Kind : uint8_t { Missing, Number, Text };
  Kind kind = Missing;
  double number = 0;
  std::string text;
  static Value missing() { return {}; }
  static Value num(double x) { return {Number, x, {}}; }
  static Value str(std::string s) { return {Text, 0, std::move(s)}; }
};

// A journal or catalogue line the module wrote during the call.
struct Message {
  int level = 0;      // 2 NOTE, 3 WARNING, 4 ERROR (0/1 informational)
  int number = 0;     // catalogue message number (set 744) or journal status
  std::string text;   // as a user reads it ("NOTE: ...")
};

struct CallOptions {
  int64_t length = 200;       // declared length of a fixed character result or a CALL target
                              // (a growable result is sized by need up to kMaxResultLength)
  bool growable = true;       // character results get an allocator (sized by need)
  int result_kind = 0;        // resultKind byte of the call site
  bool call_form = false;     // CALL NAME(...): targets and numeric variables written back
  bool varchar = false;       // pass character arguments as varying-length values
                              // (set automatically for a UTF-8 worker)
  int64_t max_length = kMaxResultLength;  // most bytes a growable result may take; a front
                              // end sets its own natural limit (1 to kMaxGrowableLength)
};

struct CallOutcome {
  std::string function;            // upper-case name
  int32_t status = 0;              // what the module returned
  Value result;                    // Text (character functions) or Number; Missing when unwritten
  std::vector<Value> outputs;      // CALL form: every argument as it is after the call
  std::vector<Message> messages;   // lines the call wrote, in order
  std::string error;               // set when the call was refused before it ran
  int bad_argument = 0;            // 1-based argument the module marked or the check refused; 0 none
  std::string bad_value;           // that argument as the sentence shows it (describe_value), or ""
  bool call_form = false;          // the call was a CALL (argument names come from the CALL usage)

  bool ok() const { return error.empty() && status == 0; }
  // The note of a result or CALL target the module cut to its room
  // (catalogue messages 8, 27, 28, 29), or null: a front end never passes a
  // cut result on as a whole one.
  const Message *cut_note() const;
  // One sentence naming the function, the argument and what went wrong, e.g.
  // "COMPGED takes 2 to 4 arguments, got 1; usage: COMPGED(s1, s2 [, cutoff] [, modifiers])"
  // or "COMPLEV: argument 3 (cutoff) must be a whole number of at least 1 ..., got 2.5".
  // Empty when ok().
  std::string sentence() const;
};

// Checks a call against the catalogue before it runs: count and types.
// Returns "" when it may run, else the sentence.
std::string check_call(const zeq::catalogue::Function &fn, std::span<const Value> args,
                       bool call_form);

class CallSite;
class ColumnCall;

class Worker {
 public:
  explicit Worker(Host &host, Encoding encoding = Encoding::Latin1);
  ~Worker();  // frees its task (and with it COMPCOST's table, caches, streams)
  Worker(const Worker &) = delete;
  Worker &operator=(const Worker &) = delete;

  CallOutcome call(std::string_view name, std::span<const Value> args, const CallOptions &opt = {});
  CallOutcome call(const zeq::catalogue::Function &fn, std::span<const Value> args,
                   const CallOptions &opt = {});
  CallOutcome call(std::string_view name, std::initializer_list<Value> args,
                   const CallOptions &opt = {}) {
    return call(name, std::span<const Value>(args.begin(), args.size()), opt);
  }

  Encoding encoding() const;
  void set_encoding(Encoding e);
  FncTask *task() const;
  Host &host() const;

 private:
  friend class CallSite;
  friend class ColumnCall;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One call site: its argument block (and so its call-site cache) lives as
// long as the CallSite.  Calls through it must keep the same argument count.
class CallSite {
 public:
  CallSite(Worker &worker, const zeq::catalogue::Function &fn, CallOptions opt = {});
  ~CallSite();
  CallSite(const CallSite &) = delete;
  CallSite &operator=(const CallSite &) = delete;
  CallOutcome call(std::span<const Value> args);

 private:
  friend class Worker;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A value as an error sentence shows it: 2.5, 'text' (the first 40 bytes),
// "a missing value".
std::string describe_value(const Value &v);

// Shortest text that reads back as the same double, whole numbers below 1e21
// in full (1000000, 17000000); "" for a missing value (zeq prints "." itself
// where its statements want one).
std::string format_number(double x);

}  // namespace zeqhost
