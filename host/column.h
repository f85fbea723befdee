// host/column.h - one catalogue function over many rows (the column path).
//
// A ColumnCall is a call prepared once for a column of rows: the catalogue
// row is checked, the entry looked up, the argument block (and with it the
// module's call-site cache), the result record and the argument records are
// built once.  Each row then costs only its argument views, the entry call
// and the read of the result: no copy of an argument, no heap allocation
// when the row succeeds, no check of the catalogue while the rows' kinds of
// values stay the same.  Rows give the same results, statuses, messages and
// sentences as Worker::call with the same values and CallOptions.
//
//   zeqhost::Worker w(host, zeqhost::Encoding::Utf8);          // one per thread
//   zeqhost::ColumnCall col(w, *zeq::catalogue::find("COMPLEV"), 2);
//   if (!col.error().empty()) fail(col.error());               // count, form, options
//   {
//     zeqhost::ColumnCall::Block block(col);                   // per block of rows
//     for (size_t r = 0; r < rows; r++) {
//       const zeqhost::Arg args[] = {zeqhost::Arg::text(a[r]), zeqhost::Arg::text(b[r])};
//       const zeqhost::Cell &c = col.run(args);
//       if (c.ok()) out[r] = c.number;                        // or c.text
//       else warn(r, col.outcome().sentence());
//     }
//   }
//
// Arguments.  An Arg is a view: a number, a text (pointer and length, not
// copied: it must stay valid until run() returns), or missing.  A missing
// value is what Value::missing() is to Worker::call: the missing number
// where the function wants a number, an absent character argument where it
// wants text (an empty text for a Direct function).  Which type a missing
// value takes follows the catalogue's type patterns exactly as Worker::call
// resolves them, so a column may mix kinds from row to row; each new mix of
// kinds is checked once and remembered.  Every row passes `argc` arguments.
//
// Results.  run() answers a Cell: the module's status, the result as a
// number or a text view, and whether the row wrote log lines.  The text view
// and the Cell stay valid until the next run() or the end of the ColumnCall;
// copy what must live longer.  A row whose kinds the function does not take
// (say a text where only numbers go) is not run: Cell::refused.  A row with
// a status other than 0, a refusal or log lines (Cell::noted) has its whole
// outcome in outcome(): status, result, messages, the marked argument and
// sentence(), equal to what Worker::call answers for the row.  outcome()
// describes the last row and must be asked before the next run().
// The lines of a row are those it wrote itself, so nothing is run twice (a
// function with state, such as a random stream, draws once per row).
//
// Blocks.  The session encoding hold (a shared lock, see Worker) is taken
// per Block: create one around a block of rows (a chunk of a numpy column,
// a few thousand CSV lines).  A run() outside any Block takes it for that
// row alone, which is what a SQL function that sees one row at a time
// wants: the cheapest single-row run on a prepared call.  Blocks of several
// ColumnCalls may be open at once on one thread (the functions of one
// statement), and Worker::call may run inside them in the same encoding
// (a call of the other encoding there throws std::logic_error).
// Do not switch the worker's encoding while a Block is open; a Block in
// turn keeps calls of the other encoding waiting, so keep it to a bounded
// number of rows.  The log lines of a row are captured for the row alone
// (a switch of a thread-local pointer).
//
// Options are those of Worker::call (CallOptions): the declared length of a
// fixed result (growable = false) or the start room of a growable one,
// max_length (a longer result answers "no room"), varchar, result_kind.  A
// CALL form (call_form) runs each row through a CallSite, without the fast
// path.  An option out of range, an argument count the function does not
// take in any form, or a function the module build lacks makes error() say
// so; no row runs then (every Cell is refused with that sentence).
//
// Threads.  A ColumnCall belongs to its Worker (it must not outlive it) and
// so to one thread at a time; to split rows between N threads, give each thread its own Worker
// and its own ColumnCall (COMPCOST costs and caches belong to the worker's
// task, so set them on every worker).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "host/call.h"

namespace zeqhost {

// One argument of one row, not owned.
struct Arg {
  Value::Kind kind = Value::Missing;
  double number = 0;
  const char *data = nullptr;  // Text: the bytes (may be null when size is 0)
  size_t size = 0;

  static Arg missing() { return {}; }
  static Arg num(double x) { return {Value::Number, x, nullptr, 0}; }
  static Arg text(std::string_view s) { return {Value::Text, 0, s.data(), s.size()}; }
  static Arg text(const char *data, size_t size) { return {Value::Text, 0, data, size}; }
  static Arg of(const Value &v) {  // a view of a Value (which must outlive the run)
    return v.kind == Value::Text ? text(v.text) : v.kind == Value::Number ? num(v.number) : missing();
  }
  std::string_view view() const { return size ? std::string_view(data, size) : std::string_view(); }
};

// What one row gave.  Valid until the next run().
struct Cell {
  int32_t status = 0;                 // what the module returned (0: success)
  bool refused = false;               // not run: the kinds of its values do not fit the function
  bool noted = false;                 // the row wrote log lines (outcome() has them)
  Value::Kind kind = Value::Missing;  // Number, Text, or Missing when unwritten / a missing number
  double number = 0;                  // the result of a numeric function
  std::string_view text;              // the result of a character function

  bool ok() const { return !refused && status == 0; }
};

class ColumnCall {
 public:
  ColumnCall(Worker &worker, const zeq::catalogue::Function &fn, size_t argc, const CallOptions &opt = {});
  ~ColumnCall();  // gives the call-site cache back to the worker's task
  ColumnCall(const ColumnCall &) = delete;
  ColumnCall &operator=(const ColumnCall &) = delete;

  // Why no row can run, or "" when the call is prepared.
  const std::string &error() const;
  const zeq::catalogue::Function &function() const;
  size_t arg_count() const;

  // The session hold for the rows run while it lives.
  class Block {
   public:
    explicit Block(ColumnCall &call);
    ~Block();
    Block(const Block &) = delete;
    Block &operator=(const Block &) = delete;

   private:
    ColumnCall &call_;
  };

  // Runs one row (args.size() must be arg_count(); otherwise the row is
  // refused).
  const Cell &run(std::span<const Arg> args);
  const Cell &run(std::initializer_list<Arg> args) { return run(std::span<const Arg>(args.begin(), args.size())); }

  // The last row's outcome as Worker::call gives it (allocates; for rows
  // that are not ok() or are noted).
  CallOutcome outcome() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zeqhost
